#include "Crc32_v2.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

namespace {
quint32 complementOfZlib(const QByteArray &data)
{
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()));
    return ~quint32(crc);
}
} // namespace

class tst_Crc32 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("crc");
        QTest::newRow("check value") << QByteArray("123456789") << 0x340BC6D9u;
        QTest::newRow("empty") << QByteArray() << 0xFFFFFFFFu;
    }

    void knownValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint32, crc);
        QCOMPARE(Crc32_v2::checksum(data), crc);
    }

    void agreesWithZlib()
    {
        QRandomGenerator random(20240611u);
        for (int round = 0; round < 300; ++round) {
            const int size = round < 40 ? round : int(random.bounded(70000));
            QByteArray data(size, '\0');
            for (int i = 0; i < size; ++i)
                data[i] = char(random.bounded(256));
            QCOMPARE(Crc32_v2::checksum(data), complementOfZlib(data));

            const int split = size ? int(random.bounded(size)) : 0;
            const quint32 first = Crc32_v2::update(Crc32_v2::kInitial, data.constData(), split);
            QCOMPARE(Crc32_v2::update(first, data.constData() + split, size - split), complementOfZlib(data));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Crc32)
#include "tst_crc32.moc"
