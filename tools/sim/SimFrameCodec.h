#pragma once

#include <QByteArray>
#include <QVector>

// The detector's side of the Qlp frame layer, free of sockets so that tests
// and the server feed it the same way.
//
// Requests arrive as [command u16][length u16][payload]; responses leave as
// [command | 0x8000 u16][ack u16][state u16][length u16][payload], all
// little-endian, with no marker and no checksum: the length field alone keeps
// the stream in step. A request carrying the response bit is still cut at its
// length (so the stream stays in step) but reported as malformed.
class SimFrameCodec
{
public:
    static constexpr int kRequestHeaderSize = 4;
    static constexpr int kResponseHeaderSize = 8;
    static constexpr int kMaxPayload = 0xFFFF;
    static constexpr quint16 kResponseBit = 0x8000;

    struct Request
    {
        quint16 command = 0;
        QByteArray payload;
    };

    // Appends bytes and returns every request they complete, in order. A partial
    // frame stays buffered for the next call; the buffer never holds more than
    // one frame (at most 4 + 65535 bytes).
    QVector<Request> feed(const char *data, int size);
    QVector<Request> feed(const QByteArray &data) { return feed(data.constData(), data.size()); }

    // Frames that carried the response bit and were dropped.
    int malformedFrames() const { return m_malformed; }
    // Bytes of a partly received frame.
    int bufferedBytes() const { return m_buffer.size(); }
    void reset();

    // An empty array when the payload does not fit the 16-bit length field.
    static QByteArray encodeResponse(quint16 command, quint16 ack, quint16 state, const QByteArray &payload);
    // The 8 header bytes of a response, for writers that build the payload in
    // place behind it (raw data packets) instead of copying it in.
    static void writeResponseHeader(char *dst, quint16 command, quint16 ack, quint16 state, quint16 length);

private:
    QByteArray m_buffer;
    int m_malformed = 0;
};
