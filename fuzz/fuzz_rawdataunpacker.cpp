// Fuzz target for the raw packet unpacker (data/RawDataUnpacker_v2).
//
// Input: one raw measurement packet, exactly as a data frame carries it. It is
// unpacked twice, with gain compensation off and on.
//
// Beyond not crashing, every input must satisfy:
//  1. shorter than the header, or a group above 4: nothing is emitted;
//  2. the channels come out in the group's order, all blocks of a packet or
//     all terminations, never both, and always with the header's timestamps;
//  3. with n = (size - 24) / width samples, analog blocks hold 4n bytes and
//     digital blocks n bytes; n = 0 gives the terminations instead;
//  4. digital bytes are 0 or 1 and equal bit k of each word;
//  5. compensation off: every analog value lies in [-1, 1] and equals the
//     sample scaled by 2^-15, 2^-7 or 2^-31; on: the same value times the
//     factor of gain A (gain B for the second 8-bit channel).
#include "RawDataUnpacker_v2.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QVector>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_rawdataunpacker: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// The channel lists of the packet layout, written out again here rather than
// taken from the unpacker.
const int kGroupChannels[4][9] = {
    {9, 10, 11, 12, 13, 14, 15, 16, 8},
    {17, 18, 19, 20, 24, 23, 22, 21, 5},
    {25, 26, 27, 28, 29, 30, 31, 32, 6},
    {33, 34, 35, 36, 37, 38, 39, 40, 7},
};

struct Emission
{
    bool termination;
    int channel;
    quint64 trigger;
    quint64 packet;
    QByteArray data;
};

struct Harness
{
    Harness()
    {
        // Invalid packets log a line each; formatting them is not what is tested.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        qInstallMessageHandler(&silence);
        QObject::connect(&unpacker, &RawDataUnpacker_v2::channelData,
                         [this](int channel, quint64 trigger, quint64 packet, const QByteArray &data) {
                             emissions.append({false, channel, trigger, packet, data});
                         });
        QObject::connect(&unpacker, &RawDataUnpacker_v2::channelDataTermination,
                         [this](int channel, quint64 trigger, quint64 packet) {
                             emissions.append({true, channel, trigger, packet, QByteArray()});
                         });
    }

    RawDataUnpacker_v2 unpacker;
    QVector<Emission> emissions;
};

Harness &harness()
{
    static Harness instance;
    return instance;
}

float analogAt(const QByteArray &block, int i)
{
    return qFromLittleEndian<float>(block.constData() + 4 * i);
}

// 5. One analog block against its samples: raw(i) is the unscaled sample.
template<typename Raw>
void checkAnalog(const QByteArray &block, int n, float scale, bool compensated, float factor, Raw raw)
{
    check(block.size() == 4 * n, "analog block is not 4n bytes");
    for (int i = 0; i < n; ++i) {
        const float v = analogAt(block, i);
        const float expected = float(raw(i)) * scale;
        if (compensated) {
            check(v == expected * factor, "compensated value is not sample times gain factor");
        } else {
            check(v >= -1.0f && v <= 1.0f, "analog value outside [-1, 1]");
            check(v == expected, "analog value is not the scaled sample");
        }
    }
}

void runOnce(const QByteArray &packet, bool compensated)
{
    Harness &h = harness();
    h.emissions.clear();
    h.unpacker.onSetGainCompensation(compensated);
    h.unpacker.onUnpackData(packet);

    // 1.
    const int size = packet.size();
    if (size < RawDataUnpacker_v2::kHeaderSize || quint8(packet.at(0)) > 4) {
        check(h.emissions.isEmpty(), "short packet or unknown group emitted something");
        return;
    }

    const auto *d = reinterpret_cast<const uchar *>(packet.constData());
    const quint8 group = d[0];
    const bool pairs = group == 0 && d[1] != 0;
    const qint16 gainA = qFromLittleEndian<qint16>(d + 4);
    const qint16 gainB = qFromLittleEndian<qint16>(d + 6);
    const quint64 trigger = qFromLittleEndian<quint64>(d + 8);
    const quint64 stamp = qFromLittleEndian<quint64>(d + 16);
    const uchar *samples = d + 24;
    const int width = group == 0 ? 2 : 4;
    const int n = (size - 24) / width;

    QVector<int> channels;
    if (group == 0)
        channels = pairs ? QVector<int>{3, 4} : QVector<int>{0};
    else
        channels = QVector<int>(std::begin(kGroupChannels[group - 1]), std::end(kGroupChannels[group - 1]));

    // 2.
    check(h.emissions.size() == channels.size(), "wrong number of signals for the group");
    for (int c = 0; c < channels.size(); ++c) {
        const Emission &e = h.emissions.at(c);
        check(e.channel == channels.at(c), "channel out of the group's order");
        check(e.termination == (n == 0), "termination and sample count disagree");
        check(e.trigger == trigger && e.packet == stamp, "timestamps differ from the header");
    }
    if (n == 0)
        return;

    // 3.-5.
    if (group == 0 && !pairs) {
        checkAnalog(h.emissions.at(0).data, n, 1.0f / 32768, compensated, h.unpacker.gainFactor(gainA),
                    [&](int i) { return qFromLittleEndian<qint16>(samples + 2 * i); });
    } else if (pairs) {
        checkAnalog(h.emissions.at(0).data, n, 1.0f / 128, compensated, h.unpacker.gainFactor(gainA),
                    [&](int i) { return qint8(samples[2 * i]); });
        checkAnalog(h.emissions.at(1).data, n, 1.0f / 128, compensated, h.unpacker.gainFactor(gainB),
                    [&](int i) { return qint8(samples[2 * i + 1]); });
    } else {
        for (int k = 0; k < 8; ++k) {
            const QByteArray &bits = h.emissions.at(k).data;
            check(bits.size() == n, "digital block is not n bytes");
            for (int i = 0; i < n; ++i) {
                const uchar b = uchar(bits.at(i));
                check(b <= 1, "digital byte other than 0 or 1");
                check(b == ((samples[4 * i] >> k) & 1), "digital byte is not bit k of the word");
            }
        }
        checkAnalog(h.emissions.at(8).data, n, 1.0f / 2147483648.0f, compensated, h.unpacker.gainFactor(gainA),
                    [&](int i) { return qFromLittleEndian<qint32>(samples + 4 * i); });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Data frames carry at most 64 KiB; larger inputs only slow the search.
    if (size > 70000)
        return 0;
    const QByteArray packet(reinterpret_cast<const char *>(data), int(size));
    runOnce(packet, false);
    runOnce(packet, true);
    return 0;
}
