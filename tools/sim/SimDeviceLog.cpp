#include "SimDeviceLog.h"

SimDeviceLog::SimDeviceLog(int capacity)
    : m_capacity(qMax(1, capacity))
{
}

void SimDeviceLog::append(qint64 deviceTimeNs, const QString &line)
{
    const qint64 micros = deviceTimeNs / 1000;
    m_text.append(QStringLiteral("[%1.%2] %3\n")
                      .arg(micros / 1000000, 6)
                      .arg(micros % 1000000, 6, 10, QLatin1Char('0'))
                      .arg(line)
                      .toUtf8());
    trim();
}

void SimDeviceLog::setContents(const QByteArray &text)
{
    m_text = text;
    trim();
}

QVector<QByteArray> SimDeviceLog::pieces(int pieceSize) const
{
    QVector<QByteArray> list;
    const int size = qMax(1, pieceSize);
    for (int pos = 0; pos < m_text.size(); pos += size)
        list.append(m_text.mid(pos, size));
    return list;
}

void SimDeviceLog::trim()
{
    if (m_text.size() <= m_capacity)
        return;
    // Drop whole lines so that the log still starts at a line.
    int cut = m_text.size() - m_capacity;
    const int newline = m_text.indexOf('\n', cut - 1);
    cut = newline < 0 ? cut : newline + 1;
    m_text.remove(0, cut);
}
