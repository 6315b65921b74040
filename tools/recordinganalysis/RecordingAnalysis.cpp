#include "RecordingAnalysis.h"

#include "DampedCosineFit.h"
#include "PdPulseDetector.h"
#include "PdTvContinuousAC.h"
#include "PdTvCosRec.h"
#include "PdTvDAC.h"
#include "RecordingReader.h"
#include "TdrLocator.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

double median(QVector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
                 values.end());
    if (values.isEmpty())
        return AnalysisResult::kNaN;
    std::sort(values.begin(), values.end());
    const int m = values.size() / 2;
    return values.size() % 2 ? values.at(m) : 0.5 * (values.at(m - 1) + values.at(m));
}

double result(const InterfacePdTestvoltage &analyser, int id)
{
    double value = AnalysisResult::kNaN;
    return analyser.getResult(id, &value) == 0 ? value : AnalysisResult::kNaN;
}

double tanDelta(double attenuation, double frequency)
{
    return frequency > 0 ? attenuation / (kPi * frequency) : AnalysisResult::kNaN;
}

// Linear interpolation of a record at time t; NaN outside it.
double valueAt(const QVector<float> &x, const RecordingShots::Record &record, double t)
{
    const double p = (t - record.startTime) * record.sampleRate;
    if (!(p >= 0) || p > x.size() - 1)
        return AnalysisResult::kNaN;
    const int i = int(p);
    const double f = p - i;
    return i + 1 < x.size() ? x[i] * (1 - f) + x[i + 1] * f : x[i];
}

// Inception and extinction over shots in time order: the voltage rises to its
// highest shot and falls after it. Inception is the lowest voltage with PD on
// the way up, extinction the lowest with PD on the way down.
void inceptionOf(const QVector<double> &voltages, const QVector<bool> &withPd, double *inception, double *extinction)
{
    *inception = *extinction = AnalysisResult::kNaN;
    int top = -1;
    for (int i = 0; i < voltages.size(); ++i) {
        if (std::isfinite(voltages.at(i)) && (top < 0 || voltages.at(i) > voltages.at(top)))
            top = i;
    }
    for (int i = 0; i < voltages.size(); ++i) {
        if (!withPd.at(i) || !std::isfinite(voltages.at(i)))
            continue;
        double *target = i <= top ? inception : extinction;
        if (!std::isfinite(*target) || voltages.at(i) < *target)
            *target = voltages.at(i);
        if (i == top && (!std::isfinite(*extinction) || voltages.at(i) < *extinction))
            *extinction = voltages.at(i);
    }
}

} // namespace

QString RecordingAnalysis::analyserName(int operationMode)
{
    switch (operationMode) {
    case 0:
    case 1:
    case 8:
    case 9:
        return QStringLiteral("dac");
    case 2:
    case 5:
        return QStringLiteral("cr");
    case 3:
    case 6:
    case 7:
        return QStringLiteral("ac");
    default:
        return QString();
    }
}

std::unique_ptr<InterfacePdTestvoltage> RecordingAnalysis::makeAnalyser(const QString &name, double sampleRate,
                                                                        double scale)
{
    std::unique_ptr<InterfacePdTestvoltage> analyser;
    if (name == QLatin1String("dac"))
        analyser = std::make_unique<PdTvDAC>();
    else if (name == QLatin1String("cr"))
        analyser = std::make_unique<PdTvCosRec>();
    else if (name == QLatin1String("ac"))
        analyser = std::make_unique<PdTvContinuousAC>();
    else
        return analyser;
    analyser->setParameter(InterfacePdTestvoltage::SampleRate, sampleRate);
    analyser->setParameter(InterfacePdTestvoltage::ScaleFactor, scale);
    if (name == QLatin1String("ac"))
        analyser->setParameter(InterfacePdTestvoltage::DetectionThreshold, std::fabs(scale) * 0.025);
    return analyser;
}

namespace {

bool conditioned(const QVariantMap &root)
{
    return root.value(QStringLiteral("measurement_mode")).toInt() == 0
        && root.value(QStringLiteral("post_processing_parameters")).toInt() == 1;
}

} // namespace

bool RecordingAnalysis::testVoltageIsPhase(const QVariantMap &root)
{
    return conditioned(root) && analyserName(root.value(QStringLiteral("operation_mode"), -1).toInt()) == QLatin1String("ac");
}

double RecordingAnalysis::testVoltageScale(const QVariantMap &root)
{
    const double calibration = root.value(QStringLiteral("test_voltage_calibration")).toDouble();
    return conditioned(root) || !(std::isfinite(calibration) && calibration != 0) ? 1.0 : calibration;
}

QVector<float> RecordingAnalysis::samples(const RecordingReader &reader, const RecordingShots::Record &record,
                                          double scale, QString *error)
{
    const RecordingReader::Dataset d = reader.dataset(record.group, record.dataset);
    if (!d.error.isEmpty()) {
        *error = d.error;
        return {};
    }
    QVector<float> x = RecordingReader::floatSamples(d);
    if (scale != 1.0) {
        for (float &v : x)
            v = float(v * scale);
    }
    return x;
}

void RecordingAnalysis::fitWindow(const RecordingShots::Record &record, double frequency, int *first, int *count)
{
    const double reference = record.referenceTime();
    *first = int(qBound<double>(0, std::ceil((reference - record.startTime) * record.sampleRate), double(record.samples)));
    qint64 n = record.samples - *first;
    if (frequency > 0 && std::isfinite(frequency))
        n = qMin<qint64>(n, qint64(std::floor(10.0 / frequency * record.sampleRate)));
    *count = int(qMax<qint64>(0, n));
}

AnalysisResult RecordingAnalysis::run(const RecordingReader &reader, const Options &options)
{
    AnalysisResult r;
    const QVariantMap root = reader.rootAttributes();
    for (const char *key : {"created_utc", "device_serial", "device_firmware_version", "operation_mode_name",
                            "measurement_mode", "measurement_count", "plugin_version", "host_version", "simulated",
                            "test_voltage_calibration"})
        r.recording.insert(QLatin1String(key), root.value(QLatin1String(key)));
    r.operationMode = root.value(QStringLiteral("operation_mode"), -1).toInt();
    r.analyser = analyserName(r.operationMode);
    r.dampedVoltage = r.analyser == QLatin1String("dac");
    r.testVoltageIsPhase = testVoltageIsPhase(root);
    r.cableLength = options.cableLength;
    r.velocity = options.velocity;
    r.velocitySource = options.velocitySource;
    r.chargeFactor = options.chargeFactor;
    r.chargeFactorSource = options.chargeFactorSource;
    if (!(r.chargeFactor > 0)) {
        const double own = root.value(QStringLiteral("charge_to_voltage_factor_v_per_c")).toDouble();
        r.chargeFactor = own > 0 && std::isfinite(own) ? own : AnalysisResult::kNaN;
        r.chargeFactorSource = own > 0 ? QStringLiteral("recording (charge_to_voltage_factor_v_per_c)") : QString();
    }
    const double scale = testVoltageScale(root);
    const QVector<RecordingShots::Shot> shots = RecordingShots::load(reader);
    r.pdChannel = RecordingShots::pdChannel(reader);
    r.hasPdChannel = r.pdChannel != 0;
    const bool canLocate = r.cableLength > 0 && r.velocity > 0;
    const TdrLocator locator(r.cableLength, r.velocity);

    QVector<double> positions, charges;
    QVector<int> locatedPulse;
    for (const RecordingShots::Shot &source : shots) {
        AnalysisResult::Shot shot;
        const int shotIndex = r.shots.size();
        shot.hasVoltage = source.testVoltage.isValid();
        shot.measurement = shot.hasVoltage ? source.testVoltage.measurement : source.pd.value(0).measurement;
        shot.time = shot.hasVoltage ? source.testVoltage.referenceTime() : source.pd.value(0).referenceTime();
        QVector<float> tv;
        if (shot.hasVoltage) {
            r.hasTestVoltage = true;
            QString error;
            tv = samples(reader, source.testVoltage, scale, &error);
            if (!error.isEmpty())
                r.notes.append(error);
            int first = 0, count = 0;
            fitWindow(source.testVoltage, 0, &first, &count);
            if (r.testVoltageIsPhase) {
                const QVariantMap recorded = reader.groupAttributes(source.testVoltage.group);
                shot.pluginFrequency = recorded.value(QStringLiteral("frequency_hz"), AnalysisResult::kNaN).toDouble();
                shot.pluginAmplitude = recorded.value(QStringLiteral("test_voltage_v"), AnalysisResult::kNaN).toDouble();
                shot.voltage = shot.pluginAmplitude;
                count = 0; // nothing to analyse or fit: the samples are phases
            }
            // The plug-in's method on what the plug-in would see, then the
            // fit seeded with its result over ten periods at most.
            if (auto analyser = makeAnalyser(r.analyser, source.testVoltage.sampleRate, 1.0); analyser && count > 0) {
                QVector<float> copy(tv.mid(first, count));
                analyser->process(copy.constData(), copy.data(), copy.size());
                shot.pluginFrequency = result(*analyser, InterfacePdTestvoltage::Frequency);
                shot.pluginAmplitude = result(*analyser, InterfacePdTestvoltage::Amplitude);
                shot.pluginAttenuation = r.dampedVoltage ? result(*analyser, InterfacePdTestvoltage::Attenuation) : 0.0;
                shot.pluginTanDelta = tanDelta(shot.pluginAttenuation, shot.pluginFrequency);
            }
            if (r.analyser != QLatin1String("cr") && count > 0) {
                fitWindow(source.testVoltage, shot.pluginFrequency, &first, &count);
                const DampedCosineFit::Result fit = DampedCosineFit::fit(
                    tv.constData() + first, qMin(count, tv.size() - first), source.testVoltage.sampleRate,
                    DampedCosineFit::Seed{shot.pluginFrequency, r.dampedVoltage ? shot.pluginAttenuation : 0.0});
                shot.fitted = fit.ok;
                shot.fitError = QString::fromLatin1(fit.error);
                if (fit.ok) {
                    shot.fitFrequency = fit.frequency;
                    shot.fitAttenuation = fit.attenuation;
                    shot.fitAmplitude = fit.amplitude;
                    shot.fitPhase = fit.phase;
                    shot.fitOffset = fit.offset;
                    shot.fitRms = fit.rmsResidual;
                    shot.fitIterations = fit.iterations;
                    shot.fitStart = source.testVoltage.startTime + first / source.testVoltage.sampleRate;
                }
            }
            shot.voltage = shot.fitted ? shot.fitAmplitude : shot.pluginAmplitude;
            if (r.testVoltageIsPhase)
                shot.fitError = QStringLiteral("the plug-in recorded the phase, not the voltage");
            shot.tanDelta = shot.fitted && r.dampedVoltage ? tanDelta(shot.fitAttenuation, shot.fitFrequency)
                                                            : shot.pluginTanDelta;
        }

        QVector<double> noises;
        for (const RecordingShots::Record &record : source.pd) {
            QString error;
            const QVector<float> x = samples(reader, record, 1.0, &error);
            if (!error.isEmpty()) {
                r.notes.append(error);
                continue;
            }
            const PdPulseDetector::Result found = PdPulseDetector::detect(x.constData(), x.size(), record.sampleRate,
                                                                          record.startTime);
            noises.append(found.noise);
            if (!(found.threshold <= r.detectionThreshold))
                r.detectionThreshold = std::isfinite(r.detectionThreshold) ? qMax(r.detectionThreshold, found.threshold)
                                                                          : found.threshold;
            QVector<TdrLocator::Located> events;
            if (canLocate) {
                events = locator.locate(found.pulses);
            } else {
                for (const PdPulseDetector::Pulse &p : found.pulses)
                    events.append(TdrLocator::Located{p, false, {}, 0});
            }
            for (const TdrLocator::Located &event : events) {
                AnalysisResult::Pulse pulse;
                pulse.shot = shotIndex;
                pulse.time = event.direct.time;
                pulse.peak = event.direct.peak;
                pulse.charge = pulse.peak / r.chargeFactor;
                if (r.testVoltageIsPhase) {
                    const double phase = valueAt(tv, source.testVoltage, pulse.time);
                    pulse.phase = std::fmod(std::fmod(phase * 180.0 / kPi, 360.0) + 360.0, 360.0);
                    pulse.voltage = shot.voltage * std::sin(phase);
                } else if (!tv.isEmpty()) {
                    pulse.voltage = valueAt(tv, source.testVoltage, pulse.time);
                }
                if (shot.fitted) {
                    const double theta = 2 * kPi * shot.fitFrequency * (pulse.time - shot.fitStart) + shot.fitPhase;
                    pulse.phase = std::fmod(std::fmod(theta * 180.0 / kPi + 90.0, 360.0) + 360.0, 360.0);
                }
                pulse.located = event.hasEcho;
                if (event.hasEcho) {
                    pulse.echoTime = event.echo.time;
                    pulse.position = event.position;
                    positions.append(pulse.position);
                    charges.append(pulse.charge);
                    locatedPulse.append(r.pulses.size());
                }
                ++shot.pulses;
                if (std::isfinite(pulse.charge) && !(std::fabs(pulse.charge) <= shot.largestCharge))
                    shot.largestCharge = std::fabs(pulse.charge);
                r.pulses.append(pulse);
            }
        }
        shot.noise = median(noises);
        r.shots.append(shot);
    }

    // The threshold PD must exceed to count for inception: given, or what
    // the detection needed, as a charge.
    r.pdThreshold = options.pdThreshold;
    r.pdThresholdSource = QStringLiteral("command line");
    if (!(r.pdThreshold > 0)) {
        r.pdThreshold = r.detectionThreshold / r.chargeFactor;
        r.pdThresholdSource = QStringLiteral("noise (detection threshold)");
    }

    // Sites, and inception and extinction for the whole recording and per site.
    const QVector<TdrLocator::Site> sites = TdrLocator::cluster(positions, charges, kSiteGap * r.cableLength);
    QVector<double> voltages;
    for (const AnalysisResult::Shot &shot : r.shots)
        voltages.append(shot.voltage);
    auto aboveThreshold = [&](const AnalysisResult::Pulse &p) {
        return std::isfinite(p.charge) ? std::fabs(p.charge) >= r.pdThreshold * (1 - 1e-9) : true;
    };
    QVector<bool> withPd(r.shots.size(), false);
    for (const AnalysisResult::Pulse &p : r.pulses)
        withPd[p.shot] = withPd[p.shot] || aboveThreshold(p);
    inceptionOf(voltages, withPd, &r.inception, &r.extinction);
    for (int s = 0; s < sites.size(); ++s) {
        AnalysisResult::Site site;
        site.position = sites.at(s).position;
        site.count = sites.at(s).count;
        site.medianCharge = sites.at(s).medianCharge;
        site.largestCharge = sites.at(s).largestCharge;
        QVector<bool> fired(r.shots.size(), false);
        for (int member : sites.at(s).members) {
            AnalysisResult::Pulse &p = r.pulses[locatedPulse.at(member)];
            p.site = s;
            fired[p.shot] = fired[p.shot] || aboveThreshold(p);
        }
        inceptionOf(voltages, fired, &site.inception, &site.extinction);
        r.sites.append(site);
    }

    QVector<double> f, d, t, u, pf, pd, pt;
    for (const AnalysisResult::Shot &shot : r.shots) {
        f.append(shot.fitFrequency);
        d.append(shot.fitAttenuation);
        t.append(r.dampedVoltage ? tanDelta(shot.fitAttenuation, shot.fitFrequency) : AnalysisResult::kNaN);
        u.append(shot.voltage);
        pf.append(shot.pluginFrequency);
        pd.append(shot.pluginAttenuation);
        pt.append(shot.pluginTanDelta);
    }
    r.pluginFrequency = median(pf);
    r.pluginAttenuation = median(pd);
    r.pluginTanDelta = median(pt);
    r.voltage = median(u);
    r.frequency = median(f);
    if (std::isfinite(r.frequency)) {
        r.attenuation = median(d);
        r.tanDelta = median(t);
        r.headlineMethod = QStringLiteral("least-squares fit");
    } else {
        r.frequency = r.pluginFrequency;
        r.attenuation = r.pluginAttenuation;
        r.tanDelta = r.pluginTanDelta;
        r.headlineMethod = QStringLiteral("plug-in analyser");
    }

    for (int i = 0; i < r.shots.size() && !r.testVoltageIsPhase; ++i) {
        if (std::isfinite(r.shots.at(i).voltage)
            && (r.figureShot < 0 || r.shots.at(i).voltage > r.shots.at(r.figureShot).voltage))
            r.figureShot = i;
    }
    for (int i = 0; i < r.pulses.size(); ++i) {
        const AnalysisResult::Pulse &p = r.pulses.at(i);
        if (p.located && (r.figurePulse < 0 || std::fabs(p.peak) > std::fabs(r.pulses.at(r.figurePulse).peak)))
            r.figurePulse = i;
    }

    if (r.testVoltageIsPhase)
        r.notes.append(QStringLiteral("continuous voltage: the plug-in recorded its phase, so the voltages are the "
                                      "plug-in's amplitudes and there is no fit"));
    if (r.hasPdChannel && root.value(QStringLiteral("measurement_mode")).toInt() == 1)
        r.notes.append(QStringLiteral("measurement mode 1: the PD records are the plug-in's averaged pulses; "
                                      "positions hold, charges are those of the average"));
    if (!r.hasTestVoltage)
        r.notes.append(QStringLiteral("no test voltage channel (1021): no voltage, tan delta, inception or phase"));
    if (!r.hasPdChannel)
        r.notes.append(QStringLiteral("no PD channel (1000 or 1001): no PD pulses, sites or inception"));
    else if (r.pulses.isEmpty())
        r.notes.append(QStringLiteral("no PD pulses above the detection threshold"));
    if (r.hasPdChannel && !canLocate)
        r.notes.append(QStringLiteral("no cable length and velocity: PD sites not located"));
    if (r.hasPdChannel && !(r.chargeFactor > 0))
        r.notes.append(QStringLiteral("no charge calibration: charges not given"));
    return r;
}
