#include "AnalyzeCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;

double kNaN()
{
    return std::numeric_limits<double>::quiet_NaN();
}

QByteArray float32le(const QVector<float> &samples)
{
    QByteArray bytes(samples.size() * 4, Qt::Uninitialized);
    for (int i = 0; i < samples.size(); ++i) {
        quint32 bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        qToLittleEndian(bits, bytes.data() + 4 * i);
    }
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
    void initTestCase();
    void results_data();
    void results();
    void refusals_data();
    void refusals();

private:
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
};

void tst_AnalyzeCommand::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString tst_AnalyzeCommand::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_AnalyzeCommand::results_data()
{
    QTest::addColumn<QByteArray>("recording");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("attenuation");
    QTest::addColumn<double>("amplitude");

    QTest::newRow("damped AC, 50 Hz at 20/s") << float32le(sine(1e5, 200000, 50, 20, 0.01))
                                              << QStringList{"--rate", "100000", "--analyser", "dac", "--scale", "1e5"}
                                              << 50.0 << 20.0 << 0.0;
    QTest::newRow("continuous 50 Hz") << float32le(sine(1e5, 50000, 50, 0, 2.0))
                                      << QStringList{"--rate", "1e5", "--analyser", "ac"} << 50.0 << kNaN() << 2.0;
    QTest::newRow("too short for damped AC") << float32le(sine(1e5, 99, 50, 20, 1))
                                             << QStringList{"--rate", "1e5", "--analyser", "dac"} << kNaN() << kNaN()
                                             << 0.0;
}

void tst_AnalyzeCommand::results()
{
    QFETCH(QByteArray, recording);
    QFETCH(QStringList, options);
    QFETCH(double, frequency);
    QFETCH(double, attenuation);
    QFETCH(double, amplitude);

    const QString path = write(QStringLiteral("recording.f32"), recording);
    const Run run = analyze(QStringList{path} + options);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));

    const QJsonObject results = run.json.value(QStringLiteral("results")).toObject();
    const QStringList keys{"frequency", "amplitude", "d3", "d4", "attenuation", "delay", "firstZeroCrossing"};
    for (const QString &key : keys) {
        const QJsonObject entry = results.value(key).toObject();
        QVERIFY2(entry.contains(QStringLiteral("value")) && entry.value(QStringLiteral("valid")).isBool(),
                 qPrintable(key));
        if (entry.value(QStringLiteral("value")).isNull())
            QVERIFY(!entry.value(QStringLiteral("valid")).toBool());
    }
    QCOMPARE(run.json.value(QStringLiteral("samples")).toInt(), recording.size() / 4);

    const QJsonObject f = results.value(QStringLiteral("frequency")).toObject();
    if (std::isnan(frequency)) {
        QVERIFY(f.value(QStringLiteral("value")).isNull());
        QCOMPARE(f.value(QStringLiteral("valid")).toBool(), false);
    } else {
        QCOMPARE(f.value(QStringLiteral("valid")).toBool(), true);
        QVERIFY(std::fabs(f.value(QStringLiteral("value")).toDouble() - frequency) < 0.005 * frequency);
    }
    if (!std::isnan(attenuation)) {
        const QJsonObject a = results.value(QStringLiteral("attenuation")).toObject();
        QCOMPARE(a.value(QStringLiteral("valid")).toBool(), true);
        QVERIFY(std::fabs(a.value(QStringLiteral("value")).toDouble() - attenuation) < 0.05 * attenuation);
    }
    if (amplitude > 0) {
        const QJsonObject a = results.value(QStringLiteral("amplitude")).toObject();
        QVERIFY(std::fabs(a.value(QStringLiteral("value")).toDouble() - amplitude) < 0.01 * amplitude);
    }
}

void tst_AnalyzeCommand::refusals_data()
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

void tst_AnalyzeCommand::refusals()
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

QTEST_APPLESS_MAIN(tst_AnalyzeCommand)
#include "tst_analyzecommand.moc"
