#include "GuiCommand.h"

#include "CommandLine.h"

#include "ConnectionOptions.h"
#include "DeviceInterface.h"
#include "DeviceLink.h"
#include "ExitCode.h"
#include "LogRouter.h"
#include "MeasureCommand.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace {
const double kDefaultTimeoutSeconds = 15.0;
// After opened() the device still reads its parameters back; the widgets are
// given this long to show them before a screenshot is taken.
const int kSettleMs = 500;

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
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4c, 0x52));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x42, 0x47));
    palette.setColor(QPalette::Mid, QColor(0x33, 0x35, 0x39));
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
    parser.addOption(QCommandLineOption(QStringLiteral("screenshot"), QString(), QStringLiteral("file")));
    parser.addOption(QCommandLineOption(QStringLiteral("dark")));
    parser.addOption(QCommandLineOption(QStringLiteral("tab"), QString(), QStringLiteral("name")));
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
    int code = pluginDevice.prepare({}, options.address.toString());
    if (code != ExitOk)
        return fail(code, pluginDevice.errorString());
    DeviceInterface *device = pluginDevice.device();

    // The widgets belong to the window, which must go before the device.
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Dravik \u2014 %1").arg(options.address.toString()));
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(12, 12, 12, 12);
    auto *tabs = new QTabWidget(window.get());
    for (const WidgetTab &tab : kTabs)
        tabs->addTab(widgetPage(device, tab), QString::fromLatin1(tab.title));
    tabs->setCurrentIndex(firstTab);
    layout->addWidget(tabs);
    if (!screenshotPath.isEmpty())
        window->setAttribute(Qt::WA_DontShowOnScreen);
    window->show();

    const int timeoutMs = int(options.timeoutSeconds * 1000.0 + 0.5);
    DeviceLink link(pluginDevice.object(), timeoutMs);
    if (!link.attach(&error))
        return fail(ExitPluginFailed, error);
    link.reportTo(&printer);
    QObject::connect(&link, &DeviceLink::linkLost, [&](const QString &reason) {
        printer.message(QStringLiteral("dravik-host gui: the link was lost: %1").arg(reason));
    });
    printer.setStatus(QStringLiteral("connecting to %1 ...").arg(options.address.toString()));
    code = link.open(options.address.toString(), &error);
    printer.clearStatus();
    if (code != ExitOk)
        printer.message(QStringLiteral("dravik-host gui: not connected: %1").arg(error));

    if (!screenshotPath.isEmpty()) {
        QEventLoop settle;
        QTimer::singleShot(code == ExitOk ? kSettleMs : 0, &settle, &QEventLoop::quit);
        settle.exec();
        window->adjustSize();
        const QPixmap picture = window->grab();
        const bool saved = !picture.isNull() && picture.save(screenshotPath, "PNG");
        link.close();
        window.reset();
        if (!saved)
            return fail(ExitOutputFailed, QStringLiteral("could not write the screenshot %1").arg(screenshotPath));
        out << "screenshot written: " << screenshotPath << " (" << picture.width() << "x" << picture.height()
            << ", " << (code == ExitOk ? "connected" : "not connected") << ")\n";
        out.flush();
        return ExitOk;
    }

    if (window->isVisible())
        app->exec();
    link.close();
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
