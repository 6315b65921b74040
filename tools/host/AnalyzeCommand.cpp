#include "AnalyzeCommand.h"

#include "ExitCode.h"
#include "InterfacePdTestvoltage.h"
#include "RecordingAnalysis.h"
#include "RecordingReader.h"
#include "RecordingShots.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

struct ResultName
{
    int id;
    const char *key;
    const char *unit;
};

const ResultName kResults[] = {
    {InterfacePdTestvoltage::Frequency, "frequency", "Hz"},
    {InterfacePdTestvoltage::Amplitude, "amplitude", "scaled units"},
    {InterfacePdTestvoltage::D3, "d3", ""},
    {InterfacePdTestvoltage::D4, "d4", ""},
    {InterfacePdTestvoltage::Attenuation, "attenuation", "1/s"},
    {InterfacePdTestvoltage::Delay, "delay", "s"},
    {InterfacePdTestvoltage::FirstZeroCrossing, "firstZeroCrossing", "s"},
};

std::unique_ptr<InterfacePdTestvoltage> makeAnalyser(const AnalyzeCommand::Options &options)
{
    std::unique_ptr<InterfacePdTestvoltage> analyser
        = RecordingAnalysis::makeAnalyser(options.analyser, options.sampleRate, options.scaleFactor);
    if (options.analyser == QLatin1String("ac")) {
        if (!std::isnan(options.threshold))
            analyser->setParameter(InterfacePdTestvoltage::DetectionThreshold, options.threshold);
        analyser->setParameter(InterfacePdTestvoltage::AmplitudeOffset, options.amplitudeOffset);
    }
    return analyser;
}

// JSON has no NaN or infinity: such values are written as null, and the
// validity flag says the result is not usable either way.
QJsonObject results(const InterfacePdTestvoltage &analyser)
{
    QJsonObject object;
    for (const ResultName &r : kResults) {
        double value = std::numeric_limits<double>::quiet_NaN();
        const bool valid = analyser.getResult(r.id, &value) == 0;
        QJsonObject entry;
        entry.insert(QStringLiteral("value"), std::isfinite(value) ? QJsonValue(value) : QJsonValue());
        entry.insert(QStringLiteral("valid"), valid);
        entry.insert(QStringLiteral("unit"), QLatin1String(r.unit));
        object.insert(QLatin1String(r.key), entry);
    }
    return object;
}

bool toDouble(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

} // namespace

QString AnalyzeCommand::usage()
{
    return QStringLiteral(
        "usage: dravik-host analyze RECORDING.h5\n"
        "       dravik-host analyze FILE --rate HZ --analyser dac|cr|ac [OPTIONS]\n"
        "  With a recording of dravik-host measure: runs the plug-in's analyser for the\n"
        "  recording's operation mode over each test voltage record and prints, per\n"
        "  record, the results below beside the values the plug-in recorded.\n"
        "\n"
        "  Runs a test voltage analyser over a recording of the test voltage channel\n"
        "  (little-endian float32 samples) and prints its seven results as JSON:\n"
        "  frequency, amplitude, d3, d4, attenuation, delay and firstZeroCrossing,\n"
        "  each with its value (null when not a number) and a validity flag.\n"
        "\n"
        "  --rate HZ          sample rate of the recording\n"
        "  --analyser NAME    dac (damped AC), cr (cosine-rectangular) or ac (continuous sine)\n"
        "  --scale F          scale factor applied to the samples (default 1)\n"
        "  --block N          analyse in blocks of N samples, state carried from one to the\n"
        "                     next as during a measurement (default: the whole file at once)\n"
        "  --threshold V      ac: zero crossings count after the voltage fell below -V\n"
        "                     (default |scale| * 0.025, as the plug-in sets it)\n"
        "  --offset V         ac: amplitude offset subtracted before smoothing (default 0)\n"
        "\n"
        "  \"results\" holds the results after the last block, \"blocks\" each block's code\n"
        "  (0 success, 1 no result, 2 bad argument, 3 out of memory) and results.\n"
        "\n"
        "exit codes: 0 analysed (check the validity flags), 2 usage error or unreadable\n"
        "  file, 13 the recording is unusable (not HDF5, damaged, not a dravik-host\n"
        "  recording, never completed), 14 the recording has no test voltage record\n");
}

QString AnalyzeCommand::parse(const QStringList &args, Options *options)
{
    QCommandLineParser parser;
    const QCommandLineOption rate(QStringLiteral("rate"), QString(), QStringLiteral("HZ"));
    const QCommandLineOption analyser(QStringLiteral("analyser"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption scale(QStringLiteral("scale"), QString(), QStringLiteral("F"));
    const QCommandLineOption block(QStringLiteral("block"), QString(), QStringLiteral("N"));
    const QCommandLineOption threshold(QStringLiteral("threshold"), QString(), QStringLiteral("V"));
    const QCommandLineOption offset(QStringLiteral("offset"), QString(), QStringLiteral("V"));
    parser.addOptions({rate, analyser, scale, block, threshold, offset});
    if (!parser.parse(QStringList{QStringLiteral("analyze")} + args))
        return parser.errorText();
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return QStringLiteral("expected one FILE, got %1").arg(files.size());
    options->file = files.first();

    if (!parser.isSet(rate) || !toDouble(parser.value(rate), &options->sampleRate) || options->sampleRate <= 0)
        return QStringLiteral("--rate needs a sample rate above 0");
    options->analyser = parser.value(analyser);
    if (options->analyser != QLatin1String("dac") && options->analyser != QLatin1String("cr")
        && options->analyser != QLatin1String("ac"))
        return QStringLiteral("--analyser must be dac, cr or ac");
    if (parser.isSet(scale) && !toDouble(parser.value(scale), &options->scaleFactor))
        return QStringLiteral("--scale needs a finite number");
    if (parser.isSet(block)) {
        bool ok = false;
        options->blockSize = parser.value(block).toInt(&ok);
        if (!ok || options->blockSize < 1)
            return QStringLiteral("--block needs a sample count of at least 1");
    }
    if (parser.isSet(threshold) && !toDouble(parser.value(threshold), &options->threshold))
        return QStringLiteral("--threshold needs a finite number");
    if (parser.isSet(offset) && !toDouble(parser.value(offset), &options->amplitudeOffset))
        return QStringLiteral("--offset needs a finite number");
    return QString();
}

QString AnalyzeCommand::read(const QString &file, QVector<float> *samples)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(file, in.errorString());
    const qint64 size = in.size();
    if (size % 4 != 0)
        return QStringLiteral("%1: %2 bytes is not a whole number of float32 samples").arg(file).arg(size);
    if (size / 4 > kMaxSamples)
        return QStringLiteral("%1: more than %2 samples").arg(file).arg(kMaxSamples);
    if (size == 0)
        return QStringLiteral("%1: no samples").arg(file);
    const QByteArray bytes = in.readAll();
    if (bytes.size() != size)
        return QStringLiteral("cannot read %1: %2").arg(file, in.errorString());
    samples->resize(static_cast<int>(size / 4));
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
    for (int i = 0; i < samples->size(); ++i) {
        const quint32 bits = qFromLittleEndian<quint32>(p + 4 * i);
        std::memcpy(samples->data() + i, &bits, sizeof bits);
    }
    return QString();
}

QJsonObject AnalyzeCommand::analyse(const QVector<float> &samples, const Options &options)
{
    std::unique_ptr<InterfacePdTestvoltage> analyser = makeAnalyser(options);
    const int total = samples.size();
    const int blockSize = options.blockSize > 0 ? options.blockSize : total;
    QVector<float> conditioned(samples);
    QJsonArray blocks;
    for (int start = 0; start < total; start += blockSize) {
        const int n = qMin(blockSize, total - start);
        float *block = conditioned.data() + start;
        const int code = analyser->process(block, block, n);
        blocks.append(QJsonObject{{QStringLiteral("offset"), start},
                                  {QStringLiteral("samples"), n},
                                  {QStringLiteral("code"), code},
                                  {QStringLiteral("results"), results(*analyser)}});
    }
    return QJsonObject{{QStringLiteral("file"), options.file},
                       {QStringLiteral("analyser"), options.analyser},
                       {QStringLiteral("sampleRate"), options.sampleRate},
                       {QStringLiteral("scaleFactor"), options.scaleFactor},
                       {QStringLiteral("samples"), total},
                       {QStringLiteral("blockSize"), blockSize},
                       {QStringLiteral("results"), results(*analyser)},
                       {QStringLiteral("blocks"), blocks}};
}

int AnalyzeCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out << usage();
        return ExitOk;
    }
    const QStringList files = QStringList(args).filter(QRegularExpression(QStringLiteral("^[^-]")));
    if (args.size() == 1 && files.size() == 1 && isHdf5(files.first()))
        return runRecording(files.first(), out, err);
    Options options;
    QString problem = parse(args, &options);
    if (!problem.isEmpty()) {
        err << "dravik-host analyze: " << problem << '\n' << usage();
        return ExitUsage;
    }
    QVector<float> samples;
    problem = read(options.file, &samples);
    if (!problem.isEmpty()) {
        err << "dravik-host analyze: " << problem << '\n';
        return ExitUsage;
    }
    out << QJsonDocument(analyse(samples, options)).toJson(QJsonDocument::Indented);
    return ExitOk;
}

bool AnalyzeCommand::isHdf5(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) && in.read(8) == QByteArray("\x89HDF\r\n\x1a\n", 8);
}

int AnalyzeCommand::runRecording(const QString &file, QTextStream &out, QTextStream &err)
{
    const RecordingReader reader(file);
    if (reader.status() != RecordingReader::Status::Ok) {
        err << "dravik-host analyze: " << reader.errorString() << '\n';
        return ExitRecordingUnusable;
    }
    const QVariantMap root = reader.rootAttributes();
    const int mode = root.value(QStringLiteral("operation_mode"), -1).toInt();
    Options options;
    options.file = file;
    options.analyser = RecordingAnalysis::analyserName(mode);
    options.scaleFactor = RecordingAnalysis::testVoltageScale(root);
    if (options.analyser.isEmpty()) {
        err << "dravik-host analyze: " << file << ": operation mode " << mode << " has no test voltage analyser\n";
        return ExitNothingToAnalyse;
    }
    QJsonArray records;
    for (const RecordingShots::Shot &shot : RecordingShots::load(reader)) {
        const RecordingShots::Record &tv = shot.testVoltage;
        if (!tv.isValid())
            continue;
        QString error;
        // The samples as the recording holds them; the analyser scales them.
        const QVector<float> samples = RecordingAnalysis::samples(reader, tv, 1.0, &error);
        if (!error.isEmpty()) {
            err << "dravik-host analyze: " << error << '\n';
            return ExitRecordingUnusable;
        }
        options.sampleRate = tv.sampleRate;
        const QVariantMap recorded = reader.groupAttributes(tv.group);
        QJsonObject plugin;
        for (const char *key : {"frequency_hz", "test_voltage_v", "attenuation_per_s"}) {
            const double v = recorded.value(QLatin1String(key), std::nan("")).toDouble();
            plugin.insert(QLatin1String(key), std::isfinite(v) ? QJsonValue(v) : QJsonValue());
        }
        records.append(QJsonObject{{QStringLiteral("measurement"), tv.measurement},
                                   {QStringLiteral("dataset"), tv.group + QLatin1Char('/') + tv.dataset},
                                   {QStringLiteral("startTime"), tv.startTime},
                                   {QStringLiteral("samples"), samples.size()},
                                   {QStringLiteral("results"), analyse(samples, options).value(QStringLiteral("results"))},
                                   {QStringLiteral("recordedByPlugin"), plugin}});
    }
    if (records.isEmpty()) {
        err << "dravik-host analyze: " << file << ": no test voltage record (channel 1021) in the recording\n";
        return ExitNothingToAnalyse;
    }
    out << QJsonDocument(QJsonObject{{QStringLiteral("file"), file},
                                     {QStringLiteral("analyser"), options.analyser},
                                     {QStringLiteral("operationMode"), mode},
                                     {QStringLiteral("scaleFactor"), options.scaleFactor},
                                     {QStringLiteral("records"), records}})
               .toJson(QJsonDocument::Indented);
    return ExitOk;
}
