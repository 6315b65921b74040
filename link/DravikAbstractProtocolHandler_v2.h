#pragma once

#include "AbstractParameterContainer.h"
#include "MeasurementCommands.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariantHash>

class DeviceSocket_v2;
class QTimer;

// The link to the detector as the protocol thread sees it: the socket, the
// connection state machine, the alive supervision and the slots through
// which the device drives the link. What happens to the bytes and commands is
// left to the subclass (the protocol handler with its jobs).
class DravikAbstractProtocolHandler_v2 : public QObject
{
    Q_OBJECT

public:
    enum ConnectionState {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2,
        Disconnecting = 3
    };
    Q_ENUM(ConnectionState)

    enum InspectEvent {
        InspectDebugText = 0,
        InspectWarningText = 1,
        InspectOpenState = 2,
        InspectSocketState = 3
    };

    static constexpr int kSocketTimeoutMs = 5000;
    static constexpr int kMinAliveIntervalMs = 1000;
    static constexpr int kMaxAliveIntervalMs = 10000;
    static constexpr quint16 kReadLogFileCommand = 0x0F04;
    // The detector's answer to a measurement-state poll (its state and which
    // channel groups hold data), and the parameter its state confirms.
    static constexpr quint16 kMeasurementStateCommand = 0x0F41;
    static constexpr int kMeasurementStateId = 1010;

    DravikAbstractProtocolHandler_v2(const QSharedPointer<AbstractParameterContainer> &userParameters,
                                     QObject *parent = nullptr);
    ~DravikAbstractProtocolHandler_v2() override;

    // "host:port" as the connection setting holds it. Without ":" the port is
    // 65535; the port text is read as a decimal number and cut to 16 bits
    // (so "host:" and "host:abc" give port 0).
    static void parseAddress(const QString &address, QString &host, quint16 &port);

    // Open and close time-out of the socket; takes effect when the socket is
    // created by the first open. Tests shorten it; the device keeps 5000 ms.
    void setSocketTimeout(int ms) { m_socketTimeout = ms; }

    ConnectionState connectionState() const { return m_connectionState; }
    int aliveInterval() const { return m_aliveInterval; }
    bool isAliveTimerActive() const;
    QList<int> validChannels() const { return m_validChannels; }

    // Stops the alive supervision (true) or resumes it (false; only while
    // connected). A firmware update keeps the detector silent for longer
    // than any alive interval.
    void pauseAliveSupervision(bool pause);

    virtual void init() = 0;

Q_SIGNALS:
    void channelData(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp, QByteArray data);
    void channelDataTermination(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp);
    void connectionChanged(bool onOpen);
    void error(int error, QString errorString);
    void firmwareUpdateState(int state, double progress, QString description);
    void updateFirmware(QByteArray bitstream, quint8 mode);
    void inspectEvent(int event, QVariantHash hash);
    void measurementCommandResponse(MeasurementCommands command, bool success);
    // A job's request the detector refused, with its acknowledge code.
    void requestRefused(quint16 command, quint16 ackCode, QList<int> subjects);
    // The measurement state a state answer confirmed (the last one if it
    // confirmed none), once the data received before that answer is on its
    // way to the device ahead of this signal.
    void measurementStateAnswered(QVariant state);

public Q_SLOTS:
    void onRequestParameter(int parameterId);
    void onRequestParameter(QList<int> parameterIds);
    void onOpen();
    void onClose();
    void onMeasurementCommand(MeasurementCommands command, int data);
    void onReadLogFile(QString filename);
    void onValidChannels(QList<int> channels);

protected Q_SLOTS:
    void onParameterUpdated(QList<int> parameterIds);
    void onFrameToSend(QByteArray frame);

protected:
    virtual void requestParameter(QList<int> parameterIds) = 0;
    virtual void requestParameter(int parameterId) = 0;
    virtual void processMeasurementCommandIntern(MeasurementCommands command, int data) = 0;
    virtual void readLogFileIntern(QString filename) = 0;
    virtual void processValidChannels(QList<int> channels) = 0;
    // True if the bytes proved the detector alive: they completed at least
    // one answer to a command sent on this connection. Bytes that only fill a
    // partial frame, or garbage that parses as something nobody asked for,
    // do not keep a broken link open.
    virtual bool processReceivedData(QByteArray data) = 0;
    virtual int transmitCommand(quint16 command, QByteArray data) = 0;
    virtual void setGainCompensation(bool enabled) = 0;

    // The link's log: "[DRAVIK.APH]: " and the message, each line also an
    // inspect event for the debug view.
    void logDebug(const QString &message);
    void logWarning(const QString &message);

    QSharedPointer<AbstractParameterContainer> userParameters() const { return m_userParameters; }

private Q_SLOTS:
    void onControlError(QAbstractSocket::SocketError socketError);
    void onSocketStateChanged(QAbstractSocket::SocketState socketState);
    void onReadControlData();
    void onConnected();
    void onDisconnected();
    void onAliveTimeout();

private:
    void setConnectionState(ConnectionState state);
    void stopAliveTimer();
    void enterDisconnected();

    QSharedPointer<AbstractParameterContainer> m_userParameters;
    ConnectionState m_connectionState = Disconnected;
    // open() came while the last connection was still closing: carried out
    // once it has closed, unless a close() takes it back.
    bool m_reopenRequested = false;
    int m_socketTimeout = kSocketTimeoutMs;
    DeviceSocket_v2 *m_socket = nullptr;
    QList<int> m_validChannels;
    int m_aliveInterval = kSocketTimeoutMs;
    QTimer *m_aliveTimer = nullptr;
    int m_outstandingKeepAlives = 0;
};
