#include "DeviceInterface.h"
#include "DevicePluginInterface.h"
#include "LogCapture.h"

#include <QLibrary>
#include <QPluginLoader>
#include <QtTest>

// The module as the host sees it: metadata, the two entry points, the cast
// names and the class information.
class tst_PluginEntry : public QObject
{
    Q_OBJECT

private:
    using InstanceFunction = QObject *(*)();

private Q_SLOTS:
    void metadataHasOnlyIidAndClassName()
    {
        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        const QJsonObject meta = loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral("DevicePluginInterface"));
        QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("Dravik_v2_Plugin"));
        QVERIFY(!meta.contains(QStringLiteral("MetaData")));
    }

    void singleInstance()
    {
        QLibrary library(QStringLiteral(DRAVIK_PLUGIN_PATH));
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        auto instance = reinterpret_cast<InstanceFunction>(library.resolve("qt_plugin_instance"));
        QVERIFY(instance);
        QVERIFY(library.resolve("qt_plugin_query_metadata"));

        QObject *first = instance();
        QVERIFY(first);
        QVERIFY(!first->parent());
        QCOMPARE(instance(), first);

        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        QCOMPARE(loader.instance(), first);

        // Destroyed behind the library's back, it is created afresh.
        delete first;
        QObject *second = instance();
        QVERIFY(second);
        QCOMPARE(instance(), second);
    }

    void castNames()
    {
        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        QObject *object = loader.instance();
        QVERIFY(object);
        auto *iface = qobject_cast<DevicePluginInterface *>(object);
        QVERIFY(iface);
        QCOMPARE(object->qt_metacast("DevicePluginInterface"), static_cast<void *>(iface));
        QCOMPARE(object->qt_metacast(DevicePluginInterface_iid), static_cast<void *>(iface));
        QVERIFY(object->qt_metacast("AbstractDevicePlugin"));
        QVERIFY(object->inherits("AbstractDevicePlugin"));
        QVERIFY(!object->qt_metacast("DeviceInterface"));
    }

    void classInformation()
    {
        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        auto *plugin = qobject_cast<DevicePluginInterface *>(loader.instance());
        QVERIFY(plugin);
        QCOMPARE(plugin->name(), QStringLiteral("Dravik v2/v3"));
        QCOMPARE(plugin->description(), QStringLiteral("PD Measurement Device for DAC/CR and VLF Sinus"));
        QCOMPARE(plugin->uuid(), QUuid(QStringLiteral("462018FC-392C-4619-B9CE-D63DA9DC1625")));
        QCOMPARE(plugin->version(), QStringLiteral("4.0.0"));
    }

    // The host gets a device it owns, speaking the device interface.
    void createDeviceGivesAnOwnedDevice()
    {
        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        auto *plugin = qobject_cast<DevicePluginInterface *>(loader.instance());
        QVERIFY(plugin);
        QObject parent;
        QObject *device = plugin->createDevice(&parent);
        QVERIFY(device);
        QCOMPARE(device->parent(), &parent);
        auto *iface = qobject_cast<DeviceInterface *>(device);
        QVERIFY(iface);
        QVERIFY(iface->initialize());
        // The detector's visible parameters and the post-processing ones.
        QList<int> ids = iface->parameterIds();
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids, (QList<int>{2000, 2005, 2009, 2013, 2014, 2015, 2016, 2017}));
        QCOMPARE(iface->phaseName(0), QStringLiteral("L1"));
    }
};

QTEST_GUILESS_MAIN(tst_PluginEntry)
#include "tst_pluginentry.moc"
