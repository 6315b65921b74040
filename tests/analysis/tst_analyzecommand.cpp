#include "AnalyzeCommand.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

QByteArray float32le(const QVector<float> &samples)
{
    QByteArray bytes(samples.size() * 4, Qt::Uninitialized);
    qToLittleEndian<float>(samples.constData(), samples.size(), bytes.data());
    return bytes;
}

QVector<float> sine(double rate, int n, double f, double delta, double amplitude)
{
    QVector<float> x(n);
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        x[i] = static_cast<float>(amplitude * std::exp(-delta * t) * std::sin(2 * kPi * f * t));
    }
    return x;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject json;
};

Run analyze(const QStringList &args)
{
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.exitCode = AnalyzeCommand::run(args, out, err);
    out.flush();
    err.flush();
    run.json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    return run;
}

} // namespace

class tst_AnalyzeCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    // The analysers' accuracy is tested on their own; here what the command
    // hands them and how it reports: NaN expects an invalid, null value.
    void results_data()
    {
        QTest::addColumn<QByteArray>("recording");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QVariantMap>("expected");
        const QVector<float> damped = sine(1e5, 200000, 50, 20, 0.01);
        QTest::newRow("damped AC, 50 Hz at 20/s")
            << float32le(damped) << QStringList{"--rate", "100000", "--analyser", "dac", "--scale", "1e5"}
            << QVariantMap{{"frequency", 50.0}, {"attenuation", 20.0},
                           {"amplitude", 1e5 * *std::max_element(damped.begin(), damped.end())}};
        QTest::newRow("continuous 50 Hz") << float32le(sine(1e5, 50000, 50, 0, 2.0))
                                          << QStringList{"--rate", "1e5", "--analyser", "ac"}
                                          << QVariantMap{{"frequency", 50.0}, {"amplitude", 2.0}};
        QTest::newRow("too short for damped AC") << float32le(sine(1e5, 99, 50, 20, 1))
                                                 << QStringList{"--rate", "1e5", "--analyser", "dac"}
                                                 << QVariantMap{{"frequency", kNaN}, {"attenuation", kNaN}};
    }
    void results()
    {
        QFETCH(QByteArray, recording);
        QFETCH(QStringList, options);
        QFETCH(QVariantMap, expected);
        const Run run = analyze(QStringList{write(QStringLiteral("recording.f32"), recording)} + options);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(run.json.value(QStringLiteral("samples")).toInt(), recording.size() / 4);

        const QJsonObject results = run.json.value(QStringLiteral("results")).toObject();
        for (const char *key : {"frequency", "amplitude", "d3", "d4", "attenuation", "delay", "firstZeroCrossing"}) {
            const QJsonValue value = results.value(key).toObject().value(QStringLiteral("value"));
            const QJsonValue valid = results.value(key).toObject().value(QStringLiteral("valid"));
            QVERIFY2(valid.isBool() && (value.isDouble() || (value.isNull() && !valid.toBool())), key);
            if (!expected.contains(key))
                continue;
            const double wanted = expected.value(key).toDouble();
            QCOMPARE(valid.toBool(), !std::isnan(wanted));
            QVERIFY2(std::isnan(wanted) ? value.isNull() : std::fabs(value.toDouble() - wanted) < 0.05 * wanted, key);
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("recording");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");

        const QByteArray good = float32le(sine(1e4, 1000, 50, 0, 1));
        const QStringList dac{"--rate", "1e4", "--analyser", "dac"};
        QTest::newRow("no rate") << good << QStringList{"--analyser", "dac"} << "--rate";
        QTest::newRow("unknown analyser") << good << QStringList{"--rate", "1e4", "--analyser", "vlf"} << "--analyser";
        QTest::newRow("partial sample") << good + QByteArray(3, '\0') << dac << "not a whole number";
        QTest::newRow("empty file") << QByteArray() << dac << "no samples";
        QTest::newRow("missing file") << QByteArray("-") << dac << "cannot read";
    }
    void refusals()
    {
        QFETCH(QByteArray, recording);
        QFETCH(QStringList, options);
        QFETCH(QString, message);

        const QString path = recording == "-" ? m_dir.filePath(QStringLiteral("absent.f32"))
                                              : write(QStringLiteral("refused.f32"), recording);
        const Run run = analyze(QStringList{path} + options);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QTemporaryDir m_dir;
};

QTEST_APPLESS_MAIN(tst_AnalyzeCommand)
#include "tst_analyzecommand.moc"
