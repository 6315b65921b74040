#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <initializer_list>

// Turns one raw measurement packet into per-channel sample blocks: analog
// channels as little-endian float32 normalised to [-1, 1), optionally with the
// front-end gain undone, digital channels as one byte 0/1 per sample. A packet
// without samples ends the current transfer of its channels.
//
// Runs on a thread of its own; packets arrive queued, in order.
class RawDataUnpacker_v2 : public QObject
{
    Q_OBJECT

public:
    static constexpr int kHeaderSize = 24;

    RawDataUnpacker_v2();

    // The channel group (0 to 4) whose packets carry hardware channel
    // channelId, -1 for none.
    static int groupOf(int channelId);

    // The factor that undoes a front-end gain given in 1/256 dB (cached).
    float gainFactor(qint16 gainCode);

public Q_SLOTS:
    void onUnpackData(QByteArray datagram);
    void onSetGainCompensation(bool useGainCompensation);
    // Passes a marker through the queue of packets: passed() comes after the
    // blocks of every packet that was queued before it.
    void onPass(int marker, bool flag);

Q_SIGNALS:
    void passed(int marker, bool flag);
    void channelData(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp, QByteArray data);
    void channelDataTermination(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp);

private:
    struct Header
    {
        quint8 group;
        quint8 layout;
        qint16 gainA;
        qint16 gainB;
        quint64 triggerTimeStamp;
        quint64 packetTimeStamp;
    };

    void unpack16(const Header &header, const uchar *samples, int bytes);
    void unpack8Pairs(const Header &header, const uchar *samples, int bytes);
    void unpack32(const Header &header, const int *channels, const uchar *samples, int bytes);
    // The gain factor of gainCode while compensation is on, else 1. Every
    // analog conversion multiplies by it in the same pass as the scale; the
    // scales are powers of two, so the result is bit for bit that of a
    // separate in-place pass over the block.
    float compensation(qint16 gainCode);
    void terminate(const Header &header, std::initializer_list<int> channels);

    bool m_useGainCompensation = true;
    // The gain of the first packet, and of the first after each end of a
    // 32-bit transfer, is logged once; per unpacker, so per device.
    bool m_logGain = true;
    QHash<qint16, float> m_gainFactors;
};
