#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QVector>

#include <limits>

// dravik-host analyze: runs a test voltage analyser offline over a recording of
// the "Test voltage" channel (little-endian float32 samples, or the test
// voltage records of a dravik-host recording) and prints the seven results as
// JSON, each with its validity. Engineers re-analyse
// recordings with it; it is also how the analysers are checked from outside.
class AnalyzeCommand
{
public:
    struct Options
    {
        QString file;
        QString analyser; // "dac", "cr" or "ac"
        double sampleRate = 0.0;
        double scaleFactor = 1.0;
        // Samples per call of process(); 0: the whole recording in one block.
        int blockSize = 0;
        // Continuous AC only; NaN: |scale| * 0.025, as the plug-in sets it.
        double threshold = std::numeric_limits<double>::quiet_NaN();
        double amplitudeOffset = 0.0;
    };

    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();

    // Parses the command line after "analyze"; an empty string on success,
    // otherwise what is wrong.
    static QString parse(const QStringList &args, Options *options);
    // Analyses the samples block by block; the JSON document run() prints.
    static QJsonObject analyse(const QVector<float> &samples, const Options &options);
    // The recording's samples; an empty string on success, otherwise what is wrong.
    static QString read(const QString &file, QVector<float> *samples);
    // analyze RECORDING.h5: the analyser of the recording's operation mode
    // over each of its test voltage records; the exit code.
    static int runRecording(const QString &file, QTextStream &out, QTextStream &err);
    // The file starts with the HDF5 signature.
    static bool isHdf5(const QString &file);

    // Recordings above this are refused rather than read (256 MiB of samples).
    static constexpr qint64 kMaxSamples = 64 * 1024 * 1024;
};
