#pragma once

#include "ChannelData.h"

#include <QVector>
#include <QtEndian>

#include <cmath>

// A chunk of little-endian float samples as the device hands it out, with a
// trigger marker where trigger is finite.
inline ChannelData floatChunk(const QVector<float> &samples, double start, double trigger)
{
    ChannelData c;
    c.dataType = ChannelData::DataTypeFloat;
    c.startTime = start;
    c.data = QSharedPointer<QByteArray>::create(samples.size() * 4, '\0');
    for (int i = 0; i < samples.size(); ++i)
        qToLittleEndian<float>(samples[i], c.data->data() + 4 * i);
    if (std::isfinite(trigger))
        c.markers.append({ChannelData::MarkerTrigger, trigger, QVariant()});
    return c;
}

// The samples of a float chunk, in order.
inline QVector<float> floatsOf(const ChannelData &c)
{
    QVector<float> samples(c.data ? c.data->size() / 4 : 0);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<float>(c.data->constData() + 4 * i);
    return samples;
}
