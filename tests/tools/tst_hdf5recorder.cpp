#include "ChannelData.h"
#include "ChannelInfo.h"
#include "Hdf5Recorder.h"
#include "RecordingReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

ChannelData floatChunk(const QVector<float> &samples, double start, double trigger)
{
    ChannelData c;
    c.dataType = ChannelData::DataTypeFloat;
    c.startTime = start;
    c.data = QSharedPointer<QByteArray>::create(samples.size() * 4, '\0');
    for (int i = 0; i < samples.size(); ++i)
        qToLittleEndian<float>(samples[i], c.data->data() + 4 * i);
    if (std::isfinite(trigger))
        c.markers.append({ChannelData::MarkerTrigger, trigger, QVariant()});
    return c;
}

ChannelData binaryChunk(const QByteArray &bits)
{
    ChannelData c;
    c.dataType = ChannelData::DataTypeBinary;
    c.startTime = 2.5;
    c.data = QSharedPointer<QByteArray>::create(bits);
    return c;
}

ChannelInfo info(int id, const char *name, const char *unit, double rate, int type)
{
    ChannelInfo i;
    i.id = id;
    i.name = QLatin1String(name);
    i.unit = QLatin1String(unit);
    i.sampleRate = rate;
    i.dataType = type;
    return i;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_Hdf5Recorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesTheDocumentedLayout()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.h5"));
        QString error;
        {
            Hdf5Recorder recorder(path);
            QVERIFY2(recorder.open(&error), qPrintable(error));
            QVERIFY(recorder.beginMeasurement(1, &error));
            QVERIFY(recorder.addChunk(1021, floatChunk({1.5f, -2.25f, 1e-7f, 7.577f}, 10.25, 10.251),
                                      info(1021, "Test voltage", "V", 100000.0, 2), &error));
            QVERIFY(recorder.addChunk(1028, binaryChunk(QByteArray::fromHex("00010100")),
                                      info(1028, "Overflow ADC ch. 0 information", "", 200000.0, 6), &error));
            QVERIFY(recorder.endMeasurement({{QStringLiteral("index"), 1}, {QStringLiteral("frequency_hz"), 50.01}}, &error));
            QVERIFY(recorder.beginMeasurement(2, &error));
            QVERIFY(recorder.addChunk(1018, floatChunk({0.5f}, 11.0, std::nan("")),
                                      info(1018, "Charge phase 0", "C", 200000.0, 2), &error));
            QVERIFY(recorder.endMeasurement({{QStringLiteral("index"), 2}}, &error));
            QVERIFY(!QFile::exists(path));
            QVERIFY2(recorder.commit({{QStringLiteral("device_serial"), QStringLiteral("100042")},
                                      {QStringLiteral("simulated"), true},
                                      {QStringLiteral("settings"), QVariantHash{{QStringLiteral("AliveTimout"), 1000}}}},
                                     &error),
                     qPrintable(error));
        }
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("run.h5")});

        RecordingReader reader(path);
        QVERIFY(reader.isOpen());
        const QVariantMap root = reader.rootAttributes();
        QCOMPARE(root.value(QStringLiteral("complete")).toInt(), 1);
        QCOMPARE(root.value(QStringLiteral("device_serial")).toString(), QStringLiteral("100042"));
        QCOMPARE(root.value(QStringLiteral("simulated")).toInt(), 1);
        QCOMPARE(root.value(QStringLiteral("settings")).toString(), QStringLiteral("{\"AliveTimout\":1000}"));
        QCOMPARE(reader.groups(), (QStringList{QStringLiteral("measurement_001"), QStringLiteral("measurement_002")}));
        QCOMPARE(reader.groupAttributes(QStringLiteral("measurement_001")).value(QStringLiteral("frequency_hz")).toDouble(),
                 50.01);
        QCOMPARE(reader.datasets(QStringLiteral("measurement_001")),
                 (QStringList{QStringLiteral("chunk_00001"), QStringLiteral("chunk_00002")}));

        const RecordingReader::Dataset tv = reader.dataset(QStringLiteral("measurement_001"), QStringLiteral("chunk_00001"));
        QCOMPARE(tv.type, QStringLiteral("float32"));
        QVERIFY(tv.littleEndian);
        QCOMPARE(tv.elements, 4);
        QCOMPARE(qFromLittleEndian<float>(tv.data.constData() + 4), -2.25f);
        QCOMPARE(qFromLittleEndian<float>(tv.data.constData() + 12), 7.577f);
        QCOMPARE(tv.attributes.value(QStringLiteral("channel_id")).toInt(), 1021);
        QCOMPARE(tv.attributes.value(QStringLiteral("channel_name")).toString(), QStringLiteral("Test voltage"));
        QCOMPARE(tv.attributes.value(QStringLiteral("unit")).toString(), QStringLiteral("V"));
        QCOMPARE(tv.attributes.value(QStringLiteral("sample_rate")).toDouble(), 100000.0);
        QCOMPARE(tv.attributes.value(QStringLiteral("start_time")).toDouble(), 10.25);
        QCOMPARE(tv.attributes.value(QStringLiteral("trigger_time")).toDouble(), 10.251);
        QCOMPARE(tv.attributes.value(QStringLiteral("data_type")).toInt(), 2);
        QCOMPARE(tv.attributes.value(QStringLiteral("data_type_name")).toString(), QStringLiteral("float32"));

        const RecordingReader::Dataset bits = reader.dataset(QStringLiteral("measurement_001"), QStringLiteral("chunk_00002"));
        QCOMPARE(bits.type, QStringLiteral("uint8"));
        QCOMPARE(bits.data, QByteArray::fromHex("00010100"));
        QCOMPARE(bits.attributes.value(QStringLiteral("data_type")).toInt(), 6);

        const RecordingReader::Dataset charge = reader.dataset(QStringLiteral("measurement_002"), QStringLiteral("chunk_00001"));
        QVERIFY(std::isnan(charge.attributes.value(QStringLiteral("trigger_time")).toDouble()));
    }

    void keepsEmptyChunksAndRefusesTornFloats()
    {
        QTemporaryDir dir;
        Hdf5Recorder recorder(dir.filePath(QStringLiteral("run.h5")));
        QString error;
        QVERIFY(recorder.open(&error));
        QVERIFY(!recorder.addChunk(1021, floatChunk({1.0f}, 0, 0), info(1021, "Test voltage", "V", 1e5, 2), &error));
        QVERIFY(recorder.beginMeasurement(1, &error));
        ChannelData empty;
        empty.dataType = ChannelData::DataTypeFloat;
        QVERIFY2(recorder.addChunk(1001, empty, info(1001, "PD filtered", "", 1.25e8, 2), &error), qPrintable(error));
        ChannelData torn = floatChunk({1.0f, 2.0f}, 0, 0);
        torn.data->chop(1);
        QVERIFY(!recorder.addChunk(1021, torn, info(1021, "Test voltage", "V", 1e5, 2), &error));
        QVERIFY(error.contains(QStringLiteral("not a multiple of 4")));
        QVERIFY(recorder.endMeasurement({}, &error));
        QVERIFY(recorder.commit({}, &error));
        RecordingReader reader(recorder.path());
        QCOMPARE(reader.dataset(QStringLiteral("measurement_001"), QStringLiteral("chunk_00001")).elements, 0);
        QCOMPARE(reader.datasets(QStringLiteral("measurement_001")).size(), 1);
    }

    void discardLeavesNothingAndKeepsAnOlderFile_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("explicitDiscard");
        QTest::newRow("new file, recorder destroyed") << false << false;
        QTest::newRow("older file, discarded") << true << true;
    }
    void discardLeavesNothingAndKeepsAnOlderFile()
    {
        QFETCH(bool, existing);
        QFETCH(bool, explicitDiscard);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.h5"));
        if (existing) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the previous recording");
        }
        const QStringList before = entries(dir.path());
        {
            Hdf5Recorder recorder(path);
            QString error;
            QVERIFY(recorder.open(&error));
            QVERIFY(recorder.temporaryPath().startsWith(dir.filePath(QStringLiteral(".run.h5."))));
            QVERIFY(QFile::exists(recorder.temporaryPath()));
            QVERIFY(recorder.beginMeasurement(1, &error));
            QVERIFY(recorder.addChunk(1021, floatChunk({1.0f, 2.0f}, 0, 0), info(1021, "Test voltage", "V", 1e5, 2), &error));
            if (explicitDiscard)
                recorder.discard();
        }
        QCOMPARE(entries(dir.path()), before);
        if (existing) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("the previous recording"));
        }
    }

    void commitReplacesAnOlderFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.h5"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the previous recording");
        old.close();
        Hdf5Recorder recorder(path);
        QString error;
        QVERIFY(recorder.open(&error));
        QVERIFY(recorder.commit({{QStringLiteral("format_version"), 1}}, &error));
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("run.h5")});
        RecordingReader reader(path);
        QCOMPARE(reader.rootAttributes().value(QStringLiteral("format_version")).toInt(), 1);
    }

    void openFailsWithAReason()
    {
        QTemporaryDir dir;
        Hdf5Recorder recorder(dir.filePath(QStringLiteral("missing/run.h5")));
        QString error;
        QVERIFY(!recorder.open(&error));
        QVERIFY2(error.contains(QStringLiteral("does not exist")), qPrintable(error));
        QCOMPARE(entries(dir.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_Hdf5Recorder)
#include "tst_hdf5recorder.moc"
