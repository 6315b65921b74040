#include "SiPrefixHelper.h"

#include <QtTest>

#include <cmath>

namespace {
struct Prefix
{
    double value, limit;
    int lowest, highest, expected; // prefix indices, 6 is none
};
struct Format
{
    double value;
    QString unit;
    int decimals, lowest, highest;
    QString expected;
};
} // namespace

Q_DECLARE_METATYPE(Prefix)
Q_DECLARE_METATYPE(Format)

class tst_SiPrefixHelper : public QObject
{
    Q_OBJECT

private slots:
    void bestPrefix_data()
    {
        QTest::addColumn<Prefix>("c");
        QTest::newRow("4.2 m") << Prefix{0.0042, 1, 0, 12, 5};
        QTest::newRow("4.2 k") << Prefix{4200, 1, 0, 12, 7};
        QTest::newRow("zero") << Prefix{0, 1, 0, 12, 6};
        QTest::newRow("zero in a range without index 6") << Prefix{0, 1, 0, 3, 6};
        QTest::newRow("100 p") << Prefix{1e-10, 1, 0, 12, 2};
        QTest::newRow("1 n") << Prefix{1e-9, 1, 0, 12, 3};
        QTest::newRow("1 unit") << Prefix{1, 1, 0, 12, 6};
        QTest::newRow("exactly 1000 is 1 k") << Prefix{1000, 1, 0, 12, 7};
        QTest::newRow("beyond exa") << Prefix{1e30, 1, 0, 12, 12};
        QTest::newRow("below atto") << Prefix{1e-30, 1, 0, 12, 0};
        QTest::newRow("negative") << Prefix{-5, 1, 0, 12, 0};
        QTest::newRow("NaN gives the middle") << Prefix{std::nan(""), 1, 0, 12, 6};
        QTest::newRow("empty range") << Prefix{1, 1, 7, 5, 6};
        QTest::newRow("range ends at giga") << Prefix{5e12, 1, 3, 9, 9};
        QTest::newRow("limit 10: 42 m") << Prefix{0.042, 10, 0, 12, 5};
    }
    void bestPrefix()
    {
        QFETCH(Prefix, c);
        QCOMPARE(SiPrefixHelper::bestPrefix(c.value, c.limit, c.lowest, c.highest), c.expected);
    }

    void format_data()
    {
        QTest::addColumn<Format>("c");
        QTest::newRow("100 pC") << Format{1e-10, "C", 0, 0, 12, "100 pC"};
        QTest::newRow("1 nC") << Format{1e-9, "C", 0, 0, 12, "1 nC"};
        QTest::newRow("20 ms") << Format{0.02, "s", 0, 3, 9, "20 ms"};
        QTest::newRow("micro sign") << Format{5e-6, "s", 0, 3, 9, QString::fromUtf8("5 \xc2\xb5s")};
        QTest::newRow("decimals") << Format{0.0042, "V", 1, 0, 12, "4.2 mV"};
        QTest::newRow("zero") << Format{0, "C", 0, 0, 12, "0 C"};
    }
    void format()
    {
        QFETCH(Format, c);
        QCOMPARE(SiPrefixHelper::format(c.value, c.unit, c.decimals, c.lowest, c.highest), c.expected);
    }
};

QTEST_APPLESS_MAIN(tst_SiPrefixHelper)
#include "tst_siprefixhelper.moc"
