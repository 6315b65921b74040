#pragma once

#include "PluginLoader.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantHash>
#include <QVariantMap>

#include <memory>

class DeviceInterface;
class DevicePluginInterface;
class QObject;

// The first steps of every command that drives a detector: load the plug-in,
// take a device from it, initialise it and hand it its settings with the
// address. The address set is read back: a device that does not hold it is
// never opened (its factory default would be used instead).
//
// Owns the device and the loader; the device is destroyed first, so that no
// plug-in code runs after an unload.
class PluginDevice
{
public:
    explicit PluginDevice(const QString &pluginPath);
    ~PluginDevice();
    PluginDevice(const PluginDevice &) = delete;
    PluginDevice &operator=(const PluginDevice &) = delete;

    // Loads the plug-in and creates and initialises the device. On failure
    // returns ExitPluginFailed with errorString() set; ExitOk otherwise.
    int create();
    // Applies settings with "NetworkAddress" set to address and checks that
    // the device took it. ExitConnectFailed if it did not, ExitOk otherwise.
    int configure(QVariantHash settings, const QString &address);
    // create(), then a check that the device has every method of required
    // (signals or slots, e.g. "logFileRead(bool,QString,qint64)"), then
    // configure(). A missing method gives ExitPluginFailed with
    // "the plug-in's device " followed by lacking as the error.
    int prepare(const QVariantHash &settings, const QString &address, const QList<QByteArray> &required = {},
                const QString &lacking = QString());

    // The loaded plug-in as a recording describes it: file, name,
    // description, version, uuid (empty before create()).
    QVariantMap description() const;

    QString errorString() const { return m_error; }
    const PluginLoader &loader() const { return m_loader; }
    DevicePluginInterface *plugin() const { return m_loader.plugin(); }
    QObject *object() const { return m_object.get(); }
    DeviceInterface *device() const { return m_device; }

private:
    PluginLoader m_loader;
    std::unique_ptr<QObject> m_object;
    DeviceInterface *m_device = nullptr;
    QString m_error;
};
