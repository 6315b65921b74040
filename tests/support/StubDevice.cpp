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

ChannelData StubDevice::takeChannelData(int, int, bool *ok)
{
    if (ok)
        *ok = false;
    return ChannelData();
}

QVariantHash StubDevice::settings() const
{
    QVariantHash hash;
    if (!m_serial.isEmpty())
        hash.insert(QStringLiteral("SerialNumber"), m_serial);
    return hash;
}
