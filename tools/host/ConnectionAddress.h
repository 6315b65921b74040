#pragma once

#include <QString>

// A detector address as the plug-in takes it in its "NetworkAddress" setting:
// "HOST:PORT", where HOST is an IPv4 address or a host name (the plug-in
// splits at the colon, so IPv6 literals cannot be expressed).
//
// Parsing never resolves a name: "localhost" counts as loopback by name, every
// other name counts as remote. That keeps the loopback check free of DNS.
class ConnectionAddress
{
public:
    // False with error set if text is not HOST:PORT with a port of 1 to 65535.
    static bool parse(const QString &text, ConnectionAddress *address, QString *error);

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    // 127.0.0.0/8 or "localhost".
    bool isLoopback() const;
    // The text for the plug-in's setting, "HOST:PORT".
    QString toString() const;

private:
    QString m_host;
    quint16 m_port = 0;
};
