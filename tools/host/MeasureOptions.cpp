#include "MeasureOptions.h"

#include "OperationModeNames.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

namespace {

// Options that take a value, in the order of the help text.
const char *const kValueOptions[] = {
    "settings", "operation-mode", "measurement-mode", "charge", "hv-source",
    "charge-to-voltage", "calibration", "max-shots", "count", "duration", "channels", "output",
};
const char *const kFlags[] = {"overwrite", "simulated", "help"};


} // namespace

bool MeasureOptions::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool MeasureOptions::takeAddresses(const QStringList &texts)
{
    if (texts.size() > kMaxDetectors)
        return fail(QStringLiteral("--address given %1 times; at most %2 detectors").arg(texts.size()).arg(kMaxDetectors));
    addresses.clear();
    for (const QString &text : texts) {
        ConnectionAddress a;
        QString why;
        if (!ConnectionAddress::parse(text, &a, &why))
            return fail(QStringLiteral("--address: %1").arg(why));
        if (!a.isLoopback() && !allowRemote)
            return fail(QStringLiteral("--address %1 is not a loopback address; "
                                       "connecting to a real detector needs --allow-remote")
                            .arg(a.toString()));
        for (const ConnectionAddress &seen : qAsConst(addresses)) {
            if (seen.toString() == a.toString())
                return fail(QStringLiteral("--address %1 given twice").arg(a.toString()));
        }
        addresses.append(a);
    }
    // ConnectionOptions keeps the last; the first is the one a single run uses.
    address = addresses.first();
    return true;
}

MeasureOptions::Outcome MeasureOptions::parse(const QStringList &args, const QString &defaultPluginPath)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name : kValueOptions)
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char *name : kFlags)
        parser.addOption(QCommandLineOption(QLatin1String(name)));
    ConnectionOptions::addTo(parser);
    parser.addOption(QCommandLineOption(QStringLiteral("o"), QString(), QStringLiteral("value")));
    parser.addOption(QCommandLineOption(QStringLiteral("h")));

    if (!parser.parse(QStringList{QStringLiteral("measure")} + args)) {
        m_error = parser.errorText();
        return Outcome::Error;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("h")))
        return Outcome::Help;
    if (!parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return Outcome::Error;
    }

    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    // Every option once but --address (one per detector).
    for (const QString &name : parser.optionNames()) {
        if (name != QLatin1String("address") && parser.optionNames().count(name) > 1) {
            m_error = QStringLiteral("--%1 given more than once").arg(name);
            return Outcome::Error;
        }
    }

    const bool ok = [&]() -> bool {
        QString error;
        if (!take(parser, defaultPluginPath, &error))
            return fail(error);
        if (!takeAddresses(parser.values(QStringLiteral("address"))))
            return false;
        settingsPath = value("settings");

        if (isSet("operation-mode") && !OperationModeNames::parse(value("operation-mode"), &operationMode))
            return fail(QStringLiteral("--operation-mode: unknown mode '%1' (see --help for the list)")
                            .arg(value("operation-mode")));
        if (isSet("measurement-mode")) {
            qulonglong mode = 0;
            if (!toUnsigned(value("measurement-mode"), 2, &mode))
                return fail(QStringLiteral("--measurement-mode: '%1' is not 0, 1 or 2").arg(value("measurement-mode")));
            measurementMode = int(mode);
        }
        const auto positive = [&](const char *name, QVariant *target) -> bool {
            if (!isSet(name))
                return true;
            double number = 0.0;
            if (!toDouble(value(name), &number) || number <= 0)
                return fail(QStringLiteral("--%1: '%2' is not a positive number").arg(QLatin1String(name), value(name)));
            *target = number;
            return true;
        };
        if (!positive("charge", &charge) || !positive("charge-to-voltage", &chargeToVoltageFactor)
            || !positive("calibration", &calibrationFactor))
            return false;
        if (isSet("hv-source")) {
            qulonglong type = 0;
            if (!toUnsigned(value("hv-source"), 255, &type))
                return fail(QStringLiteral("--hv-source: '%1' is not a source type from 0 to 255").arg(value("hv-source")));
            hvSourceType = int(type);
        }
        if (isSet("max-shots")) {
            qulonglong shots = 0;
            if (!toUnsigned(value("max-shots"), 4294967295ull, &shots))
                return fail(QStringLiteral("--max-shots: '%1' is not a count from 0 to 4294967295").arg(value("max-shots")));
            maximumShots = unsigned(shots);
        }

        if (isSet("count")) {
            qulonglong n = 0;
            if (!toUnsigned(value("count"), 100000, &n) || n == 0)
                return fail(QStringLiteral("--count: '%1' is not a count from 1 to 100000").arg(value("count")));
            count = int(n);
        }
        if (isSet("duration") && (!toDouble(value("duration"), &durationSeconds) || durationSeconds <= 0
                                  || durationSeconds > 86400))
            return fail(QStringLiteral("--duration: '%1' is not a number of seconds above 0 and at most 86400")
                            .arg(value("duration")));
        if (isSet("channels")) {
            const QStringList ids = value("channels").split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (const QString &id : ids) {
                bool isNumber = false;
                const int channel = id.trimmed().toInt(&isNumber, 10);
                if (!isNumber || channel < 0)
                    return fail(QStringLiteral("--channels: '%1' is not a channel id").arg(id));
                channels.insert(channel);
            }
            if (channels.isEmpty())
                return fail(QStringLiteral("--channels: no channel id given"));
        }

        if (isSet("output") && isSet("o"))
            return fail(QStringLiteral("give the output file once, with -o or --output"));
        outputPath = isSet("output") ? value("output") : value("o");
        if (outputPath.isEmpty())
            return fail(QStringLiteral("--output FILE is required"));
        if (QFileInfo(outputPath).isDir())
            return fail(QStringLiteral("--output %1 is a directory").arg(outputPath));
        overwrite = isSet("overwrite");
        simulated = isSet("simulated");
        return true;
    }();
    return ok ? Outcome::Run : Outcome::Error;
}

QStringList MeasureOptions::measurementModeNames()
{
    return {QStringLiteral("timing by operation mode"), QStringLiteral("PD pulses with trigger level search"),
            QStringLiteral("fixed timing")};
}

QString MeasureOptions::usage()
{
    QString text = QStringLiteral(
        "usage: dravik-host measure --address HOST:PORT --output FILE [OPTIONS]\n"
        "\n"
        "Connects to a Dravik detector through the plug-in, hands it the test\n"
        "environment, runs COUNT measurements of DURATION seconds each and records\n"
        "every chunk of channel data the device hands over to one HDF5 file.\n"
        "\n"
        "Up to three --address options measure one detector per phase together:\n"
        "all are opened, none starts unless all can, they start and stop together,\n"
        "and the file holds one group per detector (detector_1, detector_2, ...,\n"
        "each with its identity and its measurement_NNN groups). If one fails, the\n"
        "run ends for all of them.\n"
        "\n"
        "Connection:\n");
    text += ConnectionOptions::usageConnection(15, QStringLiteral("longest wait for the connection, a start, a stop and\n"
                                                                  "                            the last data after a stop"));
    text += QStringLiteral(
        "  --settings FILE           a JSON object of settings: the device's\n"
        "                            AliveTimout, HoldTimeDG0, SystemGatingLevel,\n"
        "                            SystemGatingHoldTime, PdLogFile,\n"
        "                            MaxShotsVLFSinLocalization, ServiceMode,\n"
        "                            ProductionMode, DevelopMode, and the post-processing\n"
        "                            GatingTime, TVAmplitudeThreshold,\n"
        "                            NoPostAquisitionCut, NoAdaptiveGain,\n"
        "                            NoBinaryChannels. A NetworkAddress in it is\n"
        "                            replaced by --address\n"
        "\n"
        "Test environment:\n"
        "  --operation-mode MODE     number or name, see below (0, DAC+)\n");
    const QStringList modes = measurementModeNames();
    text += QStringLiteral("  --measurement-mode N      0 %1,\n").arg(modes.at(0));
    text += QStringLiteral("                            1 %1,\n").arg(modes.at(1));
    text += QStringLiteral("                            2 %1 (0)\n").arg(modes.at(2));
    text += QStringLiteral(
        "  --charge COULOMB          nominal charge, e.g. 1e-9 (the device's own)\n"
        "  --hv-source TYPE          HV source type (the device's own)\n"
        "  --charge-to-voltage V/C   charge to voltage factor (the device's own)\n"
        "  --calibration FACTOR      charge calibration factor (the device's own)\n"
        "  --max-shots N             maximum shots (4294967295)\n"
        "\n"
        "Measurement and recording:\n"
        "  --count N                 measurements to run, one after the other (1)\n"
        "  --duration SECONDS        how long each runs once the detector is ready (2)\n"
        "  --channels ID[,ID...]     record only these channels (every channel); chunks\n"
        "                            of other channels are taken and counted, not kept\n"
        "  -o, --output FILE         the HDF5 file to write; required. Written under a\n"
        "                            temporary name and renamed when complete\n"
        "  --overwrite               replace FILE if it exists\n"
        "  --simulated               mark the recording as made against dravik-sim\n"
        "\n"
        "Output:\n");
    text += ConnectionOptions::usageOutput();
    text += QStringLiteral(
        "\n"
        "Operation modes:\n");
    for (const QString &line : OperationModeNames::table())
        text += line + QLatin1Char('\n');
    text += QStringLiteral(
        "\n"
        "Exit codes:\n"
        "    0  every measurement ran and the file is written\n"
        "    2  bad command line or settings file, a remote address without\n"
        "       --allow-remote, or FILE exists without --overwrite\n"
        "    3  the plug-in could not be loaded or gave no usable device\n"
        "    4  could not connect: no connection within --timeout, or the link\n"
        "       closed while connecting\n"
        "    5  the detector was rejected: the device reported an error while\n"
        "       connecting (version check) or cannot start with this environment\n"
        "    6  a measurement failed: the link was lost, the detector refused or did\n"
        "       not take its start, stop or acquisition parameters, data it announced\n"
        "       did not arrive in time, or not one chunk was recorded\n"
        "    7  the output file could not be written\n"
        "  130  interrupted (SIGINT or SIGTERM); the detector is stopped first\n"
        "A run that fails once a measurement has begun keeps what it measured in\n"
        "FILE, marked not complete (complete = 0, with the error and the exit\n"
        "code); before that no file is left, and an existing one stays as it was.\n"
        "\n"
        "Example, against the simulator:\n"
        "  $ dravik-sim --listen 127.0.0.1:0 --scenario dac &\n"
        "  listening 127.0.0.1:41835\n"
        "  $ dravik-host measure --address 127.0.0.1:41835 --simulated \\\n"
        "        --operation-mode DAC+ --count 2 --duration 1.5 -o dac.h5\n");
    return text;
}
