#include "AbstractMeasurementJob_v2.h"
#include "DravikFileTransfer_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "DravikSimulator.h"
#include "DravikUpdateFirmware_v2.h"
#include "LogCapture.h"
#include "LogFileReader_v2.h"
#include "ParameterHandler.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int kConnection = 1171;
const int kAliveTimeout = 1172;

class NoMeasurement : public AbstractMeasurementJob_v2
{
public:
    QList<quint16> commands() const override { return {0x0F00, 0x0F01, 0x0F5B, 0x0F06}; }
    void processMeasurementCommand(MeasurementCommands, int) override {}
    void processValidChannels(const QList<int> &) override {}
    void setGainCompensation(bool) override {}
    void onQlpPacket(quint16, quint16, quint16, QByteArray) override {}
};

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

struct Report
{
    int state;
    double progress;
    bool aliveTimer;
};

} // namespace

class tst_FileJobsSim : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;
    DravikSimulator *m_sim = nullptr;
    DravikProtocolHandler_v2 *m_handler = nullptr;
    LogFileReader_v2 *m_reader = nullptr;
    QList<Report> m_reports;
    QTemporaryDir m_dir;

    bool updateEnded() const
    {
        if (m_reports.isEmpty())
            return false;
        const int last = m_reports.last().state;
        return last == 3 || last == 6 || last == 7 || last == 8;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init()
    {
        m_sim = new DravikSimulator;
        QVERIFY2(m_sim->listen(), qPrintable(m_sim->errorString()));
        m_sim->setFirmwarePacing(5, 10);

        m_user.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.data]:")));
        m_device.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.devdata]:")));
        m_user->add(kConnection, QVariant());
        m_user->add(kAliveTimeout, QVariant());
        m_user->update(kConnection, QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort()), 0);
        m_user->update(kAliveTimeout, 1000, 0);

        auto *transfer = new DravikFileTransfer_v2;
        m_reader = new LogFileReader_v2;
        DravikProtocolHandler_v2::Jobs jobs;
        jobs.fileTransfer = transfer;
        jobs.logFileReader = m_reader;
        jobs.measurement = new NoMeasurement;
        jobs.firmwareUpdate = new DravikUpdateFirmware_v2(transfer);
        m_handler = new DravikProtocolHandler_v2(m_user, m_device, jobs);
        m_handler->init();

        m_reports.clear();
        connect(m_handler, &DravikAbstractProtocolHandler_v2::firmwareUpdateState, this,
                [this](int state, double progress, QString) {
                    m_reports.append({state, progress, m_handler->isAliveTimerActive()});
                });

        QSignalSpy changed(m_handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        m_handler->onOpen();
        QVERIFY(changed.wait(5000));
        QCOMPARE(m_handler->connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QTRY_VERIFY(m_sim->hasClient());
    }

    void cleanup()
    {
        delete m_handler;
        m_handler = nullptr;
        delete m_sim;
        m_sim = nullptr;
    }

    void firmwareOfThreeMegabytes()
    {
        const QByteArray image = randomBytes(3 * 1024 * 1024, 3);
        QSignalSpy written(m_sim, &DravikSimulator::firmwareWritten);
        Q_EMIT m_handler->updateFirmware(image, 1);
        QTRY_VERIFY_WITH_TIMEOUT(updateEnded(), 60000);

        QCOMPARE(m_reports.first().state, 0);
        QCOMPARE(m_reports.last().state, 6);
        QCOMPARE(m_reports.last().progress, 1.0);
        QList<int> states;
        double lastProgress = 0.0;
        int blocks = 0;
        for (const Report &report : qAsConst(m_reports)) {
            if (states.isEmpty() || states.last() != report.state)
                states.append(report.state);
            if (report.state == 1) {
                ++blocks;
                QVERIFY(report.progress >= lastProgress);
                lastProgress = report.progress;
            }
            QCOMPARE(report.aliveTimer, &report == &m_reports.last());
        }
        QCOMPARE(states, (QList<int>{0, 1, 2, 5, 6}));
        QCOMPARE(blocks, 49);
        QCOMPARE(m_reports.at(m_reports.size() - 2).state, 5);
        QCOMPARE(m_reports.at(m_reports.size() - 2).progress, 1.0);

        QVERIFY(written.size() == 1 || written.wait(5000));
        QVERIFY(written.first().at(0).toByteArray() == image);
        QCOMPARE(written.first().at(1).value<quint8>(), quint8(1));
        QVERIFY(m_handler->isAliveTimerActive());
    }

    void corruptedChecksum()
    {
        m_sim->setCorruptChecksum(true);
        Q_EMIT m_handler->updateFirmware(randomBytes(100000, 4), 0);
        QTRY_VERIFY_WITH_TIMEOUT(updateEnded(), 30000);
        QCOMPARE(m_reports.last().state, 3);
        QCOMPARE(m_sim->requestCount(0x0F03), 0);
        QVERIFY(m_handler->isAliveTimerActive());
    }

    void deviceLog_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("splitWrites");

        QTest::newRow("simulator's pieces") << 20000 << 1024 << 0;
        QTest::newRow("a byte per reply") << 3000 << 1 << 0;
        QTest::newRow("odd pieces, small writes") << 3000 << 7 << 13;
        QTest::newRow("empty log") << 0 << 1024 << 0;
    }

    void deviceLog()
    {
        QFETCH(int, size);
        QFETCH(int, pieceSize);
        QFETCH(int, splitWrites);

        m_sim->setDeviceLog(randomBytes(size, quint32(size + pieceSize)));
        m_sim->setLogPieceSize(pieceSize);
        m_sim->setSplitWrites(splitWrites);
        const QByteArray expected = m_sim->deviceLog();
        QCOMPARE(expected.size(), size);

        const QString path = m_dir.filePath(QStringLiteral("device-%1.log").arg(QTest::currentDataTag()));
        QSignalSpy done(m_reader, &LogFileReader_v2::logFileRead);
        LogCapture log;
        m_handler->onReadLogFile(path);
        QVERIFY(done.wait(30000));
        QCOMPARE(done.first(), (QVariantList{true, path, qint64(size)}));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == expected);
        QCOMPARE(log.unexpectedQtWarnings(), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_FileJobsSim)
#include "tst_filejobs_sim.moc"
