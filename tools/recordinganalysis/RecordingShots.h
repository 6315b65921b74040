#pragma once

#include <QString>
#include <QVector>

class RecordingReader;

// The shots of a recording: each record of the "Test voltage" channel is one
// shot (a DAC shot, a stretch of VLF or CR voltage), and every PD record
// belongs to the shot whose test voltage record covers its trigger, or else
// the latest one before it. A recording without a test voltage channel has
// one shot without a voltage per PD record.
//
// Only the descriptions are read here; samples are read when needed, one
// record at a time, since a PD record can hold millions of samples.
class RecordingShots
{
public:
    struct Record
    {
        QString group;
        QString dataset;
        int measurement = 0; // the group's "index"
        int channel = 0;
        double startTime = 0;   // s, device time
        double triggerTime = 0; // s, NaN without a trigger
        double sampleRate = 0;
        qint64 samples = 0;

        bool isValid() const { return !dataset.isEmpty(); }
        double endTime() const { return startTime + double(samples) / sampleRate; }
        // The trigger if there is one, else the start.
        double referenceTime() const;
    };

    struct Shot
    {
        Record testVoltage; // invalid when the recording has none
        QVector<Record> pd;
    };

    static constexpr int kTestVoltage = 1021;
    static constexpr int kPdRaw = 1000;
    static constexpr int kPdFiltered = 1001;

    // Shots in time order. The PD channel is "PD raw" (1000) when the
    // recording holds it, else "PD filtered" (1001). Chunks without samples,
    // without a sample rate or of another type are left out.
    static QVector<Shot> load(const RecordingReader &reader);
    // The PD channel the shots above use, 0 if there is none.
    static int pdChannel(const RecordingReader &reader);
};
