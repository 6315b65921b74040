#include "RecordingShots.h"

#include "RecordingReader.h"

#include <algorithm>
#include <cmath>

namespace {

QVector<RecordingShots::Record> records(const RecordingReader &reader)
{
    QVector<RecordingShots::Record> all;
    for (const QString &group : reader.groups()) {
        const int index = reader.groupAttributes(group).value(QStringLiteral("index")).toInt();
        for (const QString &name : reader.datasets(group)) {
            const RecordingReader::Dataset d = reader.dataset(group, name, false);
            if (d.type != QLatin1String("float32") || d.elements <= 0)
                continue;
            RecordingShots::Record r;
            r.group = group;
            r.dataset = name;
            r.measurement = index;
            r.channel = d.attributes.value(QStringLiteral("channel_id")).toInt();
            r.startTime = d.attributes.value(QStringLiteral("start_time")).toDouble();
            r.triggerTime = d.attributes.value(QStringLiteral("trigger_time"), std::nan("")).toDouble();
            r.sampleRate = d.attributes.value(QStringLiteral("sample_rate")).toDouble();
            r.samples = d.elements;
            if (r.sampleRate > 0 && std::isfinite(r.sampleRate) && std::isfinite(r.startTime))
                all.append(r);
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const RecordingShots::Record &a, const RecordingShots::Record &b) {
        return a.startTime < b.startTime;
    });
    return all;
}

} // namespace

double RecordingShots::Record::referenceTime() const
{
    return std::isfinite(triggerTime) ? triggerTime : startTime;
}

int RecordingShots::pdChannel(const RecordingReader &reader)
{
    int channel = 0;
    for (const Record &r : records(reader)) {
        if (r.channel == kPdRaw)
            return kPdRaw;
        if (r.channel == kPdFiltered)
            channel = kPdFiltered;
    }
    return channel;
}

QVector<RecordingShots::Shot> RecordingShots::load(const RecordingReader &reader)
{
    const QVector<Record> all = records(reader);
    bool hasRaw = false;
    for (const Record &r : all)
        hasRaw = hasRaw || r.channel == kPdRaw;
    const int pd = hasRaw ? kPdRaw : kPdFiltered;

    QVector<Shot> shots;
    for (const Record &r : all) {
        if (r.channel == kTestVoltage)
            shots.append(Shot{r, {}});
    }
    for (const Record &r : all) {
        if (r.channel != pd)
            continue;
        const double t = r.referenceTime();
        int owner = -1;
        for (int i = 0; i < shots.size(); ++i) {
            const Record &tv = shots.at(i).testVoltage;
            if (!tv.isValid() || tv.measurement != r.measurement)
                continue;
            // Times are seconds converted from nanoseconds: half a sample of
            // slack, or a trigger at the very start of a record falls before it.
            const double slack = 0.5 / tv.sampleRate;
            if (tv.startTime <= t + slack && t < tv.endTime()) {
                owner = i;
                break;
            }
            if (tv.startTime <= t + slack)
                owner = i; // the latest one before, unless one covers it
        }
        if (owner >= 0)
            shots[owner].pd.append(r);
        else
            shots.append(Shot{Record(), {r}});
    }
    std::stable_sort(shots.begin(), shots.end(), [](const Shot &a, const Shot &b) {
        const double ta = a.testVoltage.isValid() ? a.testVoltage.startTime : a.pd.value(0).startTime;
        const double tb = b.testVoltage.isValid() ? b.testVoltage.startTime : b.pd.value(0).startTime;
        return ta < tb;
    });
    return shots;
}
