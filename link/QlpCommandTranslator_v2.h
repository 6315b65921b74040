#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QMultiHash>
#include <QObject>
#include <QPair>
#include <QSet>

#include <shared_mutex>

// Knows for every detector parameter which command writes it, which command
// reads it, which instance of the command (first index) and which position
// in the instance's payload (second index) it has. Several parameters travel
// in one payload, so the instance map answers "which parameters does this
// (command, first index) carry".
//
// Lookups are safe from any thread; the derived maps are rebuilt under the
// lock when the detector's protocol version becomes known. (A std::shared_mutex,
// like the parameter container's, so that ThreadSanitizer sees it.)
class QlpCommandTranslator_v2 : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kNoCommand = 0xFFFF;

    struct Entry
    {
        quint16 setCommand = kNoCommand;
        quint16 getCommand = kNoCommand;
        quint8 firstIndex = 0;
        quint8 secondIndex = 0;
    };

    explicit QlpCommandTranslator_v2(QObject *parent = nullptr);

    bool contains(int parameterId) const;
    // The command in that direction (kNoCommand when the parameter has none
    // there) and ok true; for a parameter outside the table kNoCommand, ok
    // false and a debug line "no command for parameter".
    quint16 command(int parameterId, bool set, bool *ok = nullptr) const;
    quint8 firstIndex(int parameterId, bool *ok = nullptr) const;
    quint8 secondIndex(int parameterId, bool *ok = nullptr) const;
    // The parameters carried by one command instance (set or get command).
    QList<int> parameters(quint16 command, quint8 firstIndex) const;
    // The same as second index → parameter id, ordered by second index.
    QMap<int, int> mapping(quint16 command, quint8 firstIndex) const;
    bool isSetCommand(quint16 command) const;
    // Every set and get command of the table: what the parameter job claims.
    QSet<quint16> commands() const;
    // The whole table, for checks against the parameter catalogue.
    QHash<int, Entry> table() const { return m_table; }

public Q_SLOTS:
    void applyProtocolVersionSpecifics(quint32 version);

private:
    void rebuild();
    // The entry of parameterId, or null with the "no command" line.
    const Entry *indexEntry(int parameterId, bool *ok, const char *signature) const;

    QHash<int, Entry> m_table; // filled by the constructor, never changed
    QSet<quint16> m_setCommands;
    mutable std::shared_mutex m_lock;
    QMultiHash<QPair<quint16, quint8>, int> m_instances;
    QSet<quint16> m_commands;
};
