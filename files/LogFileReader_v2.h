#pragma once

#include "AbstractLogFileJob_v2.h"

#include <QByteArray>
#include <QString>

// Fetches the detector's own log into a file on this computer, byte for
// byte. The protocol handler sends the read request (0x0F04) and then names
// the file; the detector answers with the log in pieces, one reply each, and
// an empty reply at the end, on which the collected bytes are written.
//
// The protocol has no time-out for the end marker, and neither has this
// reader: whoever waits for the log (the host tool) waits for logFileRead
// with a time-out of its own.
class LogFileReader_v2 : public AbstractLogFileJob_v2
{
    Q_OBJECT

public:
    static constexpr quint16 kReadLogCommand = 0x0F04;
    // The detector's log is kilobytes; this bounds what a detector that never
    // sends the end marker can make us hold. Bytes beyond it are dropped with
    // a warning and the read counts as failed.
    static constexpr int kMaxLogSize = 64 * 1024 * 1024;

    explicit LogFileReader_v2(QObject *parent = nullptr);

    QList<quint16> commands() const override;
    void readLogFile(const QString &filename) override;

    // Names the file of the next read and empties the buffer.
    void setLogFileName(const QString &fileName);
    QString logFileName() const { return m_fileName; }
    QByteArray buffer() const { return m_buffer; }

    // How much of piece still fits behind buffered bytes under the cap.
    static int acceptedLength(int buffered, int pieceSize);

Q_SIGNALS:
    // The end marker arrived and the file was handled: ok is true when the
    // whole log was written to filename, false when the file could not be
    // written or the log had to be cut at kMaxLogSize. Emitted on the
    // protocol thread once per end marker (a repeated marker writes again),
    // and with ok false and nothing written when the detector refuses the
    // read (requestRefused comes first).
    void logFileRead(bool ok, QString filename, qint64 bytes);

public Q_SLOTS:
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override;

private:
    void writeLogFile();

    QByteArray m_buffer;
    QString m_fileName;
    bool m_truncated = false;
};
