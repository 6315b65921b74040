#pragma once

#include "SimScenario.h"
#include "SimSignalModel.h"

#include <QByteArray>

// The answer to one transfer request: the raw data packets of one frame, each
// wrapped in its own 0x0F5B response, followed by a termination packet (header
// only) that closes the frame.
//
// Packet layout (little-endian): group u8, layout u8, sequence u16 (the
// packet's number within the frame, for anyone reading a capture; the host does
// not read it), gain A i16 and gain B i16 in 1/256 dB, trigger time u64 and
// packet time u64 in device nanoseconds, then the samples. A packet's time is
// that of its first sample; the termination packet carries the frame's end, so
// it is later than every packet it closes.
//
// Samples are synthesised packet by packet as the connection takes them, so a
// frame of tens of megabytes costs one packet of memory.
class SimPacketStream
{
public:
    struct Frame
    {
        quint8 group = 0;
        qint64 triggerNs = 0;
        qint64 startNs = 0;
        int samples = 0;
        SimScenario scenario;
        SimSignalModel::FrontEnd frontEnd;
    };

    static constexpr int kPacketHeaderSize = 24;
    // Packets stay inside one frame's 65535-byte payload, with whole samples in
    // multiples of eight.
    static int maxSamplesPerPacket(int group);

    // maxSamples: samples per packet, clamped to 1..maxSamplesPerPacket(group);
    // 0 for the largest.
    explicit SimPacketStream(const Frame &frame, int maxSamples = 0);

    int group() const { return m_frame.group; }
    const Frame &frame() const { return m_frame; }
    qint64 endNs() const;
    // Packets including the termination packet.
    int packetCount() const;
    bool atEnd() const { return m_terminated; }

    // The next complete response frame (8-byte response header, packet); empty
    // once the termination packet has gone.
    QByteArray nextResponse(quint16 stateCode);

private:
    Frame m_frame;
    SimSignalModel m_model;
    int m_maxSamples;
    int m_sentSamples = 0;
    quint16 m_sequence = 0;
    bool m_terminated = false;
};
