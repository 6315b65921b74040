#pragma once

#include <QJsonObject>
#include <QPluginLoader>
#include <QString>

class DevicePluginInterface;

// Loads a device plug-in the way any host does: QPluginLoader, the metadata
// first (so a foreign library is never instantiated), then a cast of the
// instance to DevicePluginInterface.
class PluginLoader
{
public:
    static const char *const expectedIid;

    explicit PluginLoader(const QString &path);

    // False with errorString() set if the file is missing, is no Qt plug-in,
    // has another interface id or does not implement DevicePluginInterface.
    bool load();
    QString errorString() const { return m_error; }

    // The plug-in's metadata as Qt stores it ("IID", "className", ...).
    QJsonObject metaData() const;
    DevicePluginInterface *plugin() const { return m_plugin; }
    QString fileName() const { return m_loader.fileName(); }

private:
    QPluginLoader m_loader;
    QString m_path;
    QString m_error;
    DevicePluginInterface *m_plugin = nullptr;
};
