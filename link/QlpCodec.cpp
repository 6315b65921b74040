#include "QlpCodec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace qlp {

namespace {

// The largest payload plus slack; the documented block size is reckoned with
// this buffer, so keep the two in step.
constexpr std::size_t kReceiveBufferSize = 65544;

struct ReceiveState
{
    unsigned char header[2];
    std::uint8_t headerCount;
    bool response;
    std::uint8_t group;
    std::uint8_t command;
    unsigned char ack[2];
    std::uint8_t ackCount;
    unsigned char state[2];
    std::uint8_t stateCount;
    unsigned char length[2];
    std::uint8_t lengthCount;
    std::uint16_t payloadLength; // valid once lengthCount == 2
    std::uint32_t payloadCount;
    unsigned char payload[kReceiveBufferSize];
};

inline std::uint16_t readU16le(const unsigned char *bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The two fields of a frame header, the same for both directions.
inline std::uint8_t groupOf(std::uint16_t header)
{
    return static_cast<std::uint8_t>((header >> 8) & 0x7F);
}

inline std::uint8_t commandOf(std::uint16_t header)
{
    return static_cast<std::uint8_t>(header & 0xFF);
}

inline void writeU16le(unsigned char *bytes, std::uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

} // namespace

struct Codec
{
    TransmitHandler transmit;
    ResponseHandler response;
    ReceiveState rx;
    unsigned char tx[kRequestHeaderSize + kMaxPayload];
};

// init() may have to skip up to alignof - 1 bytes to align the instance.
static_assert(sizeof(Codec) + alignof(Codec) - 1 <= kMinMemorySize,
              "codec instance no longer fits the documented minimum block");

namespace {

// Clears the counters only. The payload bytes of the previous frame may stay:
// payloadCount says how many are valid, and wiping 64 KiB after every frame
// would cost more than parsing it.
void clearFrame(ReceiveState &rx)
{
    rx.headerCount = 0;
    rx.response = false;
    rx.group = 0;
    rx.command = 0;
    rx.ackCount = 0;
    rx.stateCount = 0;
    rx.lengthCount = 0;
    rx.payloadLength = 0;
    rx.payloadCount = 0;
}

bool frameComplete(const ReceiveState &rx)
{
    return rx.headerCount == 2 && (!rx.response || (rx.ackCount == 2 && rx.stateCount == 2))
        && rx.lengthCount == 2 && rx.payloadCount == rx.payloadLength;
}

// Hands a complete frame on and clears the state for the next one. A frame
// without the response bit is something the detector never sends; it is
// reported, not skipped, because after it nothing in the stream can be trusted
// to sit on a frame boundary.
int deliver(Codec *codec, void *user)
{
    ReceiveState &rx = codec->rx;
    if (!rx.response) {
        clearFrame(rx);
        return NotAResponse;
    }
    const int result = codec->response(codec, rx.group, rx.command, readU16le(rx.ack), readU16le(rx.state),
                                       rx.payload, rx.payloadLength, user);
    clearFrame(rx);
    return result;
}

} // namespace

Codec *init(void *memory, std::size_t size)
{
    if (!memory || size < kMinMemorySize)
        return nullptr;
    void *place = memory;
    std::size_t space = size;
    if (!std::align(alignof(Codec), sizeof(Codec), place, space))
        return nullptr;
    // Default-initialised on purpose: the send buffer is written before every
    // use, so only the handler slots and the receive state are cleared.
    Codec *codec = new (place) Codec;
    codec->transmit = nullptr;
    codec->response = nullptr;
    std::memset(&codec->rx, 0, sizeof codec->rx);
    return codec;
}

int setTransmitHandler(Codec *codec, TransmitHandler handler)
{
    if (!codec)
        return InvalidArgument;
    codec->transmit = handler;
    return Ok;
}

int setResponseHandler(Codec *codec, ResponseHandler handler)
{
    if (!codec)
        return InvalidArgument;
    codec->response = handler;
    return Ok;
}

void resetReceive(Codec *codec)
{
    if (codec)
        clearFrame(codec->rx);
}

int receive(Codec *codec, const unsigned char *data, std::size_t length, void *user)
{
    if (!codec || !data || length == 0)
        return InvalidArgument;
    // Both slots are required even though only the response handler is used
    // here: a codec that can hear but not answer is half set up, and saying
    // so on the first read is better than on the first send.
    if (!codec->transmit || !codec->response)
        return HandlerMissing;

    ReceiveState &rx = codec->rx;
    std::size_t pos = 0;
    while (pos < length) {
        // A finished frame is handed on when the first byte after it shows up,
        // or at the end of this input below, never later: a reply must not wait
        // for the detector's next one to arrive.
        if (frameComplete(rx)) {
            const int result = deliver(codec, user);
            if (result != Ok)
                return result;
            continue;
        }

        // A whole response at a frame boundary goes to the handler straight
        // from the input: data frames are 64 KiB and socket reads hold many
        // of them, so copying each payload into the receive buffer first
        // would double the work. Handed on at once rather than at the next
        // byte or the end of the input, the order and the results stay the same.
        if (rx.headerCount == 0 && length - pos >= kResponseHeaderSize) {
            const unsigned char *frame = data + pos;
            const std::uint16_t header = readU16le(frame);
            const std::size_t payloadLength = readU16le(frame + 6);
            if ((header & 0x8000) != 0 && payloadLength <= length - pos - kResponseHeaderSize) {
                pos += kResponseHeaderSize + payloadLength;
                const int result = codec->response(codec, groupOf(header), commandOf(header), readU16le(frame + 2),
                                                   readU16le(frame + 4), frame + kResponseHeaderSize, payloadLength,
                                                   user);
                if (result != Ok)
                    return result;
                continue;
            }
        }

        if (rx.headerCount < 2) {
            rx.header[rx.headerCount++] = data[pos++];
            if (rx.headerCount == 2) {
                const std::uint16_t header = readU16le(rx.header);
                rx.response = (header & 0x8000) != 0;
                rx.group = groupOf(header);
                rx.command = commandOf(header);
            }
            continue;
        }
        if (rx.response && rx.ackCount < 2) {
            rx.ack[rx.ackCount++] = data[pos++];
            continue;
        }
        if (rx.response && rx.stateCount < 2) {
            rx.state[rx.stateCount++] = data[pos++];
            continue;
        }
        if (rx.lengthCount < 2) {
            rx.length[rx.lengthCount++] = data[pos++];
            if (rx.lengthCount == 2)
                rx.payloadLength = readU16le(rx.length);
            continue;
        }

        // Payload: frameComplete() was false, so at least one byte is missing.
        // Both counts are bounded by what is left, never added to a position.
        const std::size_t missing = rx.payloadLength - rx.payloadCount;
        const std::size_t take = std::min(missing, length - pos);
        std::memcpy(rx.payload + rx.payloadCount, data + pos, take);
        rx.payloadCount += static_cast<std::uint32_t>(take);
        pos += take;
    }

    if (frameComplete(rx))
        return deliver(codec, user);
    // Nothing held back: the input ended with a frame handed on from the input.
    if (rx.headerCount == 0)
        return Ok;
    return Incomplete;
}

int send(Codec *codec, std::uint8_t group, std::uint8_t command, const unsigned char *payload,
         std::size_t length, void *user)
{
    if (!codec || (!payload && length != 0) || group > 0x7F)
        return InvalidArgument;
    if (length > kMaxPayload)
        return PayloadTooLong;
    if (!codec->transmit)
        return HandlerMissing;

    writeU16le(codec->tx, static_cast<std::uint16_t>((group << 8) | command));
    writeU16le(codec->tx + 2, static_cast<std::uint16_t>(length));
    if (length)
        std::memcpy(codec->tx + kRequestHeaderSize, payload, length);
    return codec->transmit(codec->tx, kRequestHeaderSize + length, user) == 0 ? Ok : TransmitFailed;
}

} // namespace qlp
