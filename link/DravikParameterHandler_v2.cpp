#include "DravikParameterHandler_v2.h"

#include "ParameterCatalogue.h"
#include "PdQlp_v2.h"
#include "QxtLogger.h"

#include <algorithm>

namespace {
const char *const kTag = "[DRAVIK.Params]";
// Answers to a write this late are taken as lost.
const qint64 kLostAnswerMs = 5000;
}

DravikParameterHandler_v2::DravikParameterHandler_v2(
    const QSharedPointer<AbstractParameterContainer> &deviceParameters, QObject *parent)
    : AbstractJobHandler_v2(parent)
    , m_pdQlp(new PdQlp_v2(deviceParameters, this))
    , m_deviceParameters(deviceParameters)
{
    m_clock.start();
    if (m_deviceParameters) {
        connect(m_deviceParameters.data(),
                qOverload<QHash<int, int>>(&AbstractParameterContainer::parameterStatusChanged), this,
                &DravikParameterHandler_v2::onDeviceParameterStatusChanged);
    }
}

QList<quint16> DravikParameterHandler_v2::commands() const
{
    const QSet<quint16> ids = m_pdQlp->translator().commands();
    QList<quint16> sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QString DravikParameterHandler_v2::names(const QList<int> &parameterIds, const QString &separator) const
{
    QString text;
    for (int id : parameterIds)
        text += ParameterCatalogue::logName(id) + separator;
    return text;
}

void DravikParameterHandler_v2::fail(int parameterId)
{
    if (m_deviceParameters)
        m_deviceParameters->update(parameterId, QVariant(), AbstractParameterContainer::StatusFailed);
}

QList<int> DravikParameterHandler_v2::groupRepresentatives(const QList<int> &parameterIds, bool set,
                                                           QHash<InstanceKey, QList<int>> *members) const
{
    const QlpCommandTranslator_v2 &translator = m_pdQlp->translator();
    QList<int> representatives;
    QHash<InstanceKey, QList<int>> groups;
    for (int id : parameterIds) {
        if (!translator.contains(id))
            continue;
        const InstanceKey key(translator.command(id, set), translator.firstIndex(id));
        auto it = groups.find(key);
        if (it == groups.end()) {
            representatives.append(id);
            groups.insert(key, {id});
        } else {
            it->append(id);
        }
    }
    if (members)
        *members = groups;
    return representatives;
}

void DravikParameterHandler_v2::requestParameter(int parameterId)
{
    bool known = false;
    bool composed = false;
    const quint16 command = m_pdQlp->translator().command(parameterId, false, &known);
    const QByteArray payload = known ? m_pdQlp->compose(parameterId, false, &composed) : QByteArray();
    if (!known || !composed || command == QlpCommandTranslator_v2::kNoCommand) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "parameter", ParameterCatalogue::logName(parameterId),
                                        " not supported");
        return;
    }
    Q_EMIT sendQlpCommand(command, payload);
}

void DravikParameterHandler_v2::requestParameter(const QList<int> &parameterIds)
{
    for (int id : groupRepresentatives(parameterIds, false))
        requestParameter(id);
}

void DravikParameterHandler_v2::changeParameterIntern(const QList<int> &parameterIds)
{
    const QlpCommandTranslator_v2 &translator = m_pdQlp->translator();
    QList<int> known;
    for (int id : parameterIds) {
        bool ok = false;
        translator.command(id, true, &ok); // logs "no command for parameter" when unknown
        if (ok)
            known.append(id);
        else
            fail(id);
    }

    QHash<InstanceKey, QList<int>> groups;
    QList<int> representatives = groupRepresentatives(known, true, &groups);
    // Set commands ascending (none, 0xFFFF, last), then instance; ties keep their order.
    std::stable_sort(representatives.begin(), representatives.end(),
                     [this](int a, int b) { return writeKey(a) < writeKey(b); });

    for (int id : qAsConst(representatives)) {
        const InstanceKey key = writeKey(id);
        bool ok = false;
        const QByteArray payload = m_pdQlp->compose(id, true, &ok);
        if (ok && key.first != QlpCommandTranslator_v2::kNoCommand) {
            Q_EMIT sendQlpCommand(key.first, payload);
            Writes &writes = m_writes[key];
            ++writes.unanswered;
            writes.lastSentMs = m_clock.elapsed();
            for (int member : groups.value(key))
                m_sentValues.insert(member, m_deviceParameters ? m_deviceParameters->newValue(member) : QVariant());
            continue;
        }
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "parameter set failed", "parameter",
                                        ParameterCatalogue::logName(id), "command", key.first, "data",
                                        payload.toHex());
        for (int member : groups.value(key))
            fail(member);
    }
}

void DravikParameterHandler_v2::onDeviceParameterStatusChanged(QHash<int, int> changes)
{
    QStringList changed;
    QList<int> pending;
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        changed.append(QString::number(it.key()));
        if (it.value() == AbstractParameterContainer::StatusPending)
            pending.append(it.key());
    }
    QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, QStringLiteral("(%1)").arg(changed.join(QStringLiteral(", "))));
    if (!pending.isEmpty())
        changeParameterIntern(pending);
}

void DravikParameterHandler_v2::onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData)
{
    Q_UNUSED(stateCode)
    QxtLogger *log = QxtLogger::getInstance();
    const QlpCommandTranslator_v2 &translator = m_pdQlp->translator();

    const quint8 instance = cmdData.isEmpty() ? 0 : quint8(cmdData.at(0));
    QList<int> affected = translator.parameters(command, instance);
    if (affected.isEmpty())
        affected = translator.parameters(command, 0);

    // The bookkeeping of writes in flight for this instance.
    const InstanceKey key = affected.isEmpty() ? InstanceKey() : writeKey(affected.first());
    const bool isSet = translator.isSetCommand(command);
    const bool failed = m_pdQlp->isAcknowledgeFailure(ackCode);
    auto writes = m_writes.find(key);
    if (writes != m_writes.end()) {
        if (isSet) {
            writes->unanswered = qMax(0, writes->unanswered - 1);
            if (!failed)
                ++writes->readBacks;
        } else {
            writes->readBacks = qMax(0, writes->readBacks - 1);
        }
        const bool lost = m_clock.elapsed() - writes->lastSentMs > kLostAnswerMs;
        if (lost || (writes->unanswered == 0 && writes->readBacks == 0))
            m_writes.erase(writes);
    }
    const QList<int> pendingIds = m_deviceParameters ? m_deviceParameters->pendingIds() : QList<int>();
    const QSet<int> pending(pendingIds.begin(), pendingIds.end());

    const auto failAffected = [&] {
        for (int id : qAsConst(affected)) {
            if (maySettle(key, id, pending))
                fail(id);
        }
    };
    if (failed) {
        log->debug(kTag, Q_FUNC_INFO, "acknowledge failure, params", names(affected, QStringLiteral(", ")));
        if (isSet) {
            // The device tells the host which of its requests the detector
            // turned down: those of the instance that were waiting.
            QList<int> refused;
            for (int id : qAsConst(affected)) {
                if (pending.contains(id))
                    refused.append(id);
            }
            Q_EMIT requestRefused(command, ackCode, refused.isEmpty() ? affected : refused);
        }
        failAffected();
        return;
    }

    if (!isSet) {
        const PdQlp_v2::ParameterValues values = m_pdQlp->parameterData(command, cmdData);
        if (values.isEmpty()) {
            log->debug(kTag, Q_FUNC_INFO, "error translating packet", "command", QString::number(command, 16), "data",
                       cmdData.toHex());
            failAffected();
            return;
        }
        for (const auto &pair : values) {
            if (!m_deviceParameters)
                log->debug(kTag, Q_FUNC_INFO, "device parameter pointer is null!");
            else if (maySettle(key, pair.first, pending))
                m_deviceParameters->update(pair.first, pair.second, AbstractParameterContainer::StatusSynchronised);
        }
        return;
    }

    // A write was accepted: read the whole instance back to confirm it.
    if (!affected.isEmpty())
        requestParameter(affected.first());
}

DravikParameterHandler_v2::InstanceKey DravikParameterHandler_v2::writeKey(int parameterId) const
{
    const QlpCommandTranslator_v2 &translator = m_pdQlp->translator();
    return InstanceKey(translator.command(parameterId, true), translator.firstIndex(parameterId));
}

bool DravikParameterHandler_v2::maySettle(const InstanceKey &key, int parameterId, const QSet<int> &pending) const
{
    if (!pending.contains(parameterId))
        return true;
    return !m_writes.contains(key) && m_sentValues.value(parameterId) == m_deviceParameters->newValue(parameterId);
}

void DravikParameterHandler_v2::onDisconnect()
{
    // Nothing in flight will be answered; the next read settles what is pending.
    m_writes.clear();
}
