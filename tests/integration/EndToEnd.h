#pragma once

#include "DeviceInterface.h"
#include "TestQuery.h"

#include <QObject>
#include <QtTest>

#include <algorithm>
#include <cmath>

// What the end-to-end tests share: the host's environment for a measurement
// mode, and a taker that takes every chunk a device announces, at once and once.

// A measurement in mode, operation mode 0 (DAC+).
inline TestQuery dacQuery(int mode)
{
    TestQuery query;
    query.mode = mode;
    query.keyed.insert(AbstractQueryObject::KeyOperationMode, 0);
    return query;
}

class ChunkTaker : public QObject
{
    Q_OBJECT

public:
    struct Chunk
    {
        int channel;
        int samples;
        float minimum; // of a float chunk, else 0
        float peak;    // largest magnitude of a float chunk, else 0
        double start;  // seconds, device time
    };

    // object: the device as a QObject, whose signals are known by name only.
    ChunkTaker(QObject *object, DeviceInterface *device) : m_device(device)
    {
        connect(object, SIGNAL(channelDataAvailable(int, int)), this, SLOT(take(int, int)));
    }
    int received(int channel) const
    {
        return int(std::count_if(chunks.begin(), chunks.end(), [channel](const Chunk &c) { return c.channel == channel; }));
    }

    QList<Chunk> chunks;

private Q_SLOTS:
    void take(int channel, int token)
    {
        bool ok = false;
        const ChannelData chunk = m_device->takeChannelData(channel, token, &ok);
        QVERIFY(ok);
        QCOMPARE(chunk.channelId, channel);
        // No second take here: once taken, the token is free, and the device
        // thread may already have given it to the channel's next chunk.
        const bool isFloat = chunk.dataType == ChannelData::DataTypeFloat;
        const int samples = chunk.data->size() / (isFloat ? 4 : 1);
        Chunk c{channel, samples, 0.0f, 0.0f, chunk.startTime};
        if (isFloat && samples > 0) {
            const auto *v = reinterpret_cast<const float *>(chunk.data->constData());
            c.minimum = *std::min_element(v, v + samples);
            for (int i = 0; i < samples; ++i)
                c.peak = std::max(c.peak, std::abs(v[i]));
        }
        chunks.append(c);
    }

private:
    DeviceInterface *m_device;
};
