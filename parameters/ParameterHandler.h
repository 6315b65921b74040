#pragma once

#include "AbstractParameterContainer.h"
#include "ParameterEntry.h"

#include <QHash>
#include <QString>

#include <shared_mutex>

// The thread-safe parameter container shared by the host's thread and the
// protocol thread. The lock is held only to copy or store an entry; signals
// go out after it is released, so slots may call straight back in.
//
// The lock is a std::shared_mutex, not a QReadWriteLock: ThreadSanitizer sees
// the pthread lock underneath the one and not the futexes of the other (Qt is
// not built with it), and every read of an entry on one thread after a write
// on the other would be reported as a race.
class ParameterHandler : public AbstractParameterContainer
{
    Q_OBJECT

public:
    enum Result {
        Success = 0,
        AlreadyInList = -1000
    };

    ParameterHandler(QObject *parent, const QString &logPrefix);

    QVariant value(int id) const override;
    QVariant newValue(int id) const override;
    int setValue(int id, const QVariant &v) override;
    int discardPending() override;
    QList<int> pendingIds() const override;
    bool isValid(int id) const override;

    // Adds an entry synchronised at initial. AlreadyInList if the id exists.
    int add(int id, const QVariant &initial);
    // Requests several changes at once; one status hash, then one signal per id.
    int setValue(const QHash<int, QVariant> &values);
    bool contains(int id) const;
    QList<int> ids() const;
    // Forgets the value: synchronised and invalid (inserted if absent).
    void reset(int id);
    QString logPrefix() const { return m_logPrefix; }

public Q_SLOTS:
    void update(int parameterId, const QVariant &value, int status) override;

private:
    bool entry(int id, ParameterEntry &out) const;

    const QString m_logPrefix;
    mutable std::shared_mutex m_lock;
    QHash<int, ParameterEntry> m_table;
};
