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

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

struct Report
{
    int state;
    double progress;
    bool aliveTimer;
};

} // namespace

// The three file jobs through the real protocol handler against the simulator.
class tst_FileJobsSim : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;
    DravikSimulator *m_sim = nullptr;
    DravikProtocolHandler_v2 *m_handler = nullptr;
    DravikFileTransfer_v2 *m_transfer = nullptr;
    LogFileReader_v2 *m_reader = nullptr;
    QList<Report> m_reports;
    QTemporaryDir m_dir;

    bool updateEnded() const
    {
        return !m_reports.isEmpty() && QList<int>{3, 6, 7, 8}.contains(m_reports.last().state);
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
        m_user->add(1171, QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort())); // SettingsConnection
        m_user->add(1172, 1000); // alive time-out

        m_transfer = new DravikFileTransfer_v2;
        m_reader = new LogFileReader_v2;
        DravikProtocolHandler_v2::Jobs jobs;
        jobs.fileTransfer = m_transfer;
        jobs.logFileReader = m_reader;
        jobs.firmwareUpdate = new DravikUpdateFirmware_v2(m_transfer);
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
        delete m_handler; // and the jobs it adopted
        m_handler = nullptr;
        delete m_sim;
        m_sim = nullptr;
    }

    // The alive supervision pauses for the whole update and resumes with its
    // end; the link going down ends an update in state 8 and drops the open
    // transfer (the handler calls every job's onDisconnect).
    void firmware_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("failAck"); // command the simulator refuses
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<int>("dropAt"); // the link goes down at the first report of this state
        QTest::addColumn<QList<int>>("states");
        QTest::newRow("3 MB written") << 3 * 1024 * 1024 << 0 << false << -1 << QList<int>{0, 1, 2, 5, 6};
        QTest::newRow("checksum corrupted") << 100000 << 0 << true << -1 << QList<int>{0, 1, 3};
        QTest::newRow("write refused") << 1000 << 0x0F03 << false << -1 << QList<int>{0, 1, 2, 7};
        QTest::newRow("link lost in the transfer") << 1000 << 0 << false << 0 << QList<int>{0, 8};
        QTest::newRow("link lost before the checksum") << 1000 << 0 << false << 1 << QList<int>{0, 1, 8};
        QTest::newRow("link lost before the writing") << 1000 << 0 << false << 2 << QList<int>{0, 1, 2, 8};
    }
    void firmware()
    {
        QFETCH(int, size);
        QFETCH(int, failAck);
        QFETCH(bool, corrupt);
        QFETCH(int, dropAt);
        QFETCH(QList<int>, states);
        if (failAck)
            m_sim->setFailAck(quint16(failAck), 5);
        m_sim->setCorruptChecksum(corrupt);
        connect(m_handler, &DravikAbstractProtocolHandler_v2::firmwareUpdateState, m_sim,
                [this, dropAt](int state) {
                    if (state == dropAt)
                        m_sim->close();
                });
        QSignalSpy written(m_sim, &DravikSimulator::firmwareWritten);
        const QByteArray image = randomBytes(size, quint32(size));
        Q_EMIT m_handler->updateFirmware(image, 1);
        QTRY_VERIFY_WITH_TIMEOUT(updateEnded(), 30000);

        QList<int> seen;
        int blocks = 0;
        double lastProgress = 0.0;
        for (const Report &report : qAsConst(m_reports)) {
            if (seen.isEmpty() || seen.last() != report.state)
                seen.append(report.state);
            if (report.state == 1) {
                ++blocks;
                QVERIFY(report.progress >= lastProgress);
                lastProgress = report.progress;
            }
            const bool last = &report == &m_reports.last();
            QCOMPARE(report.aliveTimer, last && report.state != 8);
        }
        QCOMPARE(seen, states);
        QCOMPARE(m_transfer->openTransfers(), 0);
        if (states.last() == 6) {
            QCOMPARE(blocks, 49);
            QCOMPARE(m_reports.at(m_reports.size() - 2).progress, 1.0);
            QCOMPARE(m_reports.last().progress, 1.0);
            QVERIFY(written.size() == 1 || written.wait(5000));
            QVERIFY(written.first().at(0).toByteArray() == image);
            QCOMPARE(written.first().at(1).value<quint8>(), quint8(1));
        } else if (dropAt < 0) {
            QCOMPARE(m_sim->requestCount(0x0F03), failAck == 0x0F03 ? 1 : 0);
        }
    }

    void deviceLog_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("splitWrites");
        QTest::newRow("simulator's pieces") << 20000 << 1024 << 0;
        QTest::newRow("odd pieces, small writes") << 3000 << 7 << 13;
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

        const QString path = m_dir.filePath(QStringLiteral("device-%1.log").arg(pieceSize));
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
