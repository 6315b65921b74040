#pragma once

#include "DevicePluginInterface.h"

#include <QObject>

// Base of every device plug-in object. name(), description(), uuid() and
// version() are read from the class information of the concrete plug-in
// class, so a plug-in only declares Q_CLASSINFO pairs and createDevice().
//
// qobject_cast answers for "AbstractDevicePlugin", "DevicePluginInterface" and
// the interface id; the last two give the DevicePluginInterface sub-object.
class AbstractDevicePlugin : public QObject, public DevicePluginInterface
{
    Q_OBJECT
    Q_INTERFACES(DevicePluginInterface)

public:
    explicit AbstractDevicePlugin(QObject *parent = nullptr);

    QString name() const override;
    QString description() const override;
    QUuid uuid() const override;
    QString version() const override;

protected:
    // The class-info value for key of the run-time class, or an empty string.
    QString classInfo(const char *key) const;
};
