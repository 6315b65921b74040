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

QByteArray SimTestClient::requestFrame(quint16 command, const QByteArray &payload)
{
    QByteArray frame(4, '\0');
    qToLittleEndian<quint16>(command, frame.data());
    qToLittleEndian<quint16>(quint16(payload.size()), frame.data() + 2);
    return frame + payload;
}

void SimTestClient::send(quint16 command, const QByteArray &payload)
{
    m_socket.write(requestFrame(command, payload));
}

void SimTestClient::onReadyRead()
{
    const QByteArray bytes = m_socket.readAll();
    received.append(bytes);
    if (rawOnly)
        return;
    m_buffer.append(bytes);
    while (m_buffer.size() - m_offset >= 8) {
        const auto *head = reinterpret_cast<const uchar *>(m_buffer.constData()) + m_offset;
        const quint16 header = qFromLittleEndian<quint16>(head);
        const int length = qFromLittleEndian<quint16>(head + 6);
        if (m_buffer.size() - m_offset - 8 < length)
            break;
        Response response;
        response.command = header & 0x7FFF;
        response.ack = qFromLittleEndian<quint16>(head + 2);
        response.state = qFromLittleEndian<quint16>(head + 4);
        response.payload = m_buffer.mid(m_offset + 8, length);
        m_offset += 8 + length;
        if (!(header & 0x8000))
            ++framesWithoutResponseBit;
        responses.append(response);
    }
    m_buffer.remove(0, m_offset);
    m_offset = 0;
    emit responseReceived();
}
