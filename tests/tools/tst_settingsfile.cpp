#include "SettingsFile.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_SettingsFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QByteArray &text)
    {
        const QString path = m_dir.filePath(QStringLiteral("settings.json"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
        return path;
    }

private Q_SLOTS:
    void acceptsEveryKnownKey()
    {
        SettingsFile settings;
        const QString path = write(R"({
            "NetworkAddress": "127.0.0.1:52922", "AliveTimout": 2000, "HoldTimeDG0": 200000,
            "SystemGatingLevel": 0.2, "SystemGatingHoldTime": 20000, "PdLogFile": "/tmp/pd.log",
            "MaxShotsVLFSinLocalization": 12, "ServiceMode": true, "ProductionMode": false, "DevelopMode": false,
            "GatingTime": 0.0005, "TVAmplitudeThreshold": 15000, "NoPostAquisitionCut": 0,
            "NoAdaptiveGain": true, "NoBinaryChannels": 0 })");
        QVERIFY2(settings.load(path), qPrintable(settings.errorString()));
        const QVariantHash v = settings.values();
        QCOMPARE(v.size(), SettingsFile::deviceKeys().size() + SettingsFile::postProcessingKeys().size());
        QCOMPARE(v.value(QStringLiteral("HoldTimeDG0")).userType(), int(QMetaType::LongLong));
        QCOMPARE(v.value(QStringLiteral("HoldTimeDG0")).toString(), QStringLiteral("200000"));
        QCOMPARE(v.value(QStringLiteral("SystemGatingLevel")).userType(), int(QMetaType::Double));
        QCOMPARE(v.value(QStringLiteral("ServiceMode")).userType(), int(QMetaType::Bool));
        QCOMPARE(v.value(QStringLiteral("NoAdaptiveGain")).toInt(), 1);
        QCOMPARE(v.value(QStringLiteral("GatingTime")).toDouble(), 0.0005);
    }

    void refusesWhatWouldBeIgnored_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("misspelt key") << QByteArray(R"({"AliveTimeout": 1000})") << "did you mean \"AliveTimout\"";
        QTest::newRow("unknown key") << QByteArray(R"({"Baudrate": 9600})") << "unknown key \"Baudrate\"";
        QTest::newRow("number as text") << QByteArray(R"({"HoldTimeDG0": "200000"})") << "must be a number";
        QTest::newRow("flag as number") << QByteArray(R"({"DevelopMode": 1})") << "true or false";
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "one JSON object";
        QTest::newRow("not JSON") << QByteArray("AliveTimout=1000") << "not JSON";
    }
    void refusesWhatWouldBeIgnored()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        SettingsFile settings;
        QVERIFY(!settings.load(write(text)));
        QVERIFY2(settings.errorString().contains(message), qPrintable(settings.errorString()));
        QVERIFY(settings.values().isEmpty());
    }

    void missingFile()
    {
        SettingsFile settings;
        QVERIFY(!settings.load(m_dir.filePath(QStringLiteral("absent.json"))));
        QVERIFY(settings.errorString().contains(QStringLiteral("absent.json")));
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
