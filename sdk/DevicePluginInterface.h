#pragma once

#include <QString>
#include <QUuid>
#include <QtPlugin>

class QObject;

// What a device plug-in offers its host. The host loads the library with
// QPluginLoader, casts the instance to this interface and creates devices.
// The virtual functions keep this order; hosts depend on it.
class DevicePluginInterface
{
public:
    virtual ~DevicePluginInterface() = default;

    virtual QString name() const = 0;
    virtual QString description() const = 0;
    virtual QUuid uuid() const = 0;
    virtual QString version() const = 0;
    // A new device object, owned by the host (parent). May be null if the
    // plug-in cannot provide one.
    virtual QObject *createDevice(QObject *parent) = 0;
};

#define DevicePluginInterface_iid "org.dravik.DevicePluginInterface/1.1"
Q_DECLARE_INTERFACE(DevicePluginInterface, DevicePluginInterface_iid)
