#include "ReportCommand.h"

#include "AnalysisJson.h"
#include "ExitCode.h"
#include "RecordingAnalysis.h"
#include "RecordingReader.h"
#include "ReportDocument.h"
#include "TdrCalibration.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cmath>

namespace {

bool positive(const QCommandLineParser &parser, const QString &name, double scale, double *value, QString *problem)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (!ok || !(v > 0) || !std::isfinite(v)) {
        *problem = QStringLiteral("--%1 needs a number above 0").arg(name);
        return false;
    }
    *value = v * scale;
    return true;
}

QString fmt(double v, double scale, const char *unit)
{
    return std::isfinite(v) ? QStringLiteral("%1 %2").arg(v * scale, 0, 'g', 4).arg(QLatin1String(unit))
                            : QStringLiteral("-");
}

} // namespace

QString ReportCommand::usage()
{
    return QStringLiteral(
        "usage: dravik-host report RECORDING.h5 -o REPORT.pdf [--json FILE] [OPTIONS]\n"
        "  Analyses a recording of dravik-host measure and writes a PDF report: test\n"
        "  voltage per shot (the plug-in's analyser and a least-squares fit of a damped\n"
        "  cosine; tan delta = delta / (pi f)), PD pulses with apparent charge,\n"
        "  instantaneous voltage and phase, PD sites along the cable by reflectometry,\n"
        "  inception and extinction voltage, and figures.\n"
        "\n"
        "  -o, --output FILE         the PDF to write; required\n"
        "  --json FILE               also write every number of the report as JSON\n"
        "  --overwrite               replace existing output files\n"
        "  --cable-length M          cable length in metres (needed to locate PD sites)\n"
        "  --velocity M_PER_US       propagation velocity in m/us\n"
        "  --tdr-calibration CAL.h5  a recording of calibration pulses injected at the\n"
        "                            near end: velocity v = 2 L / T from their echo, and\n"
        "                            the charge factor from their nominal charge\n"
        "                            (instead of --velocity)\n"
        "  --detector N              the detector to report of a recording of several\n"
        "                            (measure with several --address options)\n"
        "  --pd-threshold PC         PD below this charge does not count for inception\n"
        "                            and extinction (default: the detection threshold,\n"
        "                            8 times the noise of the PD records)\n"
        "\n"
        "  The charge factor comes from --tdr-calibration, else from the recording\n"
        "  (charge_to_voltage_factor_v_per_c); without one, charges are left out.\n"
        "\n"
        "exit codes: 0 report written; 2 bad command line or output exists without\n"
        "  --overwrite; 7 the report could not be written; 13 the recording or the\n"
        "  calibration is unusable (missing, not HDF5, damaged or truncated, not a\n"
        "  dravik-host recording, never completed, no calibration pulse); 14 nothing\n"
        "  to report (neither test voltage nor PD channel); 15 report written without\n"
        "  the test voltage or the PD part, which the recording lacks\n");
}

QString ReportCommand::parse(const QStringList &args, Options *options)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("json"), QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("overwrite")),
        QCommandLineOption(QStringLiteral("cable-length"), QString(), QStringLiteral("M")),
        QCommandLineOption(QStringLiteral("velocity"), QString(), QStringLiteral("M_PER_US")),
        QCommandLineOption(QStringLiteral("tdr-calibration"), QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("pd-threshold"), QString(), QStringLiteral("PC")),
        QCommandLineOption(QStringLiteral("detector"), QString(), QStringLiteral("N")),
    });
    if (!parser.parse(QStringList{QStringLiteral("report")} + args))
        return parser.errorText();
    for (const QString &name : parser.optionNames()) {
        if (parser.optionNames().count(name) > 1)
            return QStringLiteral("--%1 given more than once").arg(name);
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return files.isEmpty() ? QStringLiteral("no RECORDING given")
                               : QStringLiteral("unexpected argument '%1'").arg(files.at(1));
    options->recording = files.first();
    options->output = parser.value(QStringLiteral("output"));
    if (options->output.isEmpty())
        return QStringLiteral("-o REPORT.pdf is required");
    options->json = parser.value(QStringLiteral("json"));
    options->calibration = parser.value(QStringLiteral("tdr-calibration"));
    options->overwrite = parser.isSet(QStringLiteral("overwrite"));
    if (parser.isSet(QStringLiteral("detector"))) {
        bool ok = false;
        options->detector = parser.value(QStringLiteral("detector")).toInt(&ok);
        if (!ok || options->detector < 1)
            return QStringLiteral("--detector: '%1' is not a detector number from 1").arg(parser.value(QStringLiteral("detector")));
    }
    QString problem;
    if (!positive(parser, QStringLiteral("cable-length"), 1.0, &options->cableLength, &problem)
        || !positive(parser, QStringLiteral("velocity"), 1e6, &options->velocity, &problem)
        || !positive(parser, QStringLiteral("pd-threshold"), 1e-12, &options->pdThreshold, &problem))
        return problem;
    if (parser.isSet(QStringLiteral("velocity")) && !options->calibration.isEmpty())
        return QStringLiteral("give either --velocity or --tdr-calibration, not both");
    if ((parser.isSet(QStringLiteral("velocity")) || !options->calibration.isEmpty()) && !(options->cableLength > 0))
        return QStringLiteral("locating PD sites needs --cable-length as well");
    for (const QString &file : {options->output, options->json}) {
        if (!file.isEmpty() && QFileInfo::exists(file) && !options->overwrite)
            return QStringLiteral("%1 exists; give --overwrite to replace it").arg(file);
    }
    return QString();
}

int ReportCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out << usage();
        return ExitOk;
    }
    Options options;
    const QString problem = parse(args, &options);
    if (!problem.isEmpty()) {
        err << "dravik-host report: " << problem << "\nTry 'dravik-host report --help' for the options.\n";
        return ExitUsage;
    }

    RecordingReader reader(options.recording);
    if (reader.status() != RecordingReader::Status::Ok) {
        err << "dravik-host report: " << reader.errorString() << '\n';
        return ExitRecordingUnusable;
    }
    // A recording of several detectors is reported one detector at a time.
    if (reader.detectorCount() > 0 && options.detector == 0) {
        err << "dravik-host report: " << options.recording << " holds " << reader.detectorCount()
            << " detectors; give --detector N for one of them\n";
        return ExitUsage;
    }
    if (options.detector > 0 && !reader.selectDetector(options.detector)) {
        err << "dravik-host report: " << options.recording << ": " << reader.errorString() << '\n';
        return ExitUsage;
    }
    RecordingAnalysis::Options analysis;
    analysis.cableLength = options.cableLength;
    analysis.velocity = options.velocity;
    analysis.velocitySource = QStringLiteral("command line");
    analysis.pdThreshold = options.pdThreshold;
    if (!options.calibration.isEmpty()) {
        RecordingReader calibrationReader(options.calibration);
        if (calibrationReader.status() != RecordingReader::Status::Ok) {
            err << "dravik-host report: calibration: " << calibrationReader.errorString() << '\n';
            return ExitRecordingUnusable;
        }
        const TdrCalibration::Result calibration = TdrCalibration::fromRecording(calibrationReader, options.cableLength);
        if (!calibration.ok) {
            err << "dravik-host report: calibration " << options.calibration << ": " << calibration.error << '\n';
            return ExitRecordingUnusable;
        }
        analysis.velocity = calibration.velocity;
        analysis.velocitySource = QStringLiteral("calibration, %1 pulses, T = %2 µs")
                                      .arg(calibration.pulses)
                                      .arg(calibration.roundTrip * 1e6, 0, 'g', 6);
        if (calibration.chargeFactor > 0) {
            analysis.chargeFactor = calibration.chargeFactor;
            analysis.chargeFactorSource = QStringLiteral("calibration, %1 pC").arg(calibration.nominalCharge * 1e12, 0, 'g', 4);
        }
    }

    AnalysisResult result = RecordingAnalysis::run(reader, analysis);
    result.file = QFileInfo(options.recording).absoluteFilePath();
    if (!result.hasTestVoltage && !result.hasPdChannel) {
        err << "dravik-host report: " << options.recording
            << ": nothing to report: the recording has neither a test voltage (1021) nor a PD channel (1000, 1001)\n";
        return ExitNothingToAnalyse;
    }
    QString error;
    if (!ReportDocument::write(result, reader, options.output, &error)) {
        err << "dravik-host report: " << error << '\n';
        return ExitOutputFailed;
    }
    if (!options.json.isEmpty()) {
        QSaveFile json(options.json);
        if (!json.open(QIODevice::WriteOnly)
            || json.write(QJsonDocument(AnalysisJson::toJson(result)).toJson(QJsonDocument::Indented)) < 0
            || !json.commit()) {
            err << "dravik-host report: cannot write " << options.json << ": " << json.errorString() << '\n';
            return ExitOutputFailed;
        }
    }
    int located = 0;
    for (const AnalysisResult::Pulse &p : result.pulses)
        located += p.located ? 1 : 0;
    out << "report " << options.output << ": " << result.shots.size() << " shots, " << result.pulses.size()
        << " PD pulses (" << located << " located), " << result.sites.size() << " sites; test voltage "
        << fmt(result.voltage, 1e-3, "kV") << ", tan delta " << fmt(result.tanDelta, 1, "") << " ("
        << (result.headlineMethod.isEmpty() ? QStringLiteral("none") : result.headlineMethod) << "); inception "
        << fmt(result.inception, 1e-3, "kV") << '\n';
    for (const QString &note : result.notes)
        err << "dravik-host report: note: " << note << '\n';
    return result.hasTestVoltage && result.hasPdChannel ? ExitOk : ExitReportPartial;
}
