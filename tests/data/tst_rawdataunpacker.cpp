#include "LogCapture.h"
#include "RawDataUnpacker_v2.h"

#include <QLoggingCategory>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

constexpr double k2p31 = 2147483648.0;

QByteArray packet(const QByteArray &head, const QByteArray &samples = QByteArray())
{
    return QByteArray::fromHex(head + "0807060504030201 1817161514131211" + samples);
}

QString line(const QString &text) { return QStringLiteral("[DRAVIK.RawDataUnpacker]: ") + text; }

struct Emission
{
    int channel;
    bool end;
    QByteArray bits;        // digital channels: one byte per sample
    QVector<double> values; // analog channels
};
using Emissions = QVector<Emission>;

Emission analog(int channel, QVector<double> values) { return {channel, false, {}, std::move(values)}; }

// The channels of each 32-bit group in the order they are emitted: eight
// digital ones (group 2 takes its upper four bits backwards), then the analog one.
const QVector<int> kGroupOrder[] = {{},
                                    {9, 10, 11, 12, 13, 14, 15, 16, 8},
                                    {17, 18, 19, 20, 24, 23, 22, 21, 5},
                                    {25, 26, 27, 28, 29, 30, 31, 32, 6},
                                    {33, 34, 35, 36, 37, 38, 39, 40, 7}};

Emissions group(int g, const QList<const char *> &bits, QVector<double> values)
{
    Emissions e;
    for (int i = 0; i < 8; ++i)
        e.append({kGroupOrder[g].at(i), false, QByteArray::fromHex(bits.at(i)), {}});
    e.append(analog(kGroupOrder[g].at(8), std::move(values)));
    return e;
}

Emissions ends(QVector<int> channels)
{
    Emissions e;
    for (int channel : channels)
        e.append({channel, true, {}, {}});
    return e;
}

QStringList describe(const Emissions &emissions)
{
    QStringList out;
    for (const Emission &e : emissions)
        out.append(e.end ? QStringLiteral("end %1").arg(e.channel)
                   : e.bits.isNull() ? QStringLiteral("%1 x%2").arg(e.channel).arg(e.values.size())
                                     : QStringLiteral("%1 %2").arg(e.channel).arg(QString::fromLatin1(e.bits.toHex())));
    return out;
}

// Unpacks one datagram and returns what came out, analog blocks decoded.
// The timestamps each signal carries are fuzz_rawdataunpacker's.
Emissions run(RawDataUnpacker_v2 &unpacker, const QByteArray &datagram)
{
    Emissions got;
    QObject context;
    QObject::connect(&unpacker, &RawDataUnpacker_v2::channelData, &context,
                     [&](int channel, quint64, quint64, const QByteArray &data) {
                         Emission e{channel, false, data, {}};
                         if (channel <= 8) {
                             e.bits = QByteArray();
                             for (int k = 0; k + 4 <= data.size(); k += 4)
                                 e.values.append(qFromLittleEndian<float>(data.constData() + k));
                             if (data.size() % 4)
                                 e.values.append(qQNaN());
                         }
                         got.append(e);
                     });
    QObject::connect(&unpacker, &RawDataUnpacker_v2::channelDataTermination, &context,
                     [&](int channel, quint64, quint64) { got.append({channel, true, {}, {}}); });
    unpacker.onUnpackData(datagram);
    return got;
}

} // namespace

Q_DECLARE_METATYPE(Emissions)

class tst_RawDataUnpacker : public QObject
{
    Q_OBJECT

    QScopedPointer<RawDataUnpacker_v2> m_shared;

private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=true")); }

    void gainLogLine_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("compensation");
        QTest::addColumn<QStringList>("lines");

        const QByteArray g1 = packet("01 00 0000 0014 0000", "00000040");
        const QByteArray g2 = packet("02 00 0000 00f6 0000", "00000040");
        m_shared.reset(new RawDataUnpacker_v2);
        QTest::newRow("uncompensated first packet logs nothing") << g1 << false << QStringList();
        QTest::newRow("first compensated packet after start-up") << g1 << true << QStringList{line("gain 20 0.1")};
        QTest::newRow("next packet") << packet("03 00 0000 0014 0000", "00000040") << true << QStringList();
        QTest::newRow("16-bit end does not re-arm") << packet("00 00 0000 0000 0000") << true << QStringList();
        QTest::newRow("after the 16-bit end") << packet("00 00 0000 0014 0000", "0040") << true << QStringList();
        QTest::newRow("8-bit end does not re-arm") << packet("00 01 0000 0000 0000") << true << QStringList();
        QTest::newRow("after the 8-bit end") << g1 << true << QStringList();
        QTest::newRow("32-bit end re-arms") << packet("04 00 0000 0014 0000", "00") << true << QStringList();
        QTest::newRow("uncompensated packet leaves it armed") << g1 << false << QStringList();
        QTest::newRow("first compensated packet after the end") << g2 << true << QStringList{line("gain -10 3.16228")};
        QTest::newRow("and only once") << g2 << true << QStringList();
    }

    void gainLogLine()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, compensation);

        LogCapture log;
        m_shared->onSetGainCompensation(compensation);
        m_shared->onUnpackData(datagram);
        QTEST(log.texts(QtDebugMsg, QStringLiteral("dravik")).filter(QStringLiteral(" gain ")), "lines");
    }

    void unpack_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("compensation");
        QTest::addColumn<Emissions>("expected");

        // The bits and scaling of every group over many packets, and the
        // terminations of each group: fuzz_rawdataunpacker.
        QTest::newRow("16-bit full scale, trailing odd byte ignored")
            << packet("00 00 beef 0000 0000", "ff7f 0080 0100 0000 aa") << false
            << Emissions{analog(0, {0.999969482421875, -1.0, 1.0 / 32768, 0.0})};
        QTest::newRow("8-bit pairs de-interleaved")
            << packet("00 02 beef 0000 0000", "7f80 01ff 40") << false
            << Emissions{analog(3, {0.9921875, 0.0078125}), analog(4, {-1.0, -0.0078125})};
        QTest::newRow("group 1 ignores the layout byte")
            << packet("01 07 beef 0000 0000", "ff000000 00000080 a5000000") << false
            << group(1, {"010001", "010000", "010001", "010000", "010000", "010001", "010000", "010001"},
                     {255 / k2p31, -1.0, 165 / k2p31});
        QTest::newRow("group 2 upper bits run backwards")
            << packet("02 00 beef 0000 0000", "10000000 80000000") << false
            << group(2, {"0000", "0000", "0000", "0000", "0100", "0000", "0000", "0001"}, {16 / k2p31, 128 / k2p31});

        QTest::newRow("16-bit gain A") << packet("00 00 0000 0014 00f6", "0040") << true
                                       << Emissions{analog(0, {0.05})};
        QTest::newRow("8-bit gain A first, gain B second")
            << packet("00 01 0000 0014 00f6", "4040") << true
            << Emissions{analog(3, {0.05}), analog(4, {0.5 * 3.16227766})};
        QTest::newRow("32-bit gain A, digital untouched")
            << packet("02 00 0000 0014 00f6", "10000040") << true
            << group(2, {"00", "00", "00", "00", "01", "00", "00", "00"}, {0.05});

        QTest::newRow("16-bit header only") << packet("00 00 0000 0000 0000") << true << ends({0});
        QTest::newRow("8-bit with one byte") << packet("00 05 0000 0000 0000", "7f") << true << ends({3, 4});
        QTest::newRow("group 2 header only") << packet("02 00 0000 0000 0000") << true << ends(kGroupOrder[2]);
    }

    void unpack()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, compensation);
        QFETCH(Emissions, expected);

        RawDataUnpacker_v2 unpacker;
        unpacker.onSetGainCompensation(compensation);
        const Emissions got = run(unpacker, datagram);
        QCOMPARE(describe(got), describe(expected));
        // Uncompensated values are exact; gains come from a power of ten.
        for (int i = 0; i < expected.size(); ++i) {
            for (int k = 0; k < expected.at(i).values.size(); ++k) {
                const double v = got.at(i).values.at(k);
                const double want = expected.at(i).values.at(k);
                QVERIFY2(compensation ? std::abs(v - want) <= 2e-6 * std::abs(want) : v == want,
                         qPrintable(QStringLiteral("channel %1 sample %2: %3, expected %4")
                                        .arg(expected.at(i).channel).arg(k).arg(v, 0, 'g', 17).arg(want, 0, 'g', 17)));
            }
        }
    }

    void invalidPackets_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("two bytes") << QByteArray::fromHex("01ab") << QStringList{line("invalid packet 01ab")};
        QTest::newRow("23 bytes") << packet("0400 0000 0000 0000").left(23)
                                  << QStringList{line("invalid packet 0400000000000000080706050403020118171615141312")};
        QTest::newRow("group 5") << packet("05 00 0000 0000 0000", "01000000") << QStringList{line("invalid channel 5")};
        QTest::newRow("group ff") << packet("ff 00 0000 0000 0000", "0100") << QStringList{line("invalid channel 255")};
    }

    void invalidPackets()
    {
        QFETCH(QByteArray, datagram);

        RawDataUnpacker_v2 unpacker;
        LogCapture log;
        QVERIFY(run(unpacker, datagram).isEmpty());
        QTEST(log.texts(QtDebugMsg, QStringLiteral("dravik")), "lines");
    }

    void gainFactor_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<double>("factor");

        m_shared.reset(new RawDataUnpacker_v2);
        QTest::newRow("20 dB") << 5120 << 0.1;
        QTest::newRow("1/256 dB") << 1 << 0.999550377459548;
        QTest::newRow("most negative code") << -32768 << 2511886.43150958;
        QTest::newRow("largest code") << 32767 << 3.98286249028613e-7;
    }

    void gainFactor()
    {
        // Twice: the second answer comes from the cache and must be the same.
        QFETCH(int, code);
        QFETCH(double, factor);
        const float got = m_shared->gainFactor(qint16(code));
        QVERIFY2(std::abs(got - factor) <= 1e-5 * factor, qPrintable(QString::number(double(got), 'g', 10)));
        QCOMPARE(m_shared->gainFactor(qint16(code)), got);
    }
};

QTEST_GUILESS_MAIN(tst_RawDataUnpacker)
#include "tst_rawdataunpacker.moc"
