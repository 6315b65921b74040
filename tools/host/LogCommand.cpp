#include "LogCommand.h"

#include "CommandLine.h"
#include "ConnectionOptions.h"
#include "DeviceLink.h"
#include "ExitCode.h"
#include "LogRouter.h"
#include "MeasureCommand.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
const double kDefaultTimeoutSeconds = 30.0;
}

void LogCommand::onLogFileRead(bool ok, QString filename, qint64 bytes)
{
    m_filename = filename;
    m_bytes = bytes;
    if (ok)
        end(ExitOk, QString());
    else if (!m_warning.isEmpty())
        end(ExitLogNotWritten, QStringLiteral("%1; nothing written")
                                   .arg(m_warning.endsWith(QLatin1Char('.')) ? m_warning.chopped(1) : m_warning));
    else
        end(ExitLogNotWritten, QStringLiteral("the plug-in could not write the log (%1 bytes) to %2")
                                   .arg(bytes)
                                   .arg(filename));
}

void LogCommand::end(int code, const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_code = code;
    m_error = error;
    Q_EMIT finished();
}

int LogCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    CommandLine commandLine(QStringLiteral("log"), usage(), out, err);
    QCommandLineParser &parser = commandLine.parser();
    parser.addOption(QCommandLineOption(QStringLiteral("overwrite")));
    int exitCode = ExitOk;
    if (!commandLine.parse(args, QStringLiteral("the output file OUT is required"), kDefaultTimeoutSeconds, &exitCode))
        return exitCode;
    const ConnectionOptions &options = commandLine.options();
    const auto usageError = [&commandLine](const QString &message) { return commandLine.usageError(message); };
    QString error;
    // The plug-in opens the file on its own thread; hand it an absolute path.
    const QString outPath = QFileInfo(commandLine.positional()).absoluteFilePath();
    if (QFileInfo(outPath).isDir())
        return usageError(QStringLiteral("%1 is a directory").arg(commandLine.positional()));
    if (QFileInfo::exists(outPath) && !parser.isSet(QStringLiteral("overwrite")))
        return usageError(QStringLiteral("%1 exists; give --overwrite to replace it").arg(commandLine.positional()));
    if (!QFileInfo(QFileInfo(outPath).absolutePath()).isDir())
        return usageError(QStringLiteral("the folder of %1 does not exist").arg(commandLine.positional()));

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);
    const int timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    LogCommand command;

    const auto finish = [&](int code, const QString &message) {
        printer.clearStatus();
        if (!message.isEmpty())
            printer.message(QStringLiteral("dravik-host log: %1").arg(message));
        if (options.json) {
            QJsonObject json{
                {QStringLiteral("exit_code"), code},
                {QStringLiteral("file"), outPath},
                {QStringLiteral("address"), options.address.toString()},
                {QStringLiteral("written"), code == ExitOk},
            };
            if (command.m_bytes >= 0)
                json.insert(QStringLiteral("bytes"), double(command.m_bytes));
            if (!message.isEmpty())
                json.insert(QStringLiteral("error"), message);
            out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        } else if (code == ExitOk) {
            out << "log written: " << command.m_bytes << " bytes to " << outPath << '\n';
        }
        out.flush();
        return code;
    };

    PluginDevice pluginDevice(options.pluginPath);
    int code = pluginDevice.prepare({{QStringLiteral("PdLogFile"), outPath}}, options.address.toString(),
                                    {"logFileRead(bool,QString,qint64)", "onReadLogFile()"},
                                    QStringLiteral("cannot read the detector's log"));
    if (code != ExitOk)
        return finish(code, pluginDevice.errorString());
    QObject *device = pluginDevice.object();

    DeviceLink link(device, timeoutMs);
    code = link.attachAndOpen(&printer, options.address.toString(), &error);
    if (code != ExitOk)
        return finish(code, error);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &command, [&] {
        command.end(ExitTimedOut, QStringLiteral("the detector did not finish its log within %1 s; nothing written")
                                      .arg(options.timeoutSeconds));
    });
    connect(device, SIGNAL(logFileRead(bool,QString,qint64)), &command, SLOT(onLogFileRead(bool,QString,qint64)));
    connect(&link, &DeviceLink::linkLost, &command, [&](const QString &reason) { command.end(ExitLinkLost, reason); });
    connect(&link, &DeviceLink::notified, &command, [&](int severity, const QString &text) {
        if (severity >= 1)
            command.m_warning = text;
    });
    connect(&command, &LogCommand::finished, &loop, &QEventLoop::quit);
    printer.event(QStringLiteral("reading the detector's log"));
    printer.setStatus(QStringLiteral("reading the detector's log ..."));
    deadline.start(timeoutMs);
    if (!QMetaObject::invokeMethod(device, "onReadLogFile"))
        command.end(ExitPluginFailed, QStringLiteral("the device did not take the log request"));
    if (!command.m_done)
        loop.exec();
    deadline.stop();
    disconnect(device, nullptr, &command, nullptr);
    printer.clearStatus();
    link.close();
    return finish(command.m_code, command.m_error);
}

QString LogCommand::usage()
{
    QString text = QStringLiteral(
        "usage: dravik-host log OUT --address HOST:PORT [OPTIONS]\n"
        "\n"
        "Reads the detector's own log (start-up, connections, measurements, files,\n"
        "firmware) through the plug-in and stores it in OUT, byte for byte.\n"
        "\n"
        "  OUT                       the file to write; its folder must exist\n"
        "  --overwrite               replace OUT if it exists\n"
        "\n"
        "Connection:\n");
    text += ConnectionOptions::usageConnection(kDefaultTimeoutSeconds,
                                               QStringLiteral("longest wait for the connection and for the\n"
                                                              "                            whole log"));
    text += QStringLiteral("\nOutput:\n");
    text += ConnectionOptions::usageOutput();
    text += QStringLiteral(
        "\n"
        "Exit codes:\n"
        "    0  the log is written to OUT\n"
        "    2  bad command line, OUT exists without --overwrite, or a remote\n"
        "       address without --allow-remote\n"
        "    3  the plug-in could not be loaded or gave no usable device\n"
        "    4  could not connect within --timeout, or the link closed while connecting\n"
        "    5  the detector was rejected while connecting (version check)\n"
        "   10  the link was lost while the log was read\n"
        "   11  the end of the log did not come within --timeout; OUT is not written\n"
        "   12  the detector refused the read, or the plug-in could not write OUT\n"
        "       or had to cut the log short; OUT is not written\n"
        "\n"
        "Example, against the simulator:\n"
        "  $ dravik-sim --listen 127.0.0.1:0 &\n"
        "  listening 127.0.0.1:41835\n"
        "  $ dravik-host log detector.log --address 127.0.0.1:41835\n");
    return text;
}
