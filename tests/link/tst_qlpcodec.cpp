#include "LogCapture.h"
#include "QlpCodec.h"
#include "QlpConverter_v2.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QString frame(int group, int command, int ack, int state, const QByteArray &payload)
{
    return QStringLiteral("%1/%2 ack %3 state %4 [%5]")
        .arg(group, 2, 16, QLatin1Char('0'))
        .arg(command, 2, 16, QLatin1Char('0'))
        .arg(ack, 4, 16, QLatin1Char('0'))
        .arg(state, 4, 16, QLatin1Char('0'))
        .arg(payload.size() > 16 ? QStringLiteral("%1 bytes, md5 %2")
                                          .arg(payload.size())
                                          .arg(QString::fromLatin1(
                                              QCryptographicHash::hash(payload, QCryptographicHash::Md5).toHex()))
                                    : QString::fromLatin1(payload.toHex()));
}

const QByteArray R1 = hex("4a8f 3412 cdab 0300 aabbcc");
const QString F1 = frame(0x0f, 0x4a, 0x1234, 0xabcd, hex("aabbcc"));
const QByteArray R2 = hex("0181 0100 0200 0100 ee");
const QString F2 = frame(0x01, 0x01, 0x0001, 0x0002, hex("ee"));
const QByteArray Z = hex("0f8f 0000 0100 0000");
const QString FZ = frame(0x0f, 0x0f, 0x0000, 0x0001, QByteArray());
const QByteArray N = hex("0101 0200 aabb");

struct Harness
{
    explicit Harness(bool transmit = true, bool response = true)
        : memory(new unsigned char[qlp::kMinMemorySize])
        , codec(qlp::init(memory.get(), qlp::kMinMemorySize))
    {
        if (transmit)
            qlp::setTransmitHandler(codec, &Harness::onTransmit);
        if (response)
            qlp::setResponseHandler(codec, &Harness::onResponse);
    }

    int feed(const QByteArray &bytes)
    {
        return qlp::receive(codec, reinterpret_cast<const unsigned char *>(bytes.constData()),
                            static_cast<std::size_t>(bytes.size()), this);
    }

    static int onTransmit(const unsigned char *bytes, std::size_t length, void *user)
    {
        auto *self = static_cast<Harness *>(user);
        self->sent.append(QByteArray(reinterpret_cast<const char *>(bytes), static_cast<int>(length)));
        return self->transmitResult;
    }

    static int onResponse(qlp::Codec *codec, std::uint8_t group, std::uint8_t command, std::uint16_t ack,
                          std::uint16_t state, const unsigned char *payload, std::size_t length, void *user)
    {
        auto *self = static_cast<Harness *>(user);
        if (codec != self->codec || !payload)
            self->frames.append(QStringLiteral("bad handler arguments"));
        self->frames.append(frame(group, command, ack, state,
                                  QByteArray(reinterpret_cast<const char *>(payload), static_cast<int>(length))));
        return self->frames.size() - 1 == self->failAt ? self->failValue : 0;
    }

    std::unique_ptr<unsigned char[]> memory;
    qlp::Codec *codec;
    QStringList frames;
    QList<QByteArray> sent;
    int transmitResult = 0;
    int failAt = -1;
    int failValue = 0;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 256);
    return bytes;
}

} // namespace

class tst_QlpCodec : public QObject
{
    Q_OBJECT

private slots:
    void streams_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("failAt"); // index of the delivery whose handler fails
        QTest::addColumn<int>("failValue");

        // Every way of cutting a stream into reads, up to the first read that
        // fails, and the corpus's long, empty, truncated and back-to-back
        // frames: fuzz_qlpcodec. Here: what comes after a failing read.
        QTest::newRow("all header bits") << QList<QByteArray>{hex("ffff 0100 0200 0000")} << QList<int>{0}
                                         << QStringList{frame(0x7f, 0xff, 1, 2, QByteArray())} << -1 << 0;
        QTest::newRow("empty read keeps the partial frame")
            << QList<QByteArray>{R1.left(5), QByteArray(), R1.mid(5)} << QList<int>{7, 3, 0} << QStringList{F1} << -1 << 0;

        QTest::newRow("non-response drops the rest of the read")
            << QList<QByteArray>{N + R1, R2} << QList<int>{9, 0} << QStringList{F2} << -1 << 0;
        QTest::newRow("non-response ends the read") << QList<QByteArray>{N, R1} << QList<int>{9, 0} << QStringList{F1} << -1 << 0;
        QTest::newRow("non-response completed by the next read")
            << QList<QByteArray>{N.left(3), N.mid(3) + R1, R2} << QList<int>{7, 9, 0} << QStringList{F2} << -1 << 0;
        QTest::newRow("non-response has no codes")
            << QList<QByteArray>{hex("0101 0000"), R1} << QList<int>{9, 0} << QStringList{F1} << -1 << 0;
        QTest::newRow("non-response with partial tail")
            << QList<QByteArray>{N + R1.left(4), R2} << QList<int>{9, 0} << QStringList{F2} << -1 << 0;

        QTest::newRow("handler fails mid read") << QList<QByteArray>{R1 + R2, R2} << QList<int>{5, 0} << QStringList{F1, F2} << 0 << 5;
        QTest::newRow("handler fails at end of read") << QList<QByteArray>{R1, R2} << QList<int>{1, 0} << QStringList{F1, F2} << 0 << 1;
    }

    void streams()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<int>, results);
        QFETCH(QStringList, expected);
        QFETCH(int, failAt);
        QFETCH(int, failValue);

        Harness h;
        h.failAt = failAt;
        h.failValue = failValue;
        QList<int> actual;
        for (const QByteArray &read : reads)
            actual.append(h.feed(read));
        QCOMPARE(actual, results);
        QCOMPARE(h.frames, expected);
        QVERIFY(h.sent.isEmpty());
    }

    void maximumPayload()
    {
        const QByteArray payload = pattern(65535);
        const QByteArray big = hex("0282 0500 0600 ffff") + payload;
        const QString expected = frame(0x02, 0x02, 5, 6, payload);

        Harness h;
        QCOMPARE(h.feed(big + Z), int(qlp::Ok));
        QCOMPARE(h.frames, (QStringList{expected, FZ}));

        h.frames.clear();
        int pos = 0;
        for (int step = 1; big.size() - pos > 1; step = step * 3 + 1) {
            const int take = qMin(step, big.size() - pos - 1);
            QCOMPARE(h.feed(big.mid(pos, take)), int(qlp::Incomplete));
            pos += take;
        }
        QVERIFY(h.frames.isEmpty());
        QCOMPARE(h.feed(big.mid(pos) + R1), int(qlp::Ok));
        QCOMPARE(h.frames, (QStringList{expected, F1}));
    }

    void invalidArguments()
    {
        Harness h;
        const unsigned char byte = 0x4a;
        QCOMPARE(qlp::receive(nullptr, &byte, 1, nullptr), int(qlp::InvalidArgument));
        QCOMPARE(qlp::receive(h.codec, nullptr, 1, &h), int(qlp::InvalidArgument));
        QCOMPARE(qlp::receive(h.codec, &byte, 0, &h), int(qlp::InvalidArgument));
        QCOMPARE(qlp::send(nullptr, 1, 0, &byte, 1, nullptr), int(qlp::InvalidArgument));
        QVERIFY(!qlp::init(nullptr, qlp::kMinMemorySize));
        QCOMPARE(qlp::setTransmitHandler(nullptr, &Harness::onTransmit), int(qlp::InvalidArgument));
        QCOMPARE(qlp::setResponseHandler(nullptr, &Harness::onResponse), int(qlp::InvalidArgument));
        QVERIFY(h.frames.isEmpty());
        QVERIFY(h.sent.isEmpty());
    }

    void initBlock_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("empty") << 0 << 0 << false;
        QTest::newRow("one byte short") << 131151 << 0 << false;
        QTest::newRow("minimum") << 131152 << 0 << true;
        QTest::newRow("minimum at odd address") << 131152 << 1 << true;
    }

    void initBlock()
    {
        QFETCH(int, size);
        QFETCH(int, offset);
        QFETCH(bool, accepted);

        std::vector<unsigned char> block(static_cast<std::size_t>(size + offset), 0xA5);
        unsigned char *memory = block.data() + offset;
        qlp::Codec *codec = qlp::init(memory, static_cast<std::size_t>(size));
        QCOMPARE(codec != nullptr, accepted);
        if (!codec)
            return;
        QVERIFY(reinterpret_cast<unsigned char *>(codec) >= memory);
        QVERIFY(reinterpret_cast<unsigned char *>(codec) < memory + size);

        Harness h(false, false);
        h.codec = codec;
        QCOMPARE(h.feed(R1), int(qlp::HandlerMissing));
        qlp::setTransmitHandler(codec, &Harness::onTransmit);
        qlp::setResponseHandler(codec, &Harness::onResponse);
        QCOMPARE(h.feed(R1), int(qlp::Ok));
        QCOMPARE(h.frames, QStringList{F1});
    }

    // The request layout for every group, command and length: fuzz_qlpcodec.
    // Here: a request sent between two reads leaves the partial response alone.
    void sendBetweenReads()
    {
        Harness h;
        const unsigned char payload[] = {0xaa, 0xbb};
        QCOMPARE(h.feed(R1.left(6)), int(qlp::Incomplete));
        QCOMPARE(qlp::send(h.codec, 0x7f, 0xff, payload, sizeof payload, &h), int(qlp::Ok)); // the highest id
        QCOMPARE(h.sent, QList<QByteArray>{hex("ff7f 0200 aabb")});
        QCOMPARE(h.feed(R1.mid(6)), int(qlp::Ok));
        QCOMPARE(h.frames, QStringList{F1});
    }

    void sendRefused_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("nullPayload");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("transmitSet");
        QTest::addColumn<int>("transmitResult");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("transmitCalls");

        QTest::newRow("null payload, length 1") << 1 << true << 1 << true << 0 << 3 << 0;
        QTest::newRow("null payload, length 0") << 1 << true << 0 << true << 0 << 0 << 1;
        QTest::newRow("length 65536") << 1 << false << 65536 << true << 0 << 2 << 0;
        QTest::newRow("length 65535 is the largest sent") << 1 << false << 65535 << true << 0 << 0 << 1;
        QTest::newRow("group with response bit") << 0x80 << false << 1 << true << 0 << 3 << 0;
        QTest::newRow("no transmit handler") << 1 << false << 1 << false << 0 << 4 << 0;
        QTest::newRow("transmit fails") << 1 << false << 1 << true << 1 << 10 << 1;
    }

    void sendRefused()
    {
        QFETCH(int, group);
        QFETCH(bool, nullPayload);
        QFETCH(int, length);
        QFETCH(bool, transmitSet);
        QFETCH(int, transmitResult);
        QFETCH(int, result);
        QFETCH(int, transmitCalls);

        Harness h(transmitSet, true);
        h.transmitResult = transmitResult;
        const std::vector<unsigned char> payload(65536, 0x55);
        QCOMPARE(qlp::send(h.codec, static_cast<std::uint8_t>(group), 0x01, nullPayload ? nullptr : payload.data(),
                           static_cast<std::size_t>(length), &h),
                 result);
        QCOMPARE(h.sent.size(), transmitCalls);
    }

    void converter()
    {
        // The Qt face of the codec: frames to send and responses as signals.
        QlpConverter_v2 converter;
        QSignalSpy frames(&converter, &QlpConverter_v2::frameToTransmit);
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);
        QCOMPARE(converter.sendCommand(0x0221, hex("01020304")), 0);
        QCOMPARE(converter.sendCommand(0x8f41, QByteArray()), 3); // response bit in the id
        QCOMPARE(converter.sendCommand(0x0f04, QByteArray(65536, 'x')), 2);
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.first().first().toByteArray(), hex("2102 0400 01020304"));

        QCOMPARE(converter.receiveData(R1.left(9)), 7);
        converter.resetReceiveState(); // the partial frame is dropped
        QCOMPARE(converter.receiveData(R1), 0);
        QCOMPARE(responses.count(), 1);
        QCOMPARE(QVariantList(responses.first()),
                 (QVariantList{QVariant::fromValue(quint16(0x0f)), QVariant::fromValue(quint16(0x4a)),
                               QVariant::fromValue(quint16(0xabcd)), QVariant::fromValue(quint16(0x1234)),
                               hex("aabbcc")}));
        QCOMPARE(frames.count(), 1);
    }

    void converterWithoutCodec()
    {
        LogCapture log;
        QlpConverter_v2 converter(true);
        QSignalSpy frames(&converter, &QlpConverter_v2::frameToTransmit);
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);
        QCOMPARE(converter.receiveData(Z), -1);
        QCOMPARE(log.lines().size(), 0);
        QTest::ignoreMessage(QtWarningMsg, "[DRAVIK::QlpConverter] invalid QLP handle");
        QCOMPARE(converter.sendCommand(0x0100, QByteArray()), -1);
        converter.resetReceiveState(); // harmless without a codec
        QCOMPARE(frames.count() + responses.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_QlpCodec)
#include "tst_qlpcodec.moc"
