#include "ConnectionAddress.h"

#include <QHostAddress>

bool ConnectionAddress::parse(const QString &text, ConnectionAddress *address, QString *error)
{
    const QString trimmed = text.trimmed();
    const int colon = trimmed.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == trimmed.size() - 1) {
        *error = QStringLiteral("'%1' is not HOST:PORT").arg(text);
        return false;
    }
    const QString host = trimmed.left(colon);
    if (host.contains(QLatin1Char(':')) || host.startsWith(QLatin1Char('['))) {
        // The plug-in's connection setting is "host:port", which an IPv6
        // address does not fit; the simulator listens on 127.0.0.1 as well.
        *error = QStringLiteral("'%1': the plug-in connects over IPv4 only; give an IPv4 address or a host name "
                                "(for dravik-sim: 127.0.0.1:PORT)")
                     .arg(text);
        return false;
    }
    if (host.contains(QLatin1Char(' '))) {
        *error = QStringLiteral("'%1' is not HOST:PORT").arg(text);
        return false;
    }
    bool ok = false;
    const uint port = trimmed.mid(colon + 1).toUInt(&ok, 10);
    if (!ok || port == 0 || port > 65535) {
        *error = QStringLiteral("'%1': the port must be a number from 1 to 65535").arg(text);
        return false;
    }
    address->m_host = host;
    address->m_port = quint16(port);
    return true;
}

bool ConnectionAddress::isLoopback() const
{
    if (m_host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress ip;
    // Only a complete dotted quad counts: QHostAddress also reads "127.1"
    // and the like, which the plug-in's socket may take differently.
    if (m_host.count(QLatin1Char('.')) != 3 || !ip.setAddress(m_host))
        return false;
    return ip.protocol() == QAbstractSocket::IPv4Protocol && ip.isLoopback();
}

QString ConnectionAddress::toString() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}
