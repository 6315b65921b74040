#include "PluginDevice.h"

#include "DeviceInterface.h"
#include "DevicePluginInterface.h"
#include "ExitCode.h"

#include <QMetaObject>
#include <QUuid>

namespace {
const int kSettingsConnection = 1171;
}

PluginDevice::PluginDevice(const QString &pluginPath)
    : m_loader(pluginPath)
{
}

PluginDevice::~PluginDevice()
{
    m_object.reset();
}

int PluginDevice::create()
{
    if (!m_loader.load()) {
        m_error = m_loader.errorString();
        return ExitPluginFailed;
    }
    m_object.reset(m_loader.plugin()->createDevice(nullptr));
    if (!m_object) {
        m_error = QStringLiteral("the plug-in gave no device");
        return ExitPluginFailed;
    }
    m_device = qobject_cast<DeviceInterface *>(m_object.get());
    if (!m_device) {
        m_error = QStringLiteral("the plug-in's device (%1) does not implement DeviceInterface")
                      .arg(QString::fromLatin1(m_object->metaObject()->className()));
        return ExitPluginFailed;
    }
    if (!m_device->initialize()) {
        m_error = QStringLiteral("the device could not be initialised");
        return ExitPluginFailed;
    }
    return ExitOk;
}

QVariantMap PluginDevice::description() const
{
    const DevicePluginInterface *p = plugin();
    if (!p)
        return {};
    return {
        {QStringLiteral("file"), m_loader.fileName()},
        {QStringLiteral("name"), p->name()},
        {QStringLiteral("description"), p->description()},
        {QStringLiteral("version"), p->version()},
        {QStringLiteral("uuid"), p->uuid().toString(QUuid::WithoutBraces).toUpper()},
    };
}

int PluginDevice::prepare(const QVariantHash &settings, const QString &address, const QList<QByteArray> &required,
                          const QString &lacking)
{
    const int code = create();
    if (code != ExitOk)
        return code;
    for (const QByteArray &signature : required) {
        if (m_object->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(signature.constData())) < 0) {
            m_error = QStringLiteral("the plug-in's device ") + lacking;
            return ExitPluginFailed;
        }
    }
    return configure(settings, address);
}

int PluginDevice::configure(QVariantHash settings, const QString &address)
{
    // The address comes from the command line and nowhere else; the device's
    // factory default is never left in place when open() is called.
    settings.insert(QStringLiteral("NetworkAddress"), address);
    m_device->applySettings(settings);
    const QString configured = m_device->value(kSettingsConnection).toString();
    if (configured != address) {
        m_error = QStringLiteral("the device did not take the address %1 (it holds \"%2\"); not connecting")
                      .arg(address, configured);
        return ExitConnectFailed;
    }
    return ExitOk;
}
