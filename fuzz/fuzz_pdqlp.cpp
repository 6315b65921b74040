// Fuzz target for the command payload decoders (link/PdQlp_v2).
//
// Input: byte 0 picks the get command (low nibble, modulo the fourteen get
// commands) and the protocol version in force (bit 7 set: 0, none received;
// clear: 2); the rest is the response payload.
//
// Beyond not crashing, every input must satisfy:
//  1. every pair names a parameter of the command instance the payload
//     addresses, and there are never more pairs than that instance holds (the
//     measurement state: one per channel state byte, plus the state);
//  2. lists never hold more entries than the payload has room for: trigger
//     values and filter coefficients min(count byte, room), an explicit gain
//     level list all n or nothing, a gain range at most what a frame's list
//     form could carry;
//  3. timings decode nothing before protocol version 2; the measurement state
//     decodes exactly when the payload length is its count byte + 2;
//  4. for a command that can also be written: the values, written back into
//     the container and composed as a set request, decode again to the same
//     values.
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "PdQlp_v2.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QSharedPointer>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const quint16 kGets[] = {0x0100, 0x0F41, 0x0F42, 0x0F44, 0x0F45, 0x0F46, 0x0F47,
                         0x0F48, 0x0F4A, 0x0F4B, 0x0F4C, 0x0F4F, 0x0F83, 0x0F84};
constexpr int kGetCount = int(sizeof kGets / sizeof kGets[0]);
// A 16-bit payload length leaves room for this many levels in the list form.
constexpr int kMaxGainLevels = (0xFFFF - 8) / 4;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_pdqlp: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

struct Harness
{
    Harness()
        : container(new ParameterHandler(nullptr, QStringLiteral("[fuzz]")))
        , codec(container)
    {
        // Every rejected payload logs a line; formatting them would be most of the work.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        qInstallMessageHandler(&silence);
        ParameterCatalogue::registerDeviceParameters([](const ParameterInfo &) { return true; }, container.data());
    }

    void setProtocolVersion(quint8 version)
    {
        if (codec.currentProtocolVersion() == version)
            return;
        QByteArray identification(54, '\0');
        identification[53] = char(version);
        codec.parameterData(0x0100, identification);
        check(codec.currentProtocolVersion() == version, "identification did not set the protocol version");
    }

    QSharedPointer<ParameterHandler> container;
    PdQlp_v2 codec;
};

Harness &harness()
{
    static Harness instance;
    return instance;
}

quint32 u8(const QByteArray &b, int i)
{
    return quint8(b.at(i));
}

quint32 u32(const QByteArray &b, int i)
{
    return u8(b, i) | u8(b, i + 1) << 8 | u8(b, i + 2) << 16 | u8(b, i + 3) << 24;
}

// The first index the payload addresses, as the layouts place it; -1 where it
// is wider than a first index can be.
int addressedInstance(quint16 command, const QByteArray &payload)
{
    switch (command) {
    case 0x0F42:
        return payload.size() >= 4 && u32(payload, 0) <= 0xFF ? int(u32(payload, 0)) : -1;
    case 0x0F44:
    case 0x0F45:
    case 0x0F46:
    case 0x0F47:
    case 0x0F48:
    case 0x0F4B:
    case 0x0F4C:
    case 0x0F83:
        return payload.isEmpty() ? -1 : int(u8(payload, 0));
    default:
        return 0;
    }
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.userType() != b.userType())
        return false;
    if (a.userType() == qMetaTypeId<st_ChannelMeasState>())
        return a.value<st_ChannelMeasState>() == b.value<st_ChannelMeasState>();
    switch (a.userType()) {
    case QMetaType::Float: {
        // A signalling NaN comes back quiet after the trip through double.
        const float x = a.value<float>();
        const float y = b.value<float>();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (int i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    default:
        return a == b;
    }
}

// 2. List sizes against the room in the payload.
void checkLists(quint16 command, const QByteArray &payload, const PdQlp_v2::ParameterValues &values)
{
    const int size = payload.size();
    for (const auto &pair : values) {
        if (pair.second.userType() != QMetaType::QVariantList)
            continue;
        const int entries = pair.second.toList().size();
        if (command == 0x0F44) {
            const int room = (size - 16) / 4;
            check(entries == std::min(int(u8(payload, 1)), room), "trigger values beyond count or payload");
        } else if (command == 0x0F45) {
            const int room = (size - 4) / 4;
            check(entries == std::min(int(u8(payload, 1)), room), "filter coefficients beyond count or payload");
        } else if (command == 0x0F48 && u8(payload, 1) == 0) {
            const quint32 n = u32(payload, 4);
            const int room = (size - 8) / 4;
            check(quint64(n) <= quint64(room) ? entries == int(n) : entries == 0, "gain level list size");
        } else if (command == 0x0F48) {
            check(entries <= kMaxGainLevels + 1, "gain range expanded beyond the cap");
        } else {
            fail("a list where the command has none");
        }
    }
}

// 4. Values → container → set request → values again.
void checkRoundTrip(quint16 command, const PdQlp_v2::ParameterValues &values)
{
    Harness &h = harness();
    const QlpCommandTranslator_v2 &translator = h.codec.translator();
    const quint16 set = quint16(command - 0x20);
    if (values.isEmpty() || !translator.isSetCommand(set))
        return;
    const int representative = values.first().first;
    if (translator.command(representative, true) != set)
        return; // the info string: read only

    for (const auto &pair : values)
        h.container->update(pair.first, pair.second, 0);
    bool ok = false;
    const QByteArray request = h.codec.compose(representative, true, &ok);
    check(ok, "decoded values could not be composed again");
    const PdQlp_v2::ParameterValues again = h.codec.parameterData(command, request);
    check(again.size() == values.size(), "round trip changed the number of values");
    for (int i = 0; i < values.size(); ++i) {
        check(again.at(i).first == values.at(i).first, "round trip changed a parameter id");
        check(sameValue(again.at(i).second, values.at(i).second), "round trip changed a value");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    Harness &h = harness();
    const quint16 command = kGets[(data[0] & 0x0F) % kGetCount];
    const quint8 version = (data[0] & 0x80) ? 0 : 2;
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), int(size - 1));
    h.setProtocolVersion(version);

    const PdQlp_v2::ParameterValues values = h.codec.parameterData(command, payload);
    if (command == 0x0100 && !values.isEmpty()) {
        // Identification moves the version with it; put it back for the checks.
        check(h.codec.currentProtocolVersion() == u8(payload, 53), "protocol version not taken from byte 53");
        h.setProtocolVersion(version);
    }

    // 1. Pairs against the instance.
    const int instance = addressedInstance(command, payload);
    const QMap<int, int> mapping =
        instance >= 0 ? h.codec.translator().mapping(command, quint8(instance)) : QMap<int, int>();
    if (!values.isEmpty())
        check(!mapping.isEmpty(), "values for an instance that does not exist");
    const int channelBytes = payload.size() >= 2 ? payload.size() - 2 : 0;
    const int allowed = command == 0x0F41 ? 1 + channelBytes : mapping.size();
    check(values.size() <= allowed, "more pairs than the instance holds");
    for (const auto &pair : values)
        check(mapping.values().contains(pair.first), "pair for a parameter outside the instance");

    checkLists(command, payload, values);

    // 3. Gates.
    if (command == 0x0F42 && version < 2)
        check(values.isEmpty(), "timings decoded before protocol version 2");
    if (command == 0x0F41)
        check(values.isEmpty() == !(payload.size() >= 2 && payload.size() - 2 == int(u8(payload, 1))),
              "measurement state decoded with the wrong length or refused with the right one");

    checkRoundTrip(command, values);
    return 0;
}
