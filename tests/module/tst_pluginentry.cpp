#include "DeviceInterface.h"
#include "DevicePluginInterface.h"
#include "LogCapture.h"

#include <QLibrary>
#include <QPluginLoader>
#include <QtTest>

class tst_PluginEntry : public QObject
{
    Q_OBJECT

private:
    using InstanceFunction = QObject *(*)();

private Q_SLOTS:
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
        // No user metadata object (IID and className: tst_hostcommandline).
        QVERIFY(!loader.metaData().contains(QStringLiteral("MetaData")));

        delete first;
        QObject *second = instance();
        QVERIFY(second);
        QCOMPARE(instance(), second);
    }

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
        QList<int> ids = iface->parameterIds();
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids, (QList<int>{2000, 2005, 2009, 2013, 2014, 2015, 2016, 2017}));
        QCOMPARE(iface->phaseName(0), QStringLiteral("L1"));
    }
};

QTEST_GUILESS_MAIN(tst_PluginEntry)
#include "tst_pluginentry.moc"
