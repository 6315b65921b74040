#include "LoopbackPeer.h"

namespace {
quint16 readU16(const QByteArray &bytes, int offset)
{
    return quint16(quint8(bytes.at(offset)) | (quint8(bytes.at(offset + 1)) << 8));
}

void appendU16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value & 0xFF));
    bytes.append(char(value >> 8));
}
}

LoopbackPeer::LoopbackPeer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            client = socket;
            ++connections;
            m_pending.clear();
            connect(socket, &QTcpSocket::readyRead, this, &LoopbackPeer::onReadyRead);
        }
    });
}

QString LoopbackPeer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort());
}

QByteArray LoopbackPeer::response(quint16 command, quint16 ackCode, quint16 stateCode, const QByteArray &payload)
{
    QByteArray frame;
    appendU16(frame, quint16(command | 0x8000));
    appendU16(frame, ackCode);
    appendU16(frame, stateCode);
    appendU16(frame, quint16(payload.size()));
    return frame + payload;
}

void LoopbackPeer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket)
        return;
    const QByteArray bytes = socket->readAll();
    received += bytes;
    m_pending += bytes;
    // Request frames: command (2), payload length (2), payload.
    while (m_pending.size() >= 4) {
        const int length = readU16(m_pending, 2);
        if (m_pending.size() - 4 < length)
            break;
        const Request request{readU16(m_pending, 0), m_pending.mid(4, length)};
        m_pending.remove(0, 4 + length);
        requests.append(request);
        Q_EMIT requestReceived(request.command, request.payload);
        if (m_responder) {
            const QByteArray answer = m_responder(request);
            if (!answer.isEmpty())
                socket->write(answer);
        }
    }
}
