#include "RawDataUnpacker_v2.h"

#include "QxtLogger.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

const char *const kTag = "[DRAVIK.RawDataUnpacker]:";

// Hardware channels of the 32-bit groups: the eight digital channels in bit
// order, then the analog one. Group 2's upper bits run backwards.
const int kGroupChannels[4][9] = {
    {9, 10, 11, 12, 13, 14, 15, 16, 8},
    {17, 18, 19, 20, 24, 23, 22, 21, 5},
    {25, 26, 27, 28, 29, 30, 31, 32, 6},
    {33, 34, 35, 36, 37, 38, 39, 40, 7},
};

constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale8 = 1.0f / 128.0f;
constexpr float kScale32 = 1.0f / 2147483648.0f;

} // namespace

RawDataUnpacker_v2::RawDataUnpacker_v2()
    : QObject(nullptr)
{
}

int RawDataUnpacker_v2::groupOf(int channelId)
{
    if (channelId == 0 || channelId == 3 || channelId == 4)
        return 0;
    for (int group = 1; group <= 4; ++group) {
        for (int channel : kGroupChannels[group - 1]) {
            if (channel == channelId)
                return group;
        }
    }
    return -1;
}

void RawDataUnpacker_v2::onSetGainCompensation(bool useGainCompensation)
{
    m_useGainCompensation = useGainCompensation;
}

void RawDataUnpacker_v2::onPass(int marker, bool flag)
{
    Q_EMIT passed(marker, flag);
}

float RawDataUnpacker_v2::gainFactor(qint16 gainCode)
{
    const auto it = m_gainFactors.constFind(gainCode);
    if (it != m_gainFactors.constEnd())
        return it.value();
    const float factor = std::pow(10.0f, (float(gainCode) * 0.00390625f) / -20.0f);
    m_gainFactors.insert(gainCode, factor);
    return factor;
}

void RawDataUnpacker_v2::onUnpackData(QByteArray datagram)
{
    const int size = datagram.size();
    if (size < kHeaderSize) {
        if (size >= 2)
            QxtLogger::getInstance()->debug(kTag, "invalid packet", datagram.toHex());
        return;
    }
    const auto *d = reinterpret_cast<const uchar *>(datagram.constData());
    const Header header{d[0],
                        d[1],
                        qFromLittleEndian<qint16>(d + 4),
                        qFromLittleEndian<qint16>(d + 6),
                        qFromLittleEndian<quint64>(d + 8),
                        qFromLittleEndian<quint64>(d + 16)};
    const uchar *samples = d + kHeaderSize;
    const int bytes = size - kHeaderSize;

    if (header.group == 0) {
        if (header.layout == 0)
            unpack16(header, samples, bytes);
        else
            unpack8Pairs(header, samples, bytes);
    } else if (header.group <= 4) {
        unpack32(header, kGroupChannels[header.group - 1], samples, bytes);
    } else {
        QxtLogger::getInstance()->debug(kTag, "invalid channel", header.group);
    }
}

void RawDataUnpacker_v2::terminate(const Header &header, std::initializer_list<int> channels)
{
    for (int channel : channels)
        Q_EMIT channelDataTermination(channel, header.triggerTimeStamp, header.packetTimeStamp);
}

float RawDataUnpacker_v2::compensation(qint16 gainCode)
{
    return m_useGainCompensation ? gainFactor(gainCode) : 1.0f;
}

void RawDataUnpacker_v2::unpack16(const Header &header, const uchar *samples, int bytes)
{
    const int n = bytes / 2;
    if (n < 1) {
        terminate(header, {0});
        return;
    }
    // Scale and gain in one pass (see unpack32); a second pass over the block
    // for the gain cost as much again.
    QByteArray block(n * int(sizeof(float)), Qt::Uninitialized);
    auto *out = reinterpret_cast<float *>(block.data());
    const float factor = compensation(header.gainA);
    for (int i = 0; i < n; ++i)
        out[i] = (float(qFromLittleEndian<qint16>(samples + 2 * i)) * kScale16) * factor;
    Q_EMIT channelData(0, header.triggerTimeStamp, header.packetTimeStamp, block);
}

void RawDataUnpacker_v2::unpack8Pairs(const Header &header, const uchar *samples, int bytes)
{
    const int n = bytes / 2;
    if (n < 1) {
        terminate(header, {3, 4});
        return;
    }
    QByteArray first(n * int(sizeof(float)), Qt::Uninitialized);
    QByteArray second(n * int(sizeof(float)), Qt::Uninitialized);
    auto *a = reinterpret_cast<float *>(first.data());
    auto *b = reinterpret_cast<float *>(second.data());
    const float factorA = compensation(header.gainA);
    const float factorB = compensation(header.gainB);
    for (int i = 0; i < n; ++i) {
        a[i] = (float(qint8(samples[2 * i])) * kScale8) * factorA;
        b[i] = (float(qint8(samples[2 * i + 1])) * kScale8) * factorB;
    }
    Q_EMIT channelData(3, header.triggerTimeStamp, header.packetTimeStamp, first);
    Q_EMIT channelData(4, header.triggerTimeStamp, header.packetTimeStamp, second);
}

void RawDataUnpacker_v2::unpack32(const Header &header, const int *channels, const uchar *samples, int bytes)
{
    const int n = bytes / 4;
    if (n < 1) {
        for (int k = 0; k < 9; ++k)
            Q_EMIT channelDataTermination(channels[k], header.triggerTimeStamp, header.packetTimeStamp);
        m_logGain = true;
        return;
    }
    // All eight bit planes in one pass over the words: the low bytes of eight
    // consecutive words go into one 64-bit value (byte j from word j), and for
    // plane k that value shifted right by k, with bit 0 of each byte kept,
    // is eight finished samples in one store. Far cheaper than eight passes
    // of one bit each.
    constexpr quint64 kBit0OfEachByte = Q_UINT64_C(0x0101010101010101);
    QByteArray planes[8];
    uchar *bits[8];
    for (int k = 0; k < 8; ++k) {
        planes[k] = QByteArray(n, Qt::Uninitialized);
        bits[k] = reinterpret_cast<uchar *>(planes[k].data());
    }
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 low = 0;
        for (int j = 0; j < 8; ++j)
            low |= quint64(samples[4 * (i + j)]) << (8 * j);
        for (int k = 0; k < 8; ++k)
            qToLittleEndian<quint64>((low >> k) & kBit0OfEachByte, bits[k] + i);
    }
    for (; i < n; ++i) {
        const uchar low = samples[4 * i];
        for (int k = 0; k < 8; ++k)
            bits[k][i] = uchar((low >> k) & 1u);
    }
    for (int k = 0; k < 8; ++k)
        Q_EMIT channelData(channels[k], header.triggerTimeStamp, header.packetTimeStamp, planes[k]);

    // Scale and gain in one pass, still rounded as two multiplications; with
    // compensation off the factor is 1, which changes nothing.
    QByteArray analog(n * int(sizeof(float)), Qt::Uninitialized);
    auto *values = reinterpret_cast<float *>(analog.data());
    const float factor = compensation(header.gainA);
    for (i = 0; i < n; ++i)
        values[i] = (float(qFromLittleEndian<qint32>(samples + 4 * i)) * kScale32) * factor;
    if (m_useGainCompensation && m_logGain) {
        QxtLogger::getInstance()->debug(kTag, "gain", float(header.gainA) / 256.0f, factor);
        m_logGain = false;
    }
    Q_EMIT channelData(channels[8], header.triggerTimeStamp, header.packetTimeStamp, analog);
}
