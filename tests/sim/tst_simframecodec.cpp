#include "SimFrameCodec.h"

#include <QtTest>

namespace {

QStringList describe(const QVector<SimFrameCodec::Request> &requests)
{
    QStringList list;
    for (const SimFrameCodec::Request &request : requests)
        list.append(QStringLiteral("%1:%2").arg(request.command, 4, 16, QLatin1Char('0')).arg(QString::fromLatin1(request.payload.toHex())));
    return list;
}

} // namespace

class tst_SimFrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void feed_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<int>("malformed");

        QTest::newRow("identification, empty payload") << QByteArray::fromHex("0001 0000") << QStringList{"0100:"} << 0;
        QTest::newRow("transfer of group 2") << QByteArray::fromHex("5b0f 0100 02") << QStringList{"0f5b:02"} << 0;
        QTest::newRow("two in a row") << QByteArray::fromHex("410f 0000 420f 0100 03")
                                      << QStringList{"0f41:", "0f42:03"} << 0;
        QTest::newRow("response bit dropped, next kept") << QByteArray::fromHex("4181 0200 aabb 0001 0000")
                                                         << QStringList{"0100:"} << 1;
    }

    void feed()
    {
        QFETCH(QByteArray, stream);

        for (int chunk : {1, 2, 3, 5, 7, stream.size()}) {
            SimFrameCodec codec;
            QVector<SimFrameCodec::Request> requests;
            for (int pos = 0; pos < stream.size(); pos += chunk)
                requests += codec.feed(stream.mid(pos, chunk));
            QTEST(describe(requests), "frames");
            QTEST(codec.malformedFrames(), "malformed");
        }
    }

    void encodeResponse_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("ack");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("measurement state") << 0x0F41 << 0 << 3 << QByteArray::fromHex("0302 1040")
                                           << QByteArray::fromHex("418f 0000 0300 0400 03021040");
        QTest::newRow("codes in their places") << 0x0F27 << 0x0102 << 0x0304 << QByteArray()
                                               << QByteArray::fromHex("278f 0201 0403 0000");
        QTest::newRow("too long") << 0x0F5B << 0 << 0 << QByteArray(0x10000, 'x') << QByteArray();
    }

    void encodeResponse()
    {
        QFETCH(int, command);
        QFETCH(int, ack);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, frame);
        QCOMPARE(SimFrameCodec::encodeResponse(quint16(command), quint16(ack), quint16(state), payload).toHex(), frame.toHex());
    }
};

QTEST_APPLESS_MAIN(tst_SimFrameCodec)
#include "tst_simframecodec.moc"
