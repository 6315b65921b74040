#include "SimCommandLine.h"

#include <QCommandLineParser>

#include <functional>

#include <limits>

namespace {

struct Number
{
    const char *name;
    qint64 minimum;
    qint64 maximum;
    std::function<void(SimConfig *, qint64)> store;
};

bool toNumber(const QString &text, qint64 minimum, qint64 maximum, qint64 *value)
{
    bool ok = false;
    // Base 0: command ids read naturally as 0x0F27, counts as 12.
    const qlonglong parsed = text.trimmed().toLongLong(&ok, 0);
    if (!ok || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

QString rangeError(const QString &option, const QString &value, qint64 minimum, qint64 maximum)
{
    return QStringLiteral("--%1 %2: expected a number from %3 to %4").arg(option, value).arg(minimum).arg(maximum);
}

const QList<Number> &numbers()
{
    constexpr qint64 kU8 = 255;
    constexpr qint64 kInt = std::numeric_limits<int>::max();
    static const QList<Number> list = {
        {"product-number", 0, std::numeric_limits<qint64>::max(),
         [](SimConfig *c, qint64 v) { c->identity.productNumber = quint64(v); }},
        {"serial", 0, std::numeric_limits<qint64>::max(), [](SimConfig *c, qint64 v) { c->identity.serial = quint64(v); }},
        {"device-type", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.deviceType = quint8(v); }},
        {"device-subtype", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.deviceSubType = quint8(v); }},
        {"firmware-version", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.firmwareVersion = quint8(v); }},
        {"software-version", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.softwareVersion = quint8(v); }},
        {"hardware-version", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.hardwareVersion = quint8(v); }},
        {"protocol-version", 0, kU8, [](SimConfig *c, qint64 v) { c->identity.protocolVersion = quint8(v); }},
        {"packet-samples", 0, 32768, [](SimConfig *c, qint64 v) { c->packetSamples = int(v); }},
        {"log-piece", 1, 65535, [](SimConfig *c, qint64 v) { c->logPieceSize = int(v); }},
        {"firmware-step-ms", 0, 60000, [](SimConfig *c, qint64 v) { c->firmwareStepMs = int(v); }},
        {"firmware-steps", 1, 1000, [](SimConfig *c, qint64 v) { c->firmwareSteps = int(v); }},
        {"start-delay-ms", 0, 60000, [](SimConfig *c, qint64 v) { c->startDelayMs = int(v); }},
        {"stop-delay-ms", 0, 60000, [](SimConfig *c, qint64 v) { c->stopDelayMs = int(v); }},
        {"terminal-hold-ms", 0, 60000, [](SimConfig *c, qint64 v) { c->terminalHoldMs = int(v); }},
        {"drop-after-frames", 0, kInt, [](SimConfig *c, qint64 v) { c->faults.dropAfterFrames = int(v); }},
        {"drop-in-state", 0, 9, [](SimConfig *c, qint64 v) { c->faults.dropInState = int(v); }},
        {"silent-after-frames", 0, kInt, [](SimConfig *c, qint64 v) { c->faults.silentAfterFrames = int(v); }},
        {"garbage-after-frames", 0, kInt, [](SimConfig *c, qint64 v) { c->faults.garbageAfterFrames = int(v); }},
        {"delay-ms", 0, 60000, [](SimConfig *c, qint64 v) { c->faults.responseDelayMs = int(v); }},
        {"split-writes", 1, 65535, [](SimConfig *c, qint64 v) { c->faults.splitWriteBytes = int(v); }},
    };
    return list;
}

bool positive(const QCommandLineParser &parser, const QCommandLineOption &option, double *value, QString *message)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double parsed = parser.value(option).toDouble(&ok);
    if (!ok || !(parsed > 0 && parsed <= 1e6)) {
        *message = QStringLiteral("--%1 %2: expected a number above 0").arg(option.names().first(), parser.value(option));
        return false;
    }
    *value = parsed;
    return true;
}

// Cable first: the sites are checked against its length.
bool parseTestObject(const QCommandLineParser &parser, const QCommandLineOption &cableLength,
                     const QCommandLineOption &velocity, const QCommandLineOption &pdSite,
                     const QCommandLineOption &voltageSteps, SimTestObject *object, QString *message)
{
    if (!positive(parser, cableLength, &object->cableLengthMetres, message)
        || !positive(parser, velocity, &object->velocityMetresPerMicrosecond, message))
        return false;
    if (SimScenario(SimScenario::DampedAc, *object).longestEchoNs() > SimScenario::kLongestEchoNs) {
        *message = QStringLiteral("--cable-length %1 m at %2 m/us: the round trip must be at most %3 us")
                       .arg(object->cableLengthMetres)
                       .arg(object->velocityMetresPerMicrosecond)
                       .arg(SimScenario::kLongestEchoNs / 1000);
        return false;
    }
    if (parser.isSet(pdSite) && !object->parseSites(parser.values(pdSite).join(QLatin1Char(',')), message))
        return false;
    return !parser.isSet(voltageSteps) || object->parseVoltageSteps(parser.value(voltageSteps), message);
}

} // namespace

bool SimCommandLine::parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *error)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        *error = QStringLiteral("--listen %1: expected HOST:PORT").arg(text);
        return false;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    QHostAddress parsed;
    if (host == QLatin1String("localhost"))
        parsed = QHostAddress(QHostAddress::LocalHost);
    else if (!parsed.setAddress(host)) {
        *error = QStringLiteral("--listen %1: '%2' is not an IP address").arg(text, host);
        return false;
    }
    if (!parsed.isLoopback()) {
        *error = QStringLiteral("--listen %1: refusing a non-loopback address; use 127.0.0.1 or ::1").arg(text);
        return false;
    }
    qint64 number = 0;
    if (!toNumber(text.mid(colon + 1), 0, 65535, &number)) {
        *error = QStringLiteral("--listen %1: expected a port from 0 to 65535").arg(text);
        return false;
    }
    *address = parsed;
    *port = quint16(number);
    return true;
}

SimCommandLine::Outcome SimCommandLine::parse(const QStringList &arguments, SimConfig *config, QString *message)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption listen(QStringLiteral("listen"), QString(), QStringLiteral("address"));
    const QCommandLineOption scenario(QStringLiteral("scenario"), QString(), QStringLiteral("name"));
    const QCommandLineOption timeScale(QStringLiteral("time-scale"), QString(), QStringLiteral("factor"));
    const QCommandLineOption descriptor(QStringLiteral("descriptor"), QString(), QStringLiteral("text"));
    const QCommandLineOption failAck(QStringLiteral("fail-ack"), QString(), QStringLiteral("command[:ack]"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt-checksum"), QString());
    const QCommandLineOption verbose(QStringLiteral("verbose"), QString());
    const QCommandLineOption cableLength(QStringLiteral("cable-length"), QString(), QStringLiteral("metres"));
    const QCommandLineOption velocity(QStringLiteral("velocity"), QString(), QStringLiteral("m_per_us"));
    const QCommandLineOption pdSite(QStringLiteral("pd-site"), QString(), QStringLiteral("sites"));
    const QCommandLineOption voltageSteps(QStringLiteral("voltage-steps"), QString(), QStringLiteral("kv"));
    parser.addOptions({help, version, listen, scenario, timeScale, descriptor, failAck, corrupt, verbose, cableLength,
                       velocity, pdSite, voltageSteps});
    QList<QCommandLineOption> numberOptions;
    for (const Number &number : numbers()) {
        numberOptions.append(QCommandLineOption(QString::fromLatin1(number.name), QString(), QStringLiteral("n")));
        parser.addOption(numberOptions.last());
    }

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return Error;
    }
    if (parser.isSet(help))
        return Help;
    if (parser.isSet(version))
        return Version;
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return Error;
    }

    if (parser.isSet(listen) && !parseListen(parser.value(listen), &config->address, &config->port, message))
        return Error;
    if (parser.isSet(scenario) && !SimScenario::fromName(parser.value(scenario), &config->scenario)) {
        *message = QStringLiteral("--scenario %1: expected one of %2")
                       .arg(parser.value(scenario), SimScenario::names().join(QStringLiteral(", ")));
        return Error;
    }
    if (parser.isSet(timeScale)) {
        bool ok = false;
        const double value = parser.value(timeScale).toDouble(&ok);
        if (!ok || !(value >= 0.001 && value <= 10000.0)) {
            *message = QStringLiteral("--time-scale %1: expected a factor from 0.001 to 10000").arg(parser.value(timeScale));
            return Error;
        }
        config->timeScale = value;
    }
    if (!parseTestObject(parser, cableLength, velocity, pdSite, voltageSteps, &config->testObject, message))
        return Error;
    if (parser.isSet(descriptor)) {
        const QString text = parser.value(descriptor);
        if (text.toLatin1().size() > SimIdentity::kDescriptorSize) {
            *message = QStringLiteral("--descriptor: at most %1 characters").arg(SimIdentity::kDescriptorSize);
            return Error;
        }
        config->identity.descriptor = text;
    }
    for (int i = 0; i < numbers().size(); ++i) {
        const Number &number = numbers().at(i);
        const QCommandLineOption &option = numberOptions.at(i);
        if (!parser.isSet(option))
            continue;
        qint64 value = 0;
        if (!toNumber(parser.value(option), number.minimum, number.maximum, &value)) {
            *message = rangeError(QString::fromLatin1(number.name), parser.value(option), number.minimum, number.maximum);
            return Error;
        }
        number.store(config, value);
    }
    for (const QString &entry : parser.values(failAck)) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        qint64 command = 0;
        qint64 ack = 7;
        if (parts.size() > 2 || !toNumber(parts.first(), 0, 0x7FFF, &command)
            || (parts.size() == 2 && !toNumber(parts.last(), 0, 65535, &ack))) {
            *message = QStringLiteral("--fail-ack %1: expected COMMAND[:ACK], e.g. 0x0F27:3").arg(entry);
            return Error;
        }
        config->faults.failAck.insert(quint16(command), quint16(ack));
    }
    config->faults.corruptChecksum = parser.isSet(corrupt);
    config->verbose = parser.isSet(verbose);
    return Run;
}

QString SimCommandLine::usage()
{
    return QStringLiteral(
        "usage: dravik-sim [OPTIONS]\n"
        "\n"
        "A Dravik PD detector on a loopback TCP port, for the plug-in without hardware.\n"
        "The first line printed is 'listening ADDRESS:PORT'; SIGINT or SIGTERM ends it.\n"
        "\n"
        "  --listen HOST:PORT        loopback address to serve on (default 127.0.0.1:0,\n"
        "                            port 0 picks a free one); other addresses are refused\n"
        "  --scenario NAME           dac (default), cr, vlf or noise\n"
        "  --time-scale F            device time runs F times as fast as the clock (1)\n"
        "  --verbose                 debug log on stderr\n"
        "\n"
        "cable under test (docs/SIMULATOR.md):\n"
        "  --cable-length M          cable length in metres (960)\n"
        "  --velocity M_PER_US       propagation velocity in m/us (160)\n"
        "  --pd-site M:NC[:KV],...   PD sites: position from the near end, charge,\n"
        "                            inception voltage (default one site: 0 m, 1 nC,\n"
        "                            0 kV); repeatable\n"
        "  --voltage-steps KV,...    test voltage of each scenario cycle from the start\n"
        "                            of an acquisition, repeated (default 20 kV)\n"
        "\n"
        "identity:\n"
        "  --product-number N  --serial N  --descriptor TEXT (at most 32 characters)\n"
        "  --device-type N  --device-subtype N  --firmware-version N (23)\n"
        "  --software-version N (11)  --hardware-version N (3)  --protocol-version N (2)\n"
        "\n"
        "pacing:\n"
        "  --packet-samples N        samples per raw data packet (0: as many as fit)\n"
        "  --log-piece N             bytes per device log reply (1024)\n"
        "  --firmware-step-ms N      time between firmware progress replies (20)\n"
        "  --firmware-steps N        progress replies while writing (10)\n"
        "  --start-delay-ms N        time in Starting (50)\n"
        "  --stop-delay-ms N         time in Stopping (30)\n"
        "  --terminal-hold-ms N      shortest time a finished measurement is reported (250)\n"
        "\n"
        "faults (request frames are counted per connection):\n"
        "  --drop-after-frames N     close the connection after answering N requests (once)\n"
        "  --drop-in-state S         close the connection when the measurement state becomes S (once)\n"
        "  --silent-after-frames N   answer nothing after N requests, keep the connection\n"
        "  --garbage-after-frames N  after N requests, send random bytes instead of answers\n"
        "  --delay-ms D              send every response D ms late\n"
        "  --fail-ack CMD[:ACK]      refuse command CMD (e.g. 0x0F27) with ACK (7); repeatable\n"
        "  --corrupt-checksum        report a wrong CRC for transferred files\n"
        "  --split-writes N          send responses in TCP writes of at most N bytes\n"
        "\n"
        "  -h, --help                this text\n"
        "  --version                 the simulator's version\n");
}
