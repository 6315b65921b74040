#pragma once

// Qlp frame engine: cuts the detector's byte stream into frames and builds
// outgoing request frames.
//
// Plain C++17 on purpose, no Qt: the fuzz target and standalone tools drive it
// directly, and QlpConverter_v2 wraps it for the protocol thread. All state
// lives in one memory block the caller provides, so neither receiving nor
// sending allocates anything.
//
// Wire format, every 16-bit field little-endian, no marker, no checksum:
//
//   request  (plug-in -> detector): header(2) length(2) payload(length)
//   response (detector -> plug-in): header(2) ack(2) state(2) length(2) payload(length)
//
//   header: bits 0-7 command, bits 8-14 group, bit 15 set on responses only.
//
// An instance is not thread-safe and receive() must not be re-entered from
// inside a handler (send() from inside the response handler is fine: the send
// and receive buffers are separate).

#include <cstddef>
#include <cstdint>

namespace qlp {

enum Result : int {
    Ok = 0,
    PayloadTooLong = 2,
    InvalidArgument = 3,
    HandlerMissing = 4,
    // The byte loop's "input used up" outcome. receive() turns it into Ok or
    // Incomplete before returning, so callers never see it: a non-empty input
    // always either ends on a completed frame or leaves a partial one behind,
    // and an empty input is an argument error (InvalidArgument), not
    // "nothing to parse". Kept so every code of the protocol has a name.
    NothingToParse = 6,
    Incomplete = 7,
    NotAResponse = 9,
    TransmitFailed = 10,
};

constexpr std::size_t kMaxPayload = 0xFFFF;
constexpr std::size_t kRequestHeaderSize = 4;
constexpr std::size_t kResponseHeaderSize = 8;
// Smallest block init() accepts. The instance fits with room to spare for
// aligning it inside a block that starts at an odd address.
constexpr std::size_t kMinMemorySize = 131152;

struct Codec;

// Returns 0 when the frame went out; anything else makes send() return
// TransmitFailed.
using TransmitHandler = int (*)(const unsigned char *frame, std::size_t length, void *user);

// Called once per complete response. payload points into the codec's receive
// buffer, or straight into receive()'s input when the whole frame arrived in
// one piece, and is valid only during the call; it is never null, even when
// length is 0.
// A non-zero return ends the receive() call with that value.
using ResponseHandler = int (*)(Codec *codec, std::uint8_t group, std::uint8_t command,
                                std::uint16_t ackCode, std::uint16_t stateCode,
                                const unsigned char *payload, std::size_t length, void *user);

// Places an instance inside memory and returns it, or null when memory is null
// or smaller than kMinMemorySize. Handlers start unset, the receive state empty.
// The block must outlive the instance; nothing needs to be freed.
Codec *init(void *memory, std::size_t size);

// Both return InvalidArgument for a null codec, else Ok. A null handler unsets
// the slot.
int setTransmitHandler(Codec *codec, TransmitHandler handler);
int setResponseHandler(Codec *codec, ResponseHandler handler);

// Parses length bytes. The state persists between calls, so a frame may arrive
// in any number of pieces.
//
//   Ok               every byte consumed, every completed frame delivered, no
//                    partial frame left
//   Incomplete       the input ended inside a frame; it is kept for the next call
//   NotAResponse     a complete frame without the response bit; it and the rest
//                    of this input are dropped and the next call starts afresh
//   handler's value  the response handler failed; that frame counts as
//                    delivered, the rest of this input is dropped and the next
//                    call starts afresh
//   InvalidArgument  null codec, null data or length 0; the state is untouched
//   HandlerMissing   transmit or response handler unset; the state is untouched
//
// A frame counts as complete once its payload is in and either another byte
// follows or the input ends, so a zero-length payload is legal and a frame
// whose last byte ends the input is delivered by this call, not the next.
int receive(Codec *codec, const unsigned char *data, std::size_t length, void *user);

// Builds header(group << 8 | command), length and payload into the send
// buffer and hands 4 + length bytes to the transmit handler.
//
//   InvalidArgument  null codec, payload null while length > 0, or group above
//                    0x7F (bit 15 would turn the request into a response)
//   PayloadTooLong   length above kMaxPayload
//   HandlerMissing   no transmit handler
//   TransmitFailed   the transmit handler returned non-zero
int send(Codec *codec, std::uint8_t group, std::uint8_t command, const unsigned char *payload,
         std::size_t length, void *user);

// Drops a partly received frame, so that a new connection does not glue its
// first bytes onto the tail of the previous one.
void resetReceive(Codec *codec);

} // namespace qlp
