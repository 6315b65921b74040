#include "FirmwareCommand.h"

#include "DeviceLink.h"
#include "CommandLine.h"
#include "ExitCode.h"
#include "LogRouter.h"
#include "MeasureCommand.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

const double kDefaultTimeoutSeconds = 30.0;
// The detector keeps files up to 64 MiB; a larger image cannot be right.
const qint64 kMaxImageBytes = 64 * 1024 * 1024;

} // namespace

FirmwareCommand::FirmwareCommand(ProgressPrinter *printer, int timeoutMs)
    : m_printer(printer)
{
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(timeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        end(ExitTimedOut, QStringLiteral("no report from the detector within %1 s (last: state %2, %3)")
                              .arg(m_watchdog.interval() / 1000.0)
                              .arg(m_lastState)
                              .arg(m_lastDescription.isEmpty() ? QStringLiteral("none") : m_lastDescription));
    });
}

int FirmwareCommand::exitCodeForState(int state)
{
    switch (state) {
    case 6:
        return ExitOk;
    case 3:
        return ExitFirmwareTransferFailed;
    case 7:
        return ExitFirmwareWriteFailed;
    case 8:
        return ExitLinkLost;
    default:
        return -1;
    }
}

QString FirmwareCommand::progressBar(double fraction, int width)
{
    // The transfer may report a little over 1 for some sizes; NaN counts as 0.
    const double f = fraction >= 0.0 ? std::min(fraction, 1.0) : 0.0;
    const int filled = int(f * width + 1e-9);
    return QStringLiteral("[%1%2] %3%")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
        .arg(int(f * 100.0 + 1e-9), 3);
}

void FirmwareCommand::onState(int state, double progress, QString description)
{
    if (m_done)
        return;
    m_watchdog.start();
    const double clamped = progress >= 0.0 ? std::min(progress, 1.0) : 0.0;
    if (state != m_lastState) {
        m_printer->event(QStringLiteral("state %1: %2").arg(state).arg(description));
        m_states.append(QJsonObject{{QStringLiteral("state"), state},
                                    {QStringLiteral("description"), description},
                                    {QStringLiteral("at_s"), m_clock.elapsed() / 1000.0}});
    }
    m_lastState = state;
    m_lastDescription = description;
    m_lastProgress = clamped;
    QJsonObject last = m_states.last().toObject();
    last.insert(QStringLiteral("progress"), clamped);
    m_states.replace(m_states.size() - 1, last);
    m_printer->setStatus(QStringLiteral("%1 %2").arg(progressBar(clamped), description));

    const int code = exitCodeForState(state);
    if (code == ExitOk)
        end(ExitOk, QString());
    else if (code > 0)
        end(code, QStringLiteral("the update ended in state %1: %2").arg(state).arg(description));
}

void FirmwareCommand::end(int code, const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_code = code;
    m_error = error;
    m_watchdog.stop();
    Q_EMIT finished();
}

int FirmwareCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    CommandLine commandLine(QStringLiteral("firmware"), usage(), out, err);
    QCommandLineParser &parser = commandLine.parser();
    parser.addOption(QCommandLineOption(QStringLiteral("mode"), QString(), QStringLiteral("value")));
    int exitCode = ExitOk;
    if (!commandLine.parse(args, QStringLiteral("the firmware FILE is required"), kDefaultTimeoutSeconds, &exitCode))
        return exitCode;
    const ConnectionOptions &options = commandLine.options();
    const auto usageError = [&commandLine](const QString &message) { return commandLine.usageError(message); };
    QString error;
    qulonglong mode = 0;
    if (parser.isSet(QStringLiteral("mode")) && !ConnectionOptions::toUnsigned(parser.value(QStringLiteral("mode")), 255, &mode))
        return usageError(QStringLiteral("--mode: '%1' is not a number from 0 to 255").arg(parser.value(QStringLiteral("mode"))));

    // The image is opaque: read whole, sent unchanged.
    const QString path = commandLine.positional();
    QFile file(path);
    if (QFileInfo(path).isDir())
        return usageError(QStringLiteral("%1 is a directory, not a firmware image").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxImageBytes)
        return usageError(QStringLiteral("%1 is larger than the detector's 64 MiB").arg(path));
    const QByteArray image = file.readAll();
    if (image.isEmpty())
        return usageError(QStringLiteral("%1 is empty").arg(path));

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);
    const int timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    FirmwareCommand command(&printer, timeoutMs);
    command.m_clock.start();

    const auto finish = [&](int code, const QString &message) {
        printer.clearStatus();
        if (!message.isEmpty())
            printer.message(QStringLiteral("dravik-host firmware: %1").arg(message));
        if (options.json) {
            QJsonObject json{
                {QStringLiteral("exit_code"), code},
                {QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                {QStringLiteral("bytes"), double(image.size())},
                {QStringLiteral("mode"), int(mode)},
                {QStringLiteral("address"), options.address.toString()},
                {QStringLiteral("final_state"), command.m_lastState},
                {QStringLiteral("progress"), command.m_lastProgress},
                {QStringLiteral("states"), command.m_states},
                {QStringLiteral("written"), code == ExitOk},
            };
            if (!message.isEmpty())
                json.insert(QStringLiteral("error"), message);
            out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        } else if (code == ExitOk) {
            out << "firmware written: " << ProgressPrinter::formatBytes(double(image.size())) << " from " << path
                << ", mode " << mode << ", in " << QString::number(command.m_clock.elapsed() / 1000.0, 'f', 1)
                << " s\n";
        }
        out.flush();
        return code;
    };

    PluginDevice pluginDevice(options.pluginPath);
    int code = pluginDevice.prepare({}, options.address.toString(),
                                    {"firmwareUpdate(QByteArray,quint8)", "firmwareUpdateState(int,double,QString)"},
                                    QStringLiteral("has no firmware update"));
    if (code != ExitOk)
        return finish(code, pluginDevice.errorString());
    QObject *device = pluginDevice.object();

    DeviceLink link(device, timeoutMs);
    code = link.attachAndOpen(&printer, options.address.toString(), &error);
    if (code != ExitOk)
        return finish(code, error);

    QEventLoop loop;
    connect(device, SIGNAL(firmwareUpdateState(int,double,QString)), &command, SLOT(onState(int,double,QString)));
    connect(&link, &DeviceLink::linkLost, &command, [&](const QString &reason) {
        // The device reports state 8 for this as well; whichever comes first.
        command.end(ExitLinkLost, reason);
    });
    connect(&command, &FirmwareCommand::finished, &loop, &QEventLoop::quit);
    printer.event(QStringLiteral("writing %1 (%2) with mode %3")
                      .arg(path, ProgressPrinter::formatBytes(double(image.size())))
                      .arg(mode));
    command.m_watchdog.start();
    if (!QMetaObject::invokeMethod(device, "firmwareUpdate", Q_ARG(QByteArray, image), Q_ARG(quint8, quint8(mode))))
        command.end(ExitPluginFailed, QStringLiteral("the device did not take the firmware image"));
    if (!command.m_done)
        loop.exec();
    disconnect(device, nullptr, &command, nullptr);
    printer.clearStatus();
    if (command.m_code == ExitOk)
        printer.event(QStringLiteral("the detector wrote the image"));
    link.close();
    return finish(command.m_code, command.m_error);
}

QString FirmwareCommand::usage()
{
    QString text = QStringLiteral(
        "usage: dravik-host firmware FILE --address HOST:PORT [--mode N] [OPTIONS]\n"
        "\n"
        "Writes a firmware image (a .dravikfw file) to the detector through the\n"
        "plug-in: the image is sent unchanged, the detector checks its checksum\n"
        "and writes it. Each step is shown with its state and, on a terminal, a\n"
        "progress bar.\n"
        "\n"
        "  FILE                      the image; read whole, at most 64 MiB\n"
        "  --mode N                  the update mode byte handed to the detector with\n"
        "                            the image, 0 to 255 (0); the simulator takes 0 to 3\n"
        "\n"
        "Connection:\n");
    text += ConnectionOptions::usageConnection(kDefaultTimeoutSeconds,
                                               QStringLiteral("longest wait for the connection and for each\n"
                                                              "                            next report of the update"));
    text += QStringLiteral("\nOutput:\n");
    text += ConnectionOptions::usageOutput();
    text += QStringLiteral(
        "\n"
        "States reported by the device:\n"
        "    0  Transfer started          5  Writing ...\n"
        "    1  Transfering ...           6  Writing successful (done)\n"
        "    2  Transfer successful       7  Writing failed\n"
        "    3  Transfer failed           8  Update failed (link lost)\n"
        "\n"
        "Exit codes:\n"
        "    0  the detector wrote the image (state 6)\n"
        "    2  bad command line, FILE missing, empty or too large, or a remote\n"
        "       address without --allow-remote\n"
        "    3  the plug-in could not be loaded or gave no usable device\n"
        "    4  could not connect within --timeout, or the link closed while connecting\n"
        "    5  the detector was rejected while connecting (version check)\n"
        "    8  the transfer failed (state 3): checksum mismatch, refused transfer,\n"
        "       or an update already running\n"
        "    9  the detector refused or failed the write (state 7)\n"
        "   10  the link was lost during the update (state 8)\n"
        "   11  no report from the detector within --timeout\n"
        "\n"
        "Example, against the simulator:\n"
        "  $ dravik-sim --listen 127.0.0.1:0 &\n"
        "  listening 127.0.0.1:41835\n"
        "  $ dravik-host firmware new.dravikfw --address 127.0.0.1:41835 --mode 1\n");
    return text;
}
