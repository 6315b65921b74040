#include "SimFrameCodec.h"

#include "SimByteOrder.h"

#include <algorithm>

QVector<SimFrameCodec::Request> SimFrameCodec::feed(const char *data, int size)
{
    QVector<Request> requests;
    int pos = 0;
    while (pos < size) {
        // Complete the header first, then the payload, copying no more than the
        // current frame needs: the rest of the input may be the next frame.
        const int available = size - pos;
        if (m_buffer.size() < kRequestHeaderSize) {
            const int take = qMin(kRequestHeaderSize - m_buffer.size(), available);
            m_buffer.append(data + pos, take);
            pos += take;
            if (m_buffer.size() < kRequestHeaderSize)
                break;
        }
        const int length = simbytes::u16(m_buffer, 2);
        const int missing = length - (m_buffer.size() - kRequestHeaderSize);
        const int take = qMin(missing, size - pos);
        m_buffer.append(data + pos, take);
        pos += take;
        if (take < missing)
            break;

        const quint16 header = simbytes::u16(m_buffer, 0);
        if (header & kResponseBit) {
            ++m_malformed;
        } else {
            Request request;
            request.command = header;
            request.payload = m_buffer.mid(kRequestHeaderSize);
            requests.append(request);
        }
        m_buffer.clear();
    }
    return requests;
}

void SimFrameCodec::reset()
{
    m_buffer.clear();
    m_malformed = 0;
}

QByteArray SimFrameCodec::encodeResponse(quint16 command, quint16 ack, quint16 state, const QByteArray &payload)
{
    if (payload.size() > kMaxPayload)
        return QByteArray();
    QByteArray frame(kResponseHeaderSize + payload.size(), Qt::Uninitialized);
    writeResponseHeader(frame.data(), command, ack, state, quint16(payload.size()));
    std::copy(payload.cbegin(), payload.cend(), frame.begin() + kResponseHeaderSize);
    return frame;
}

void SimFrameCodec::writeResponseHeader(char *dst, quint16 command, quint16 ack, quint16 state, quint16 length)
{
    simbytes::store<quint16>(dst, quint16(command | kResponseBit));
    simbytes::store<quint16>(dst + 2, ack);
    simbytes::store<quint16>(dst + 4, state);
    simbytes::store<quint16>(dst + 6, length);
}
