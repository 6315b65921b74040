#include "LogCapture.h"
#include "RawDataUnpacker_v2.h"

#include <QLoggingCategory>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

const quint64 kTrigger = Q_UINT64_C(0x0102030405060708);
const quint64 kPacket = Q_UINT64_C(0x1112131415161718);
const QByteArray kStamps = "0807060504030201 1817161514131211";

constexpr double k2p31 = 2147483648.0;

QByteArray packet(const QByteArray &head, const QByteArray &samples = QByteArray())
{
    return QByteArray::fromHex(head + kStamps + samples);
}

struct Emission
{
    bool termination = false;
    bool analog = false;
    int channel = -1;
    QByteArray bits;         // digital: one byte per sample
    QVector<double> values;  // analog
};

Emission term(int channel)
{
    Emission e;
    e.termination = true;
    e.channel = channel;
    return e;
}

Emission digital(int channel, const char *hex)
{
    Emission e;
    e.channel = channel;
    e.bits = QByteArray::fromHex(hex);
    return e;
}

Emission analog(int channel, QVector<double> values)
{
    Emission e;
    e.analog = true;
    e.channel = channel;
    e.values = std::move(values);
    return e;
}

QString describe(const Emission &e)
{
    return e.termination ? QStringLiteral("end %1").arg(e.channel) : QString::number(e.channel);
}

class Recorder
{
public:
    explicit Recorder(RawDataUnpacker_v2 &unpacker)
    {
        QObject::connect(&unpacker, &RawDataUnpacker_v2::channelData, &m_context,
                         [this](int channel, quint64 trigger, quint64 packet, const QByteArray &data) {
                             stampsOk = stampsOk && trigger == kTrigger && packet == kPacket;
                             Emission e;
                             e.channel = channel;
                             e.bits = data;
                             emissions.append(e);
                         });
        QObject::connect(&unpacker, &RawDataUnpacker_v2::channelDataTermination, &m_context,
                         [this](int channel, quint64 trigger, quint64 packet) {
                             stampsOk = stampsOk && trigger == kTrigger && packet == kPacket;
                             emissions.append(term(channel));
                         });
    }

    QVector<Emission> emissions;
    bool stampsOk = true;

private:
    QObject m_context;
};

bool matches(float actual, double expected, bool exact)
{
    if (exact)
        return double(actual) == expected;
    return std::abs(double(actual) - expected) <= 2e-6 * std::abs(expected);
}

} // namespace

Q_DECLARE_METATYPE(Emission)

class tst_RawDataUnpacker : public QObject
{
    Q_OBJECT

    QScopedPointer<RawDataUnpacker_v2> m_shared;

    void verifyEmissions(const Recorder &recorder, const QVector<Emission> &expected, bool exact)
    {
        QVERIFY(recorder.stampsOk);
        QStringList got;
        for (const Emission &e : recorder.emissions)
            got.append(describe(e));
        QStringList want;
        for (const Emission &e : expected)
            want.append(describe(e));
        QCOMPARE(got, want);

        for (int i = 0; i < expected.size(); ++i) {
            const Emission &want = expected.at(i);
            const QByteArray &block = recorder.emissions.at(i).bits;
            if (want.termination)
                continue;
            if (!want.analog) {
                QCOMPARE(block.toHex(), want.bits.toHex());
                continue;
            }
            QCOMPARE(block.size(), 4 * want.values.size());
            for (int k = 0; k < want.values.size(); ++k) {
                const float v = qFromLittleEndian<float>(block.constData() + 4 * k);
                QVERIFY2(matches(v, want.values.at(k), exact),
                         qPrintable(QStringLiteral("channel %1 sample %2: %3, expected %4")
                                        .arg(want.channel).arg(k).arg(double(v), 0, 'g', 17)
                                        .arg(want.values.at(k), 0, 'g', 17)));
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=true"));
    }

    void gainLogLine_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("compensation");
        QTest::addColumn<QStringList>("lines");

        const QByteArray g1 = packet("01 00 0000 0014 0000", "00000040");
        const QStringList none;
        const QStringList gain20{QStringLiteral("[DRAVIK.RawDataUnpacker]: gain 20 0.1")};

        m_shared.reset(new RawDataUnpacker_v2);
        QTest::newRow("uncompensated first packet logs nothing") << g1 << false << none;
        QTest::newRow("first compensated packet after start-up") << g1 << true << gain20;
        QTest::newRow("next packet") << packet("03 00 0000 0014 0000", "00000040") << true << none;
        QTest::newRow("16-bit end does not re-arm") << packet("00 00 0000 0000 0000") << true << none;
        QTest::newRow("after the 16-bit end") << packet("00 00 0000 0014 0000", "0040") << true << none;
        QTest::newRow("8-bit end does not re-arm") << packet("00 01 0000 0000 0000") << true << none;
        QTest::newRow("after the 8-bit end") << g1 << true << none;
        QTest::newRow("32-bit end re-arms") << packet("04 00 0000 0014 0000", "00") << true << none;
        QTest::newRow("uncompensated packet leaves it armed") << g1 << false << none;
        QTest::newRow("first compensated packet after the end")
            << packet("02 00 0000 00f6 0000", "00000040") << true
            << QStringList{QStringLiteral("[DRAVIK.RawDataUnpacker]: gain -10 3.16228")};
        QTest::newRow("and only once") << packet("02 00 0000 00f6 0000", "00000040") << true << none;
    }

    void gainLogLine()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, compensation);
        QFETCH(QStringList, lines);

        LogCapture log;
        m_shared->onSetGainCompensation(compensation);
        m_shared->onUnpackData(datagram);
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")).filter(QStringLiteral(" gain ")), lines);
    }

    void unpack_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("compensation");
        QTest::addColumn<QVector<Emission>>("expected");

        QTest::newRow("16-bit full scale, trailing odd byte ignored")
            << packet("00 00 beef 0000 0000", "ff7f 0080 0100 0000 aa") << false
            << QVector<Emission>{analog(0, {0.999969482421875, -1.0, 1.0 / 32768, 0.0})};
        QTest::newRow("8-bit pairs de-interleaved")
            << packet("00 02 beef 0000 0000", "7f80 01ff 40") << false
            << QVector<Emission>{analog(3, {0.9921875, 0.0078125}), analog(4, {-1.0, -0.0078125})};
        QTest::newRow("8-bit pairs, layout ff")
            << packet("00 ff beef 0000 0000", "00c0") << false
            << QVector<Emission>{analog(3, {0.0}), analog(4, {-0.5})};
        QTest::newRow("group 1 ignores the layout byte")
            << packet("01 07 beef 0000 0000", "ff000000 00000080 a5000000") << false
            << QVector<Emission>{digital(9, "010001"),  digital(10, "010000"), digital(11, "010001"),
                                 digital(12, "010000"), digital(13, "010000"), digital(14, "010001"),
                                 digital(15, "010000"), digital(16, "010001"),
                                 analog(8, {255 / k2p31, -1.0, 165 / k2p31})};
        QTest::newRow("group 2 upper bits run backwards")
            << packet("02 00 beef 0000 0000", "10000000 80000000") << false
            << QVector<Emission>{digital(17, "0000"), digital(18, "0000"), digital(19, "0000"),
                                 digital(20, "0000"), digital(24, "0100"), digital(23, "0000"),
                                 digital(22, "0000"), digital(21, "0001"),
                                 analog(5, {16 / k2p31, 128 / k2p31})};
        QTest::newRow("group 3, all bits set")
            << packet("03 00 beef 0000 0000", "ffffffff") << false
            << QVector<Emission>{digital(25, "01"), digital(26, "01"), digital(27, "01"), digital(28, "01"),
                                 digital(29, "01"), digital(30, "01"), digital(31, "01"), digital(32, "01"),
                                 analog(6, {-1 / k2p31})};
        QTest::newRow("group 3, nine words")
            << packet("03 00 beef 0000 0000",
                      "01000000 02000000 04000000 08000000 10000000 20000000 40000000 80000000 ff000000")
            << false
            << QVector<Emission>{digital(25, "010000000000000001"), digital(26, "000100000000000001"),
                                 digital(27, "000001000000000001"), digital(28, "000000010000000001"),
                                 digital(29, "000000000100000001"), digital(30, "000000000001000001"),
                                 digital(31, "000000000000010001"), digital(32, "000000000000000101"),
                                 analog(6, {1 / k2p31, 2 / k2p31, 4 / k2p31, 8 / k2p31, 16 / k2p31, 32 / k2p31,
                                            64 / k2p31, 128 / k2p31, 255 / k2p31})};
        QTest::newRow("group 4, trailing bytes ignored")
            << packet("04 00 beef 0000 0000", "00000040 02000000 ffffff") << false
            << QVector<Emission>{digital(33, "0000"), digital(34, "0001"), digital(35, "0000"),
                                 digital(36, "0000"), digital(37, "0000"), digital(38, "0000"),
                                 digital(39, "0000"), digital(40, "0000"), analog(7, {0.5, 2 / k2p31})};

        QTest::newRow("16-bit gain A")
            << packet("00 00 0000 0014 00f6", "0040") << true << QVector<Emission>{analog(0, {0.05})};
        QTest::newRow("8-bit gain A first, gain B second")
            << packet("00 01 0000 0014 00f6", "4040") << true
            << QVector<Emission>{analog(3, {0.05}), analog(4, {0.5 * 3.16227766})};
        QTest::newRow("32-bit gain A, digital untouched")
            << packet("02 00 0000 0014 00f6", "10000040") << true
            << QVector<Emission>{digital(17, "00"), digital(18, "00"), digital(19, "00"), digital(20, "00"),
                                 digital(24, "01"), digital(23, "00"), digital(22, "00"), digital(21, "00"),
                                 analog(5, {0.05})};

        QTest::newRow("16-bit header only") << packet("00 00 0000 0000 0000") << true << QVector<Emission>{term(0)};
        QTest::newRow("16-bit with one byte") << packet("00 00 0000 0000 0000", "7f") << true
                                              << QVector<Emission>{term(0)};
        QTest::newRow("8-bit with one byte") << packet("00 05 0000 0000 0000", "7f") << true
                                             << QVector<Emission>{term(3), term(4)};
        QTest::newRow("group 1 header only")
            << packet("01 00 0000 0000 0000") << true
            << QVector<Emission>{term(9), term(10), term(11), term(12), term(13), term(14), term(15), term(16), term(8)};
        QTest::newRow("group 2 header only")
            << packet("02 00 0000 0000 0000") << true
            << QVector<Emission>{term(17), term(18), term(19), term(20), term(24), term(23), term(22), term(21), term(5)};
        QTest::newRow("group 3 with three bytes")
            << packet("03 00 0000 0000 0000", "ffffff") << true
            << QVector<Emission>{term(25), term(26), term(27), term(28), term(29), term(30), term(31), term(32), term(6)};
        QTest::newRow("group 4 with two bytes")
            << packet("04 00 0000 0000 0000", "0102") << true
            << QVector<Emission>{term(33), term(34), term(35), term(36), term(37), term(38), term(39), term(40), term(7)};
    }

    void unpack()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, compensation);
        QFETCH(QVector<Emission>, expected);

        RawDataUnpacker_v2 unpacker;
        Recorder recorder(unpacker);
        unpacker.onSetGainCompensation(compensation);
        unpacker.onUnpackData(datagram);
        verifyEmissions(recorder, expected, !compensation);
    }

    void gainBitExact_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("gainA");
        QTest::addColumn<int>("gainB");
        QTest::addColumn<bool>("compensation");

        QTest::newRow("16-bit, 20 dB") << 0 << 5120 << 0 << true;
        QTest::newRow("16-bit, -10 dB") << 0 << -2560 << 0 << true;
        QTest::newRow("16-bit, uncompensated") << 0 << 5120 << 0 << false;
        QTest::newRow("8-bit pairs, 20 dB and -10 dB") << 1 << 5120 << -2560 << true;
        QTest::newRow("8-bit pairs, uncompensated") << 1 << 5120 << -2560 << false;
    }

    void gainBitExact()
    {
        // Scale and gain are applied in one pass; the result must be bit for
        // bit that of the scaled block multiplied in place afterwards, each
        // channel by its own gain. 1001 sample pairs from the whole range
        // reach the vector loops and their tails.
        QFETCH(int, layout);
        QFETCH(int, gainA);
        QFETCH(int, gainB);
        QFETCH(bool, compensation);

        const int n = 1001;
        QByteArray datagram(RawDataUnpacker_v2::kHeaderSize + 2 * n, '\0');
        auto *d = reinterpret_cast<uchar *>(datagram.data());
        d[1] = uchar(layout);
        qToLittleEndian<qint16>(qint16(gainA), d + 4);
        qToLittleEndian<qint16>(qint16(gainB), d + 6);
        quint32 x = 12345;
        for (int i = 0; i < 2 * n; ++i) {
            x = x * 1103515245u + 12345u;
            d[RawDataUnpacker_v2::kHeaderSize + i] = uchar(x >> 16);
        }
        const uchar *samples = d + RawDataUnpacker_v2::kHeaderSize;

        RawDataUnpacker_v2 reference;
        const auto expect = [&](int stride, int offset, float scale, qint16 gain) {
            const float factor = reference.gainFactor(gain);
            QByteArray block(4 * n, Qt::Uninitialized);
            for (int i = 0; i < n; ++i) {
                const float raw = stride == 2 ? float(qFromLittleEndian<qint16>(samples + 2 * i))
                                              : float(qint8(samples[2 * i + offset]));
                float value = raw * scale;
                if (compensation)
                    value *= factor;
                qToLittleEndian<float>(value, block.data() + 4 * i);
            }
            return block;
        };

        RawDataUnpacker_v2 unpacker;
        unpacker.onSetGainCompensation(compensation);
        QList<QByteArray> blocks;
        QObject context;
        QObject::connect(&unpacker, &RawDataUnpacker_v2::channelData, &context,
                         [&](int, quint64, quint64, const QByteArray &block) { blocks.append(block); });
        unpacker.onUnpackData(datagram);

        const QList<QByteArray> want = layout == 0
            ? QList<QByteArray>{expect(2, 0, 1.0f / 32768, qint16(gainA))}
            : QList<QByteArray>{expect(1, 0, 1.0f / 128, qint16(gainA)), expect(1, 1, 1.0f / 128, qint16(gainB))};
        QCOMPARE(blocks.size(), want.size());
        for (int k = 0; k < want.size(); ++k)
            QVERIFY2(blocks.at(k) == want.at(k), qPrintable(QStringLiteral("block %1 differs").arg(k)));
    }

    void invalidPackets_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QStringList>("lines");

        const QByteArray bytes23 = QByteArray::fromHex("0400 0000 0000 0000 0807060504030201 18171615141312");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("two bytes") << QByteArray::fromHex("01ab")
                                   << QStringList{QStringLiteral("[DRAVIK.RawDataUnpacker]: invalid packet 01ab")};
        QTest::newRow("23 bytes")
            << bytes23
            << QStringList{QStringLiteral("[DRAVIK.RawDataUnpacker]: invalid packet "
                                          "0400000000000000080706050403020118171615141312")};
        QTest::newRow("group 5") << packet("05 00 0000 0000 0000", "01000000")
                                 << QStringList{QStringLiteral("[DRAVIK.RawDataUnpacker]: invalid channel 5")};
        QTest::newRow("group ff") << packet("ff 00 0000 0000 0000", "0100")
                                  << QStringList{QStringLiteral("[DRAVIK.RawDataUnpacker]: invalid channel 255")};
    }

    void invalidPackets()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QStringList, lines);

        RawDataUnpacker_v2 unpacker;
        Recorder recorder(unpacker);
        LogCapture log;
        unpacker.onUnpackData(datagram);
        QVERIFY(recorder.emissions.isEmpty());
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")), lines);
    }

    void gainFactor_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<double>("factor");

        m_shared.reset(new RawDataUnpacker_v2);
        QTest::newRow("20 dB") << 5120 << 0.1;
        QTest::newRow("0 dB") << 0 << 1.0;
        QTest::newRow("1/256 dB") << 1 << 0.999550377459548;
        QTest::newRow("most negative code") << -32768 << 2511886.43150958;
        QTest::newRow("largest code") << 32767 << 3.98286249028613e-7;
    }

    void gainFactor()
    {
        QFETCH(int, code);
        QFETCH(double, factor);
        const float got = m_shared->gainFactor(qint16(code));
        QVERIFY2(std::abs(got - factor) <= 1e-5 * factor, qPrintable(QString::number(double(got), 'g', 10)));
        QCOMPARE(m_shared->gainFactor(qint16(code)), got);
    }

};

QTEST_GUILESS_MAIN(tst_RawDataUnpacker)
#include "tst_rawdataunpacker.moc"
