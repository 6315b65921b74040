#include "DravikAbstractProtocolHandler_v2.h"

#include "DeviceSocket_v2.h"
#include "QxtLogger.h"

#include <QTimer>

namespace {
const int kSettingsConnection = 1171;
const int kSettingsAliveTimeout = 1172;
const int kUserEnableGainCompensation = 2004;
const char *const kTag = "[DRAVIK.APH]: ";
}

DravikAbstractProtocolHandler_v2::DravikAbstractProtocolHandler_v2(
    const QSharedPointer<AbstractParameterContainer> &userParameters, QObject *parent)
    : QObject(parent)
    , m_userParameters(userParameters)
{
    registerLinkMetaTypes();
    if (m_userParameters) {
        connect(m_userParameters.data(), &AbstractParameterContainer::parameterUpdated, this,
                &DravikAbstractProtocolHandler_v2::onParameterUpdated);
    }
    // The alive interval is taken from the settings from the start, not only
    // when they change.
    onParameterUpdated({kSettingsAliveTimeout});
}

DravikAbstractProtocolHandler_v2::~DravikAbstractProtocolHandler_v2() = default;

void DravikAbstractProtocolHandler_v2::parseAddress(const QString &address, QString &host, quint16 &port)
{
    const QStringList parts = address.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    host = parts.value(0);
    port = parts.size() > 1 ? quint16(parts.at(1).toInt(nullptr, 10)) : quint16(65535);
}

bool DravikAbstractProtocolHandler_v2::isAliveTimerActive() const
{
    return m_aliveTimer && m_aliveTimer->isActive();
}

void DravikAbstractProtocolHandler_v2::logDebug(const QString &message)
{
    QxtLogger::getInstance()->debug(QString(QLatin1String(kTag) + message));
    Q_EMIT inspectEvent(InspectDebugText, QVariantHash{{QStringLiteral("text"), message}});
}

void DravikAbstractProtocolHandler_v2::logWarning(const QString &message)
{
    QxtLogger::getInstance()->warning(QString(QLatin1String(kTag) + message));
    Q_EMIT inspectEvent(InspectWarningText, QVariantHash{{QStringLiteral("text"), message}});
}

void DravikAbstractProtocolHandler_v2::setConnectionState(ConnectionState state)
{
    if (state == m_connectionState)
        return;
    logDebug(QStringLiteral("connection state changed %1 -> %2").arg(int(m_connectionState)).arg(int(state)));
    m_connectionState = state;
}

void DravikAbstractProtocolHandler_v2::stopAliveTimer()
{
    if (m_aliveTimer && m_aliveTimer->isActive()) {
        logDebug(QStringLiteral("stopping alive timer"));
        m_aliveTimer->stop();
    }
}

void DravikAbstractProtocolHandler_v2::enterDisconnected()
{
    if (m_socket)
        logDebug(QStringLiteral("disconnect (%1)").arg(m_socket->lastErrorString()));
    setConnectionState(Disconnected);
    Q_EMIT connectionChanged(false);
    if (m_reopenRequested && m_connectionState == Disconnected) {
        m_reopenRequested = false;
        onOpen();
    }
}

void DravikAbstractProtocolHandler_v2::onOpen()
{
    if (!m_socket) {
        m_socket = new DeviceSocket_v2(m_socketTimeout, m_socketTimeout, this);
        connect(m_socket, &DeviceSocket_v2::readyRead, this, &DravikAbstractProtocolHandler_v2::onReadControlData);
        connect(m_socket, &DeviceSocket_v2::error, this, &DravikAbstractProtocolHandler_v2::onControlError);
        connect(m_socket, &DeviceSocket_v2::stateChanged, this,
                &DravikAbstractProtocolHandler_v2::onSocketStateChanged);
        connect(m_socket, &DeviceSocket_v2::connected, this, &DravikAbstractProtocolHandler_v2::onConnected);
        connect(m_socket, &DeviceSocket_v2::disconnected, this, &DravikAbstractProtocolHandler_v2::onDisconnected);
        connect(m_socket, &DeviceSocket_v2::inspectEvent, this, &DravikAbstractProtocolHandler_v2::inspectEvent);
    }
    logDebug(QStringLiteral("%1 socket state %2").arg(QLatin1String(Q_FUNC_INFO)).arg(int(m_socket->lastState())));

    if (m_connectionState != Disconnected) {
        logDebug(QStringLiteral("%1 invalid connection state %2")
                     .arg(QLatin1String(Q_FUNC_INFO))
                     .arg(int(m_connectionState)));
        // A host that closes and opens at once means to connect again.
        if (m_connectionState == Disconnecting)
            m_reopenRequested = true;
        return;
    }

    const QVariant address = m_userParameters ? m_userParameters->value(kSettingsConnection) : QVariant();
    if (!address.isValid() || !address.canConvert<QString>())
        return;

    QString host;
    quint16 port = 0;
    parseAddress(address.toString(), host, port);
    logDebug(QStringLiteral("%1 open connection to %2 %3").arg(QLatin1String(Q_FUNC_INFO), host).arg(port));
    setConnectionState(Connecting);
    m_socket->open(host, port);
}

void DravikAbstractProtocolHandler_v2::onClose()
{
    logDebug(QStringLiteral("%1 %2").arg(QLatin1String(Q_FUNC_INFO)).arg(int(m_connectionState)));
    m_reopenRequested = false;
    switch (m_connectionState) {
    case Disconnected:
        // Nothing to close, but the caller still hears that the link is down.
        stopAliveTimer();
        enterDisconnected();
        break;
    case Connecting:
    case Connected:
        setConnectionState(Disconnecting);
        m_socket->close(false);
        break;
    case Disconnecting:
        m_socket->close(true);
        break;
    }
}

void DravikAbstractProtocolHandler_v2::onConnected()
{
    // A connection attempt closed while it was under way may still complete;
    // the socket then closes it, and the device never saw it up.
    if (m_connectionState == Disconnecting)
        return;
    if (!m_aliveTimer) {
        m_aliveTimer = new QTimer(this);
        m_aliveTimer->setSingleShot(true);
        m_aliveTimer->setInterval(m_aliveInterval);
        connect(m_aliveTimer, &QTimer::timeout, this, &DravikAbstractProtocolHandler_v2::onAliveTimeout);
    }
    m_outstandingKeepAlives = 0;
    m_aliveTimer->start();
    logDebug(QStringLiteral("starting alive timer (%1 ms)").arg(m_aliveTimer->interval()));
    setConnectionState(Connected);
    Q_EMIT connectionChanged(true);
}

void DravikAbstractProtocolHandler_v2::onDisconnected()
{
    stopAliveTimer();
    enterDisconnected();
}

void DravikAbstractProtocolHandler_v2::onControlError(QAbstractSocket::SocketError socketError)
{
    if (!m_socket) {
        logDebug(QStringLiteral("socket deleted already"));
        return;
    }
    const QString text = m_socket->lastErrorString();
    logWarning(QStringLiteral("socket error (%1, %2)").arg(int(socketError)).arg(text));
    Q_EMIT error(int(socketError), text);
}

void DravikAbstractProtocolHandler_v2::onSocketStateChanged(QAbstractSocket::SocketState socketState)
{
    Q_EMIT inspectEvent(InspectSocketState, QVariantHash{{QStringLiteral("int"), int(socketState)}});
    logDebug(QStringLiteral("%1 socket state %2").arg(QLatin1String(Q_FUNC_INFO)).arg(int(socketState)));
}

void DravikAbstractProtocolHandler_v2::onReadControlData()
{
    const QByteArray data = m_socket ? m_socket->readAll() : QByteArray();
    if (data.isEmpty()) {
        logWarning(QStringLiteral("error reading network packet"));
        return;
    }
    if (!processReceivedData(data))
        return;
    // Only answers prove the detector alive: garbage must not keep a broken
    // link open.
    m_outstandingKeepAlives = 0;
    if (m_aliveTimer && m_aliveTimer->isActive())
        m_aliveTimer->start();
}

void DravikAbstractProtocolHandler_v2::onFrameToSend(QByteArray frame)
{
    // A frame for a link that is down is lost; the job's own time-outs cover it.
    if (!m_socket || !m_socket->isSocketOpen())
        return;
    if (m_socket->write(frame) == -1)
        logDebug(QStringLiteral("sending request failed"));
}

void DravikAbstractProtocolHandler_v2::onAliveTimeout()
{
    if (!m_aliveTimer)
        return;
    logWarning(QStringLiteral("alive timeout (%1)").arg(m_outstandingKeepAlives));
    if (m_outstandingKeepAlives != 0) {
        // The previous keep-alive brought nothing back.
        logWarning(QStringLiteral("alive timeout"));
        onClose();
        return;
    }
    if (m_connectionState == Connected) {
        logDebug(QStringLiteral("keep alive request"));
        ++m_outstandingKeepAlives;
        requestParameter(kMeasurementStateId);
        m_aliveTimer->start();
    }
}

void DravikAbstractProtocolHandler_v2::pauseAliveSupervision(bool pause)
{
    if (!m_aliveTimer)
        return;
    if (pause)
        m_aliveTimer->stop();
    else if (m_connectionState == Connected)
        m_aliveTimer->start();
}

void DravikAbstractProtocolHandler_v2::onParameterUpdated(QList<int> parameterIds)
{
    for (int id : qAsConst(parameterIds)) {
        switch (id) {
        case kSettingsConnection:
            // The new address is used by the next open.
            if (m_socket && m_socket->isSocketOpen())
                onClose();
            break;
        case kUserEnableGainCompensation:
            setGainCompensation(m_userParameters ? m_userParameters->value(id).toBool() : false);
            break;
        case kSettingsAliveTimeout: {
            const int requested = m_userParameters ? m_userParameters->value(id).toInt() : 0;
            m_aliveInterval = qBound(kMinAliveIntervalMs, requested, kMaxAliveIntervalMs);
            if (m_aliveTimer && m_aliveTimer->interval() != m_aliveInterval) {
                if (m_aliveTimer->isActive()) {
                    m_aliveTimer->stop();
                    m_aliveTimer->setInterval(m_aliveInterval);
                    m_aliveTimer->start();
                } else {
                    m_aliveTimer->setInterval(m_aliveInterval);
                }
            }
            break;
        }
        default:
            break;
        }
    }
}

void DravikAbstractProtocolHandler_v2::onRequestParameter(int parameterId)
{
    requestParameter(parameterId);
}

void DravikAbstractProtocolHandler_v2::onRequestParameter(QList<int> parameterIds)
{
    requestParameter(parameterIds);
}

void DravikAbstractProtocolHandler_v2::onMeasurementCommand(MeasurementCommands command, int data)
{
    processMeasurementCommandIntern(command, data);
}

void DravikAbstractProtocolHandler_v2::onValidChannels(QList<int> channels)
{
    m_validChannels = channels;
    processValidChannels(channels);
}

void DravikAbstractProtocolHandler_v2::onReadLogFile(QString filename)
{
    if (m_connectionState == Connected)
        transmitCommand(kReadLogFileCommand, QByteArray());
    readLogFileIntern(filename);
}
