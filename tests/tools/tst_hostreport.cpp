#include "FloatChunk.h"
#include "ChannelData.h"
#include "ChannelInfo.h"
#include "Hdf5Recorder.h"
#include "HostProcess.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <random>

namespace {


ChannelInfo info(int id, double rate)
{
    ChannelInfo i;
    i.id = id;
    i.name = QStringLiteral("channel %1").arg(id);
    i.sampleRate = rate;
    i.dataType = ChannelData::DataTypeFloat;
    return i;
}

// A recording with the given channels: 1021 a damped 50 Hz shot in volts,
// 1001 noise only, 1018 anything else.
bool writeRecording(const QString &path, const QList<int> &channels, const QVariantMap &root, QString *error)
{
    Hdf5Recorder recorder(path);
    if (!recorder.open(error) || !recorder.beginMeasurement(1, error))
        return false;
    std::mt19937 generator(3);
    std::normal_distribution<float> gauss(0.0f, 1e-4f);
    for (int channel : channels) {
        QVector<float> x(channel == 1021 ? 20000 : 50000);
        for (int i = 0; i < x.size(); ++i)
            x[i] = channel == 1021 ? float(20000 * std::exp(-20.0 * i * 1e-5) * std::cos(2 * M_PI * 50 * i * 1e-5))
                                   : gauss(generator);
        if (!recorder.addChunk(channel, floatChunk(x, 2.0, 2.0), info(channel, channel == 1021 ? 1e5 : 1.25e8), error))
            return false;
    }
    QVariantMap attributes{{"format", "dravik-host recording"}, {"format_version", 1}, {"operation_mode", 0},
                           {"measurement_mode", 0}, {"post_processing_parameters", 1}};
    for (auto it = root.cbegin(); it != root.cend(); ++it)
        attributes.insert(it.key(), it.value());
    return recorder.endMeasurement({{"index", 1}}, error) && recorder.commit(attributes, error);
}

} // namespace

// dravik-host report and analyze on recordings: against the simulator's
// truth (PD sites, charges, inception over stepped voltage, the test
// voltage), and on files they cannot use or that lack a part.
class tst_HostReport : public QObject
{
    Q_OBJECT

private:
    static bool record(const QStringList &simulator, const QStringList &host, const QString &output, QString *why)
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        if (!sim.start(simulator)) {
            *why = sim.errorString();
            return false;
        }
        const HostProcess::Result r = HostProcess::run(
            QStringLiteral(DRAVIK_HOST_PATH),
            QStringList{"measure", "--plugin", DRAVIK_PLUGIN_PATH, "--address", sim.address(), "--simulated",
                        "--measurement-mode", "0", "--channels", "1001,1021", "-o", output}
                + host);
        *why = r.err;
        return r.exitCode == 0;
    }

private Q_SLOTS:
    // Two sites on 960 m, the voltage stepped up and down; velocity and charge
    // factor from a calibration recording of 1 nC at the near end.
    void simulatorTruth()
    {
        QTemporaryDir dir;
        const QString calibration = dir.filePath("cal.h5"), run = dir.filePath("run.h5");
        QString why;
        QVERIFY2(record({"--pd-site", "0:1"}, {"--charge", "1e-9", "--duration", "1.7"}, calibration, &why),
                 qPrintable(why));
        QVERIFY2(record({"--pd-site", "250:2:9,700:0.5:13", "--voltage-steps", "6,10,14,10,6"},
                        {"--charge", "5e-9", "--duration", "5.6"}, run, &why),
                 qPrintable(why));
        const HostProcess::Result r = HostProcess::run(
            QStringLiteral(DRAVIK_HOST_PATH), {"report", run, "-o", dir.filePath("report.pdf"), "--json",
                                               dir.filePath("report.json"), "--cable-length", "960",
                                               "--tdr-calibration", calibration});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QJsonObject json = QJsonDocument::fromJson(readFile(dir.filePath("report.json"))).object();
        QVERIFY(QFileInfo(dir.filePath("report.pdf")).size() > 10000);

        const auto near = [](double measured, double truth, double bound) {
            return std::fabs(measured - truth) <= bound;
        };
        const QJsonObject tv = json.value("test_voltage").toObject();
        QVERIFY2(near(tv.value("frequency_hz").toDouble(), 50.0, 50.0 * 1e-4), qPrintable(QString::number(tv.value("frequency_hz").toDouble())));
        QVERIFY(near(tv.value("attenuation_per_s").toDouble(), 20.0, 0.2));
        QVERIFY(near(tv.value("tan_delta").toDouble(), 20.0 / (M_PI * 50.0), 0.001));
        QCOMPARE(tv.value("headline_method").toString(), QStringLiteral("least-squares fit"));
        QVERIFY(near(json.value("cable").toObject().value("velocity_m_per_s").toDouble(), 160e6, 0.005 * 160e6));

        // Each pulse's charge is its calibrated charge, not its peak voltage.
        const QJsonArray pulseList = json.value("pulses").toArray();
        QVERIFY(!pulseList.isEmpty());
        for (const QJsonValue &p : pulseList)
            QVERIFY(std::fabs(p.toObject().value("charge_c").toDouble()) < 1e-8);

        // Sites within 0.5 % of the cable, charges within 5 %, inception
        // within one step (4 kV) above the true one.
        const QJsonArray sites = json.value("sites").toArray();
        QCOMPARE(sites.size(), 2);
        const double truth[2][3] = {{250, 2e-9, 9000}, {700, 0.5e-9, 13000}};
        for (int i = 0; i < 2; ++i) {
            const QJsonObject site = sites.at(i).toObject();
            const QString what = QJsonDocument(site).toJson(QJsonDocument::Compact);
            QVERIFY2(near(site.value("position_m").toDouble(), truth[i][0], 0.005 * 960), qPrintable(what));
            QVERIFY2(near(site.value("median_charge_c").toDouble(), truth[i][1], 0.05 * truth[i][1]), qPrintable(what));
            QVERIFY2(near(site.value("largest_charge_c").toDouble(), truth[i][1], 0.05 * truth[i][1]), qPrintable(what));
            const double inception = site.value("inception_v").toDouble();
            QVERIFY2(inception >= truth[i][2] && inception <= truth[i][2] + 4000 + 1, qPrintable(what));
            QVERIFY2(near(site.value("extinction_v").toDouble(), inception, 1), qPrintable(what));
        }
        // Shots at 6, 10, 14, 10 and 6 kV: 3 discharges of the 250 m site at
        // 10 kV, of both sites at 14 kV. On a loaded machine the run's end
        // may cut the last shot, or take one more at 6 kV.
        QStringList pulses;
        for (const QJsonValue &shot : json.value("shots").toArray())
            pulses.append(QString::number(shot.toObject().value("pulses").toInt()));
        QVERIFY2(QRegularExpression(QStringLiteral("^0 3 6 3( 0)*$")).match(pulses.join(' ')).hasMatch(),
                 qPrintable(pulses.join(' ')));
        QVERIFY(near(json.value("pd").toObject().value("inception_v").toDouble(), 10000, 50));

        // analyze re-runs the plug-in's analyser on the same records.
        const HostProcess::Result a = HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), {"analyze", run});
        QVERIFY2(a.exitCode == 0, qPrintable(a.err));
        const QJsonArray records = QJsonDocument::fromJson(a.out.toUtf8()).object().value("records").toArray();
        QCOMPARE(records.size(), pulses.size()); // one record per shot, however many the run took
        const double frequency = records.at(2).toObject().value("results").toObject().value("frequency").toObject()
                                     .value("value").toDouble();
        QVERIFY2(near(frequency, 50.0, 0.05), qPrintable(QString::number(frequency)));
    }

    void unusableOrPartial_data()
    {
        QTest::addColumn<QString>("file");     // a name made in init below, or a recording with channels
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("pdf");
        const QStringList report{"report", "@file", "-o", "@dir/r.pdf"};
        const auto row = [](const char *name, const QString &file, const QStringList &args, int code, const char *message,
                            bool pdf) { QTest::newRow(name) << file << args << code << QString::fromUtf8(message) << pdf; };
        row("missing file", "absent.h5", report, 13, "no such file", false);
        row("text file", "text.h5", report, 13, "not an HDF5 file", false);
        row("truncated recording", "truncated.h5", report, 13, "damaged or truncated", false);
        row("another program's HDF5", "foreign.h5", report, 13, "not a dravik-host recording", false);
        row("neither test voltage nor PD", "1018", report, 14, "nothing to report", false);
        row("no test voltage channel", "1001", report, 15, "no test voltage channel", true);
        row("no PD channel", "1021", report, 15, "no PD channel", true);
        row("no PD pulses", "1021,1001", report, 0, "no PD pulses above the detection threshold", true);
        row("calibration without a pulse", "1021,1001",
            report + QStringList{"--cable-length", "960", "--tdr-calibration", "@dir/1021,1001.h5"}, 13,
            "no calibration pulse", false);
        row("velocity without cable length", "1021,1001", report + QStringList{"--velocity", "160"}, 2,
            "needs --cable-length", false);
        row("analyze, truncated", "truncated.h5", {"analyze", "@file"}, 13, "damaged or truncated", false);
        row("analyze, no test voltage", "1001", {"analyze", "@file"}, 14, "no test voltage record", false);
    }
    void unusableOrPartial()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(bool, pdf);
        QTemporaryDir dir;
        QString error;
        QString path = dir.filePath(file);
        if (file.at(0).isDigit()) {
            QList<int> channels;
            for (const QString &id : file.split(QLatin1Char(',')))
                channels.append(id.toInt());
            path += QStringLiteral(".h5");
            QVERIFY2(writeRecording(path, channels, {}, &error), qPrintable(error));
        } else if (file == QLatin1String("text.h5")) {
            QVERIFY(writeFile(path, "frequency,voltage\n50,20000\n"));
        } else if (file == QLatin1String("truncated.h5")) {
            QVERIFY2(writeRecording(path, {1021, 1001}, {}, &error), qPrintable(error));
            QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
        } else if (file == QLatin1String("foreign.h5")) {
            QVERIFY2(writeRecording(path, {1021}, {{"format", "someone else's data"}}, &error), qPrintable(error));
        }
        for (QString &arg : extra)
            arg.replace(QLatin1String("@file"), path).replace(QLatin1String("@dir"), dir.path());
        const HostProcess::Result r = HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), extra);
        QVERIFY2(r.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(QFile::exists(dir.filePath("r.pdf")), pdf);
    }
};

QTEST_GUILESS_MAIN(tst_HostReport)
#include "tst_hostreport.moc"
