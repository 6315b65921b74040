#include "AbstractDevicePlugin.h"

#include <QMetaClassInfo>

AbstractDevicePlugin::AbstractDevicePlugin(QObject *parent)
    : QObject(parent)
{
}

QString AbstractDevicePlugin::classInfo(const char *key) const
{
    const QMetaObject *meta = metaObject();
    const int index = meta->indexOfClassInfo(key);
    if (index < 0)
        return QString();
    return QString::fromUtf8(meta->classInfo(index).value());
}

QString AbstractDevicePlugin::name() const
{
    return classInfo("name");
}

QString AbstractDevicePlugin::description() const
{
    return classInfo("description");
}

QUuid AbstractDevicePlugin::uuid() const
{
    // An absent or malformed value gives the null uuid.
    return QUuid(classInfo("uuid"));
}

QString AbstractDevicePlugin::version() const
{
    return classInfo("version");
}
