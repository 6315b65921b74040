#include "GuiCommand.h"

#include "CommandLine.h"

#include "ConnectionOptions.h"
#include "DeviceInterface.h"
#include "DeviceSession.h"
#include "ExitCode.h"
#include "LiveView.h"
#include "LogRouter.h"
#include "OperationModeNames.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"
#include "SettingsFile.h"
#include "StationWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QListWidget>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
const double kDefaultTimeoutSeconds = 15.0;
// After opened() the device still reads its parameters back; the widgets are
// given this long to show them before a screenshot is taken.
const int kSettleMs = 500;
// A measurement that has just started running: long enough for the state
// poll to report the channels and for the first data to arrive.
const int kRunningSettleMs = 1500;
// The live view has drawn every channel: let the last replot reach the screen.
const int kDrawnSettleMs = 300;
// The window's size at least: room for the toolbar and three plots.
const int kWidth = 1100;
const int kHeight = 780;

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x2b, 0x2d, 0x31);
    const QColor base(0x1e, 0x1f, 0x22);
    const QColor text(0xe6, 0xe6, 0xe6);
    const QColor disabledText(0x80, 0x80, 0x80);
    const QColor highlight(0x3d, 0x8e, 0xd8);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3c, 0x41));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
    palette.setColor(QPalette::Link, highlight.lighter(130));
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    // Mid draws the fields' borders: light enough to be seen on the window.
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4c, 0x52));
    palette.setColor(QPalette::Midlight, QColor(0x4f, 0x52, 0x58));
    palette.setColor(QPalette::Mid, QColor(0x6e, 0x72, 0x7a));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    return palette;
}

// "ID=VALUE,ID=VALUE...": parameter requests, each value typed as it reads
// (true/false, a whole number, a number, else text).
bool parseRequests(const QString &text, QList<QPair<int, QVariant>> *requests, QString *error)
{
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int equals = item.indexOf(QLatin1Char('='));
        bool ok = false;
        const int id = item.left(equals).trimmed().toInt(&ok);
        if (equals < 0 || !ok) {
            *error = QStringLiteral("\"%1\" is not ID=VALUE").arg(item);
            return false;
        }
        const QString given = item.mid(equals + 1).trimmed();
        QVariant value = given;
        if (given == QLatin1String("true") || given == QLatin1String("false"))
            value = given == QLatin1String("true");
        else if (const int whole = given.toInt(&ok); ok)
            value = whole;
        else if (const double number = given.toDouble(&ok); ok)
            value = number;
        requests->append(qMakePair(id, value));
    }
    if (requests->isEmpty()) {
        *error = QStringLiteral("no ID=VALUE given");
        return false;
    }
    return true;
}

// Shows the page of the expert view whose list entry reads name.
bool showPage(QTabWidget *tabs, const QString &name)
{
    auto *pages = tabs->widget(StationWindow::tabNames().indexOf(QStringLiteral("expert")))->findChild<QListWidget *>();
    const QList<QListWidgetItem *> found = pages ? pages->findItems(name, Qt::MatchFixedString) : QList<QListWidgetItem *>();
    if (found.isEmpty())
        return false;
    pages->setCurrentItem(found.first());
    return true;
}

// Waits until the window shows what a screenshot is of: the device open and
// settled, or (start) a measurement running and, on the live tab, every
// ticked channel drawn; or the connection failed. Bounded: after two
// time-outs the picture is taken as it is. True if a measurement runs.
bool waitForPicture(StationWindow *window, bool start, bool live, int timeoutMs)
{
    using State = DeviceSession::State;
    const auto state = [window] { return window->session() ? window->session()->state() : State::Finished; };
    const auto ready = [&] {
        const State s = state();
        if (s == State::Finished)
            return true;
        if (!start)
            return s == State::Open;
        return s == State::Running && (!live || window->liveView()->hasDrawnAll());
    };
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (ready())
            loop.quit();
    };
    QObject::connect(window, &StationWindow::sessionStateChanged, &loop, check);
    QObject::connect(window, &StationWindow::sessionFinished, &loop, check);
    QObject::connect(window->liveView(), &LiveView::drawn, &loop, check);
    deadline.start(2 * timeoutMs);
    if (!ready())
        loop.exec();
    const State s = state();
    const int settle = s == State::Finished ? 0
                       : s != State::Running ? kSettleMs
                       : live && window->liveView()->hasDrawnAll() ? kDrawnSettleMs
                                                                   : kRunningSettleMs;
    QEventLoop settling;
    QTimer::singleShot(settle, &settling, &QEventLoop::quit);
    settling.exec();
    return state() == State::Running;
}

} // namespace

bool GuiCommand::needsNoDisplay(const QStringList &args)
{
    for (const QString &arg : args) {
        if (arg == QLatin1String("--screenshot") || arg.startsWith(QLatin1String("--screenshot="))
            || arg == QLatin1String("-screenshot") || arg == QLatin1String("--help") || arg == QLatin1String("-h")
            || arg == QLatin1String("-help"))
            return true;
    }
    return false;
}

int GuiCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    CommandLine commandLine(QStringLiteral("gui"), usage(), out, err);
    QCommandLineParser &parser = commandLine.parser();
    for (const char *name : {"screenshot", "tab", "page", "set", "settings", "operation-mode", "measurement-mode"})
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char *name : {"dark", "start", "simulated"})
        parser.addOption(QCommandLineOption(QLatin1String(name)));
    int exitCode = ExitOk;
    if (!commandLine.parse(args, QString(), kDefaultTimeoutSeconds, &exitCode))
        return exitCode;
    const ConnectionOptions &options = commandLine.options();
    const auto usageError = [&commandLine](const QString &message) { return commandLine.usageError(message); };
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    QString error;
    if (options.json)
        return usageError(QStringLiteral("--json is not an option of gui"));
    QString screenshotPath;
    if (isSet("screenshot")) {
        const QString given = value("screenshot");
        if (given.isEmpty())
            return usageError(QStringLiteral("--screenshot needs a file name"));
        screenshotPath = QFileInfo(given).absoluteFilePath();
        if (QFileInfo(screenshotPath).isDir())
            return usageError(QStringLiteral("%1 is a directory").arg(given));
        if (!QFileInfo(QFileInfo(screenshotPath).absolutePath()).isDir())
            return usageError(QStringLiteral("the folder of %1 does not exist").arg(given));
    }
    const QStringList tabs = StationWindow::tabNames();
    const int firstTab = isSet("tab") ? tabs.indexOf(value("tab")) : 0;
    if (firstTab < 0)
        return usageError(QStringLiteral("--tab takes %1 or %2, not \"%3\"")
                              .arg(tabs.mid(0, tabs.size() - 1).join(QStringLiteral(", ")), tabs.last(), value("tab")));
    StationWindow::Options station;
    station.address = options.address.toString();
    station.timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    station.simulated = isSet("simulated");
    if (isSet("operation-mode") && !OperationModeNames::parse(value("operation-mode"), &station.operationMode))
        return usageError(QStringLiteral("--operation-mode: unknown mode '%1' (see measure --help for the list)")
                              .arg(value("operation-mode")));
    if (isSet("measurement-mode")) {
        bool ok = false;
        station.measurementMode = value("measurement-mode").toInt(&ok);
        if (!ok || station.measurementMode < 0 || station.measurementMode > 2)
            return usageError(QStringLiteral("--measurement-mode: '%1' is not 0, 1 or 2").arg(value("measurement-mode")));
    }
    QList<QPair<int, QVariant>> requests;
    if (isSet("set") && !parseRequests(value("set"), &requests, &error))
        return usageError(QStringLiteral("--set: %1").arg(error));
    if (isSet("settings")) {
        SettingsFile file;
        if (!file.load(value("settings")))
            return usageError(file.errorString());
        station.settings = file.values();
    }
    station.settings.insert(QStringLiteral("NetworkAddress"), station.address);
    const bool startMeasurement = isSet("start");
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app) {
        err << "dravik-host gui: needs a QApplication\n";
        return ExitPluginFailed;
    }
    app->setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (isSet("dark"))
        app->setPalette(darkPalette());

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);
    PluginDevice pluginDevice(options.pluginPath);
    const int code = pluginDevice.prepare(station.settings, station.address);
    if (code != ExitOk) {
        printer.message(QStringLiteral("dravik-host gui: %1").arg(pluginDevice.errorString()));
        return code;
    }
    DeviceInterface *device = pluginDevice.device();

    // The widgets belong to the window, which must go before the device.
    auto window = std::make_unique<StationWindow>(&pluginDevice, station);
    window->tabs()->setCurrentIndex(firstTab);
    if (isSet("page") && !showPage(window->tabs(), value("page")))
        return usageError(QStringLiteral("--page: the expert view has no page \"%1\"").arg(value("page")));
    QObject::connect(window.get(), &StationWindow::logged, [&printer](const QString &line) { printer.event(line); });
    // The requests go out once the detector is open, before the start.
    bool prepared = false;
    QObject::connect(window.get(), &StationWindow::sessionStateChanged, [&](DeviceSession::State state) {
        if (state != DeviceSession::State::Open || prepared)
            return;
        prepared = true;
        for (const auto &entry : qAsConst(requests)) {
            if (device->setValue(entry.first, entry.second) != 0)
                printer.message(QStringLiteral("dravik-host gui: the device refused parameter %1").arg(entry.first));
        }
        if (startMeasurement && !window->startMeasurement())
            printer.message(QStringLiteral("dravik-host gui: no measurement: %1").arg(window->statusText()));
    });
    QObject::connect(window.get(), &StationWindow::sessionFinished, [&](int exitCode) {
        if (exitCode != ExitOk)
            printer.message(QStringLiteral("dravik-host gui: %1").arg(window->statusText()));
    });
    if (!screenshotPath.isEmpty())
        window->setAttribute(Qt::WA_DontShowOnScreen);
    window->resize(window->sizeHint().expandedTo(QSize(kWidth, kHeight)));
    window->show();
    window->connectDevice();

    if (screenshotPath.isEmpty()) {
        app->exec();
        window->shutDown();
        window.reset();
        return ExitOk;
    }

    const bool measuring =
        waitForPicture(window.get(), startMeasurement, tabs.at(firstTab) == QLatin1String("live"), station.timeoutMs);
    // Room for what the views show now that the detector has filled them.
    window->resize(window->sizeHint().expandedTo(QSize(kWidth, kHeight)));
    QCoreApplication::processEvents();
    const QPixmap picture = window->grab();
    const bool saved = !picture.isNull() && picture.save(screenshotPath, "PNG");
    const bool connected = window->session() && window->session()->state() != DeviceSession::State::Finished;
    window->shutDown();
    window.reset();
    if (!saved) {
        printer.message(QStringLiteral("dravik-host gui: could not write the screenshot %1").arg(screenshotPath));
        return ExitOutputFailed;
    }
    const char *state = !connected ? (startMeasurement ? "not measuring" : "not connected")
                        : measuring ? "connected, measuring"
                        : startMeasurement ? "connected, not measuring" : "connected";
    out << "screenshot written: " << screenshotPath << " (" << picture.width() << "x" << picture.height() << ", "
        << state << ")\n";
    out.flush();
    return ExitOk;
}

QString GuiCommand::usage()
{
    QString text = QStringLiteral(
        "usage: dravik-host gui --address HOST:PORT [OPTIONS]\n"
        "\n"
        "Opens a measurement station for the detector at HOST:PORT and runs until\n"
        "the window is closed: a toolbar to connect, choose the operation and\n"
        "measurement mode, start and stop measurements and record them to an HDF5\n"
        "file (the layout of measure); the device's widgets (control,\n"
        "configuration, expert, debug) and a live view of the latest chunk of each\n"
        "ticked channel as tabs; the state in the status bar and a log pane. If\n"
        "the device cannot connect, the window shows it disconnected.\n"
        "\n"
        "  --tab NAME                the tab shown first: control (default),\n"
        "                            configuration, expert, debug or live\n"
        "  --screenshot FILE         render the window offscreen once the device has\n"
        "                            opened (or the connection timed out), save it\n"
        "                            as PNG to FILE and exit; needs no display\n"
        "  --dark                    a dark palette\n"
        "  --start                   start a measurement once the device has\n"
        "                            opened; it runs until Stop or the window is\n"
        "                            closed (with --screenshot: the picture is taken\n"
        "                            while it runs, on the live tab once every\n"
        "                            ticked channel is drawn, then the detector is\n"
        "                            stopped)\n"
        "  --operation-mode MODE     the operation mode chosen at first, a number or\n"
        "                            a name as for measure (0, DAC+)\n"
        "  --measurement-mode N      the measurement mode chosen at first (0)\n"
        "  --simulated               mark recordings as made against dravik-sim\n"
        "  --set ID=VALUE[,...]      request parameter values through the device\n"
        "                            once it has opened (before the start), e.g.\n"
        "                            --set 2010=true switches expert mode on\n"
        "  --page NAME               the page of the expert view shown, e.g. Gain\n"
        "  --settings FILE           a JSON object of device settings, as for\n"
        "                            measure (e.g. {\"ServiceMode\": true})\n"
        "\n"
        "Connection:\n");
    text += ConnectionOptions::usageConnection(kDefaultTimeoutSeconds,
                                               QStringLiteral("longest wait for the connection"));
    text += QStringLiteral(
        "\nOutput:\n"
        "  --quiet                   no progress on stderr\n"
        "  --verbose                 the plug-in's debug log on stderr\n"
        "  -h, --help                this text\n"
        "\n"
        "Exit codes:\n"
        "    0  the window was closed, or the screenshot is written\n"
        "    2  bad command line, or a remote address without --allow-remote\n"
        "    3  the plug-in could not be loaded or gave no usable device\n"
        "    4  the device did not take the address\n"
        "    7  the screenshot could not be written\n"
        "\n"
        "Example, against the simulator:\n"
        "  $ dravik-sim --listen 127.0.0.1:0 &\n"
        "  listening 127.0.0.1:41835\n"
        "  $ dravik-host gui --address 127.0.0.1:41835 --tab expert \\\n"
        "        --screenshot expert.png\n");
    return text;
}
