#include "PluginLoader.h"

#include "DevicePluginInterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

const char *const PluginLoader::expectedIid = "DevicePluginInterface";

PluginLoader::PluginLoader(const QString &path)
    : m_path(path)
{
}

QStringList PluginLoader::relativeCandidates()
{
    QStringList candidates;
    for (const char *dir : {DRAVIK_PLUGINDIR_FROM_INSTALLED_BIN, DRAVIK_PLUGINDIR_FROM_BUILD_BIN})
        candidates << QLatin1String(dir) + QLatin1Char('/') + QLatin1String(DRAVIK_PLUGIN_FILE_NAME);
    return candidates;
}

QString PluginLoader::defaultPath()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    QStringList candidates;
    for (const QString &relative : relativeCandidates())
        candidates << QDir::cleanPath(programDir.filePath(relative));
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return candidates.first();
}

QJsonObject PluginLoader::metaData() const
{
    return m_loader.metaData();
}

bool PluginLoader::load()
{
    const QFileInfo info(m_path);
    if (!info.exists()) {
        m_error = QStringLiteral("%1: no such file").arg(m_path);
        return false;
    }
    if (!info.isFile()) {
        m_error = QStringLiteral("%1: not a file").arg(m_path);
        return false;
    }
    m_loader.setFileName(info.absoluteFilePath());
    const QJsonObject meta = m_loader.metaData();
    if (meta.isEmpty()) {
        m_error = QStringLiteral("%1: not a Qt plug-in (%2)").arg(m_path, m_loader.errorString());
        return false;
    }
    const QString iid = meta.value(QStringLiteral("IID")).toString();
    if (iid != QLatin1String(expectedIid)) {
        m_error = QStringLiteral("%1: not a Dravik plug-in (interface \"%2\", expected \"%3\")")
                      .arg(m_path, iid, QLatin1String(expectedIid));
        return false;
    }
    QObject *instance = m_loader.instance();
    if (!instance) {
        m_error = QStringLiteral("%1: cannot load plug-in: %2").arg(m_path, m_loader.errorString());
        return false;
    }
    m_plugin = qobject_cast<DevicePluginInterface *>(instance);
    if (!m_plugin) {
        m_error = QStringLiteral("%1: not a Dravik plug-in (%2 does not implement DevicePluginInterface)")
                      .arg(m_path, QString::fromLatin1(instance->metaObject()->className()));
        return false;
    }
    return true;
}
