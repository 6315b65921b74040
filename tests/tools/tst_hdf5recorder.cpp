#include "FloatChunk.h"
#include "ChannelData.h"
#include "ChannelInfo.h"
#include "Hdf5Recorder.h"
#include "RecordingReader.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

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

const ChannelInfo kTestVoltage = info(1021, "Test voltage", "V", 1e5, 2);

} // namespace

class tst_Hdf5Recorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesTheDocumentedLayout()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.h5");
        QString error;
        {
            Hdf5Recorder recorder(path);
            QVERIFY2(recorder.open(&error), qPrintable(error));
            QVERIFY(recorder.beginMeasurement(1, &error));
            QVERIFY(recorder.addChunk(1021, floatChunk({1.5f, -2.25f, 1e-7f, 7.577f}, 10.25, 10.251), kTestVoltage,
                                      &error));
            ChannelData bits;
            bits.dataType = ChannelData::DataTypeBinary;
            bits.data = QSharedPointer<QByteArray>::create(QByteArray::fromHex("00010100"));
            QVERIFY(recorder.addChunk(1028, bits, info(1028, "Overflow ADC ch. 0 information", "", 2e5, 6), &error));
            QVERIFY(recorder.endMeasurement({{"index", 1}, {"frequency_hz", 50.01}}, &error));
            QVERIFY(recorder.beginMeasurement(2, &error));
            QVERIFY(recorder.addChunk(1018, floatChunk({0.5f}, 11.0, std::nan("")),
                                      info(1018, "Charge phase 0", "C", 200000.0, 2), &error));
            QVERIFY(recorder.endMeasurement({{"index", 2}}, &error));
            QVERIFY(!QFile::exists(path));
            QVERIFY2(recorder.commit({{"device_serial", "100042"}, {"simulated", true},
                                      {"settings", QVariantHash{{"AliveTimout", 1000}}}},
                                     &error),
                     qPrintable(error));
        }
        QCOMPARE(filesIn(dir.path()), QStringList{"run.h5"});

        RecordingReader reader(path);
        QVERIFY(reader.isOpen());
        const QVariantMap root = reader.rootAttributes();
        QCOMPARE(root.value("complete").toInt(), 1);
        QCOMPARE(root.value("device_serial").toString(), "100042");
        QCOMPARE(root.value("simulated").toInt(), 1);
        QCOMPARE(root.value("settings").toString(), "{\"AliveTimout\":1000}");
        QCOMPARE(reader.groups(), (QStringList{"measurement_001", "measurement_002"}));
        QCOMPARE(reader.groupAttributes("measurement_001").value("frequency_hz").toDouble(), 50.01);
        QCOMPARE(reader.datasets("measurement_001"), (QStringList{"chunk_00001", "chunk_00002"}));

        const RecordingReader::Dataset tv = reader.dataset("measurement_001", "chunk_00001");
        QCOMPARE(tv.type, "float32");
        QVERIFY(tv.littleEndian);
        QCOMPARE(tv.elements, 4);
        QCOMPARE(qFromLittleEndian<float>(tv.data.constData() + 4), -2.25f);
        QCOMPARE(qFromLittleEndian<float>(tv.data.constData() + 12), 7.577f);
        const QVariantMap tvAttributes{{"channel_id", 1021}, {"channel_name", "Test voltage"}, {"unit", "V"},
                                       {"sample_rate", 100000}, {"start_time", 10.25}, {"trigger_time", 10.251},
                                       {"data_type", 2}, {"data_type_name", "float32"}};
        for (auto it = tvAttributes.cbegin(); it != tvAttributes.cend(); ++it)
            QCOMPARE(tv.attributes.value(it.key()).toString(), it.value().toString());

        const RecordingReader::Dataset bits = reader.dataset("measurement_001", "chunk_00002");
        QCOMPARE(bits.type, "uint8");
        QCOMPARE(bits.data, QByteArray::fromHex("00010100"));
        QCOMPARE(bits.attributes.value("data_type").toInt(), 6);
        QVERIFY(std::isnan(reader.dataset("measurement_002", "chunk_00001").attributes.value("trigger_time").toDouble()));
    }

    void keepsEmptyChunksAndRefusesTornFloats()
    {
        QTemporaryDir dir;
        Hdf5Recorder recorder(dir.filePath("run.h5"));
        QString error;
        QVERIFY(recorder.open(&error));
        QVERIFY(!recorder.addChunk(1021, floatChunk({1.0f}, 0, 0), kTestVoltage, &error));
        QVERIFY(recorder.beginMeasurement(1, &error));
        ChannelData empty;
        empty.dataType = ChannelData::DataTypeFloat;
        QVERIFY2(recorder.addChunk(1001, empty, info(1001, "PD filtered", "", 1.25e8, 2), &error), qPrintable(error));
        ChannelData torn = floatChunk({1.0f, 2.0f}, 0, 0);
        torn.data->chop(1);
        QVERIFY(!recorder.addChunk(1021, torn, kTestVoltage, &error));
        QVERIFY(error.contains("not a multiple of 4"));
        QVERIFY(recorder.endMeasurement({}, &error));
        QVERIFY(recorder.commit({}, &error));
        RecordingReader reader(recorder.path());
        QCOMPARE(reader.dataset("measurement_001", "chunk_00001").elements, 0);
        QCOMPARE(reader.datasets("measurement_001").size(), 1);
    }

    // The recording appears under its name only when committed; until then
    // an older file of that name stays as it was.
    void olderFile_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("ending");
        QTest::newRow("new file, recorder destroyed") << false << "destroyed";
        QTest::newRow("older file, discarded") << true << "discarded";
        QTest::newRow("older file, committed") << true << "committed";
    }
    void olderFile()
    {
        QFETCH(bool, existing);
        QFETCH(QString, ending);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.h5");
        if (existing)
            QVERIFY(writeFile(path, "the previous recording"));
        const QStringList before = filesIn(dir.path());
        {
            Hdf5Recorder recorder(path);
            QString error;
            QVERIFY(recorder.open(&error));
            QVERIFY(recorder.temporaryPath().startsWith(dir.filePath(".run.h5.")));
            QVERIFY(QFile::exists(recorder.temporaryPath()));
            QVERIFY(recorder.beginMeasurement(1, &error));
            QVERIFY(recorder.addChunk(1021, floatChunk({1.0f, 2.0f}, 0, 0), kTestVoltage, &error));
            if (ending == "discarded")
                recorder.discard();
            else if (ending == "committed")
                QVERIFY(recorder.endMeasurement({}, &error) && recorder.commit({{"format_version", 1}}, &error));
        }
        if (ending == "committed") {
            QCOMPARE(filesIn(dir.path()), QStringList{"run.h5"});
            QCOMPARE(RecordingReader(path).rootAttributes().value("format_version").toInt(), 1);
        } else {
            QCOMPARE(filesIn(dir.path()), before);
            QCOMPARE(readFile(path), QByteArray(existing ? "the previous recording" : ""));
        }
    }

    // The reader on damaged files: a status and a reason, never a crash, and
    // whatever part still reads reads as absent with an error or as data.
    void damagedFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("status");
        using S = RecordingReader::Status;
        QTest::newRow("empty") << "empty" << int(S::NotHdf5);
        QTest::newRow("text") << "text" << int(S::NotHdf5);
        QTest::newRow("cut to half") << "cut 0.5" << int(S::Damaged);
        QTest::newRow("cut after the superblock") << "cut 0.002" << int(S::Damaged);
        QTest::newRow("superblock byte changed") << "poke 40" << int(S::Damaged);
        QTest::newRow("samples overwritten") << "poke 0.9" << int(S::Ok);
        QTest::newRow("metadata overwritten") << "poke 0.002" << -1; // any status
    }
    void damagedFile()
    {
        QFETCH(QString, damage);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.h5");
        {
            Hdf5Recorder recorder(path);
            QString error;
            QVERIFY(recorder.open(&error) && recorder.beginMeasurement(1, &error));
            QVector<float> samples(20000, 0.5f);
            for (int i = 0; i < 3; ++i)
                QVERIFY(recorder.addChunk(1021, floatChunk(samples, i, i), kTestVoltage, &error));
            QVERIFY(recorder.endMeasurement({{"index", 1}}, &error));
            QVERIFY(recorder.commit({{"format", "dravik-host recording"}, {"format_version", 1}}, &error));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        const QStringList parts = damage.split(' ');
        const double where = parts.value(1).toDouble();
        const qint64 at = where < 1 ? qint64(where * size) : qint64(where);
        if (parts.first() == "empty" || parts.first() == "text") {
            QVERIFY(file.resize(0));
            file.write(parts.first() == "text" ? "index,value\n1,0.5\n" : "");
        } else if (parts.first() == "cut") {
            QVERIFY(file.resize(at));
        } else {
            QVERIFY(file.seek(at));
            file.write(QByteArray(64, char(0xA5)));
        }
        file.close();

        RecordingReader reader(path);
        if (status >= 0)
            QCOMPARE(int(reader.status()), status);
        QCOMPARE(reader.errorString().isEmpty(), reader.status() == RecordingReader::Status::Ok);
        if (reader.status() != RecordingReader::Status::Ok)
            QVERIFY2(reader.errorString().startsWith(path), qPrintable(reader.errorString()));
        for (const QString &group : reader.groups()) {
            for (const QString &name : reader.datasets(group)) {
                const RecordingReader::Dataset d = reader.dataset(group, name);
                QVERIFY(d.error.isEmpty() || d.data.isEmpty());
                QVERIFY(d.data.size() <= 4 * d.elements);
            }
        }
    }

    void openFailsWithAReason()
    {
        QTemporaryDir dir;
        Hdf5Recorder recorder(dir.filePath("missing/run.h5"));
        QString error;
        QVERIFY(!recorder.open(&error));
        QVERIFY2(error.contains("does not exist"), qPrintable(error));
        QCOMPARE(filesIn(dir.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_Hdf5Recorder)
#include "tst_hdf5recorder.moc"
