#pragma once

#include "AbstractParameterContainer.h"
#include "QlpCommandTranslator_v2.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QVariant>

// One channel's state byte from the measurement-state response, unchanged:
// bits 0-3 the channel, bits 4-7 the flags the device interprets.
struct st_ChannelMeasState
{
    quint8 value = 0;
    bool operator==(const st_ChannelMeasState &other) const { return value == other.value; }
};
Q_DECLARE_METATYPE(st_ChannelMeasState)

// Converts between detector parameters and Qlp command payloads: a receive
// function per get command turns a response payload into (parameter id,
// value) pairs, a compose function per set command builds the request from
// the parameters' requested values. Pure functions of the payload and the
// container: no socket, no event loop, so tests and fuzzers call them directly.
class PdQlp_v2 : public QObject
{
    Q_OBJECT

public:
    using ParameterValues = QList<QPair<int, QVariant>>;

    explicit PdQlp_v2(const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                      QObject *parent = nullptr);

    // Decodes a response payload of a get command; empty when the command has
    // no receive function or the payload is malformed (one debug line says why).
    ParameterValues parameterData(quint16 command, const QByteArray &payload);

    // The request payload that writes (set) or reads (get) parameterId's
    // command instance. ok false and an empty payload when none can be built.
    QByteArray compose(int parameterId, bool set, bool *ok);

    // The values to write for one command instance, by second index: the
    // requested value where valid, else the current one. Empty when the
    // instance does not hold exactly count parameters or a value is missing.
    QList<QVariant> newValues(quint16 command, quint8 index, int count) const;

    // True for the acknowledge codes that mean the detector refused (1 to 7).
    bool isAcknowledgeFailure(quint16 ackCode) const;

    quint32 currentProtocolVersion() const { return m_protocolVersion; }
    QlpCommandTranslator_v2 &translator() { return m_translator; }
    const QlpCommandTranslator_v2 &translator() const { return m_translator; }

Q_SIGNALS:
    void protocolVersion(quint32 version);

public Q_SLOTS:
    void applyProtocolSpecifics(quint32 version);

private:
    using ReceiveFunction = ParameterValues (PdQlp_v2::*)(quint16, const QByteArray &);
    using ComposeFunction = QByteArray (PdQlp_v2::*)(quint16, quint8, bool *);

    // How a receive function finds its command instance: the least payload it
    // accepts, where the first index sits, how many parameters the instance
    // must carry and what to log when it does not. Defined in the .cpp.
    struct ReceiveRule;

    // The part every receive function shares: length check, first index,
    // mapping of (command, first index) and its size. False (after one debug
    // line under the caller's signature) when the payload cannot be decoded.
    bool openInstance(const char *function, quint16 command, const QByteArray &payload, const ReceiveRule &rule,
                      QMap<int, int> &mapping) const;
    // Timings exist from protocol version 2 on.
    bool timingsSupported(const char *function) const;

    ParameterValues receiveIdentification(quint16 command, const QByteArray &payload);
    ParameterValues receiveDeviceParameter(quint16 command, const QByteArray &payload);
    ParameterValues receiveMeasurementState(quint16 command, const QByteArray &payload);
    ParameterValues receiveMeasurementTimings(quint16 command, const QByteArray &payload);
    ParameterValues receiveTriggerParameters(quint16 command, const QByteArray &payload);
    ParameterValues receiveFilterParameters(quint16 command, const QByteArray &payload);
    ParameterValues receiveGating(quint16 command, const QByteArray &payload);
    ParameterValues receiveGain(quint16 command, const QByteArray &payload);
    ParameterValues receiveGainParameters(quint16 command, const QByteArray &payload);
    ParameterValues receiveExtendedMuxer(quint16 command, const QByteArray &payload);
    ParameterValues receiveAdcConfig(quint16 command, const QByteArray &payload);
    ParameterValues receiveDigitalChannelParams(quint16 command, const QByteArray &payload);
    ParameterValues receiveFanControlParams(quint16 command, const QByteArray &payload);
    ParameterValues receiveAdcStatisticsParams(quint16 command, const QByteArray &payload);

    QByteArray composeEmptyRequest(quint16 command, quint8 index, bool *ok);
    QByteArray composeIndexRequest(quint16 command, quint8 index, bool *ok);
    QByteArray composeMeasurementTimingsRequest(quint16 command, quint8 index, bool *ok);
    QByteArray composeDeviceParameter(quint16 command, quint8 index, bool *ok);
    QByteArray composeMeasurementTimings(quint16 command, quint8 index, bool *ok);
    QByteArray composeTriggerParameters(quint16 command, quint8 index, bool *ok);
    QByteArray composeFilterParameters(quint16 command, quint8 index, bool *ok);
    QByteArray composeGating(quint16 command, quint8 index, bool *ok);
    QByteArray composeGain(quint16 command, quint8 index, bool *ok);
    QByteArray composeExtendedMuxer(quint16 command, quint8 index, bool *ok);
    QByteArray composeAdcConfig(quint16 command, quint8 index, bool *ok);
    QByteArray composeDigitalChannelParams(quint16 command, quint8 index, bool *ok);
    QByteArray composeFanControlParams(quint16 command, quint8 index, bool *ok);

    QHash<quint16, ReceiveFunction> m_receive;
    QHash<quint16, ComposeFunction> m_compose;
    QHash<quint16, int> m_acknowledge;
    QlpCommandTranslator_v2 m_translator;
    QSharedPointer<AbstractParameterContainer> m_deviceParameters;
    quint32 m_protocolVersion = 0;
};
