#include "SiPrefixHelper.h"

#include <QtTest>

#include <cmath>
#include <limits>

class tst_SiPrefixHelper : public QObject
{
    Q_OBJECT

private slots:
    void bestPrefix_data();
    void bestPrefix();
    void format_data();
    void format();
};

void tst_SiPrefixHelper::bestPrefix_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("limit");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::addColumn<int>("expected");

    QTest::newRow("4.2 m") << 0.0042 << 1.0 << 0 << 12 << 5;
    QTest::newRow("4.2 k") << 4200.0 << 1.0 << 0 << 12 << 7;
    QTest::newRow("zero") << 0.0 << 1.0 << 0 << 12 << 6;
    QTest::newRow("zero in a range without index 6") << 0.0 << 1.0 << 0 << 3 << 6;
    QTest::newRow("100 p") << 1e-10 << 1.0 << 0 << 12 << 2;
    QTest::newRow("1 n") << 1e-9 << 1.0 << 0 << 12 << 3;
    QTest::newRow("1 unit") << 1.0 << 1.0 << 0 << 12 << 6;
    QTest::newRow("beyond exa") << 1e30 << 1.0 << 0 << 12 << 12;
    QTest::newRow("below atto") << 1e-30 << 1.0 << 0 << 12 << 0;
    QTest::newRow("negative") << -5.0 << 1.0 << 0 << 12 << 0;
    QTest::newRow("NaN gives the middle") << std::nan("") << 1.0 << 0 << 12 << 6;
    QTest::newRow("empty range") << 1.0 << 1.0 << 7 << 5 << 6;
    QTest::newRow("range ends at giga") << 5e12 << 1.0 << 3 << 9 << 9;
    QTest::newRow("limit 10: 42 m") << 0.042 << 10.0 << 0 << 12 << 5;
}

void tst_SiPrefixHelper::bestPrefix()
{
    QFETCH(double, value);
    QFETCH(double, limit);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QFETCH(int, expected);

    QCOMPARE(SiPrefixHelper::bestPrefix(value, limit, lowest, highest), expected);
}

void tst_SiPrefixHelper::format_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::addColumn<QString>("expected");

    QTest::newRow("100 pC") << 1e-10 << "C" << 0 << 0 << 12 << "100 pC";
    QTest::newRow("1 nC") << 1e-9 << "C" << 0 << 0 << 12 << "1 nC";
    QTest::newRow("20 ms") << 0.02 << "s" << 0 << 3 << 9 << "20 ms";
    QTest::newRow("micro sign") << 5e-6 << "s" << 0 << 3 << 9 << QString::fromUtf8("5 \xc2\xb5s");
    QTest::newRow("decimals") << 0.0042 << "V" << 1 << 0 << 12 << "4.2 mV";
    QTest::newRow("zero") << 0.0 << "C" << 0 << 0 << 12 << "0 C";
}

void tst_SiPrefixHelper::format()
{
    QFETCH(double, value);
    QFETCH(QString, unit);
    QFETCH(int, decimals);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QFETCH(QString, expected);

    QCOMPARE(SiPrefixHelper::format(value, unit, decimals, lowest, highest), expected);
}

QTEST_APPLESS_MAIN(tst_SiPrefixHelper)
#include "tst_siprefixhelper.moc"
