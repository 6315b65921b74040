#include "MeasureCommand.h"

#include "DeviceInterface.h"
#include "DeviceSession.h"
#include "ExitCode.h"
#include "Hdf5Recorder.h"
#include "HostQuery.h"
#include "InterruptWatcher.h"
#include "LogRouter.h"
#include "MeasureOptions.h"
#include "MultiDetectorRun.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"
#include "RunReport.h"
#include "SessionRecording.h"
#include "SettingsFile.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>
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


// What a detector's session and recording tell goes to the printer; in a run
// of several each line names its detector (prefix "detector N: ").
void printProgress(DeviceSession *session, SessionRecording *recording, ProgressPrinter &printer, int count,
                   const QString &prefix)
{
    QObject::connect(session, &DeviceSession::progress, [&printer, prefix](const QString &text) {
        printer.event(prefix + text);
    });
    QObject::connect(session, &DeviceSession::notified, [&printer, prefix](int severity, const QString &text) {
        printer.message(prefix + QStringLiteral("device %1: %2").arg(ProgressPrinter::severityName(severity), text));
    });
    QObject::connect(recording, &SessionRecording::measurementRecorded,
                     [&printer, prefix, count](const RunReport::Measurement &m) {
                         printer.event(prefix + QStringLiteral("measurement %1 of %2: %3")
                                                    .arg(m.index)
                                                    .arg(count)
                                                    .arg(ProgressPrinter::measurementDone(m)));
                     });
}

// Runs a session or a run of several to its end. SIGINT or SIGTERM ends it as
// interrupted (the detectors are stopped and the links closed first), and
// the status line is refreshed every 200 ms meanwhile.
template<class Run>
void runToEnd(Run &run, ProgressPrinter &printer, const QString &stopping, const std::function<QString()> &statusText)
{
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, [&](int signalNumber) {
        printer.message(stopping);
        run.abort(ExitInterrupted, QStringLiteral("interrupted by signal %1").arg(signalNumber));
    });
    QTimer status;
    status.setInterval(200);
    QObject::connect(&status, &QTimer::timeout, [&] { printer.setStatus(statusText()); });
    status.start();
    QEventLoop loop;
    QObject::connect(&run, &Run::finished, &loop, &QEventLoop::quit);
    run.begin();
    loop.exec();
    status.stop();
    printer.clearStatus();
}

QString writtenMessage(int code, const QString &path)
{
    return code == ExitOk ? QStringLiteral("written %1").arg(path)
                          : QStringLiteral("written %1 with what was measured; not complete").arg(path);
}

// What one detector of a run needs: its device from the plug-in, its report
// and its session. The report outlives the session that writes it.
struct Detector
{
    explicit Detector(const QString &pluginPath) : plugin(pluginPath) {}
    PluginDevice plugin;
    RunReport report;
    std::unique_ptr<DeviceSession> session;
};

HostQuery hostQuery(const MeasureOptions &options)
{
    HostQuery query(options.measurementMode, options.maximumShots);
    query.set(AbstractQueryObject::KeyOperationMode, options.operationMode);
    query.set(AbstractQueryObject::KeyNominalCharge, options.charge);
    query.set(AbstractQueryObject::KeyHvSourceType, options.hvSourceType);
    query.set(AbstractQueryObject::KeyChargeToVoltageFactor, options.chargeToVoltageFactor);
    // The device asks for the calibration of its charge channel.
    query.set(AbstractQueryObject::KeyChargeCalibrationFactor, options.calibrationFactor, -1, 1018);
    return query;
}

// Loads the plug-in's device for address, hands it the settings with the
// address and makes its session (interactive when several detectors run
// together). ExitOk, or the exit code with *error set; a channel the device
// lacks is a usage error.
int setUp(Detector &d, const MeasureOptions &options, const SettingsFile &settingsFile, const QString &address,
          bool interactive, ProgressPrinter &printer, QString *error)
{
    RunReport &report = d.report;
    report.hostVersion = QStringLiteral(DRAVIK_VERSION);
    report.createdAt = QDateTime::currentDateTimeUtc();
    report.outputPath = QFileInfo(options.outputPath).absoluteFilePath();
    report.address = address;
    report.simulated = options.simulated;
    report.count = options.count;
    report.durationSeconds = options.durationSeconds;

    // The host owns the device; PluginDevice destroys it before it unloads.
    const int created = d.plugin.create();
    report.plugin = d.plugin.description();
    if (created != ExitOk) {
        *error = d.plugin.errorString();
        return created;
    }
    DeviceInterface *device = d.plugin.device();
    // Channel ids are known once the device is initialised: an id it does
    // not have would record nothing.
    const QList<int> offered = device->channelIds();
    for (int channel : qAsConst(options.channels)) {
        if (!offered.contains(channel)) {
            *error = QStringLiteral("--channels: the device has no channel %1 (its channels: %2)")
                         .arg(channel)
                         .arg(idRanges(offered));
            return ExitUsage;
        }
    }

    QVariantHash settings = settingsFile.values();
    const QString fromFile = settings.value(QStringLiteral("NetworkAddress")).toString();
    if (!fromFile.isEmpty() && fromFile != address)
        printer.message(QStringLiteral("note: NetworkAddress %1 in %2 is replaced by --address %3")
                            .arg(fromFile, options.settingsPath, address));
    settings.insert(QStringLiteral("NetworkAddress"), address);
    if (d.plugin.configure(settings, address) != ExitOk) {
        *error = d.plugin.errorString();
        return ExitConnectFailed;
    }
    report.settings = settings;
    report.deviceSettings = device->settings();
    device->setDataTransferEnabled(true);

    const HostQuery query = hostQuery(options);
    report.environment = query.describe();
    DeviceSession::Config config;
    config.count = options.count;
    config.durationMs = int(options.durationSeconds * 1000.0 + 0.5);
    config.timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    config.channels = options.channels;
    config.address = address;
    config.interactive = interactive;
    d.session = std::make_unique<DeviceSession>(d.plugin.object(), query, config, &report);
    return d.session->attach(error) ? ExitOk : ExitPluginFailed;
}

// The run's attributes for the root of a file with several detectors: what
// they share; each detector's identity and tallies are in its own group.
QVariantMap sharedAttributes(RunReport header, const QList<ConnectionAddress> &addresses)
{
    QStringList all;
    for (const ConnectionAddress &a : addresses)
        all.append(a.toString());
    header.address = all.join(QLatin1Char(' '));
    QVariantMap attributes = header.fileAttributes();
    for (const QString &key : attributes.keys()) {
        if (key.startsWith(QLatin1String("device_")) && key != QLatin1String("device_settings"))
            attributes.remove(key);
    }
    attributes.remove(QStringLiteral("test_voltage_calibration"));
    attributes.remove(QStringLiteral("measurement_count"));
    attributes.insert(QStringLiteral("detector_count"), addresses.size());
    return attributes;
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

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);
    if (options.addresses.size() > 1)
        return runSeveral(options, settingsFile, printer, out, err);

    Detector detector(options.pluginPath);
    RunReport &report = detector.report;

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

    QString error;
    const int prepared = setUp(detector, options, settingsFile, options.address.toString(), false, printer, &error);
    if (prepared == ExitUsage) {
        err << "dravik-host measure: " << error << '\n';
        return ExitUsage;
    }
    if (prepared != ExitOk)
        return finishRun(prepared, error);
    DeviceSession &session = *detector.session;
    SessionRecording recording(&session, &report, options.outputPath);
    if (!recording.open(&error))
        return finishRun(ExitOutputFailed, error);
    QObject::connect(&recording, &SessionRecording::failed,
                     [&](const QString &e) { session.abort(ExitOutputFailed, e); });

    printProgress(&session, &recording, printer, options.count, QString());
    runToEnd(session, printer, QStringLiteral("interrupted: stopping the detector and closing the link"), [&] {
        return ProgressPrinter::statusText(session.stateName(), report, session.measurementSeconds());
    });

    error = session.errorString();
    QString writeError;
    const int code = recording.finish(&report, session.exitCode(), error, &writeError);
    if (report.fileWritten) {
        printer.event(writtenMessage(code, report.outputPath));
    } else if (!writeError.isEmpty()) {
        if (code == ExitOutputFailed)
            error = writeError;
        else
            printer.message(QStringLiteral("dravik-host measure: what was measured could not be kept: %1").arg(writeError));
    }
    return finishRun(code, error);
}

int MeasureCommand::runSeveral(const MeasureOptions &options, const SettingsFile &settingsFile,
                               ProgressPrinter &printer, QTextStream &out, QTextStream &err)
{
    std::vector<std::unique_ptr<Detector>> detectors;
    int code = ExitOk;
    QString error;
    for (const ConnectionAddress &address : options.addresses) {
        detectors.push_back(std::make_unique<Detector>(options.pluginPath));
        code = setUp(*detectors.back(), options, settingsFile, address.toString(), true, printer, &error);
        if (code == ExitUsage) {
            err << "dravik-host measure: " << error << '\n';
            return ExitUsage;
        }
        if (code != ExitOk)
            break;
    }

    Hdf5Recorder recorder(options.outputPath);
    std::vector<std::unique_ptr<SessionRecording>> recordings;
    QList<MultiDetectorRun::Detector> parts;
    if (code == ExitOk && !recorder.open(&error))
        code = ExitOutputFailed;
    for (size_t i = 0; code == ExitOk && i < detectors.size(); ++i) {
        Detector &d = *detectors.at(i);
        const int number = int(i) + 1;
        recordings.push_back(std::make_unique<SessionRecording>(d.session.get(), &d.report, &recorder, number));
        parts.append({d.session.get(), d.plugin.device(), d.report.address});
        printProgress(d.session.get(), recordings.back().get(), printer, options.count,
                      QStringLiteral("detector %1: ").arg(number));
    }

    if (code == ExitOk) {
        MultiDetectorRun run(parts, options.count, int(options.durationSeconds * 1000.0 + 0.5));
        for (const auto &recording : recordings)
            QObject::connect(recording.get(), &SessionRecording::failed,
                             [&run](const QString &e) { run.abort(ExitOutputFailed, e); });
        QObject::connect(&run, &MultiDetectorRun::progress, [&](const QString &text) { printer.event(text); });
        runToEnd(run, printer, QStringLiteral("interrupted: stopping the detectors and closing the links"), [&] {
            QStringList parts;
            for (size_t i = 0; i < detectors.size(); ++i) {
                const Detector &d = *detectors.at(i);
                parts.append(QStringLiteral("%1: %2").arg(i + 1).arg(ProgressPrinter::statusText(
                    d.session->stateName(), d.report, d.session->measurementSeconds())));
            }
            return parts.join(QStringLiteral(" | "));
        });
        code = run.exitCode();
        error = run.errorString();

        // Each detector's group, then the file once: kept with what was
        // measured when the run failed (complete = 0), as with one detector.
        bool anything = false;
        for (size_t i = 0; i < recordings.size() && code != ExitOutputFailed; ++i) {
            const Detector &d = *detectors.at(i);
            QString writeError;
            if (recordings.at(i)->settle(d.report, d.session->exitCode(), d.session->errorString(), &writeError))
                anything = true;
            else if (recordings.at(i)->measurementCount() > 0) {
                code = ExitOutputFailed;
                error = writeError;
            }
        }
        RunReport header = detectors.front()->report;
        header.exitCode = code;
        header.error = error;
        QString writeError;
        const bool keep = code != ExitOutputFailed && (code == ExitOk || anything);
        if (keep && recorder.commit(sharedAttributes(header, options.addresses), &writeError)) {
            printer.event(writtenMessage(code, header.outputPath));
            for (const auto &d : detectors)
                d->report.fileWritten = true;
        } else {
            recorder.discard();
            if (!writeError.isEmpty() && code == ExitOk) {
                code = ExitOutputFailed;
                error = writeError;
            }
        }
    }

    printer.clearStatus();
    if (!error.isEmpty())
        printer.message(QStringLiteral("dravik-host measure: %1").arg(error));
    QJsonArray reports;
    for (size_t i = 0; i < detectors.size(); ++i) {
        RunReport &r = detectors.at(i)->report;
        if (r.exitCode == ExitOk && detectors.at(i)->session) {
            r.exitCode = detectors.at(i)->session->exitCode();
            r.error = detectors.at(i)->session->errorString();
        }
        reports.append(r.toJson());
        if (!options.json && !r.measurements.isEmpty())
            out << '\n' << QStringLiteral("detector %1 (%2)\n").arg(i + 1).arg(r.address) << ProgressPrinter::summary(r);
    }
    if (options.json) {
        const QJsonObject all{{QStringLiteral("exit_code"), code},
                              {QStringLiteral("error"), error},
                              {QStringLiteral("detectors"), reports}};
        out << QJsonDocument(all).toJson(QJsonDocument::Indented);
    }
    out.flush();
    return code;
}
