#include "SimPacketStream.h"

#include "SimByteOrder.h"
#include "SimFrameCodec.h"
#include "SimProtocol.h"

int SimPacketStream::maxSamplesPerPacket(int group)
{
    const int room = (SimFrameCodec::kMaxPayload - kPacketHeaderSize) / SimSignalModel::sampleBytes(group);
    return room - room % 8;
}

SimPacketStream::SimPacketStream(const Frame &frame, int maxSamples)
    : m_frame(frame)
    , m_model(frame.scenario, frame.frontEnd)
    , m_maxSamples(maxSamples <= 0 ? maxSamplesPerPacket(frame.group)
                                   : qMin(maxSamples, maxSamplesPerPacket(frame.group)))
{
}

qint64 SimPacketStream::endNs() const
{
    return m_frame.startNs + qint64(m_frame.samples) * SimSignalModel::samplePeriodNs(m_frame.group);
}

int SimPacketStream::packetCount() const
{
    return (m_frame.samples + m_maxSamples - 1) / m_maxSamples + 1;
}

QByteArray SimPacketStream::nextResponse(quint16 stateCode)
{
    if (m_terminated)
        return QByteArray();
    const int group = m_frame.group;
    const int samples = qMin(m_maxSamples, m_frame.samples - m_sentSamples);
    const int dataBytes = samples * SimSignalModel::sampleBytes(group);
    const int payloadSize = kPacketHeaderSize + dataBytes;
    const qint64 dtNs = SimSignalModel::samplePeriodNs(group);
    const qint64 packetNs = samples > 0 ? m_frame.startNs + qint64(m_sentSamples) * dtNs : endNs();

    QByteArray response(SimFrameCodec::kResponseHeaderSize + payloadSize, Qt::Uninitialized);
    SimFrameCodec::writeResponseHeader(response.data(), SimProtocol::TransferData, SimProtocol::AckOk, stateCode,
                                       quint16(payloadSize));
    char *packet = response.data() + SimFrameCodec::kResponseHeaderSize;
    packet[0] = char(group);
    packet[1] = char(group == SimProtocol::GroupMuxer ? m_model.muxerLayout() : 0);
    simbytes::store<quint16>(packet + 2, m_sequence++);
    simbytes::store<qint16>(packet + 4, m_model.gainCode(group, 0));
    simbytes::store<qint16>(packet + 6, m_model.gainCode(group, 1));
    simbytes::store<quint64>(packet + 8, quint64(m_frame.triggerNs));
    simbytes::store<quint64>(packet + 16, quint64(packetNs));
    if (samples > 0) {
        m_model.fill(group, packetNs, samples, packet + kPacketHeaderSize);
        m_sentSamples += samples;
    } else {
        m_terminated = true;
    }
    return response;
}
