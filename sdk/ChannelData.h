#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QVariant>

// One block of channel data handed to the host by DeviceInterface::takeChannelData().
struct ChannelData
{
    enum DataType {
        DataTypeInvalid = 0,
        DataTypeFloat = 2,  // little-endian IEEE float32 samples
        DataTypeBinary = 6  // one byte per sample, 0 or 1
    };

    enum MarkerKind {
        MarkerTrigger = 2   // time of the trigger in seconds
    };

    struct Marker
    {
        int kind = 0;
        double time = 0.0;  // seconds
        QVariant value;
    };

    int channelId = -1;
    double startTime = 0.0; // seconds
    int dataType = DataTypeInvalid;
    QSharedPointer<QByteArray> data; // shared, never copied on hand-over
    QList<Marker> markers;

    bool isEmpty() const { return !data || data->isEmpty(); }
};

Q_DECLARE_METATYPE(ChannelData)
