#include "LogCapture.h"
#include "QlpConverter_v2.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
} // namespace

class tst_QlpConverter : public QObject
{
    Q_OBJECT

private slots:
    void sendCommand_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("frame"); // empty: nothing emitted

        QTest::newRow("identification") << 0x0100 << QByteArray() << 0 << hex("0001 0000");
        QTest::newRow("set with payload") << 0x0221 << hex("0102 0304") << 0 << hex("2102 0400 01020304");
        QTest::newRow("response bit in id") << 0x8f41 << QByteArray() << 3 << QByteArray();
        QTest::newRow("payload too long") << 0x0f04 << QByteArray(65536, 'x') << 2 << QByteArray();
    }

    void sendCommand()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, data);
        QFETCH(int, result);
        QFETCH(QByteArray, frame);

        QlpConverter_v2 converter;
        QSignalSpy frames(&converter, &QlpConverter_v2::frameToTransmit);
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);
        QCOMPARE(converter.sendCommand(static_cast<quint16>(command), data), result);
        QCOMPARE(frames.count(), frame.isEmpty() ? 0 : 1);
        if (!frame.isEmpty())
            QCOMPARE(frames.first().first().toByteArray(), frame);
        QCOMPARE(responses.count(), 0);
    }

    void receiveData_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<int>("lastResult");
        QTest::addColumn<QVariantList>("expected"); // one QVariantList of signal arguments per response

        auto response = [](int group, int command, int state, int ack, const QByteArray &data) {
            return QVariant(QVariantList{QVariant::fromValue(quint16(group)), QVariant::fromValue(quint16(command)),
                                         QVariant::fromValue(quint16(state)), QVariant::fromValue(quint16(ack)),
                                         QVariant(data)});
        };
        const QByteArray frame = hex("4a8f 0201 0403 0200 beef");
        const QVariant signal = response(0x0f, 0x4a, 0x0304, 0x0102, hex("beef"));

        QTest::newRow("one response") << QList<QByteArray>{frame} << 0 << QVariantList{signal};
        QTest::newRow("partial") << QList<QByteArray>{frame.left(9)} << 7 << QVariantList{};
    }

    void receiveData()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(int, lastResult);
        QFETCH(QVariantList, expected);

        QlpConverter_v2 converter;
        QSignalSpy frames(&converter, &QlpConverter_v2::frameToTransmit);
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);
        int result = -1;
        for (const QByteArray &read : reads)
            result = converter.receiveData(read);
        QCOMPARE(result, lastResult);
        QCOMPARE(responses.count(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(QVariantList(responses.at(i)), expected.at(i).toList());
        QCOMPARE(frames.count(), 0);
    }

    void resetDropsPartialFrame()
    {
        QlpConverter_v2 converter;
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);
        const QByteArray frame = hex("0181 0000 0000 0100 7f");
        QCOMPARE(converter.receiveData(frame.left(5)), 7);
        converter.resetReceiveState();
        QCOMPARE(converter.receiveData(frame), 0);
        QCOMPARE(responses.count(), 1);
        QCOMPARE(responses.first().at(4).toByteArray(), hex("7f"));
    }

    void withoutCodec()
    {
        LogCapture log;
        QlpConverter_v2 converter(true);
        QVERIFY(converter.parent() == nullptr);
        QSignalSpy frames(&converter, &QlpConverter_v2::frameToTransmit);
        QSignalSpy responses(&converter, &QlpConverter_v2::receivedResponse);

        QCOMPARE(converter.receiveData(hex("0181 0000 0000 0000")), -1);
        QCOMPARE(log.lines().size(), 0);

        QTest::ignoreMessage(QtWarningMsg, "[DRAVIK::QlpConverter] invalid QLP handle");
        QCOMPARE(converter.sendCommand(0x0100, QByteArray()), -1);

        converter.resetReceiveState(); // harmless without a codec
        QCOMPARE(frames.count(), 0);
        QCOMPARE(responses.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_QlpConverter)
#include "tst_qlpconverter.moc"
