#pragma once

#include "AbstractDevicePlugin.h"

// The plug-in object the host gets from qt_plugin_instance(). Only its class
// information and createDevice() are its own.
class Dravik_v2_Plugin : public AbstractDevicePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "DevicePluginInterface")
    Q_CLASSINFO("description", "PD Measurement Device for DAC/CR and VLF Sinus")
    Q_CLASSINFO("name", "Dravik v2/v3")
    Q_CLASSINFO("uuid", "462018FC-392C-4619-B9CE-D63DA9DC1625")
    Q_CLASSINFO("version", DRAVIK_VERSION)

public:
    explicit Dravik_v2_Plugin(QObject *parent = nullptr);

    QObject *createDevice(QObject *parent) override;
};
