#pragma once

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qlp {
struct Codec;
}

// Puts a Qlp codec on the protocol thread: bytes from the socket go in through
// receiveData() and come out as receivedResponse(), commands go in through
// sendCommand() and come out as frameToTransmit(). Both signals are emitted
// synchronously from inside those calls.
class QlpConverter_v2 : public QObject
{
    Q_OBJECT

public:
    // withoutCodec: a converter that refuses everything with -1, so that the
    // callers' handling of a dead link can be exercised without a socket.
    explicit QlpConverter_v2(bool withoutCodec = false);
    ~QlpConverter_v2() override;

    bool hasCodec() const { return m_codec != nullptr; }

    // The codec's result (qlp::Result or a handler's value), or -1 without a codec.
    int receiveData(const QByteArray &data);
    // command: group in the high byte, command in the low byte, exactly as the
    // header goes on the wire. The codec's result, or -1 without a codec.
    int sendCommand(quint16 command, const QByteArray &data);
    // Forgets a partly received frame; call it when a new connection starts.
    void resetReceiveState();

signals:
    void frameToTransmit(QByteArray frame);
    void receivedResponse(quint16 cmdGroup, quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData);

private:
    static int transmitHandler(const unsigned char *frame, std::size_t length, void *user);
    static int responseHandler(qlp::Codec *codec, std::uint8_t group, std::uint8_t command, std::uint16_t ackCode,
                               std::uint16_t stateCode, const unsigned char *payload, std::size_t length, void *user);

    // One allocation for the converter's lifetime rather than a member array:
    // 132000 bytes would make the object too big for a stack in tests.
    static constexpr std::size_t kCodecMemorySize = 132000;
    std::unique_ptr<unsigned char[]> m_memory;
    qlp::Codec *m_codec = nullptr;
};
