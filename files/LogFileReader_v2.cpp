#include "LogFileReader_v2.h"

#include "QxtLogger.h"

#include <QFile>

namespace {
const char *const kTag = "[DRAVIK.LFR]:";
}

LogFileReader_v2::LogFileReader_v2(QObject *parent)
    : AbstractLogFileJob_v2(parent)
{
}

QList<quint16> LogFileReader_v2::commands() const
{
    return {kReadLogCommand};
}

void LogFileReader_v2::readLogFile(const QString &filename)
{
    setLogFileName(filename);
}

void LogFileReader_v2::setLogFileName(const QString &fileName)
{
    m_fileName = fileName;
    m_buffer.clear();
    m_truncated = false;
}

int LogFileReader_v2::acceptedLength(int buffered, int pieceSize)
{
    if (buffered >= kMaxLogSize || pieceSize <= 0)
        return 0;
    return qMin(pieceSize, kMaxLogSize - buffered);
}

void LogFileReader_v2::onQlpPacket(quint16 command, quint16, quint16 ackCode, QByteArray cmdData)
{
    if (command != kReadLogCommand)
        return;
    if (isRefusal(ackCode)) {
        // No log follows: an empty file would pass for an empty log.
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "log read refused, acknowledge code", ackCode);
        Q_EMIT requestRefused(command, ackCode, {});
        Q_EMIT logFileRead(false, m_fileName, 0);
        return;
    }
    if (cmdData.isEmpty()) {
        writeLogFile();
        return;
    }
    const int accepted = acceptedLength(m_buffer.size(), cmdData.size());
    if (accepted < cmdData.size() && !m_truncated) {
        // Once per read: a runaway detector would otherwise log every reply.
        m_truncated = true;
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "log larger than", kMaxLogSize,
                                          "bytes, the rest is dropped");
    }
    m_buffer.append(cmdData.constData(), accepted);
}

void LogFileReader_v2::writeLogFile()
{
    QxtLogger::getInstance()->debug(kTag, "read log byte count", m_buffer.size());
    // A file that cannot be written is not logged; the bytes stay in the
    // buffer until the next request, and the waiting host hears ok = false.
    QFile file(m_fileName);
    bool ok = !m_fileName.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (ok) {
        ok = file.write(m_buffer) == m_buffer.size();
        file.close();
        ok = ok && file.error() == QFileDevice::NoError;
    }
    Q_EMIT logFileRead(ok && !m_truncated, m_fileName, m_buffer.size());
}
