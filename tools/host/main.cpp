// dravik-host: a host for the Dravik plug-in, built on QPluginLoader and the
// host contract headers only, as any host application would be.
#include "AnalyzeCommand.h"
#include "FirmwareCommand.h"
#include "GuiCommand.h"
#include "InfoCommand.h"
#include "LogCommand.h"
#include "MeasureCommand.h"
#include "ReportCommand.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

static QString usage()
{
    return QStringLiteral("usage: dravik-host COMMAND [ARGS...]\n"
                          "\n"
                          "A host for the Dravik device plug-in: loads libdravik_v2.so the way a\n"
                          "measurement application does and drives the detector through it.\n"
                          "\n"
                          "commands:\n"
                          "  info [PLUGIN_PATH]   print the plug-in's metadata and class information\n"
                          "  measure [OPTIONS]    run measurements against a detector or dravik-sim and\n"
                          "                       record them to an HDF5 file\n"
                          "  firmware FILE        write a firmware image to the detector\n"
                          "  log OUT              store the detector's own log in OUT\n"
                          "  gui [OPTIONS]        a window with the device's control and configuration\n"
                          "                       widgets, or a screenshot of it\n"
                          "  analyze FILE ...     analyse a recorded test voltage (a recording or raw\n"
                          "                       samples) offline, results as JSON\n"
                          "  report RECORDING     PD sites, charges, inception, tan delta and figures\n"
                          "                       from a recording, as a PDF and JSON\n"
                          "  help [COMMAND]       this text, or the help of COMMAND\n"
                          "\n"
                          "  --version            the version of dravik-host and of the plug-in it ships\n"
                          "                       with\n"
                          "\n"
                          "Run 'dravik-host COMMAND --help' for a command's options and exit codes.\n");
}

// Runs the command of the command line; its exit code.
static int run(QStringList args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.isEmpty()) {
        err << usage();
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--version")) {
        out << "dravik-host " << DRAVIK_VERSION << '\n';
        return 0;
    }
    if (command == QLatin1String("info"))
        return InfoCommand::run(args, out, err);
    if (command == QLatin1String("measure"))
        return MeasureCommand::run(args, out, err);
    if (command == QLatin1String("analyze"))
        return AnalyzeCommand::run(args, out, err);
    if (command == QLatin1String("report"))
        return ReportCommand::run(args, out, err);
    if (command == QLatin1String("firmware"))
        return FirmwareCommand::run(args, out, err);
    if (command == QLatin1String("log"))
        return LogCommand::run(args, out, err);
    if (command == QLatin1String("gui"))
        return GuiCommand::run(args, out, err);
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h")) {
        const QString topic = args.value(0);
        if (topic == QLatin1String("info"))
            out << InfoCommand::usage();
        else if (topic == QLatin1String("measure"))
            out << MeasureCommand::usage();
        else if (topic == QLatin1String("analyze"))
            out << AnalyzeCommand::usage();
        else if (topic == QLatin1String("report"))
            out << ReportCommand::usage();
        else if (topic == QLatin1String("firmware"))
            out << FirmwareCommand::usage();
        else if (topic == QLatin1String("log"))
            out << LogCommand::usage();
        else if (topic == QLatin1String("gui"))
            out << GuiCommand::usage();
        else if (topic.isEmpty())
            out << usage();
        else {
            err << "dravik-host: no help for unknown command '" << topic << "'\n" << usage();
            return 2;
        }
        return 0;
    }
    err << "dravik-host: unknown command '" << command << "'\n" << usage();
    return 2;
}

int main(int argc, char **argv)
{
    // Reading a plug-in and recording need no display: only gui, which shows
    // widgets, gets a QApplication. A screenshot (or the help) needs no
    // display either; without one, it is rendered offscreen.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    std::unique_ptr<QCoreApplication> application;
    // QApplication takes options of its own out of the command line
    // ("-plugin", "-style" ...), and --plugin is ours: it gets none of it.
    int qtArgc = 1;
    const QString command = args.value(0);
    if (command == QLatin1String("gui")) {
        const QStringList guiArgs = args.mid(1);
        const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
            && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
        if (noDisplay) {
            if (!GuiCommand::needsNoDisplay(guiArgs)) {
                std::fputs("dravik-host gui: no display (DISPLAY is not set); give --screenshot FILE to render\n"
                           "the window offscreen, or set QT_QPA_PLATFORM\n",
                           stderr);
                return 2;
            }
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application = std::make_unique<QApplication>(qtArgc, argv);
    } else if (command == QLatin1String("report")) {
        // The figures are Qwt widgets rendered into the PDF, never shown.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QApplication>(qtArgc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    return run(args);
}
