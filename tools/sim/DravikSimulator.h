#pragma once

#include "SimConfig.h"
#include "SimDevice.h"
#include "SimFaultInjector.h"
#include "SimFrameCodec.h"
#include "SimIdentity.h"
#include "SimScenario.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <type_traits>

class QTcpServer;
class QTcpSocket;
class SimConnectionWriter;

// A Dravik detector on a loopback TCP port: the detector's side of the Qlp
// protocol with parameter memory, measurement state machine, synthetic raw
// data, file transfer, firmware writing, device log, and switchable faults.
//
//     DravikSimulator sim;
//     sim.setScenario(SimScenario::DampedAc);
//     if (!sim.listen())                       // 127.0.0.1, a free port
//         qFatal("%s", qPrintable(sim.errorString()));
//     connectPluginTo(QStringLiteral("127.0.0.1:%1").arg(sim.serverPort()));
//     QTRY_VERIFY(sim.requestCount(0x0F41) > 10);   // the plug-in polls
//
// It only ever listens on a loopback address: listen() refuses anything else.
// One host at a time: a second connection while one is open is accepted and
// closed at once (clientRejected()), as a detector with a single control
// channel would.
//
// Threads: the simulator works on the thread it lives on and needs that
// thread's event loop. It may be moved to a thread of its own (moveToThread);
// every public function may then be called from any thread: calls from
// another thread are carried out on the simulator's thread and wait for it
// (so do not call them from a slot the simulator's thread is blocked on).
// Signals are ordinary signals; connect them queued across threads.
class DravikSimulator : public QObject
{
    Q_OBJECT

public:
    explicit DravikSimulator(QObject *parent = nullptr);
    ~DravikSimulator() override;

    // Takes every setting of the configuration except the address and port,
    // which go to listen().
    void applyConfig(const SimConfig &config);

    // address must be loopback (127.0.0.0/8 or ::1); port 0 picks a free one.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0);
    // Stops listening and closes the connection of the host, if any.
    void close();
    bool isListening() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    QString errorString() const;
    bool hasClient() const;
    int rejectedConnections() const;

    // Identity and scenario.
    SimIdentity identity() const;
    void setIdentity(const SimIdentity &identity);
    SimScenario::Kind scenario() const;
    void setScenario(SimScenario::Kind kind);
    // The cable, its PD sites and the voltage steps (docs/SIMULATOR.md).
    void setTestObject(const SimTestObject &testObject);
    // Device time runs timeScale times faster than the wall clock (> 0).
    void setTimeScale(double timeScale);
    // Samples per raw packet (0: as many as fit in one frame).
    void setPacketSamples(int samples);
    void setLogPieceSize(int bytes);
    void setFirmwarePacing(int stepMs, int steps);
    // How long Starting and Stopping last, and how long a finished
    // acquisition is shown at least, in wall-clock milliseconds.
    void setAcquisitionDelays(int startMs, int stopMs, int terminalHoldMs = 250);

    // Faults; each setter is the library form of one command-line option.
    SimFaults faults() const;
    void setFaults(const SimFaults &faults);
    void setDropAfterFrames(int frames);
    void setDropInState(int state);
    void setSilentAfterFrames(int frames);
    void setGarbageAfterFrames(int frames);
    void setResponseDelay(int ms);
    void setFailAck(quint16 command, quint16 ack = 7);
    void clearFailAck(quint16 command);
    void setCorruptChecksum(bool corrupt);
    void setSplitWrites(int bytes);

    // Observation: request frames received per command id since the last
    // reset (silent and failed ones included).
    int requestCount(quint16 command) const;
    QHash<quint16, int> requestCounts() const;
    void resetCounters();

    // The parameter memory, by get command and instance index: what a get
    // would answer now. setParameter() writes as a set would and returns its
    // acknowledge code (also for get-only payloads such as gain levels).
    QByteArray parameter(quint16 getCommand, quint8 index = 0) const;
    quint16 setParameter(quint16 getCommand, quint8 index, const QByteArray &payload);
    int measurementState() const;
    qint64 deviceTimeNs() const;
    int lostFrames() const;

    // A file that arrived complete with a matching checksum, by transfer id
    // (empty if none); forgotten when the connection closes.
    QByteArray file(quint32 transferId) const;
    QByteArray deviceLog() const;
    void setDeviceLog(const QByteArray &text);

signals:
    void clientConnected();
    void clientDisconnected();
    void clientRejected();
    void requestReceived(quint16 command, QByteArray payload);
    void measurementStateChanged(int state);
    void fileReceived(quint32 transferId, QByteArray data);
    void firmwareWritten(QByteArray image, quint8 mode);
    // A fault took effect: "drop after frames", "drop in state", "silent",
    // "garbage".
    void faultTriggered(QString fault);

private:
    void onNewConnection();
    void onReadyRead();
    void onClientDisconnected();
    void onMeasurementState(int state);
    void attach(QTcpSocket *socket);
    void deliver(const SimDevice::Reply &reply);
    void sendReply(quint16 command, quint16 ack, const QByteArray &payload);
    void applyWriterFaults();
    void dropConnection(const QString &fault);

    // Runs f on the simulator's thread and returns its result; see the class comment.
    template<typename F>
    auto onOwnThread(F f) const -> decltype(f())
    {
        auto *self = const_cast<DravikSimulator *>(this);
        if (QThread::currentThread() == thread())
            return f();
        if constexpr (std::is_void_v<decltype(f())>) {
            QMetaObject::invokeMethod(self, f, Qt::BlockingQueuedConnection);
        } else {
            decltype(f()) result{};
            QMetaObject::invokeMethod(self, [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }

    QTcpServer *m_server;
    SimDevice *m_device;
    QPointer<QTcpSocket> m_client;
    SimConnectionWriter *m_writer = nullptr;
    SimFrameCodec m_codec;
    SimFaultInjector m_faults;
    QHash<quint16, int> m_counts;
    QString m_error;
    int m_rejected = 0;
    bool m_garbageNoted = false;
    bool m_silentNoted = false;
    bool m_dropping = false;
};
