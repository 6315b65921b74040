#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariant>

// A table of parameter values keyed by id, each with a requested ("new") value
// and a synchronisation status: 0 synchronised, 1 pending, -1 failed.
//
// Writers request a change with setValue(); whoever serves the other end
// carries it out and confirms it with update(). Every change is announced by
// the signals below; the container is safe to use from several threads.
class AbstractParameterContainer : public QObject
{
    Q_OBJECT

public:
    enum Status {
        StatusFailed = -1,
        StatusSynchronised = 0,
        StatusPending = 1
    };

    using QObject::QObject;
    ~AbstractParameterContainer() override = default;

    // The confirmed value; invalid if the id is unknown.
    virtual QVariant value(int id) const = 0;
    // The requested value; equals value() whenever nothing is pending.
    virtual QVariant newValue(int id) const = 0;
    // Requests a change. Emits status 1 for a change, -1 where nothing needs doing.
    virtual int setValue(int id, const QVariant &v) = 0;
    // Drops every pending request.
    virtual int discardPending() = 0;
    virtual QList<int> pendingIds() const = 0;
    // True if the id is known and synchronised.
    virtual bool isValid(int id) const = 0;

public Q_SLOTS:
    // Confirms a value: status 0 stores it, any other status keeps the old one and marks the entry failed.
    virtual void update(int parameterId, const QVariant &value, int status) = 0;

Q_SIGNALS:
    void parameterUpdated(QList<int> parameterIds);
    void parameterStatusChanged(int parameterId, int status);
    void parameterStatusChanged(QHash<int, int> states);
};
