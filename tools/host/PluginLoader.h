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

    // Where the plug-in lies relative to the running program's folder: the
    // installed layout (bin/ and <libdir>/dravik/plugins/) first, then the
    // build tree's (bin/ and plugins/). Relative, so that a relocated or
    // unpacked install finds its own plug-in.
    static QStringList relativeCandidates();
    // The first of those that exists; the installed one if neither does.
    static QString defaultPath();

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
