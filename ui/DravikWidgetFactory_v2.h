#pragma once

class Dravik_v2;
class QWidget;

// Builds the widgets the detector device offers to the host. The device
// cannot include the widgets (they sit above it), so the plug-in module hands
// this function to the device as its widget factory.
class DravikWidgetFactory_v2
{
public:
    enum Kind {
        Configuration = 1,
        Control = 2,
        Debug = 4,
        Expert = 8
    };

    // The widget of the kind, connected to the device and told its current
    // connection state; nullptr for kinds built elsewhere or not at all.
    static QWidget *create(int kind, Dravik_v2 *device);
};
