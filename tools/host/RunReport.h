#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

// Everything a run of `dravik-host measure` learnt: the plug-in, the device,
// what was asked of it, each measurement with its channels, the device's
// notifications and how the run ended. The summary table, the JSON output and
// the recording's attributes are all made from it.
class RunReport
{
public:
    // The post-processing device's parameters, 2013 to 2017, by id.
    static const QList<int> &postProcessingIds();
    // "frequency_hz", "test_voltage_v", ...: the names used in the JSON output
    // and as attribute names in the recording.
    static QString parameterName(int id);

    struct Channel
    {
        int id = -1;
        QString name;
        QString unit;
        int dataType = 0;
        double sampleRate = 0.0;
        bool recorded = true;
        int announced = 0;  // chunks the device announced
        int chunks = 0;     // chunks taken
        qint64 samples = 0;
        qint64 bytes = 0;
        double peak = 0.0; // largest magnitude of a float channel, 0 for binary
    };

    struct Measurement
    {
        int index = 0;          // from 1
        QDateTime startedAt;    // UTC, when start() was called
        double runSeconds = 0.0; // from ready to stop
        int chunks = 0;
        qint64 bytes = 0;
        int stopStatus = 0;
        bool drained = false;   // the detector went idle and the data stopped before the time-out
        bool complete = false;  // ran its time and every chunk the device announced was taken
        int notTaken = 0;       // chunks announced but not handed over
        double hostStallSeconds = 0.0; // time the host did not run (stopped or starved) while measuring
        int droppedShots = 0;   // shots the device dropped, their test voltage below the amplitude threshold
        QMap<int, Channel> channels;
        QMap<int, double> parameters; // post-processing values seen during the measurement
    };

    struct Notification
    {
        int severity = 0;       // StatusType
        QString text;
        int token = -1;
        double atSeconds = 0.0; // since the run began
    };

    // Adds a chunk to measurement m's tally; announce counts an announced
    // chunk before it is taken.
    static void tally(Measurement &m, const Channel &channel, qint64 samples, qint64 bytes, double peak);
    static Channel &announce(Measurement &m, const Channel &channel);
    // Chunks written to the file over the measurements.
    int recordedChunks() const;

    // The last finite value of parameter id over the measurements, NaN if none.
    double lastParameter(int id) const;
    // Over all measurements.
    int droppedShots() const;

    QJsonObject toJson() const;
    // The recording's attributes: the run's (file root) and one measurement's
    // (its group). Unknown numbers are NaN, so that every attribute is always there.
    QVariantMap fileAttributes() const;
    static QVariantMap measurementAttributes(const Measurement &m);

    QString hostVersion;
    QDateTime createdAt;       // UTC
    int exitCode = 0;
    QString error;             // empty when the run succeeded
    QString outputPath;
    bool fileWritten = false;
    QString address;
    bool simulated = false;
    int count = 0;             // measurements asked for
    double durationSeconds = 0.0;

    QVariantMap plugin;        // file, name, version, uuid, description
    QVariantMap device;        // identification: serial, firmware_version, ...
    QVariantMap environment;   // HostQuery::describe()
    QVariantHash settings;     // what was handed to applySettings()
    QVariantHash deviceSettings; // what the device's settings() gave back
    bool postProcessing = false; // the device offers 2013 to 2017

    QList<Measurement> measurements;
    QList<Notification> notifications;
    int chunksOutside = 0;     // announced while no measurement was running
    int chunksLost = 0;        // announced but not handed over
};
