#pragma once

#include <QStringList>
#include <QTextStream>

// dravik-host gui: a measurement station (StationWindow) for a device
// connected to --address. With --start a measurement is started once the
// device has opened. With --screenshot FILE the window is rendered offscreen
// once it shows what was asked (the device open, a measurement running, the
// live view drawn, or the connection timed out, showing the disconnected
// state), saved as PNG, and the command ends; otherwise it runs until the
// window is closed. Needs a QApplication, which main() creates for this
// command only.
class GuiCommand
{
public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();
    // True if args (after "gui") ask for a screenshot or for help: the
    // command then needs no display, and main() may pick the offscreen
    // platform before the application object exists.
    static bool needsNoDisplay(const QStringList &args);

private:
    GuiCommand() = delete;
};
