#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The detector's own log: text lines stamped with device time, kept in a
// bounded buffer (the oldest lines go first), read by the host with 0x0F04 in
// pieces and an empty reply at the end.
class SimDeviceLog
{
public:
    static constexpr int kDefaultCapacity = 64 * 1024;
    static constexpr int kDefaultPieceSize = 1024;

    explicit SimDeviceLog(int capacity = kDefaultCapacity);

    void append(qint64 deviceTimeNs, const QString &line);
    QByteArray contents() const { return m_text; }
    // Replaces the log, cut to the capacity from the front.
    void setContents(const QByteArray &text);
    // The replies to one read request, without the empty end marker.
    QVector<QByteArray> pieces(int pieceSize) const;

private:
    void trim();

    int m_capacity;
    QByteArray m_text;
};
