#pragma once

#include <QStringList>
#include <QTextStream>

// dravik-host gui: a window with the device's control widget (kind 2) and
// configuration widget (kind 1), for a device connected to --address. With
// --screenshot FILE the window is rendered offscreen once the device has
// opened (or the connection has timed out, showing the disconnected state),
// saved as PNG, and the command ends; otherwise it runs until the window is
// closed. Needs a QApplication, which main() creates for this command only.
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
