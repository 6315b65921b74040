#pragma once

#include "AbstractJobHandler_v2.h"
#include "AbstractParameterContainer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSharedPointer>

class PdQlp_v2;

// The job that keeps the device parameter container and the detector in
// step. A pending parameter is written with its set command (its whole
// command instance, the unchanged members from their current values), the
// acknowledge is checked, the instance is read back with the get command and
// the values are confirmed into the container, or the parameters are failed.
//
// There is no time-out here: a request without an answer leaves its
// parameters pending until the next change, read or disconnect.
//
// A read never confirms a parameter over a newer request: while a write of
// its command instance is on its way (sent, or acknowledged and not read back
// yet), or while the host's latest value has not been sent at all (the
// request is still queued to this thread), a pending parameter keeps waiting
// and only the read-back of the write that carried its latest value confirms
// it. The other parameters of the instance are confirmed as usual. A write
// whose answers have not come within a few seconds counts as lost (garbled
// on the link), so that a later read settles its parameters all the same.
class DravikParameterHandler_v2 : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    DravikParameterHandler_v2(const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                              QObject *parent = nullptr);

    QList<quint16> commands() const override;

    // Reads one parameter's command instance from the detector.
    void requestParameter(int parameterId);
    // Reads several: one get per command instance, in list order.
    void requestParameter(const QList<int> &parameterIds);
    // Writes pending parameters: one set per command instance, ordered by set
    // command and instance; failures are confirmed as such at once.
    void changeParameterIntern(const QList<int> &parameterIds);

    PdQlp_v2 *pdQlp() const { return m_pdQlp; }

public Q_SLOTS:
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override;
    void onDisconnect() override;

private Q_SLOTS:
    void onDeviceParameterStatusChanged(QHash<int, int> changes);

private:
    using InstanceKey = QPair<quint16, quint8>; // (command, first index)

    // The first id of each distinct command instance in the given direction,
    // in list order; ids without a translation are dropped.
    QList<int> groupRepresentatives(const QList<int> &parameterIds, bool set,
                                    QHash<InstanceKey, QList<int>> *members = nullptr) const;
    void fail(int parameterId);
    QString names(const QList<int> &parameterIds, const QString &separator) const;
    // The write instance (set command, first index) of a parameter.
    InstanceKey writeKey(int parameterId) const;
    // Whether an answer for key may settle parameterId now (see the class comment).
    bool maySettle(const InstanceKey &key, int parameterId, const QSet<int> &pending) const;

    // Writes in flight per instance: sets sent and not answered, and sets
    // acknowledged whose read-back has not come yet.
    struct Writes
    {
        int unanswered = 0;
        int readBacks = 0;
        qint64 lastSentMs = 0;
    };

    PdQlp_v2 *m_pdQlp = nullptr;
    QSharedPointer<AbstractParameterContainer> m_deviceParameters;
    QHash<InstanceKey, Writes> m_writes;
    QElapsedTimer m_clock;
    // The value each parameter was last sent with.
    QHash<int, QVariant> m_sentValues;
};
