#include "GuiCommand.h"

#include "CommandLine.h"

#include "ConnectionOptions.h"
#include "DeviceInterface.h"
#include "DeviceLink.h"
#include "DeviceSession.h"
#include "HostQuery.h"
#include "ExitCode.h"
#include "LogRouter.h"
#include "MeasureCommand.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"
#include "RunReport.h"
#include "SettingsFile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <iterator>
#include <limits>
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

// The device's widgets, one tab each, in this order. The debug widget is not
// advertised by hasWidget() but is created on request all the same.
struct WidgetTab
{
    int kind;
    const char *name;
    const char *title;
    bool fills; // takes the whole page rather than its natural height
};
const WidgetTab kTabs[] = {
    {2, "control", "Control", false},
    {1, "configuration", "Configuration", false},
    {8, "expert", "Expert", true},
    {4, "debug", "Debug", true},
};

// A page holding the device's widget of one kind, or a note that the device
// has none.
QWidget *widgetPage(DeviceInterface *device, const WidgetTab &tab)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    device->createWidget(tab.kind, layout);
    if (layout->count() == 0)
        layout->addWidget(new QLabel(QStringLiteral("The device has no %1 widget.").arg(tab.name)));
    if (!tab.fills)
        layout->addStretch(1);
    return page;
}

// The index of the tab called name, or -1.
int tabIndex(const QString &name)
{
    for (int i = 0; i < int(std::size(kTabs)); ++i) {
        if (name == QLatin1String(kTabs[i].name))
            return i;
    }
    return -1;
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
    auto *pages = tabs->widget(tabIndex(QStringLiteral("expert")))->findChild<QListWidget *>();
    const QList<QListWidgetItem *> found = pages ? pages->findItems(name, Qt::MatchFixedString) : QList<QListWidgetItem *>();
    if (found.isEmpty())
        return false;
    pages->setCurrentItem(found.first());
    return true;
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
    for (const char *name : {"screenshot", "tab", "page", "set", "settings"})
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    parser.addOption(QCommandLineOption(QStringLiteral("dark")));
    parser.addOption(QCommandLineOption(QStringLiteral("start")));
    int exitCode = ExitOk;
    if (!commandLine.parse(args, QString(), kDefaultTimeoutSeconds, &exitCode))
        return exitCode;
    const ConnectionOptions &options = commandLine.options();
    const auto usageError = [&commandLine](const QString &message) { return commandLine.usageError(message); };
    QString error;
    if (options.json)
        return usageError(QStringLiteral("--json is not an option of gui"));
    QString screenshotPath;
    if (parser.isSet(QStringLiteral("screenshot"))) {
        const QString given = parser.value(QStringLiteral("screenshot"));
        if (given.isEmpty())
            return usageError(QStringLiteral("--screenshot needs a file name"));
        screenshotPath = QFileInfo(given).absoluteFilePath();
        if (QFileInfo(screenshotPath).isDir())
            return usageError(QStringLiteral("%1 is a directory").arg(given));
        if (!QFileInfo(QFileInfo(screenshotPath).absolutePath()).isDir())
            return usageError(QStringLiteral("the folder of %1 does not exist").arg(given));
    }
    const int firstTab = parser.isSet(QStringLiteral("tab")) ? tabIndex(parser.value(QStringLiteral("tab"))) : 0;
    if (firstTab < 0)
        return usageError(QStringLiteral("--tab takes control, configuration, expert or debug, not \"%1\"")
                              .arg(parser.value(QStringLiteral("tab"))));
    QList<QPair<int, QVariant>> requests;
    if (parser.isSet(QStringLiteral("set")) && !parseRequests(parser.value(QStringLiteral("set")), &requests, &error))
        return usageError(QStringLiteral("--set: %1").arg(error));
    QVariantHash settings;
    if (parser.isSet(QStringLiteral("settings"))) {
        SettingsFile file;
        if (!file.load(parser.value(QStringLiteral("settings"))))
            return usageError(file.errorString());
        settings = file.values();
    }
    const bool startMeasurement = parser.isSet(QStringLiteral("start"));
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app) {
        err << "dravik-host gui: needs a QApplication\n";
        return ExitPluginFailed;
    }
    app->setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (parser.isSet(QStringLiteral("dark")))
        app->setPalette(darkPalette());

    ProgressPrinter printer(stderr, ::isatty(::fileno(stderr)) == 1, options.quiet);
    LogRouter router(&printer, options.verbose);
    const auto fail = [&](int code, const QString &message) {
        printer.clearStatus();
        printer.message(QStringLiteral("dravik-host gui: %1").arg(message));
        return code;
    };

    PluginDevice pluginDevice(options.pluginPath);
    const QString address = options.address.toString();
    int code = pluginDevice.prepare(settings, address);
    if (code != ExitOk)
        return fail(code, pluginDevice.errorString());
    DeviceInterface *device = pluginDevice.device();

    // The widgets belong to the window, which must go before the device.
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Dravik \u2014 %1").arg(address));
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(12, 12, 12, 12);
    auto *tabs = new QTabWidget(window.get());
    for (const WidgetTab &tab : kTabs)
        tabs->addTab(widgetPage(device, tab), QString::fromLatin1(tab.title));
    tabs->setCurrentIndex(firstTab);
    layout->addWidget(tabs);
    if (parser.isSet(QStringLiteral("page")) && !showPage(tabs, parser.value(QStringLiteral("page"))))
        return usageError(QStringLiteral("--page: the expert view has no page \"%1\"").arg(parser.value(QStringLiteral("page"))));
    if (!screenshotPath.isEmpty())
        window->setAttribute(Qt::WA_DontShowOnScreen);
    window->show();

    const int timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    const auto request = [&]() {
        for (const auto &entry : qAsConst(requests)) {
            if (device->setValue(entry.first, entry.second) != 0)
                printer.message(QStringLiteral("dravik-host gui: the device refused parameter %1").arg(entry.first));
        }
    };
    // Without --start the link is opened for the view alone; with it, a
    // session opens it and runs one measurement until the window goes.
    DeviceLink link(pluginDevice.object(), timeoutMs);
    RunReport report;
    DeviceSession::Config config;
    config.durationMs = std::numeric_limits<int>::max();
    config.timeoutMs = timeoutMs;
    config.address = address;
    DeviceSession session(pluginDevice.object(), HostQuery(0, std::numeric_limits<unsigned>::max()), config, &report);
    printer.setStatus(QStringLiteral("connecting to %1 ...").arg(address));
    if (!startMeasurement) {
        if (!link.attach(&error))
            return fail(ExitPluginFailed, error);
        link.reportTo(&printer);
        QObject::connect(&link, &DeviceLink::linkLost, [&](const QString &reason) {
            printer.message(QStringLiteral("dravik-host gui: the link was lost: %1").arg(reason));
        });
        code = link.open(address, &error);
        if (code == ExitOk)
            request();
    } else {
        if (!session.attach(&error))
            return fail(ExitPluginFailed, error);
        QObject::connect(&session, &DeviceSession::progress, [&](const QString &text) { printer.event(text); });
        QObject::connect(&session, &DeviceSession::notified, [&](int, const QString &text) {
            printer.message(QStringLiteral("device: %1").arg(text));
        });
        // The requests go out with the detector open, before the start.
        QObject::connect(&session, &DeviceSession::measurementBegins, request);
        device->setDataTransferEnabled(true);
        QEventLoop running;
        QObject::connect(&session, &DeviceSession::measurementRunning, &running, &QEventLoop::quit);
        QObject::connect(&session, &DeviceSession::finished, &running, &QEventLoop::quit);
        session.begin();
        running.exec();
        code = session.state() == DeviceSession::State::Running ? ExitOk : session.exitCode();
        error = session.errorString();
    }
    printer.clearStatus();
    if (code != ExitOk)
        printer.message(QStringLiteral("dravik-host gui: %1: %2")
                            .arg(startMeasurement ? QStringLiteral("no measurement") : QStringLiteral("not connected"), error));
    const auto closeDevice = [&]() {
        if (!startMeasurement) {
            link.close();
            return;
        }
        // Stops the detector and closes the link; every step is bounded.
        QEventLoop closing;
        QObject::connect(&session, &DeviceSession::finished, &closing, &QEventLoop::quit);
        session.abort(ExitOk, QStringLiteral("the view was closed"));
        if (session.state() != DeviceSession::State::Finished)
            closing.exec();
    };

    if (!screenshotPath.isEmpty()) {
        QEventLoop settle;
        QTimer::singleShot(code != ExitOk ? 0 : startMeasurement ? kRunningSettleMs : kSettleMs, &settle,
                           &QEventLoop::quit);
        settle.exec();
        window->adjustSize();
        const QPixmap picture = window->grab();
        const bool saved = !picture.isNull() && picture.save(screenshotPath, "PNG");
        closeDevice();
        window.reset();
        if (!saved)
            return fail(ExitOutputFailed, QStringLiteral("could not write the screenshot %1").arg(screenshotPath));
        const char *state = code != ExitOk ? (startMeasurement ? "not measuring" : "not connected")
                                           : startMeasurement ? "connected, measuring" : "connected";
        out << "screenshot written: " << screenshotPath << " (" << picture.width() << "x" << picture.height()
            << ", " << state << ")\n";
        out.flush();
        return ExitOk;
    }

    if (window->isVisible())
        app->exec();
    closeDevice();
    window.reset();
    return ExitOk;
}

QString GuiCommand::usage()
{
    QString text = QStringLiteral(
        "usage: dravik-host gui --address HOST:PORT [OPTIONS]\n"
        "\n"
        "Opens a window with the device's widgets for the detector at HOST:PORT,\n"
        "one tab each (control, configuration, expert, debug), and runs until the\n"
        "window is closed. If the device cannot connect, the window shows it\n"
        "disconnected.\n"
        "\n"
        "  --tab NAME                the tab shown first: control (default),\n"
        "                            configuration, expert or debug\n"
        "  --screenshot FILE         render the window offscreen once the device has\n"
        "                            opened (or the connection timed out), save it\n"
        "                            as PNG to FILE and exit; needs no display\n"
        "  --dark                    a dark palette\n"
        "  --start                   start a measurement once the device has\n"
        "                            opened; it runs until the window is closed\n"
        "                            (with --screenshot: the picture is taken while\n"
        "                            it runs, then the detector is stopped)\n"
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
