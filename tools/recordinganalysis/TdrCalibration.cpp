#include "TdrCalibration.h"

#include "PdPulseDetector.h"
#include "RecordingAnalysis.h"
#include "RecordingReader.h"
#include "RecordingShots.h"
#include "TdrLocator.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int m = values.size() / 2;
    return values.size() % 2 ? values.at(m) : 0.5 * (values.at(m - 1) + values.at(m));
}

} // namespace

TdrCalibration::Result TdrCalibration::fromRecording(const RecordingReader &reader, double cableLengthMetres)
{
    Result result;
    if (!(cableLengthMetres > 0)) {
        result.error = QStringLiteral("the calibration needs the cable length (--cable-length)");
        return result;
    }
    const TdrLocator locator(cableLengthMetres, kSlowestVelocity);
    QVector<double> trips, peaks;
    for (const RecordingShots::Shot &shot : RecordingShots::load(reader)) {
        for (const RecordingShots::Record &record : shot.pd) {
            QString error;
            const QVector<float> x = RecordingAnalysis::samples(reader, record, 1.0, &error);
            if (!error.isEmpty()) {
                result.error = error;
                return result;
            }
            const PdPulseDetector::Result found = PdPulseDetector::detect(x.constData(), x.size(), record.sampleRate,
                                                                          record.startTime);
            for (const TdrLocator::Located &event : locator.locate(found.pulses)) {
                if (!event.hasEcho)
                    continue;
                trips.append(event.echo.time - event.direct.time);
                peaks.append(std::fabs(event.direct.peak));
            }
        }
    }
    if (trips.isEmpty()) {
        result.error = QStringLiteral("no calibration pulse with an echo in the recording");
        return result;
    }
    result.pulses = trips.size();
    result.roundTrip = median(trips);
    result.velocity = 2.0 * cableLengthMetres / result.roundTrip;
    const QJsonObject environment
        = QJsonDocument::fromJson(reader.rootAttributes().value(QStringLiteral("environment")).toString().toUtf8()).object();
    result.nominalCharge = std::fabs(environment.value(QStringLiteral("nominal_charge_c")).toDouble());
    if (result.nominalCharge > 0)
        result.chargeFactor = median(peaks) / result.nominalCharge;
    result.ok = true;
    return result;
}
