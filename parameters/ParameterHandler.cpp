#include "ParameterHandler.h"

#include "QxtLogger.h"

#include <mutex>

ParameterHandler::ParameterHandler(QObject *parent, const QString &logPrefix)
    : AbstractParameterContainer(parent)
    , m_logPrefix(logPrefix)
{
}

bool ParameterHandler::entry(int id, ParameterEntry &out) const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    const auto it = m_table.constFind(id);
    if (it == m_table.constEnd())
        return false;
    out = it.value();
    return true;
}

int ParameterHandler::add(int id, const QVariant &initial)
{
    {
        std::lock_guard<std::shared_mutex> locker(m_lock);
        if (!m_table.contains(id)) {
            m_table.insert(id, ParameterEntry{StatusSynchronised, initial, initial});
            return Success;
        }
    }
    QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter", id, "already in list");
    return AlreadyInList;
}

QVariant ParameterHandler::value(int id) const
{
    ParameterEntry e;
    if (!entry(id, e)) {
        QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter ", id, " not supported");
        return QVariant();
    }
    return e.value;
}

QVariant ParameterHandler::newValue(int id) const
{
    ParameterEntry e;
    if (!entry(id, e)) {
        QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter ", id, " not supported");
        return QVariant();
    }
    if (!e.newValue.isValid())
        QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter", id, "invalid value");
    return e.newValue;
}

int ParameterHandler::setValue(int id, const QVariant &v)
{
    return setValue(QHash<int, QVariant>{{id, v}});
}

int ParameterHandler::setValue(const QHash<int, QVariant> &values)
{
    QHash<int, int> states;
    QList<int> order; // the per-id signals follow the hash's order
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const int id = it.key();
        int state = StatusFailed;
        bool known = true;
        {
            std::lock_guard<std::shared_mutex> locker(m_lock);
            auto entryIt = m_table.find(id);
            if (entryIt == m_table.end()) {
                known = false;
            } else if (entryIt->status != StatusPending && entryIt->value == it.value()) {
                // Already there: nothing to send, tell the caller so.
                state = StatusFailed;
            } else {
                // A pending request is always overwritten, even by the confirmed value.
                entryIt->newValue = it.value();
                entryIt->status = StatusPending;
                state = StatusPending;
            }
        }
        if (!known) {
            QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter ", id, " not supported");
            continue;
        }
        states.insert(id, state);
        order.append(id);
    }

    Q_EMIT parameterStatusChanged(states);
    for (int id : qAsConst(order))
        Q_EMIT parameterStatusChanged(id, states.value(id));
    return Success;
}

void ParameterHandler::update(int parameterId, const QVariant &value, int status)
{
    bool changed = false;
    int entryStatus = StatusSynchronised;
    {
        std::unique_lock<std::shared_mutex> locker(m_lock);
        auto it = m_table.find(parameterId);
        if (it == m_table.end()) {
            locker.unlock();
            QxtLogger::getInstance()->debug(m_logPrefix, Q_FUNC_INFO, "parameter", parameterId, "not available");
            return;
        }
        if (status == StatusSynchronised) {
            changed = (it->value != value);
            it->value = value;
            it->status = StatusSynchronised;
        } else {
            it->status = StatusFailed;
        }
        it->newValue = it->value;
        entryStatus = it->status;
    }

    if (changed)
        Q_EMIT parameterUpdated(QList<int>{parameterId});
    Q_EMIT parameterStatusChanged(parameterId, entryStatus);
}

void ParameterHandler::reset(int id)
{
    {
        std::lock_guard<std::shared_mutex> locker(m_lock);
        m_table.insert(id, ParameterEntry{StatusSynchronised, QVariant(), QVariant()});
    }
    Q_EMIT parameterStatusChanged(id, StatusSynchronised);
}

int ParameterHandler::discardPending()
{
    QList<int> discarded;
    {
        std::lock_guard<std::shared_mutex> locker(m_lock);
        for (auto it = m_table.begin(); it != m_table.end(); ++it) {
            if (it->status == StatusPending) {
                it->newValue = it->value;
                it->status = StatusSynchronised;
                discarded.append(it.key());
            }
        }
    }
    for (int id : qAsConst(discarded))
        Q_EMIT parameterStatusChanged(id, StatusSynchronised);
    return Success;
}

QList<int> ParameterHandler::pendingIds() const
{
    QList<int> result;
    std::shared_lock<std::shared_mutex> locker(m_lock);
    for (auto it = m_table.constBegin(); it != m_table.constEnd(); ++it) {
        if (it->status == StatusPending)
            result.append(it.key());
    }
    return result;
}

QList<int> ParameterHandler::ids() const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    return m_table.keys();
}

bool ParameterHandler::contains(int id) const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    return m_table.contains(id);
}

bool ParameterHandler::isValid(int id) const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    const auto it = m_table.constFind(id);
    return it != m_table.constEnd() && it->status == StatusSynchronised;
}
