// minimal-host: loads the installed Dravik plug-in, connects to a detector
// simulator on 127.0.0.1, prints a few parameters and disconnects.
//
//   minimal-host PORT [PLUGIN]
#include <DeviceInterface.h>
#include <DevicePluginInterface.h>
#include <SdkMetaTypes.h>

#include <QCoreApplication>
#include <QPluginLoader>
#include <QTextStream>
#include <QTimer>

#include <memory>

static QTextStream out(stdout);
static QTextStream err(stderr);

// Receives the device's signals. They are declared by the plug-in's device
// class, not by DeviceInterface, so a host connects to them by name.
class Host : public QObject
{
    Q_OBJECT

public:
    explicit Host(DeviceInterface *device) : m_device(device) {}

public Q_SLOTS:
    void onOpened()
    {
        // Identification read from the detector while connecting, and the
        // address the device was given.
        for (int id : {1001, 1002, 1003, 1008, 1171}) {
            ParameterInfo info;
            const QString name = m_device->parameterInfo(id, info) ? info.name : QStringLiteral("parameter %1").arg(id);
            out << name << ": " << m_device->value(id).toString() << '\n';
        }
        out.flush();
        m_opened = true;
        m_device->close();
    }
    // A closed link always carries a status code; statusInfo() has its text.
    void onClosed(int status)
    {
        if (!m_opened)
            err << "could not connect: " << m_device->statusInfo(status).second << " (" << status << ")\n";
        QCoreApplication::exit(m_opened ? 0 : 1);
    }
    void onNotification(StatusType severity, const QString &text, int)
    {
        err << "notification (" << int(severity) << "): " << text << '\n';
        err.flush();
    }

private:
    DeviceInterface *m_device;
    bool m_opened = false;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    const quint16 port = args.value(1).toUShort(&ok);
    if (args.size() < 2 || args.size() > 3 || !ok || port == 0) {
        err << "usage: minimal-host PORT [PLUGIN]   (the port dravik-sim listens on at 127.0.0.1)\n";
        return 2;
    }

    // Check the metadata before instantiating anything from the library.
    QPluginLoader loader(args.value(2, QStringLiteral(DRAVIK_PLUGIN)));
    if (loader.metaData().value(QStringLiteral("IID")).toString() != QLatin1String("DevicePluginInterface")) {
        err << loader.fileName() << ": not a Dravik plug-in " << loader.errorString() << '\n';
        return 1;
    }
    auto *plugin = qobject_cast<DevicePluginInterface *>(loader.instance());
    if (!plugin) {
        err << loader.fileName() << ": " << loader.errorString() << '\n';
        return 1;
    }
    out << "plug-in: " << plugin->name() << ' ' << plugin->version() << '\n';

    registerSdkMetaTypes();
    // The host owns the device; it goes before the loader can unload the library.
    std::unique_ptr<QObject> object(plugin->createDevice(nullptr));
    auto *device = qobject_cast<DeviceInterface *>(object.get());
    if (!device || !device->initialize()) {
        err << "the plug-in gave no usable device\n";
        return 1;
    }
    // The address must be set before open(): the device's default is the
    // factory address of a real detector.
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    device->applySettings({{QStringLiteral("NetworkAddress"), address}});
    if (device->value(1171).toString() != address) {
        err << "the device did not take the address " << address << '\n';
        return 1;
    }

    Host host(device);
    QObject::connect(object.get(), SIGNAL(opened()), &host, SLOT(onOpened()));
    QObject::connect(object.get(), SIGNAL(closed(int)), &host, SLOT(onClosed(int)));
    QObject::connect(object.get(), SIGNAL(notification(StatusType,QString,int)), &host,
                     SLOT(onNotification(StatusType,QString,int)));
    QTimer::singleShot(15000, &app, [] {
        err << "no connection within 15 s\n";
        QCoreApplication::exit(1);
    });
    device->open();
    return app.exec();
}

#include "main.moc"
