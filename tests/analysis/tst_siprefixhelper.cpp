#include "SiPrefixHelper.h"

#include <QtTest>

#include <cmath>
#include <limits>

class tst_SiPrefixHelper : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void bestPrefix_data();
    void bestPrefix();
    void format_data();
    void format();
};

void tst_SiPrefixHelper::table_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<double>("factor");

    const char *texts[] = {"a", "f", "p", "n", "\xc2\xb5", "m", "", "k", "M", "G", "T", "P", "E"};
    for (int i = 0; i <= 12; ++i)
        QTest::addRow("index %d", i) << i << QString::fromUtf8(texts[i]) << std::pow(10.0, 18 - 3 * i);
    QTest::newRow("index -1") << -1 << QStringLiteral("Unknown") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("index 13") << 13 << QStringLiteral("Unknown") << std::numeric_limits<double>::quiet_NaN();
}

void tst_SiPrefixHelper::table()
{
    QFETCH(int, index);
    QFETCH(QString, prefix);
    QFETCH(double, factor);

    QCOMPARE(SiPrefixHelper::prefix(index), prefix);
    if (std::isnan(factor))
        QVERIFY(std::isnan(SiPrefixHelper::factor(index)));
    else
        QCOMPARE(SiPrefixHelper::factor(index), factor);
}

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
    QTest::newRow("999 n") << 999e-9 << 1.0 << 0 << 12 << 3;
    QTest::newRow("1 micro") << 1e-6 << 1.0 << 0 << 12 << 4;
    QTest::newRow("1 unit") << 1.0 << 1.0 << 0 << 12 << 6;
    QTest::newRow("999 units") << 999.0 << 1.0 << 0 << 12 << 6;
    QTest::newRow("beyond exa") << 1e30 << 1.0 << 0 << 12 << 12;
    QTest::newRow("below atto") << 1e-30 << 1.0 << 0 << 12 << 0;
    QTest::newRow("negative") << -5.0 << 1.0 << 0 << 12 << 0;
    QTest::newRow("negative within a range") << -5.0 << 1.0 << 3 << 9 << 3;
    QTest::newRow("NaN gives the middle") << std::nan("") << 1.0 << 0 << 12 << 6;
    QTest::newRow("NaN in 3 .. 5") << std::nan("") << 1.0 << 3 << 5 << 4;
    QTest::newRow("empty range") << 1.0 << 1.0 << 7 << 5 << 6;
    QTest::newRow("range ends at giga") << 5e12 << 1.0 << 3 << 9 << 9;
    QTest::newRow("range starts at nano") << 5e-12 << 1.0 << 3 << 9 << 3;
    QTest::newRow("limit 10: 42 m") << 0.042 << 10.0 << 0 << 12 << 5;
    QTest::newRow("limit 10: 4200 units") << 4200.0 << 10.0 << 0 << 12 << 6;
    QTest::newRow("range reaching past the table") << 1e30 << 1.0 << 6 << 20 << 12;
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

    // The charge range of the control widget.
    QTest::newRow("100 pC") << 1e-10 << "C" << 0 << 0 << 12 << "100 pC";
    QTest::newRow("1 nC") << 1e-9 << "C" << 0 << 0 << 12 << "1 nC";
    QTest::newRow("10 nC") << 1e-8 << "C" << 0 << 0 << 12 << "10 nC";
    QTest::newRow("100 nC") << 1e-7 << "C" << 0 << 0 << 12 << "100 nC";
    // Acquisition times between nano and giga.
    QTest::newRow("20 ms") << 0.02 << "s" << 0 << 3 << 9 << "20 ms";
    QTest::newRow("micro sign") << 5e-6 << "s" << 0 << 3 << 9 << QString::fromUtf8("5 \xc2\xb5s");
    QTest::newRow("2 s") << 2.0 << "s" << 0 << 3 << 9 << "2 s";
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
