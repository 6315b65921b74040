#include "LogCapture.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "PdQlp_v2.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QVariant pair(int id, const QVariant &value) { return QVariantList{id, value}; }

QVariant u64(quint64 value) { return QVariant::fromValue(value); }

QVariant i64(qint64 value) { return QVariant::fromValue(value); }

QVariant uc(uchar value) { return QVariant::fromValue(value); }

QVariant channelState(quint8 value) { return QVariant::fromValue(st_ChannelMeasState{value}); }

QByteArray identification(quint8 protocolVersion)
{
    return hex("0807060504030201 15cd5b0700000000 44 52 41 56 49 4b 20 50 44")
        + QByteArray(23, '\0') + hex("03 01 17 0b 02") + QByteArray(1, char(protocolVersion));
}

// A value as its type and text, exact for numbers; lists, bytes and channel
// states spelled out.
QString describe(const QVariant &v)
{
    if (v.userType() == qMetaTypeId<st_ChannelMeasState>())
        return QStringLiteral("state %1").arg(v.value<st_ChannelMeasState>().value, 2, 16, QLatin1Char('0'));
    if (v.userType() == QMetaType::QByteArray)
        return QStringLiteral("bytes ") + QString::fromLatin1(v.toByteArray().toHex());
    if (v.userType() != QMetaType::QVariantList)
        return QString::fromLatin1(v.typeName()) + QLatin1Char(' ') + v.toString();
    QStringList items;
    for (const QVariant &item : v.toList())
        items << describe(item);
    return QLatin1Char('[') + items.join(QStringLiteral(", ")) + QLatin1Char(']');
}

struct Fixture
{
    explicit Fixture(quint8 protocolVersion)
        : container(new ParameterHandler(nullptr, QStringLiteral("[test]")))
        , codec(container)
    {
        ParameterCatalogue::registerDeviceParameters([](const ParameterInfo &) { return true; }, container.data());
        if (protocolVersion != 0)
            codec.parameterData(0x0100, identification(protocolVersion));
    }

    QSharedPointer<ParameterHandler> container;
    PdQlp_v2 codec;
};

QStringList codecLines(const LogCapture &log)
{
    QStringList lines;
    for (const QString &line : log.texts(QtDebugMsg, QStringLiteral("dravik"))) {
        if (line.startsWith(QLatin1String("[DRAVIK.PdQlp]: ")))
            lines.append(line);
    }
    return lines;
}

} // namespace

class tst_PdQlp : public QObject
{
    Q_OBJECT

private slots:
    // Lengths and counts that do not fit the payload are fuzz_pdqlp's.
    void receive_data()
    {
        QTest::addColumn<int>("protocolVersion");
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QVariantList>("expected"); // pairs [id, value]

        QTest::newRow("identification")
            << 2 << 0x0100 << identification(2)
            << QVariantList{pair(1001, u64(0x0102030405060708ull)), pair(1002, u64(123456789)),
                            pair(1003, QStringLiteral("DRAVIK PD")), pair(1004, 3u), pair(1005, 1u), pair(1006, 11u),
                            pair(1007, 2u), pair(1008, 23u), pair(1009, 2u)};
        QTest::newRow("identification, descriptor fills its field")
            << 2 << 0x0100
            << hex("0000000000000000 ffffffffffffffff"
                   "3031323334353637 3839414243444546 4748494a4b4c4d4e 4f50515253545556"
                   "00 00 00 00 00 05")
            << QVariantList{pair(1001, u64(0)), pair(1002, u64(0xFFFFFFFFFFFFFFFFull)),
                            pair(1003, QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUV")), pair(1004, 0u),
                            pair(1005, 0u), pair(1006, 0u), pair(1007, 0u), pair(1008, 0u), pair(1009, 5u)};
        QTest::newRow("identification, descriptor ends at its first zero, longer payload")
            << 2 << 0x0100 << hex("0100000000000000 0200000000000000 4142004344") + QByteArray(27, '\0')
                   + hex("ff fe fd fc fb 02 aabbcc")
            << QVariantList{pair(1001, u64(1)), pair(1002, u64(2)), pair(1003, QStringLiteral("AB")),
                            pair(1004, 255u), pair(1005, 254u), pair(1008, 253u), pair(1006, 252u), pair(1007, 251u),
                            pair(1009, 2u)};

        QTest::newRow("measurement state, all channels")
            << 0 << 0x0F41 << hex("09 05 30 21 12 03 f4")
            << QVariantList{pair(1010, 9u), pair(1011, channelState(0x30)), pair(1012, channelState(0x21)),
                            pair(1013, channelState(0x12)), pair(1014, channelState(0x03)),
                            pair(1015, channelState(0xf4))};
        QTest::newRow("measurement state, channels 5 and 7 skipped")
            << 0 << 0x0F41 << hex("07 03 17 41 85")
            << QVariantList{pair(1010, 7u), pair(1012, channelState(0x41))};
        QTest::newRow("measurement state, no channels") << 0 << 0x0F41 << hex("03 00") << QVariantList{pair(1010, 3u)};

        QTest::newRow("timings charge 0")
            << 2 << 0x0F42
            << hex("02000000 0a000000 6400000000000000 18fcffffffffffff 0000000001000000 8096980000000000")
            << QVariantList{pair(1027, u64(100)), pair(1028, u64(10000000)), pair(1029, 10u), pair(1030, i64(-1000)),
                            pair(1031, u64(4294967296ull))};
        QTest::newRow("timings muxer, extremes, longer payload")
            << 2 << 0x0F42
            << hex("00000000 ffffffff ffffffffffffffff 0000000000000080 0100000000000000 ffffffffffffff7f 99")
            << QVariantList{pair(1017, u64(0xFFFFFFFFFFFFFFFFull)), pair(1018, u64(0x7FFFFFFFFFFFFFFFull)),
                            pair(1019, 0xFFFFFFFFu), pair(1020, i64(std::numeric_limits<qint64>::min())),
                            pair(1021, u64(1))};

        QTest::newRow("trigger 1") << 0 << 0x0F44
                                   << hex("01 02 0000 03000000 0000c03f e8030000 ffffffff ffffff7f")
                                   << QVariantList{pair(1048, 3u), pair(1049, 1.5), pair(1050, 1000u),
                                                   pair(1051, QVariantList{-1, 2147483647})};
        QTest::newRow("trigger, count promises more than present")
            << 0 << 0x0F44 << hex("00 03 0000 01000000 000080bf 00000000 00800000 abcd")
            << QVariantList{pair(1043, 1u), pair(1044, -1.0), pair(1045, 0u), pair(1046, QVariantList{0x8000})};

        QTest::newRow("filter adc 1 highpass 0") << 0 << 0x0F45 << hex("22 02 0000 0000803f 000000bf")
                                                 << QVariantList{pair(1061, QVariantList{1.0f, -0.5f})};
        QTest::newRow("filter adc 2 bandpass, promises more") << 0 << 0x0F45 << hex("44 03 0000 00002040 0000")
                                                              << QVariantList{pair(1069, QVariantList{2.5f})};
        QTest::newRow("filter adc 0 lowpass 0, empty") << 0 << 0x0F45 << hex("00 00 0000")
                                                       << QVariantList{pair(1053, QVariantList{})};

        QTest::newRow("gating 0, digital 0") << 0 << 0x0F46 << hex("00 01 0000 00000040 05000000")
                                             << QVariantList{pair(1104, uc(1))};
        QTest::newRow("gating 1, digital 1") << 0 << 0x0F46 << hex("01 00 0000 00000040 05000000")
                                             << QVariantList{pair(1105, uc(0))};
        QTest::newRow("gating 2, user") << 0 << 0x0F46 << hex("02 01 0000 0000803e 64000000")
                                        << QVariantList{pair(1101, uc(1)), pair(1102, 0.25), pair(1103, 100u)};
        QTest::newRow("gating 3, system") << 0 << 0x0F46 << hex("03 ff 0000 000080bf ffffffff")
                                          << QVariantList{pair(1098, uc(255)), pair(1099, -1.0),
                                                          pair(1100, 0xFFFFFFFFu)};
        QTest::newRow("gating 4, adc overflow 0") << 0 << 0x0F46 << hex("04 01 0000 0000803f 01000000")
                                                  << QVariantList{pair(1106, uc(1))};
        QTest::newRow("gating 5, adc overflow 1") << 0 << 0x0F46 << hex("05 01 0000 00000000 00000000")
                                                  << QVariantList{pair(1107, uc(1))};
        QTest::newRow("gating 6, adc overflow 2") << 0 << 0x0F46 << hex("06 00 0000 00000000 00000000")
                                                  << QVariantList{pair(1108, uc(0))};
        QTest::newRow("gating 7, adc overflow 3") << 0 << 0x0F46 << hex("07 01 0000 00000000 00000000")
                                                  << QVariantList{pair(1109, uc(1))};

        QTest::newRow("gain 3, pd") << 0 << 0x0F47 << hex("03 aabbcc 00002041") << QVariantList{pair(1081, 10.0f)};

        QTest::newRow("gain levels range 0..10 step 2.5")
            << 0 << 0x0F48 << hex("03 01 0000 00000000 00002041 00002040")
            << QVariantList{pair(1080, QVariantList{0.0f, 2.5f, 5.0f, 7.5f, 10.0f})};
        QTest::newRow("gain levels range 0..1 step 0.3")
            << 0 << 0x0F48 << hex("03 01 0000 00000000 0000803f 9a99993e")
            << QVariantList{pair(1080, QVariantList{0.0f, 0.3f, 0.6f, 1.0f})};
        QTest::newRow("gain levels range, half a step rounds up")
            << 0 << 0x0F48 << hex("00 02 0000 00000000 00002040 0000803f")
            << QVariantList{pair(1071, QVariantList{0.0f, 1.0f, 2.0f, 2.5f})};
        QTest::newRow("gain levels range, downwards")
            << 0 << 0x0F48 << hex("06 01 0000 00002040 00000000 000080bf")
            << QVariantList{pair(1089, QVariantList{2.5f, 1.5f, 0.5f, 0.0f})};
        QTest::newRow("gain levels range, against its step")
            << 0 << 0x0F48 << hex("03 01 0000 00002041 00000000 00002040") << QVariantList{pair(1080, QVariantList{0.0f})};
        QTest::newRow("gain levels range, zero step") << 0 << 0x0F48 << hex("03 01 0000 00000000 00002041 00000000")
                                                      << QVariantList{pair(1080, QVariantList{})};
        QTest::newRow("gain levels range, NaN") << 0 << 0x0F48 << hex("03 01 0000 0000c07f 00002041 00002040")
                                                << QVariantList{pair(1080, QVariantList{})};
        QTest::newRow("gain levels list") << 0 << 0x0F48 << hex("08 00 0000 03000000 0000803f 00000040 00008040")
                                          << QVariantList{pair(1095, QVariantList{1.0f, 2.0f, 4.0f})};
        QTest::newRow("gain levels list, empty") << 0 << 0x0F48 << hex("03 00 0000 00000000")
                                                 << QVariantList{pair(1080, QVariantList{})};

        QTest::newRow("muxer") << 0 << 0x0F4A << hex("01 00 03 07")
                               << QVariantList{pair(1113, 1u), pair(1114, 0u), pair(1111, 3u), pair(1112, 7u)};

        QTest::newRow("adc 2 inverted") << 0 << 0x0F4B << hex("02 01") << QVariantList{pair(1128, true)};
        QTest::newRow("adc 0, any non-zero byte") << 0 << 0x0F4B << hex("00 80") << QVariantList{pair(1126, true)};

        QTest::newRow("digital channel 5") << 0 << 0x0F4C << hex("05 ff 01 00 01 78563412")
                                           << QVariantList{pair(1156, 1u), pair(1157, 0u), pair(1158, 1u),
                                                           pair(1159, 0x12345678u)};

        QTest::newRow("fan control") << 0 << 0x0F84 << hex("0000a041 00007042 cdcccc3d 0000803f 000020c0")
                                     << QVariantList{pair(1180, 20.0f), pair(1181, 60.0f), pair(1182, 0.1f),
                                                     pair(1183, 1.0f), pair(1184, -2.5f)};

        QTest::newRow("statistics") << 0 << 0x0F4F << hex("deadbeef 000080bf 0000803f 0000003f 0000803e")
                                    << QVariantList{pair(1186, -1.0f), pair(1187, 1.0f), pair(1188, 0.5f),
                                                    pair(1189, 0.25f)};

        QTest::newRow("device config ip address") << 0 << 0x0F83 << hex("02 c0a8dc64")
                                                  << QVariantList{pair(1118, hex("c0a8dc64"))};
        QTest::newRow("device config info string") << 0 << 0x0F83 << hex("03 616263")
                                                   << QVariantList{pair(1122, QByteArray("abc"))};
        QTest::newRow("device config mac, no value") << 0 << 0x0F83 << hex("01") << QVariantList{pair(1117, QByteArray())};
    }

    void receive()
    {
        QFETCH(int, protocolVersion);
        QFETCH(int, command);
        QFETCH(QByteArray, payload);
        QFETCH(QVariantList, expected);

        Fixture f{quint8(protocolVersion)};
        QStringList actual;
        for (const auto &p : f.codec.parameterData(quint16(command), payload))
            actual << QStringLiteral("%1 %2").arg(p.first).arg(describe(p.second));
        QStringList wanted;
        for (const QVariant &p : expected)
            wanted << QStringLiteral("%1 %2").arg(p.toList().at(0).toInt()).arg(describe(p.toList().at(1)));
        actual.sort();
        wanted.sort();
        QCOMPARE(actual, wanted);
    }

    void receiveRejects_data()
    {
        QTest::addColumn<int>("protocolVersion");
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("message"); // after the signature; empty: no line at all

        const QByteArray timings = hex("02000000 0a000000 6400000000000000 18fcffffffffffff 0000000001000000 8096980000000000");

        QTest::newRow("identification 53 bytes") << 2 << 0x0100 << identification(2).left(53) << "invalid data length  53";
        QTest::newRow("measurement state 1 byte") << 0 << 0x0F41 << hex("05") << "invalid data length";
        QTest::newRow("timings, version 1") << 1 << 0x0F42 << timings << "protocol version 1 not supported";
        QTest::newRow("timings 39 bytes") << 2 << 0x0F42 << timings.left(39) << "invalid data length";
        QTest::newRow("timings channel 256") << 2 << 0x0F42 << hex("00 01") + timings.mid(2) << "invalid channel id 256";
        QTest::newRow("trigger 15 bytes") << 0 << 0x0F44 << hex("00 00 0000 00000000 00000000 000000")
                                          << "invalid data length  15";
        QTest::newRow("trigger 2") << 0 << 0x0F44 << hex("02 00 0000 00000000 00000000 00000000")
                                   << "invalid channel id 2";
        QTest::newRow("filter 3 bytes") << 0 << 0x0F45 << hex("00 00 00") << "invalid data length  3";
        QTest::newRow("filter kind 5") << 0 << 0x0F45 << hex("05 00 0000") << "invalid filter id 5";
        QTest::newRow("gating 11 bytes") << 0 << 0x0F46 << hex("02 01 0000 00000000 000000") << "invalid data length  11";
        QTest::newRow("gating 8") << 0 << 0x0F46 << hex("08 01 0000 00000000 00000000") << "invalid gating id 8";
        QTest::newRow("gain 7 bytes") << 0 << 0x0F47 << hex("03 000000 000020") << "invalid data length  7";
        QTest::newRow("gain 9") << 0 << 0x0F47 << hex("09 000000 00002041") << "invalid gain id 9";
        QTest::newRow("gain levels 3 bytes") << 0 << 0x0F48 << hex("03 00 00") << "invalid data length  3";
        QTest::newRow("gain levels list 7 bytes") << 0 << 0x0F48 << hex("03 00 0000 000000")
                                                  << "invalid data length for gain id 3 0 length 7";
        QTest::newRow("gain levels range 15 bytes") << 0 << 0x0F48 << hex("03 01 0000 00000000 00002041 000020")
                                                    << "invalid data length for gain id 3 1 length 15";
        QTest::newRow("muxer 3 bytes") << 0 << 0x0F4A << hex("01 00 03") << "invalid data length  3";
        QTest::newRow("adc 1 byte") << 0 << 0x0F4B << hex("02") << "invalid data length  1";
        QTest::newRow("adc 4") << 0 << 0x0F4B << hex("04 01") << "invalid parameter mapping";
        QTest::newRow("digital channel 8 bytes") << 0 << 0x0F4C << hex("05 00 01 00 01 785634")
                                                 << "invalid data length  8";
        QTest::newRow("fan 19 bytes") << 0 << 0x0F84 << hex("0000a041 00007042 cdcccc3d 0000803f 000020")
                                      << "invalid data length  19";
        QTest::newRow("statistics 19 bytes") << 0 << 0x0F4F << hex("deadbeef 000080bf 0000803f 0000003f 000080")
                                             << "invalid data length  19";
        QTest::newRow("device config empty") << 0 << 0x0F83 << QByteArray() << "invalid data length  0";
        QTest::newRow("set command") << 2 << 0x0F22 << hex("0102") << "no data processing function for command 3874 data 0102";
    }

    void receiveRejects()
    {
        QFETCH(int, protocolVersion);
        QFETCH(int, command);
        QFETCH(QByteArray, payload);
        QFETCH(QString, message);

        Fixture f{quint8(protocolVersion)};
        LogCapture log;
        QVERIFY(f.codec.parameterData(quint16(command), payload).isEmpty());
        const QStringList lines = codecLines(log);
        if (message.isEmpty()) {
            QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().endsWith(QStringLiteral(") ") + message), qPrintable(lines.first()));
        }
        QVERIFY(log.unexpectedQtWarnings().isEmpty());
    }

    // The identification's last byte sets the protocol version; a short one
    // changes nothing, an unsupported one is taken with a warning and no
    // timings can be written under it.
    void identificationSetsProtocolVersion()
    {
        Fixture f(0);
        QSignalSpy spy(&f.codec, &PdQlp_v2::protocolVersion);
        QVERIFY(!f.codec.parameterData(0x0100, identification(3)).isEmpty());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().value<quint32>(), 3u);
        QVERIFY(f.codec.parameterData(0x0100, identification(7).left(53)).isEmpty());
        QCOMPARE(f.codec.currentProtocolVersion(), 3u);

        LogCapture log;
        QVERIFY(!f.codec.parameterData(0x0100, identification(1)).isEmpty());
        QCOMPARE(f.codec.currentProtocolVersion(), 1u);
        const QStringList warnings = log.texts(QtWarningMsg, QStringLiteral("dravik"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().endsWith(QLatin1String(") invalid protocol version 1")), qPrintable(warnings.first()));
        bool ok = true;
        QVERIFY(f.codec.compose(1030, false, &ok).isEmpty());
        QVERIFY(!ok);
    }

    void compose_data()
    {
        QTest::addColumn<int>("protocolVersion");
        QTest::addColumn<QVariantList>("confirmed"); // pairs [id, value] of current values
        QTest::addColumn<QVariantList>("requested"); // pairs [id, value] requested with setValue
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("set");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("payload");

        // Layouts the decoder reads back (receive rows) compose the same way:
        // fuzz_pdqlp decodes, composes and decodes again. Here: requested
        // values over confirmed ones, and what cannot be composed.
        const QVariantList charge0Timings{pair(1027, u64(100)), pair(1028, u64(10000000)), pair(1029, 10u),
                                          pair(1030, i64(0)), pair(1031, u64(4294967296ull))};
        const QVariantList trigger1{pair(1048, 3u), pair(1049, 0.5), pair(1050, 1000u),
                                    pair(1051, QVariantList{-1, 2147483647})};

        QTest::newRow("timings charge 0, pretrigger -1000")
            << 2 << charge0Timings << QVariantList{pair(1030, i64(-1000))} << 1030 << true << true
            << hex("02000000 0a000000 6400000000000000 18fcffffffffffff 0000000001000000 8096980000000000");
        QTest::newRow("timings before identification")
            << 0 << charge0Timings << QVariantList{pair(1030, i64(-1000))} << 1030 << true << false << QByteArray();
        QTest::newRow("timings with a value missing")
            << 2 << charge0Timings.mid(0, 4) << QVariantList{} << 1027 << true << false << QByteArray();
        QTest::newRow("trigger 1, level changed")
            << 0 << trigger1 << QVariantList{pair(1049, 1.5)} << 1049 << true << true
            << hex("01 02 0000 03000000 0000c03f e8030000 ffffffff ffffff7f");
        QTest::newRow("trigger 0, no values")
            << 0 << QVariantList{pair(1043, 1u), pair(1044, -0.25), pair(1045, 0u), pair(1046, QVariantList{})}
            << QVariantList{} << 1043 << true << true << hex("00 00 0000 01000000 000080be 00000000");
        QTest::newRow("trigger, values missing") << 0 << trigger1.mid(0, 3) << QVariantList{pair(1049, 1.5)} << 1049
                                                 << true << false << QByteArray();
        QTest::newRow("filter adc 1 highpass 0") << 0 << QVariantList{} << QVariantList{pair(1061, QVariantList{0.5, -2.0})}
                                                 << 1061 << true << true << hex("22 02 0000 0000003f 000000c0");
        QTest::newRow("gating 0") << 0 << QVariantList{} << QVariantList{pair(1104, true)} << 1104 << true << true
                                  << hex("00 01 0000 00000000 00000000");
        QTest::newRow("gating 2, level changed")
            << 0 << QVariantList{pair(1101, 1u), pair(1102, 0.5), pair(1103, 100u)} << QVariantList{pair(1102, 0.25)}
            << 1102 << true << true << hex("02 01 0000 0000803e 64000000");
        QTest::newRow("gain pd") << 0 << QVariantList{pair(1081, 1.0)} << QVariantList{pair(1081, 10.0)} << 1081 << true
                                 << true << hex("03 000000 00002041");
        QTest::newRow("gain pd levels, no set") << 0 << QVariantList{pair(1080, QVariantList{1.0f})} << QVariantList{}
                                                << 1080 << true << false << QByteArray();
        QTest::newRow("adc 2") << 0 << QVariantList{pair(1128, false)} << QVariantList{pair(1128, true)} << 1128 << true
                               << true << hex("02 01");
        QTest::newRow("digital channel 5")
            << 0 << QVariantList{pair(1156, 1u), pair(1157, 0u), pair(1158, 1u), pair(1159, 0u)}
            << QVariantList{pair(1159, 0x12345678u)} << 1159 << true << true << hex("05 00 01 00 01 78563412");
        QTest::newRow("device config ip address") << 0 << QVariantList{} << QVariantList{pair(1118, hex("c0a8dc64"))}
                                                  << 1118 << true << true << hex("02 c0a8dc64");
        QTest::newRow("measurement state, no set") << 0 << QVariantList{pair(1010, 5u)} << QVariantList{} << 1010 << true
                                                   << false << QByteArray();
        QTest::newRow("group header") << 0 << QVariantList{} << QVariantList{} << 1042 << true << false << QByteArray();
        QTest::newRow("unknown id") << 0 << QVariantList{} << QVariantList{} << 999 << false << false << QByteArray();

        QTest::newRow("get identification") << 0 << QVariantList{} << QVariantList{} << 1003 << false << true
                                            << QByteArray();
        QTest::newRow("get timings charge 0") << 2 << QVariantList{} << QVariantList{} << 1030 << false << true << hex("02");
        QTest::newRow("get timings before identification") << 0 << QVariantList{} << QVariantList{} << 1030 << false
                                                           << false << QByteArray();
        QTest::newRow("get muxer") << 0 << QVariantList{} << QVariantList{} << 1112 << false << true << QByteArray();
    }

    void compose()
    {
        QFETCH(int, protocolVersion);
        QFETCH(QVariantList, confirmed);
        QFETCH(QVariantList, requested);
        QFETCH(int, id);
        QFETCH(bool, set);
        QFETCH(bool, ok);
        QFETCH(QByteArray, payload);

        Fixture f{quint8(protocolVersion)};
        for (const QVariant &p : confirmed)
            f.container->update(p.toList().at(0).toInt(), p.toList().at(1), 0);
        for (const QVariant &p : requested)
            f.container->setValue(p.toList().at(0).toInt(), p.toList().at(1));

        bool composed = !ok;
        QCOMPARE(f.codec.compose(id, set, &composed).toHex(), payload.toHex());
        QCOMPARE(composed, ok);
    }

    void longLists_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("header");      // bytes before the list
        QTest::addColumn<QByteArray>("last"); // the last value, encoded
        QTest::addColumn<QString>("refusal"); // empty: sent

        // Values from -100 up (trigger) or 0.0 up (filter).
        QTest::newRow("trigger 255 values") << 1046 << 255 << 16 << hex("9a000000") << QString();
        QTest::newRow("trigger 256 values") << 1046 << 256 << 16 << QByteArray()
                                            << "too many trigger parameters trigger id 0 param count 256";
        QTest::newRow("filter 255 coefficients") << 1057 << 255 << 4 << hex("00007e43") << QString();
        QTest::newRow("filter 256 coefficients") << 1057 << 256 << 4 << QByteArray()
                                                 << "too many filter parameters id 4 param count 256";
    }

    void longLists()
    {
        QFETCH(int, id);
        QFETCH(int, count);
        QFETCH(int, header);
        QFETCH(QString, refusal);

        Fixture f(0);
        for (int member : {1043, 1044, 1045})
            f.container->update(member, 0u, 0);
        QVariantList list;
        for (int i = 0; i < count; ++i)
            list.append(id == 1046 ? QVariant(i - 100) : QVariant(double(i)));
        f.container->setValue(id, list);

        LogCapture log;
        bool ok = false;
        const QByteArray payload = f.codec.compose(id, true, &ok);
        if (!refusal.isEmpty()) {
            QVERIFY(!ok);
            QVERIFY(payload.isEmpty());
            const QStringList lines = codecLines(log);
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().endsWith(QStringLiteral(") ") + refusal), qPrintable(lines.first()));
            return;
        }
        QVERIFY(ok);
        QCOMPARE(payload.size(), header + 4 * count); // 1036 for the trigger
        QCOMPARE(quint8(payload.at(1)), quint8(0xFF));
        QTEST(payload.right(4), "last");
    }

    void newValuesRefuses_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("message");

        QTest::newRow("count too small") << 0x0F24 << 0 << 3
                                         << "invalid parameter count command f24 channel id 0 expected params 3 params 4";
        QTest::newRow("no such instance") << 0x0F27 << 9 << 1
                                          << "invalid parameter count command f27 channel id 9 expected params 1 params 0";
        QTest::newRow("value missing") << 0x0F22 << 2 << 5
                                       << "invalid parameter value for command f22 channel id 2 parameter "
                                          "(1031)Charge0TimeoutPeriod";
    }

    void newValuesRefuses()
    {
        QFETCH(int, command);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QString, message);

        Fixture f(0);
        for (int id : {1027, 1028, 1029, 1030})
            f.container->update(id, 1u, 0);
        LogCapture log;
        QVERIFY(f.codec.newValues(quint16(command), quint8(index), count).isEmpty());
        const QStringList lines = codecLines(log);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(") const ") + message), qPrintable(lines.first()));
    }

};

QTEST_GUILESS_MAIN(tst_PdQlp)
#include "tst_pdqlp.moc"
