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

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

// "1000-1005, 1018-1055": the ids as runs.
QString idRanges(QList<int> ids)
{
    std::sort(ids.begin(), ids.end());
    QStringList runs;
    for (int i = 0; i < ids.size();) {
        int j = i;
        while (j + 1 < ids.size() && ids.at(j + 1) == ids.at(j) + 1)
            ++j;
        runs.append(j == i ? QString::number(ids.at(i)) : QStringLiteral("%1-%2").arg(ids.at(i)).arg(ids.at(j)));
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

} // namespace

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
    // Channel ids are known once the device is initialised: an id it does
    // not have would record nothing.
    const QList<int> offered = device->channelIds();
    for (int channel : qAsConst(options.channels)) {
        if (!offered.contains(channel)) {
            err << "dravik-host measure: --channels: the device has no channel " << channel << " (its channels: "
                << idRanges(offered) << ")\n";
            return ExitUsage;
        }
    }

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

    error = session.errorString();
    QString writeError;
    const int code = recording.finish(&report, session.exitCode(), error, &writeError);
    if (report.fileWritten) {
        printer.event(code == ExitOk ? QStringLiteral("written %1").arg(report.outputPath)
                                     : QStringLiteral("written %1 with what was measured; not complete")
                                           .arg(report.outputPath));
    } else if (!writeError.isEmpty()) {
        if (code == ExitOutputFailed)
            error = writeError;
        else
            printer.message(QStringLiteral("dravik-host measure: what was measured could not be kept: %1").arg(writeError));
    }
    return finishRun(code, error);
}
