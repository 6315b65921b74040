#pragma once

#include "SimDeviceLog.h"
#include "SimFileTransfer.h"
#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimScenario.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QVector>

#include <memory>

class SimAcquisition;
class SimFirmwareWriter;
class SimPacketStream;

// The detector itself, without a network: takes one request (command id and
// payload) and gives the responses it causes. Raw data comes back as a packet
// stream for the connection to pull; firmware progress comes later, through
// asyncReply().
//
// Owns the parameter memory, the measurement state machine, the file store,
// the firmware writer and the device log.
class SimDevice : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        quint16 command = 0;
        quint16 ack = 0;
        QByteArray payload;
        std::shared_ptr<SimPacketStream> stream; // set for raw data: the payload is unused
    };

    explicit SimDevice(QObject *parent = nullptr);
    ~SimDevice() override;

    void setIdentity(const SimIdentity &identity);
    const SimIdentity &identity() const { return m_identity; }
    void setScenario(SimScenario::Kind kind);
    // Samples per raw data packet (0: as many as fit).
    void setMaxPacketSamples(int samples) { m_maxPacketSamples = qMax(0, samples); }
    void setLogPieceSize(int bytes) { m_logPieceSize = qMax(1, bytes); }

    SimParameterMemory &memory() { return m_memory; }
    SimAcquisition *acquisition() const { return m_acquisition; }
    SimFileTransfer &files() { return m_files; }
    SimFirmwareWriter *firmwareWriter() const { return m_firmware; }
    SimDeviceLog &log() { return m_log; }
    void logEvent(const QString &line);

    QVector<Reply> handle(quint16 command, const QByteArray &payload);
    // The state code every response carries: the measurement state.
    quint16 stateCode();
    // The host went away: unfinished file transfers are forgotten. A running
    // acquisition goes on, as on the real detector.
    void connectionLost();

    // The text of the configuration item "info string": temperatures and fan.
    QByteArray infoString();

signals:
    // A response not caused by a request at this moment (firmware progress).
    void asyncReply(quint16 command, quint16 ack, QByteArray payload);
    void measurementStateChanged(int state);
    void fileVerified(quint32 transferId, QByteArray data);
    void firmwareWritten(QByteArray image, quint8 mode);

private:
    using Handler = QVector<Reply> (SimDevice::*)(quint16 command, const QByteArray &payload);

    QVector<Reply> identify(quint16 command, const QByteArray &payload);
    QVector<Reply> measurementState(quint16 command, const QByteArray &payload);
    QVector<Reply> startStop(quint16 command, const QByteArray &payload);
    QVector<Reply> discard(quint16 command, const QByteArray &payload);
    QVector<Reply> transfer(quint16 command, const QByteArray &payload);
    QVector<Reply> adcStatistics(quint16 command, const QByteArray &payload);
    QVector<Reply> deviceConfig(quint16 command, const QByteArray &payload);
    QVector<Reply> parameters(quint16 command, const QByteArray &payload);
    QVector<Reply> fileTransfer(quint16 command, const QByteArray &payload);
    QVector<Reply> firmwareWrite(quint16 command, const QByteArray &payload);
    QVector<Reply> readLog(quint16 command, const QByteArray &payload);

    QHash<quint16, Handler> m_handlers;
    SimIdentity m_identity;
    SimParameterMemory m_memory;
    SimFileTransfer m_files;
    SimDeviceLog m_log;
    SimAcquisition *m_acquisition;
    SimFirmwareWriter *m_firmware;
    int m_maxPacketSamples = 0;
    int m_logPieceSize = SimDeviceLog::kDefaultPieceSize;
};
