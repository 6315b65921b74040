#include "StubDevice.h"

StubDevice::StubDevice(QObject *parent)
    : AbstractDevice(parent)
{
}

void StubDevice::simulateOpened()
{
    m_openState = 2;
    Q_EMIT opened();
}

void StubDevice::simulateClosed(int status)
{
    m_openState = 0;
    Q_EMIT closed(status);
}

int StubDevice::setValue(int id, const QVariant &v)
{
    m_values.insert(id, v);
    Q_EMIT valueSet(id, v);
    return 0;
}

int StubDevice::announce(int channelId, const ChannelData &chunk)
{
    const int token = m_nextToken++;
    ChannelData stored = chunk;
    stored.channelId = channelId;
    m_chunks.insert(token, stored);
    Q_EMIT channelDataAvailable(channelId, token);
    return token;
}

ChannelData StubDevice::takeChannelData(int, int token, bool *ok)
{
    const ChannelData chunk = m_chunks.take(token);
    if (ok)
        *ok = !chunk.isEmpty();
    return chunk;
}

QVariantHash StubDevice::settings() const
{
    QVariantHash hash;
    if (!m_serial.isEmpty())
        hash.insert(QStringLiteral("SerialNumber"), m_serial);
    return hash;
}
