#pragma once

#include <QStringList>
#include <QTextStream>

// dravik-host gui: a window with the device's four widgets as tabs, for a
// device connected to --address. With --start a measurement is started
// through the device (DeviceSession) once it has opened. With --screenshot
// FILE the window is rendered offscreen once the device has opened (or is
// measuring, or the connection has timed out, showing the disconnected
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
