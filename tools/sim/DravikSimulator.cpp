#include "DravikSimulator.h"

#include "SimAcquisition.h"
#include "SimConnectionWriter.h"
#include "SimDevice.h"
#include "SimFirmwareWriter.h"
#include "SimPacketStream.h"
#include "SimParameterMemory.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QxtLogger.h>

namespace {
const char *const kTag = "[SIM.Server]:";
}

DravikSimulator::DravikSimulator(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_device(new SimDevice(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &DravikSimulator::onNewConnection);
    connect(m_device, &SimDevice::asyncReply, this, &DravikSimulator::sendReply);
    connect(m_device, &SimDevice::measurementStateChanged, this, &DravikSimulator::onMeasurementState);
    connect(m_device, &SimDevice::fileVerified, this, &DravikSimulator::fileReceived);
    connect(m_device, &SimDevice::firmwareWritten, this, &DravikSimulator::firmwareWritten);
}

DravikSimulator::~DravikSimulator()
{
    // The writer reports dropped streams to the acquisition, which must still exist.
    if (m_writer)
        m_writer->cancelStreams();
}

void DravikSimulator::applyConfig(const SimConfig &config)
{
    onOwnThread([&] {
        m_device->setIdentity(config.identity);
        m_device->setScenario(config.scenario);
        m_device->acquisition()->setTestObject(config.testObject);
        m_device->acquisition()->setTimeScale(config.timeScale);
        m_device->acquisition()->setDelays(config.startDelayMs, config.stopDelayMs);
        m_device->acquisition()->setTerminalHold(config.terminalHoldMs);
        m_device->setMaxPacketSamples(config.packetSamples);
        m_device->setLogPieceSize(config.logPieceSize);
        m_device->firmwareWriter()->setPacing(config.firmwareStepMs, config.firmwareSteps);
    });
    setFaults(config.faults);
}

bool DravikSimulator::listen(const QHostAddress &address, quint16 port)
{
    return onOwnThread([&] {
        // Only ever reachable from this machine: a simulator on a real network
        // could be taken for the detector by anything there.
        if (!address.isLoopback()) {
            m_error = QStringLiteral("refusing to listen on %1: only loopback addresses are allowed")
                          .arg(address.toString());
            return false;
        }
        if (m_server->isListening())
            m_server->close();
        if (!m_server->listen(address, port)) {
            m_error = m_server->errorString();
            return false;
        }
        m_error.clear();
        QxtLogger::getInstance()->debug(kTag, "listening on", address.toString(), m_server->serverPort());
        return true;
    });
}

void DravikSimulator::close()
{
    onOwnThread([this] {
        m_server->close();
        if (m_client)
            m_client->abort();
    });
}

bool DravikSimulator::isListening() const
{
    return onOwnThread([this] { return m_server->isListening(); });
}

QHostAddress DravikSimulator::serverAddress() const
{
    return onOwnThread([this] { return m_server->serverAddress(); });
}

quint16 DravikSimulator::serverPort() const
{
    return onOwnThread([this] { return m_server->serverPort(); });
}

QString DravikSimulator::errorString() const
{
    return onOwnThread([this] { return m_error; });
}

bool DravikSimulator::hasClient() const
{
    return onOwnThread([this] { return !m_client.isNull(); });
}

int DravikSimulator::rejectedConnections() const
{
    return onOwnThread([this] { return m_rejected; });
}

SimIdentity DravikSimulator::identity() const
{
    return onOwnThread([this] { return m_device->identity(); });
}

void DravikSimulator::setIdentity(const SimIdentity &identity)
{
    onOwnThread([&] { m_device->setIdentity(identity); });
}

SimScenario::Kind DravikSimulator::scenario() const
{
    return onOwnThread([this] { return m_device->acquisition()->scenario().kind(); });
}

void DravikSimulator::setScenario(SimScenario::Kind kind)
{
    onOwnThread([&] { m_device->setScenario(kind); });
}

void DravikSimulator::setTestObject(const SimTestObject &testObject)
{
    onOwnThread([&] { m_device->acquisition()->setTestObject(testObject); });
}

void DravikSimulator::setTimeScale(double timeScale)
{
    onOwnThread([&] { m_device->acquisition()->setTimeScale(timeScale); });
}

void DravikSimulator::setPacketSamples(int samples)
{
    onOwnThread([&] { m_device->setMaxPacketSamples(samples); });
}

void DravikSimulator::setLogPieceSize(int bytes)
{
    onOwnThread([&] { m_device->setLogPieceSize(bytes); });
}

void DravikSimulator::setFirmwarePacing(int stepMs, int steps)
{
    onOwnThread([&] { m_device->firmwareWriter()->setPacing(stepMs, steps); });
}

void DravikSimulator::setAcquisitionDelays(int startMs, int stopMs, int terminalHoldMs)
{
    onOwnThread([&] {
        m_device->acquisition()->setDelays(startMs, stopMs);
        m_device->acquisition()->setTerminalHold(terminalHoldMs);
    });
}

SimFaults DravikSimulator::faults() const
{
    return onOwnThread([this] { return m_faults.faults(); });
}

void DravikSimulator::setFaults(const SimFaults &faults)
{
    onOwnThread([&] {
        m_faults.setFaults(faults);
        m_device->files().setCorruptChecksum(faults.corruptChecksum);
        applyWriterFaults();
    });
}

void DravikSimulator::setDropAfterFrames(int frames)
{
    onOwnThread([&] { m_faults.faults().dropAfterFrames = frames; });
}

void DravikSimulator::setDropInState(int state)
{
    onOwnThread([&] { m_faults.faults().dropInState = state; });
}

void DravikSimulator::setSilentAfterFrames(int frames)
{
    onOwnThread([&] { m_faults.faults().silentAfterFrames = frames; });
}

void DravikSimulator::setGarbageAfterFrames(int frames)
{
    onOwnThread([&] {
        m_faults.faults().garbageAfterFrames = frames;
        applyWriterFaults();
    });
}

void DravikSimulator::setResponseDelay(int ms)
{
    onOwnThread([&] {
        m_faults.faults().responseDelayMs = ms;
        applyWriterFaults();
    });
}

void DravikSimulator::setFailAck(quint16 command, quint16 ack)
{
    onOwnThread([&] { m_faults.faults().failAck.insert(command, ack); });
}

void DravikSimulator::clearFailAck(quint16 command)
{
    onOwnThread([&] { m_faults.faults().failAck.remove(command); });
}

void DravikSimulator::setCorruptChecksum(bool corrupt)
{
    onOwnThread([&] {
        m_faults.faults().corruptChecksum = corrupt;
        m_device->files().setCorruptChecksum(corrupt);
    });
}

void DravikSimulator::setSplitWrites(int bytes)
{
    onOwnThread([&] {
        m_faults.faults().splitWriteBytes = bytes;
        applyWriterFaults();
    });
}

int DravikSimulator::requestCount(quint16 command) const
{
    return onOwnThread([&] { return m_counts.value(command); });
}

QHash<quint16, int> DravikSimulator::requestCounts() const
{
    return onOwnThread([this] { return m_counts; });
}

void DravikSimulator::resetCounters()
{
    onOwnThread([this] { m_counts.clear(); });
}

QByteArray DravikSimulator::parameter(quint16 getCommand, quint8 index) const
{
    return onOwnThread([&] { return m_device->memory().payload(getCommand, index); });
}

quint16 DravikSimulator::setParameter(quint16 getCommand, quint8 index, const QByteArray &payload)
{
    return onOwnThread([&] { return m_device->memory().setPayload(getCommand, index, payload); });
}

int DravikSimulator::measurementState() const
{
    return onOwnThread([this] { return int(m_device->acquisition()->state()); });
}

qint64 DravikSimulator::deviceTimeNs() const
{
    return onOwnThread([this] { return m_device->acquisition()->deviceTimeNs(); });
}

int DravikSimulator::lostFrames() const
{
    return onOwnThread([this] { return m_device->acquisition()->lostFrames(); });
}

QByteArray DravikSimulator::file(quint32 transferId) const
{
    return onOwnThread([&] {
        return m_device->files().isVerified(transferId) ? m_device->files().data(transferId) : QByteArray();
    });
}

QByteArray DravikSimulator::deviceLog() const
{
    return onOwnThread([this] { return m_device->log().contents(); });
}

void DravikSimulator::setDeviceLog(const QByteArray &text)
{
    onOwnThread([&] { m_device->log().setContents(text); });
}

void DravikSimulator::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!m_client) {
            attach(socket);
            continue;
        }
        // One control channel: a second host is turned away.
        ++m_rejected;
        QxtLogger::getInstance()->debug(kTag, "second connection refused from", socket->peerAddress().toString(),
                                        socket->peerPort());
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        emit clientRejected();
    }
}

void DravikSimulator::attach(QTcpSocket *socket)
{
    m_client = socket;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_codec.reset();
    m_garbageNoted = false;
    m_silentNoted = false;
    m_dropping = false;
    m_writer = new SimConnectionWriter(socket, [this] { return m_device->stateCode(); }, this);
    connect(m_writer, &SimConnectionWriter::streamDone, m_device->acquisition(), &SimAcquisition::transferDone);
    connect(socket, &QTcpSocket::readyRead, this, &DravikSimulator::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &DravikSimulator::onClientDisconnected);
    m_device->logEvent(QStringLiteral("connection from %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
    emit clientConnected();
    const bool dropAtOnce = m_faults.connectionStarted();
    applyWriterFaults();
    if (dropAtOnce)
        dropConnection(QStringLiteral("drop after frames"));
}

void DravikSimulator::applyWriterFaults()
{
    if (!m_writer)
        return;
    const SimFaults &faults = m_faults.faults();
    m_writer->setDelay(faults.responseDelayMs);
    m_writer->setSplit(faults.splitWriteBytes);
    if (m_faults.garbageActive())
        m_writer->setTransform([this](const QByteArray &frame) { return m_faults.garbage(frame.size()); });
    else
        m_writer->setTransform(nullptr);
}

void DravikSimulator::dropConnection(const QString &fault)
{
    QxtLogger::getInstance()->debug(kTag, "fault:", fault);
    emit faultTriggered(fault);
    // Requests still arriving on the closing connection are not carried out.
    m_dropping = true;
    if (m_writer)
        m_writer->closeWhenDrained();
}

void DravikSimulator::onReadyRead()
{
    const QPointer<QTcpSocket> socket = m_client;
    if (!socket)
        return;
    const QVector<SimFrameCodec::Request> requests = m_codec.feed(socket->readAll());
    for (const SimFrameCodec::Request &request : requests) {
        ++m_counts[request.command];
        emit requestReceived(request.command, request.payload);
        if (!socket || socket != m_client || !m_writer)
            return;
        if (m_dropping)
            return;
        const SimFaultInjector::Action action = m_faults.onRequest();
        if (action == SimFaultInjector::Ignore) {
            if (!m_silentNoted) {
                m_silentNoted = true;
                emit faultTriggered(QStringLiteral("silent"));
            }
            continue;
        }
        if (m_faults.garbageActive() && !m_garbageNoted) {
            m_garbageNoted = true;
            applyWriterFaults();
            emit faultTriggered(QStringLiteral("garbage"));
        }

        quint16 failure = 0;
        if (m_faults.failAck(request.command, &failure)) {
            // Refused before it is carried out, naming the instance like any refusal.
            sendReply(request.command, failure, request.payload.left(1));
        } else {
            for (const SimDevice::Reply &reply : m_device->handle(request.command, request.payload))
                deliver(reply);
        }
        if (action == SimFaultInjector::AnswerThenClose) {
            dropConnection(QStringLiteral("drop after frames"));
            return;
        }
    }
}

void DravikSimulator::deliver(const SimDevice::Reply &reply)
{
    if (!reply.stream) {
        sendReply(reply.command, reply.ack, reply.payload);
        return;
    }
    // Handling the request may have closed the connection (a fault bound to the
    // state it caused); the frame taken for it must still be given back.
    if (m_writer)
        m_writer->sendStream(reply.stream);
    else
        m_device->acquisition()->transferDone();
}

void DravikSimulator::sendReply(quint16 command, quint16 ack, const QByteArray &payload)
{
    if (m_writer)
        m_writer->sendFrame(SimFrameCodec::encodeResponse(command, ack, m_device->stateCode(), payload));
}

void DravikSimulator::onClientDisconnected()
{
    QTcpSocket *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_client)
        return;
    if (m_writer) {
        m_writer->cancelStreams();
        m_writer->deleteLater();
        m_writer = nullptr;
    }
    m_client = nullptr;
    socket->deleteLater();
    m_device->connectionLost();
    m_device->logEvent(QStringLiteral("connection closed"));
    emit clientDisconnected();
}

void DravikSimulator::onMeasurementState(int state)
{
    emit measurementStateChanged(state);
    if (m_client && m_faults.dropInState(state))
        dropConnection(QStringLiteral("drop in state"));
}
