#include "DampedCosineFit.h"
#include "MinMaxDecimation.h"
#include "PdTvDAC.h"
#include "TdrLocator.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <random>

// The parts of the report's analysis that carry its accuracy: the test
// voltage fit against known damped cosines with noise, the reflectometry
// pairing of pulses, and the decimation the figures draw with.
class tst_RecordingAnalysis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fit_data()
    {
        QTest::addColumn<double>("noise");       // rms, share of the amplitude
        QTest::addColumn<double>("delta");       // true attenuation, 1/s
        QTest::addColumn<double>("seedError");   // share the seed's frequency is off; 0: the plug-in's estimate
        QTest::addColumn<double>("fBound");      // relative
        QTest::addColumn<double>("deltaBound");  // 1/s
        QTest::newRow("clean") << 0.0 << 20.0 << 0.0 << 1e-7 << 2e-4;
        QTest::newRow("1 % noise") << 0.01 << 20.0 << 0.0 << 1e-4 << 0.2;
        QTest::newRow("5 % noise") << 0.05 << 20.0 << 0.0 << 5e-4 << 1.0;
        QTest::newRow("1 % noise, seed 3 % off, no attenuation") << 0.01 << 20.0 << 0.03 << 1e-4 << 0.2;
        // |z|^2 = 1 exactly, and no step tolerance for a delta of 0.
        QTest::newRow("clean, undamped") << 0.0 << 0.0 << 0.0 << 1e-7 << 1e-5;
    }
    void fit()
    {
        QFETCH(double, noise);
        QFETCH(double, delta);
        QFETCH(double, seedError);
        QFETCH(double, fBound);
        QFETCH(double, deltaBound);
        const double rate = 100000, f = 50.0, amplitude = 20000.0;
        std::mt19937 generator(7);
        std::normal_distribution<double> gauss(0.0, noise * amplitude);
        QVector<float> x(20000);
        for (int i = 0; i < x.size(); ++i) {
            const double t = i / rate;
            x[i] = float(amplitude * std::exp(-delta * t) * std::cos(2 * M_PI * f * t + 0.3) + 150.0 + gauss(generator));
        }
        DampedCosineFit::Seed seed{f * (1 + seedError), 0.0};
        if (seedError == 0) {
            PdTvDAC plugin;
            plugin.setParameter(InterfacePdTestvoltage::SampleRate, rate);
            QVector<float> copy(x);
            plugin.process(copy.constData(), copy.data(), copy.size());
            QCOMPARE(plugin.getResult(InterfacePdTestvoltage::Frequency, &seed.frequency), 0);
            plugin.getResult(InterfacePdTestvoltage::Attenuation, &seed.attenuation);
        }
        const DampedCosineFit::Result r = DampedCosineFit::fit(x.constData(), x.size(), rate, seed);
        QVERIFY2(r.ok, r.error);
        QVERIFY2(std::fabs(r.frequency / f - 1) < fBound, qPrintable(QString::number(r.frequency, 'g', 10)));
        QVERIFY2(std::fabs(r.attenuation - delta) < deltaBound, qPrintable(QString::number(r.attenuation, 'g', 10)));
        QVERIFY(std::fabs(r.amplitude / amplitude - 1) < 10 * noise + 1e-5);
        QVERIFY(r.iterations < 30);
        // The model reproduces the record where the noise does not hide it.
        QVERIFY(std::fabs(DampedCosineFit::model(r, rate, 0) - (amplitude * std::cos(0.3) + 150.0))
                < 0.02 * amplitude + 1.0);
    }

    void fitRefusesWhatItCannotFit_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("seed");
        QTest::newRow("too short") << 10 << 50.0;
        QTest::newRow("flat record, no seed") << 2000 << 0.0;
        QTest::newRow("seed above Nyquist") << 2000 << 60000.0;
    }
    void fitRefusesWhatItCannotFit()
    {
        QFETCH(int, n);
        QFETCH(double, seed);
        const QVector<float> flat(n, 1.0f);
        const DampedCosineFit::Result r = DampedCosineFit::fit(flat.constData(), n, 100000.0, {seed, 0.0});
        QVERIFY(!r.ok);
        QVERIFY(std::strlen(r.error) > 0);
    }

    // Direct pulses and echoes in time order: the first pulse not explained
    // is direct, its echo the largest later one of its polarity within 2 L / v.
    void locate_data()
    {
        QTest::addColumn<QVector<double>>("times");  // us
        QTest::addColumn<QVector<double>>("peaks");
        QTest::addColumn<QVector<double>>("positions"); // per direct pulse, -1 without an echo
        // 960 m at 160 m/us: sites at 250 m (2 nC) and 700 m (0.5 nC) discharging together.
        QTest::newRow("two sites interleaved") << QVector<double>{1.5625, 4.375, 7.625, 10.4375}
                                               << QVector<double>{-0.78, -0.195, -0.117, -0.468}
                                               << QVector<double>{250, 700};
        QTest::newRow("near end: echo after the whole round trip") << QVector<double>{0, 12.0}
                                                                   << QVector<double>{0.39, 0.23} << QVector<double>{0};
        QTest::newRow("echo of the other polarity is none") << QVector<double>{0, 3.0}
                                                            << QVector<double>{0.39, -0.23}
                                                            << QVector<double>{-1, -1};
        QTest::newRow("later than the round trip is a new discharge") << QVector<double>{0, 13.0}
                                                                       << QVector<double>{0.39, 0.23}
                                                                       << QVector<double>{-1, -1};
    }
    void locate()
    {
        QFETCH(QVector<double>, times);
        QFETCH(QVector<double>, peaks);
        QFETCH(QVector<double>, positions);
        QVector<PdPulseDetector::Pulse> pulses;
        for (int i = 0; i < times.size(); ++i)
            pulses.append(PdPulseDetector::Pulse{i, times.at(i) * 1e-6, peaks.at(i)});
        const QVector<TdrLocator::Located> located = TdrLocator(960.0, 160e6).locate(pulses);
        QCOMPARE(located.size(), positions.size());
        for (int i = 0; i < located.size(); ++i) {
            QCOMPARE(located.at(i).hasEcho, positions.at(i) >= 0);
            if (located.at(i).hasEcho)
                QVERIFY2(std::fabs(located.at(i).position - positions.at(i)) < 0.01,
                         qPrintable(QString::number(located.at(i).position)));
        }
    }

    void decimation_data()
    {
        QTest::addColumn<QVector<float>>("samples");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QVector<float>>("minima");
        QTest::addColumn<QVector<float>>("maxima");
        const float nan = std::nanf("");
        QTest::newRow("a one-sample spike survives") << QVector<float>{0, 0, 0, 0, 0, 0, 0, 9, 0, 0} << 2
                                                     << QVector<float>{0, 0} << QVector<float>{0, 9};
        QTest::newRow("uneven columns cover every sample") << QVector<float>{1, 2, 3, 4, 5, 6, 7} << 3
                                                           << QVector<float>{1, 3, 5} << QVector<float>{2, 4, 7};
        QTest::newRow("fewer samples than columns") << QVector<float>{3, -1} << 800 << QVector<float>{3, -1}
                                                    << QVector<float>{3, -1};
        QTest::newRow("NaN skipped, an empty column is NaN") << QVector<float>{nan, 2, nan, nan} << 2
                                                             << QVector<float>{2, nan} << QVector<float>{2, nan};
        // Columns of 40 samples go through the vector loop: each extreme is
        // followed by a NaN in the same lane, and the scalar tail has one.
        QVector<float> wide(80, 1.0f);
        for (int i : {20, 31, 58, 63, 79})
            wide[i] = nan;
        wide[4] = 5;
        wide[15] = -3;
        wide[42] = 9;
        wide[47] = -7;
        QTest::newRow("NaN in the vector loop") << wide << 2 << QVector<float>{-3, -7} << QVector<float>{5, 9};
    }
    void decimation()
    {
        QFETCH(QVector<float>, samples);
        QFETCH(int, columns);
        QFETCH(QVector<float>, minima);
        QFETCH(QVector<float>, maxima);
        const QVector<MinMaxDecimation::Column> c = MinMaxDecimation::columns(samples.constData(), samples.size(), columns);
        QCOMPARE(c.size(), minima.size());
        for (int i = 0; i < c.size(); ++i) {
            QVERIFY(c.at(i).minimum == minima.at(i) || (std::isnan(c.at(i).minimum) && std::isnan(minima.at(i))));
            QVERIFY(c.at(i).maximum == maxima.at(i) || (std::isnan(c.at(i).maximum) && std::isnan(maxima.at(i))));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RecordingAnalysis)
#include "tst_recordinganalysis.moc"
