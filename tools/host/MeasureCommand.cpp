#include "MeasureCommand.h"

#include "DeviceInterface.h"
#include "DeviceSession.h"
#include "ExitCode.h"
#include "HostQuery.h"
#include "InterruptWatcher.h"
#include "LogRouter.h"
#include "MeasureOptions.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"
#include "RunReport.h"
#include "SessionRecording.h"
#include "SettingsFile.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

QString MeasureCommand::usage()
{
    return MeasureOptions::usage();
}

int MeasureCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    MeasureOptions options;
    switch (options.parse(args, PluginLoader::defaultPath())) {
    case MeasureOptions::Outcome::Help:
        out << usage();
        return ExitOk;
    case MeasureOptions::Outcome::Error:
        err << "dravik-host measure: " << options.errorString() << '\n'
            << "Try 'dravik-host measure --help' for the options.\n";
        return ExitUsage;
    case MeasureOptions::Outcome::Run:
        break;
    }

    SettingsFile settingsFile;
    if (!options.settingsPath.isEmpty() && !settingsFile.load(options.settingsPath)) {
        err << "dravik-host measure: " << settingsFile.errorString() << '\n';
        return ExitUsage;
    }
    if (QFileInfo::exists(options.outputPath) && !options.overwrite) {
        err << "dravik-host measure: " << options.outputPath << " exists; give --overwrite to replace it\n";
        return ExitUsage;
    }

    RunReport report;
    report.hostVersion = QStringLiteral(DRAVIK_VERSION);
    report.createdAt = QDateTime::currentDateTimeUtc();
    report.outputPath = QFileInfo(options.outputPath).absoluteFilePath();
    report.address = options.address.toString();
    report.simulated = options.simulated;
    report.count = options.count;
    report.durationSeconds = options.durationSeconds;

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);

    const auto finishRun = [&](int code, const QString &error) {
        report.exitCode = code;
        report.error = error;
        printer.clearStatus();
        if (!error.isEmpty())
            printer.message(QStringLiteral("dravik-host measure: %1").arg(error));
        if (options.json)
            out << QJsonDocument(report.toJson()).toJson(QJsonDocument::Indented);
        else if (code == ExitOk || !report.measurements.isEmpty())
            out << '\n' << ProgressPrinter::summary(report);
        out.flush();
        return code;
    };

    PluginDevice pluginDevice(options.pluginPath);
    // The host owns the device; PluginDevice destroys it before it unloads.
    const int created = pluginDevice.create();
    report.plugin = pluginDevice.description();
    if (created != ExitOk)
        return finishRun(created, pluginDevice.errorString());
    DeviceInterface *device = pluginDevice.device();
    QObject *deviceObject = pluginDevice.object();

    QVariantHash settings = settingsFile.values();
    const QString address = options.address.toString();
    const QString fromFile = settings.value(QStringLiteral("NetworkAddress")).toString();
    if (!fromFile.isEmpty() && fromFile != address)
        printer.message(QStringLiteral("note: NetworkAddress %1 in %2 is replaced by --address %3")
                            .arg(fromFile, options.settingsPath, address));
    settings.insert(QStringLiteral("NetworkAddress"), address);
    if (pluginDevice.configure(settings, address) != ExitOk)
        return finishRun(ExitConnectFailed, pluginDevice.errorString());
    report.settings = settings;
    report.deviceSettings = device->settings();
    device->setDataTransferEnabled(true);

    HostQuery query(options.measurementMode, options.maximumShots);
    query.set(AbstractQueryObject::KeyOperationMode, options.operationMode);
    query.set(AbstractQueryObject::KeyNominalCharge, options.charge);
    query.set(AbstractQueryObject::KeyHvSourceType, options.hvSourceType);
    query.set(AbstractQueryObject::KeyChargeToVoltageFactor, options.chargeToVoltageFactor);
    // The device asks for the calibration of its charge channel.
    query.set(AbstractQueryObject::KeyChargeCalibrationFactor, options.calibrationFactor, -1, 1018);
    report.environment = query.describe();

    QString error;
    DeviceSession::Config config;
    config.count = options.count;
    config.durationMs = int(options.durationSeconds * 1000.0 + 0.5);
    config.timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    config.channels = options.channels;
    config.address = address;
    DeviceSession session(deviceObject, query, config, &report);
    if (!session.attach(&error))
        return finishRun(ExitPluginFailed, error);
    SessionRecording recording(&session, &report, options.outputPath);
    if (!recording.open(&error))
        return finishRun(ExitOutputFailed, error);
    QObject::connect(&recording, &SessionRecording::failed,
                     [&](const QString &e) { session.abort(ExitOutputFailed, e); });

    QObject::connect(&session, &DeviceSession::progress, [&](const QString &text) { printer.event(text); });
    QObject::connect(&session, &DeviceSession::notified, [&](int severity, const QString &text) {
        printer.message(QStringLiteral("device %1: %2").arg(ProgressPrinter::severityName(severity), text));
    });
    QObject::connect(&recording, &SessionRecording::measurementRecorded, [&](const RunReport::Measurement &m) {
        printer.event(QStringLiteral("measurement %1 of %2: %3")
                          .arg(m.index)
                          .arg(options.count)
                          .arg(ProgressPrinter::measurementDone(m)));
    });

    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, [&](int signalNumber) {
        printer.message(QStringLiteral("interrupted: stopping the detector and closing the link"));
        session.abort(ExitInterrupted, QStringLiteral("interrupted by signal %1").arg(signalNumber));
    });

    QTimer status;
    status.setInterval(200);
    QObject::connect(&status, &QTimer::timeout, [&] {
        printer.setStatus(ProgressPrinter::statusText(session.stateName(), report, session.measurementSeconds()));
    });
    status.start();

    QEventLoop loop;
    QObject::connect(&session, &DeviceSession::finished, &loop, &QEventLoop::quit);
    session.begin();
    loop.exec();
    status.stop();
    printer.clearStatus();

    int code = session.exitCode();
    error = session.errorString();
    if (code == ExitOk) {
        if (recording.commit(report, &error)) {
            report.fileWritten = true;
            printer.event(QStringLiteral("written %1").arg(report.outputPath));
        } else {
            code = ExitOutputFailed;
        }
    }
    if (!report.fileWritten)
        recording.discard();
    return finishRun(code, error);
}
