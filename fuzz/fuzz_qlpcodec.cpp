// Fuzz target for the Qlp frame parser (link/QlpCodec).
//
// Input: byte 0 picks how many cut-control bytes follow (its low 3 bits, 0 to
// 7); the rest is the byte stream from the detector. The control bytes give
// the sizes of the reads the stream is cut into (size = byte + 1, cycling);
// with none, the stream arrives one byte per read.
//
// Beyond not crashing, every input must satisfy:
//  1. one write: the result is 0, 7 or 9, and the delivered responses,
//     encoded again, are exactly the start of the stream; what is left is all
//     of it for 0, an unfinished frame for 7, a complete frame without the
//     response bit for 9;
//  2. the same stream cut into reads gives the same responses and the same
//     final result (stopping at the first read that fails, as the link does);
//  3. each delivered response, encoded and fed to a fresh parser, comes back
//     as the same single response with result 0;
//  4. sending its group, command and payload produces the request layout.
#include "QlpCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Frame
{
    std::uint8_t group;
    std::uint8_t command;
    std::uint16_t ack;
    std::uint16_t state;
    std::vector<unsigned char> payload;

    bool operator==(const Frame &other) const
    {
        return group == other.group && command == other.command && ack == other.ack && state == other.state
            && payload == other.payload;
    }
};

using Frames = std::vector<Frame>;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_qlpcodec: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

int onTransmit(const unsigned char *frame, std::size_t length, void *user)
{
    static_cast<std::vector<unsigned char> *>(user)->assign(frame, frame + length);
    return 0;
}

int onResponse(qlp::Codec *, std::uint8_t group, std::uint8_t command, std::uint16_t ack, std::uint16_t state,
               const unsigned char *payload, std::size_t length, void *user)
{
    check(payload != nullptr, "null payload pointer");
    check(length <= qlp::kMaxPayload, "payload longer than the length field allows");
    check(group <= 0x7F, "group wider than 7 bits");
    static_cast<Frames *>(user)->push_back(Frame{group, command, ack, state, {payload, payload + length}});
    return 0;
}

void appendU16le(std::vector<unsigned char> &out, std::uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

std::vector<unsigned char> encodeResponse(const Frame &frame)
{
    std::vector<unsigned char> out;
    appendU16le(out, static_cast<std::uint16_t>(0x8000 | (frame.group << 8) | frame.command));
    appendU16le(out, frame.ack);
    appendU16le(out, frame.state);
    appendU16le(out, static_cast<std::uint16_t>(frame.payload.size()));
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    return out;
}

// One parser, set up once; each use starts from an empty receive state.
struct Parser
{
    Parser()
        : memory(qlp::kMinMemorySize)
        , codec(qlp::init(memory.data(), memory.size()))
    {
        check(codec != nullptr, "init refused the minimum block");
        qlp::setTransmitHandler(codec, &onTransmit);
        qlp::setResponseHandler(codec, &onResponse);
    }

    int feed(const unsigned char *data, std::size_t length, Frames &frames)
    {
        return qlp::receive(codec, data, length, &frames);
    }

    std::vector<unsigned char> memory;
    qlp::Codec *codec;
};

Parser &parser()
{
    static Parser instance;
    qlp::resetReceive(instance.codec);
    return instance;
}

// 1. The whole stream as one write, and what the result says about the rest.
int checkOneWrite(const unsigned char *stream, std::size_t size, Frames &frames)
{
    const int result = parser().feed(stream, size, frames);
    if (size == 0) {
        check(result == qlp::InvalidArgument && frames.empty(), "empty input not refused");
        return result;
    }
    check(result == qlp::Ok || result == qlp::Incomplete || result == qlp::NotAResponse, "unexpected result");

    std::size_t used = 0;
    for (const Frame &frame : frames) {
        const std::vector<unsigned char> bytes = encodeResponse(frame);
        check(bytes.size() <= size - used, "responses cover more than the stream");
        check(std::memcmp(bytes.data(), stream + used, bytes.size()) == 0, "response differs from its bytes");
        used += bytes.size();
    }
    const std::size_t rest = size - used;
    if (result == qlp::Ok) {
        check(rest == 0, "result 0 with bytes left over");
    } else if (result == qlp::Incomplete) {
        // The tail alone must again be an unfinished frame and nothing else.
        Frames none;
        check(rest > 0, "result 7 without a tail");
        check(parser().feed(stream + used, rest, none) == qlp::Incomplete && none.empty(), "tail is not partial");
    } else {
        // A request header is 4 bytes; bit 15 sits in the second byte.
        check(rest >= 4, "result 9 before a whole header");
        check((stream[used + 1] & 0x80) == 0, "result 9 for a response header");
        const std::size_t length = stream[used + 2] | (stream[used + 3] << 8);
        check(length <= rest - 4, "result 9 before the frame was complete");
    }
    return result;
}

// 2. The same stream in reads cut where the control bytes say.
void checkSplit(const unsigned char *cuts, std::size_t cutCount, const unsigned char *stream, std::size_t size,
                const Frames &expectedFrames, int expectedResult)
{
    if (size == 0)
        return;
    Parser &p = parser();
    Frames frames;
    int result = qlp::Ok;
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < size; ++i) {
        const std::size_t want = cutCount ? std::size_t(cuts[i % cutCount]) + 1 : 1;
        const std::size_t take = want < size - pos ? want : size - pos;
        result = p.feed(stream + pos, take, frames);
        pos += take;
        if (result != qlp::Ok && result != qlp::Incomplete)
            break;
    }
    check(result == expectedResult, "split reads end with another result");
    check(frames == expectedFrames, "split reads deliver other responses");
}

// 3 and 4. Each response through a fresh parser, and its fields through send.
void checkRoundTrip(const Frames &frames)
{
    for (const Frame &frame : frames) {
        const std::vector<unsigned char> bytes = encodeResponse(frame);
        Frames again;
        check(parser().feed(bytes.data(), bytes.size(), again) == qlp::Ok, "re-encoded response not accepted");
        check(again.size() == 1 && again.front() == frame, "re-encoded response parsed differently");

        std::vector<unsigned char> sent;
        Parser &p = parser();
        check(qlp::send(p.codec, frame.group, frame.command, frame.payload.data(), frame.payload.size(), &sent)
                  == qlp::Ok,
              "send refused a valid request");
        check(sent.size() == qlp::kRequestHeaderSize + frame.payload.size(), "request length");
        check(sent[0] == frame.command && sent[1] == frame.group, "request header");
        const std::size_t length = frame.payload.size();
        check(sent[2] == static_cast<unsigned char>(length & 0xFF) && sent[3] == static_cast<unsigned char>(length >> 8),
              "request length field");
        check(std::equal(frame.payload.begin(), frame.payload.end(), sent.begin() + 4), "request payload");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t cutCount = data[0] & 7;
    if (size - 1 < cutCount)
        return 0;
    const unsigned char *cuts = data + 1;
    const unsigned char *stream = cuts + cutCount;
    const std::size_t streamSize = size - 1 - cutCount;

    Frames frames;
    // A stream of size 0 still goes through checkOneWrite, which expects the
    // empty read to be refused; a null pointer would be refused for another
    // reason, so pass a real one.
    const int result = checkOneWrite(streamSize ? stream : data, streamSize, frames);
    checkSplit(cuts, cutCount, stream, streamSize, frames, result);
    checkRoundTrip(frames);
    return 0;
}
