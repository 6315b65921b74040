#include "SimTestClient.h"

#include <QHostAddress>
#include <QtEndian>

SimTestClient::SimTestClient(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &SimTestClient::onReadyRead);
}

bool SimTestClient::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    return m_socket.waitForConnected(5000);
}

void SimTestClient::send(quint16 command, const QByteArray &payload)
{
    QByteArray frame(4, '\0');
    qToLittleEndian<quint16>(command, frame.data());
    qToLittleEndian<quint16>(quint16(payload.size()), frame.data() + 2);
    m_socket.write(frame + payload);
}

void SimTestClient::onReadyRead()
{
    const QByteArray bytes = m_socket.readAll();
    received.append(bytes);
    if (rawOnly)
        return;
    m_buffer.append(bytes);
    int offset = 0;
    while (m_buffer.size() - offset >= 8) {
        const char *head = m_buffer.constData() + offset;
        const int length = qFromLittleEndian<quint16>(head + 6);
        if (m_buffer.size() - offset - 8 < length)
            break;
        responses.append({quint16(qFromLittleEndian<quint16>(head) & 0x7FFF), qFromLittleEndian<quint16>(head + 2),
                          qFromLittleEndian<quint16>(head + 4), m_buffer.mid(offset + 8, length)});
        offset += 8 + length;
    }
    m_buffer.remove(0, offset);
}
