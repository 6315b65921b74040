#include "DravikWrapper_v2.h"

#include "ChunkEditing.h"
#include "Dravik_v2.h"
#include "InterfacePdLocFilter.h"
#include "InterfacePdTestvoltage.h"
#include "PdLocFilter.h"
#include "PdTvContinuousAC.h"
#include "PdTvCosRec.h"
#include "PdTvDAC.h"
#include "QxtLogger.h"
#include "SignalPrimitives.h"

#include <QRandomGenerator64>

#include <algorithm>
#include <cmath>

namespace {

const char *const kTag = "[DravikWrapper]:";

enum : int {
    ChannelPdFiltered = 1001,
    ChannelChargePhase0 = 1018,
    ChannelTestVoltage = 1021,
    ChannelOverflowAdc0 = 1028,
    Trigger1Level = 1049,
    GainPdValue = 1081,
    DeviceConfigTestVoltageCalibration = 1123,
    HvSourceType = 1178,
    UserOperationMode = 2001,
    NominalCharge = 2003,
    UserSerialNumber = 2009,
    Frequency = 2013,
    TestVoltage = 2014,
    Attenuation = 2015,
    ChargeToVoltageFactor = 2016,
    OverflowChargeChannel = 2017,
};

// The averager's band: 50 kHz to 25 MHz at the muxer's 125 MHz.
constexpr float kAvgLow = 50000.0f;
constexpr float kAvgHigh = 2.5e7f;
constexpr float kAvgRate = 1.25e8f;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

QString lineOf(int line)
{
    return QStringLiteral("at line %1").arg(line);
}

// Every wrapper line ends with the source line it came from.
#define WRAPPER_DEBUG(...) QxtLogger::getInstance()->debug(kTag, __VA_ARGS__, lineOf(__LINE__))

bool triggerTime(const ChannelData &chunk, double *t)
{
    for (const ChannelData::Marker &marker : chunk.markers) {
        if (marker.kind == ChannelData::MarkerTrigger) {
            *t = marker.time;
            return true;
        }
    }
    return false;
}

float *floats(ChannelData &chunk)
{
    return reinterpret_cast<float *>(chunk.data->data());
}

int floatCount(const ChannelData &chunk)
{
    return chunk.data ? chunk.data->size() / int(sizeof(float)) : 0;
}

} // namespace

DravikWrapper_v2::DravikWrapper_v2(QObject *parent)
    : DravikWrapper_v2(new Dravik_v2, parent)
{
}

DravikWrapper_v2::DravikWrapper_v2(AbstractDevice *inner, QObject *parent)
    : AbstractDevice(parent)
    , m_device(inner)
{
    m_device->setParent(this);
    m_ownValues = {{Frequency, 0.0}, {TestVoltage, 0.0}, {Attenuation, 0.0}, {ChargeToVoltageFactor, 0.0},
                   {OverflowChargeChannel, 0}};

    connect(m_device, &AbstractDevice::started, this, &AbstractDevice::started);
    connect(m_device, &AbstractDevice::opened, this, &AbstractDevice::opened);
    connect(m_device, &AbstractDevice::openStateChanged, this, &AbstractDevice::openStateChanged);
    connect(m_device, &AbstractDevice::closed, this, &AbstractDevice::closed);
    connect(m_device, &AbstractDevice::ready, this, &AbstractDevice::ready);
    connect(m_device, qOverload<int>(&AbstractDevice::stopped), this, qOverload<int>(&AbstractDevice::stopped));
    connect(m_device, qOverload<int, int>(&AbstractDevice::parameterStatusChanged), this,
            qOverload<int, int>(&AbstractDevice::parameterStatusChanged));
    connect(m_device, &AbstractDevice::parameterChanged, this, &AbstractDevice::parameterChanged);
    connect(m_device, &AbstractDevice::statusCode, this, &AbstractDevice::statusCode);
    connect(m_device, qOverload<StatusType, QString, int>(&AbstractDevice::notification), this,
            qOverload<StatusType, QString, int>(&AbstractDevice::notification));

    connect(m_device, &AbstractDevice::channelDataAvailable, this, &DravikWrapper_v2::onChannelDataAvailable);
    // By name: the detector device declares these, the wrapper only needs a device.
    connect(m_device, SIGNAL(startableChanged(bool)), this, SLOT(onStartableChanged(bool)));
    if (m_device->metaObject()->indexOfSignal("firmwareUpdate(QByteArray,quint8)") >= 0) {
        connect(this, SIGNAL(firmwareUpdate(QByteArray,quint8)), m_device, SIGNAL(firmwareUpdate(QByteArray,quint8)));
        connect(m_device, SIGNAL(firmwareUpdateState(int,double,QString)), this,
                SIGNAL(firmwareUpdateState(int,double,QString)));
        connect(m_device, SIGNAL(logFileRead(bool,QString,qint64)), this, SIGNAL(logFileRead(bool,QString,qint64)));
        connect(m_device, SIGNAL(inspectEvent(int,QVariantHash)), this, SIGNAL(inspectEvent(int,QVariantHash)));
    }
    connect(m_device, qOverload<int>(&AbstractDevice::stopped), this, &DravikWrapper_v2::onStopped);
    connect(m_device, &AbstractDevice::parameterChanged, this, &DravikWrapper_v2::onParameterChanged);

    m_triggerLevelTimer.setInterval(200);
    connect(&m_triggerLevelTimer, &QTimer::timeout, this, &DravikWrapper_v2::onTimerElapsed);
    m_avgResetTimer.setInterval(200);
    m_avgResetTimer.setSingleShot(true);
    connect(&m_avgResetTimer, &QTimer::timeout, this, &DravikWrapper_v2::onAvgResetTimerElapsed);
}

DravikWrapper_v2::~DravikWrapper_v2() = default;

// ---- forwarding ------------------------------------------------------------

bool DravikWrapper_v2::isAvailable() const { return m_device->isAvailable(); }
bool DravikWrapper_v2::isOpen() const { return m_device->isOpen(); }
int DravikWrapper_v2::openState() const { return m_device->openState(); }
void DravikWrapper_v2::open() { m_device->open(); }
void DravikWrapper_v2::close() { m_device->close(); }
QString DravikWrapper_v2::serialNumber() const { return m_device->serialNumber(); }
int DravikWrapper_v2::phaseCount() const { return m_device->phaseCount(); }
int DravikWrapper_v2::maxVoltage() const { return m_device->maxVoltage(); }
double DravikWrapper_v2::minimumVoltage() const { return m_device->minimumVoltage(); }
double DravikWrapper_v2::maximumVoltage() const { return m_device->maximumVoltage(); }
QList<int> DravikWrapper_v2::channelIds() const { return m_device->channelIds(); }
bool DravikWrapper_v2::channelInfo(int id, ChannelInfo &out) const { return m_device->channelInfo(id, out); }
QString DravikWrapper_v2::phaseName(int phase) const { return m_device->phaseName(phase); }
QVariantHash DravikWrapper_v2::settings() const { return m_device->settings(); }
bool DravikWrapper_v2::hasWidget(int kind) const { return m_device->hasWidget(kind); }
void DravikWrapper_v2::createWidget(int kind, QLayout *layout) { m_device->createWidget(kind, layout); }
QPixmap DravikWrapper_v2::icon() const { return m_device->icon(); }
bool DravikWrapper_v2::isReady() const { return m_device->isReady(); }
bool DravikWrapper_v2::isRunning() const { return m_device->isRunning(); }
QPair<StatusType, QString> DravikWrapper_v2::statusInfo(int code) const { return m_device->statusInfo(code); }
void DravikWrapper_v2::setDataTransferEnabled(bool enabled) { m_device->setDataTransferEnabled(enabled); }
void DravikWrapper_v2::disengage() { m_device->disengage(); }
void DravikWrapper_v2::reserved() { m_device->reserved(); }

void DravikWrapper_v2::onReadLogFile()
{
    QMetaObject::invokeMethod(m_device, "onReadLogFile");
}

void DravikWrapper_v2::onStartableChanged(bool startable)
{
    setStartable(startable);
}

// ---- parameters --------------------------------------------------------------

bool DravikWrapper_v2::initialize()
{
    bool result = m_device->initialize();
    // Copies of the two channels the wrapper's parameters belong to, so that
    // they can name them; the host's channel queries go to the inner device.
    for (int id : {ChannelTestVoltage, ChannelChargePhase0}) {
        ChannelInfo info;
        if (m_device->channelInfo(id, info))
            result = registerChannel(id, info.name, info.phaseId, info.roleCode, info.dataType) && result;
    }
    struct Own
    {
        int id;
        const char *name;
        int kind;
        const char *unit;
        int channel;
        const char *description;
        int valueType;
    };
    const Own own[] = {
        {Frequency, "Frequency", 15, "Hz", ChannelTestVoltage, "Test voltage frequency", 0},
        {TestVoltage, "Test Voltage", 16, "V", ChannelTestVoltage, "Test voltage amplitude", 1},
        {Attenuation, "Test Voltage attenuation", 23, "1/s", ChannelTestVoltage, "Test voltage attenuation", 1},
        {ChargeToVoltageFactor, "Charge to voltage factor", 27, "V/C", -1, "", 6},
        {OverflowChargeChannel, "Overflow charge channel", 7, "", ChannelChargePhase0, "Overflow charge channel", 0},
    };
    for (const Own &p : own) {
        ChannelInfo info;
        if (p.channel >= 0 && !m_device->channelInfo(p.channel, info))
            continue;
        result = registerParameter(p.id, tr(p.name), p.kind, tr(p.unit), p.channel, -1, 0, tr(p.description),
                                   p.valueType, false, false, false) &&
                 result;
    }
    resetParameters(false);
    m_ownValues.insert(ChargeToVoltageFactor, 0.0);
    WRAPPER_DEBUG("Initialize", result);
    return result;
}

bool DravikWrapper_v2::parameterInfo(int id, ParameterInfo &out) const
{
    return AbstractDevice::parameterInfo(id, out) || m_device->parameterInfo(id, out);
}

QList<int> DravikWrapper_v2::parameterIds() const
{
    return m_device->parameterIds() + AbstractDevice::parameterIds();
}

QVariant DravikWrapper_v2::value(int id) const
{
    // The overflow flag speaks of the running measurement only.
    if (id == OverflowChargeChannel && !m_device->isRunning())
        return QVariant();
    const auto it = m_ownValues.constFind(id);
    if (it != m_ownValues.constEnd())
        return it.value();
    return m_device->value(id);
}

int DravikWrapper_v2::setValue(int id, const QVariant &v)
{
    if (m_ownValues.contains(id)) {
        m_ownValues.insert(id, v);
        return 0;
    }
    return m_device->setValue(id, v);
}

void DravikWrapper_v2::setOwnValue(int id, const QVariant &value)
{
    m_ownValues.insert(id, value);
}

void DravikWrapper_v2::resetParameters(bool notify)
{
    for (int id : {Frequency, TestVoltage, Attenuation})
        m_ownValues.insert(id, 0.0);
    m_ownValues.insert(OverflowChargeChannel, 0);
    if (notify)
        Q_EMIT parameterChanged({Frequency, TestVoltage, Attenuation, OverflowChargeChannel});
}

void DravikWrapper_v2::setEnvironment(const AbstractQueryObject &query)
{
    QVariant factor;
    query.query(AbstractQueryObject::KeyChargeToVoltageFactor, factor, -1, -1);
    WRAPPER_DEBUG("Charge Voltage Environment", factor.toDouble());
    m_measurementMode = query.measurementMode();
    m_device->setEnvironment(query);
}

bool DravikWrapper_v2::applySettings(const QVariantHash &settings)
{
    const bool result = m_device->applySettings(settings);
    auto number = [&settings](const char *key, double *out) {
        bool ok = false;
        const QVariant v = settings.value(QLatin1String(key));
        *out = v.toDouble(&ok);
        return v.isValid() && ok;
    };
    double v = 0.0;
    if (number("GatingTime", &v))
        m_gatingTime = v;
    if (number("TVAmplitudeThreshold", &v))
        m_amplitudeThreshold = v;
    if (number("NoPostAquisitionCut", &v))
        m_postAcquisitionCut = v < 1;
    if (number("NoAdaptiveGain", &v))
        m_adaptiveGain = v < 1;
    if (number("NoBinaryChannels", &v)) {
        m_onlyFloatChannels = v >= 1;
        WRAPPER_DEBUG("m_onlyFloatChannels", m_onlyFloatChannels);
    }
    return result;
}

void DravikWrapper_v2::resetSettings()
{
    WRAPPER_DEBUG("Reset settings");
}

int DravikWrapper_v2::operationMode() const
{
    const QVariant mode = m_device->value(UserOperationMode);
    return mode.isValid() ? mode.toInt() : -1;
}

bool DravikWrapper_v2::synchronised() const
{
    switch (operationMode()) {
    case 0:
    case 1:
    case 2:
    case 5:
    case 8:
    case 9:
        return true;
    default:
        return false;
    }
}

double DravikWrapper_v2::calibration() const
{
    // The detector reports the calibration as 8 bytes, a little-endian double.
    const QVariant v = m_device->value(DeviceConfigTestVoltageCalibration);
    double c = kInfinity;
    if (v.userType() == QMetaType::QByteArray && v.toByteArray().size() == int(sizeof(double)))
        memcpy(&c, v.toByteArray().constData(), sizeof(double));
    else if (v.canConvert<double>())
        c = v.toDouble();
    return std::isfinite(c) ? c : 1.0;
}

// ---- start, stop, timers ---------------------------------------------------

void DravikWrapper_v2::makeAnalyser()
{
    m_analyser.reset();
    const int mode = operationMode();
    switch (mode) {
    case 0:
    case 1:
    case 8:
    case 9:
        m_analyser.reset(new PdTvDAC);
        break;
    case 2:
    case 5:
        m_analyser.reset(new PdTvCosRec);
        break;
    case 3:
    case 6:
    case 7:
        m_analyser.reset(new PdTvContinuousAC);
        if (m_analyser->setParameter(8, m_testVoltageOffset) != 0)
            WRAPPER_DEBUG("Error while setting amplitude offset");
        if (m_analyser->setParameter(9, std::abs(calibration()) * 0.025) != 0)
            WRAPPER_DEBUG("Error while setting detection threshold");
        break;
    default:
        return;
    }
    if (m_analyser->setParameter(2, calibration()) != 0)
        WRAPPER_DEBUG("Error while setting scalefactor");
}

void DravikWrapper_v2::renewAverager()
{
    m_averager.reset(new PdLocFilter(kAvgLow, kAvgHigh, kAvgRate));
}

void DravikWrapper_v2::setTriggerLevel(float level)
{
    m_device->setValue(Trigger1Level, level);
}

void DravikWrapper_v2::start()
{
    m_testVoltageResults.clear();
    m_pending.clear();
    // Chunks already announced stay: the host may take them after the next
    // start (the store is bounded all the same).
    m_pdTriggerThreshold = 0.0f;
    resetParameters(true);
    makeAnalyser();
    renewAverager();
    if (m_measurementMode == 1) {
        setTriggerLevel(1.0f);
        m_triggerLevelTimer.start();
    }
    const int mode = operationMode();
    m_holdUntilTestVoltage = mode == 3 || mode == 6 || mode == 7;
    m_device->start();
}

void DravikWrapper_v2::stop(bool force)
{
    resetParameters(false);
    m_device->stop(force);
}

void DravikWrapper_v2::onStopped(int)
{
    m_triggerLevelTimer.stop();
}

void DravikWrapper_v2::onTimerElapsed()
{
    // Halve the level every 200 ms until the detector triggers.
    const float level = m_device->value(Trigger1Level).toFloat();
    if (level == level * 0.5f)
        return;
    WRAPPER_DEBUG("new triggerlevel:", level * 0.5f, 0.5);
    setTriggerLevel(level * 0.5f);
    renewAverager();
}

void DravikWrapper_v2::onAvgResetTimerElapsed()
{
    renewAverager();
}

void DravikWrapper_v2::onParameterChanged(QList<int> parameterIds)
{
    // The serial number makes the device key; the entry the wrapper holds
    // follows the detector device's.
    if (parameterIds.contains(UserSerialNumber))
        refreshMaxVoltageEntry();
    if (!parameterIds.contains(GainPdValue) || m_measurementMode != 1 || !m_device->isRunning())
        return;
    // A new gain makes the level found so far meaningless: search again.
    renewAverager();
    setTriggerLevel(1.0f);
    m_triggerLevelTimer.start();
    m_avgResetTimer.start();
}

// ---- chunks ----------------------------------------------------------------

ChannelData DravikWrapper_v2::takeChannelData(int channelId, int token, bool *ok)
{
    const auto it = m_tokens.find(token);
    if (it == m_tokens.end()) {
        WRAPPER_DEBUG("Token not found for channel:", channelId);
        if (ok)
            *ok = false;
        return ChannelData();
    }
    ChannelData chunk = it.value();
    m_tokens.erase(it);
    m_tokenOrder.removeOne(token);
    if (ok)
        *ok = true;
    return chunk;
}

void DravikWrapper_v2::onChannelDataAvailable(int channelId, int token)
{
    bool ok = false;
    ChannelData chunk = m_device->takeChannelData(channelId, token, &ok);
    ChannelInfo info;
    if (!ok || !m_device->channelInfo(channelId, info)) {
        WRAPPER_DEBUG("No channel data found for channel", channelId, "and token", token);
        return;
    }
    double t = 0.0;
    const bool triggered = triggerTime(chunk, &t);

    if (channelId == ChannelTestVoltage && m_measurementMode == 0) {
        const TestVoltageResult result = analyseTestVoltage(chunk, info);
        m_testVoltageResults.insert(t, result);
        if (triggered)
            reportDroppedShot(t, result);
    }

    const bool holdBack = m_postAcquisitionCut && m_measurementMode == 0 && triggered && synchronised();
    if (holdBack) {
        if (m_pending.size() >= kMaxOutstanding) {
            const ChannelData oldest = m_pending.take(m_pending.firstKey());
            WRAPPER_DEBUG("dropped a chunk of channel", oldest.channelId, "that waited for a test voltage in vain");
        }
        m_pending.insert(t, chunk);
        chunk = ChannelData(); // the map holds it now, alone
        if (!m_testVoltageResults.contains(t))
            return; // waits for its trigger's test voltage
        // Handed on, not copied: a chunk whose data nothing else holds is
        // cut in place (ChunkEditing::cut).
        QList<ChannelData> ready = m_pending.values(t);
        m_pending.remove(t);
        for (ChannelData &c : ready)
            publish(std::move(c));
        return;
    }
    publish(std::move(chunk));
    QList<ChannelData> rest = m_pending.values();
    m_pending.clear();
    for (ChannelData &c : rest)
        publish(std::move(c));
}

void DravikWrapper_v2::publish(ChannelData chunk)
{
    const int channelId = chunk.channelId;
    ChannelInfo info;
    if (m_device->channelInfo(channelId, info)) {
        if (m_measurementMode == 0)
            processMode0(chunk, info, channelId);
        else if (m_measurementMode == 1 || m_measurementMode == 2)
            processMode12(chunk, info, channelId);
        if (info.dataType != ChannelData::DataTypeFloat && m_onlyFloatChannels)
            chunk.data.reset();
    }
    if (chunk.isEmpty())
        return;
    if (m_tokens.size() >= kMaxOutstanding) {
        const ChannelData dropped = m_tokens.take(m_tokenOrder.takeFirst());
        QxtLogger::getInstance()->warning(kTag, "channel", dropped.channelId,
                                          ": dropped a chunk the host did not take", lineOf(__LINE__));
    }
    int token = 0;
    do {
        token = int(QRandomGenerator64::global()->generate());
    } while (m_tokens.contains(token));
    m_tokens.insert(token, chunk);
    m_tokenOrder.append(token);
    Q_EMIT channelDataAvailable(channelId, token);
}

bool DravikWrapper_v2::checkChannel(const ChannelData &chunk, const ChannelInfo &info, int dataType) const
{
    if (chunk.data && !chunk.data->isEmpty() && info.dataType == dataType && info.sampleRate > 0)
        return true;
    WRAPPER_DEBUG("invalid Channel");
    return false;
}

DravikWrapper_v2::TestVoltageResult DravikWrapper_v2::analyseTestVoltage(ChannelData &chunk, const ChannelInfo &info)
{
    TestVoltageResult result;
    if (!m_analyser || !checkChannel(chunk, info, ChannelData::DataTypeFloat))
        return result;
    InterfacePdTestvoltage &a = *m_analyser;
    const double rate = info.sampleRate;
    if (a.setParameter(1, rate) != 0) {
        WRAPPER_DEBUG("Error while setting samplerate");
        return result;
    }
    float *x = floats(chunk);
    const int n = floatCount(chunk);
    if (a.process(x, x, n) != 0)
        WRAPPER_DEBUG("Error while processing kernel");

    auto read = [&a](int id, const char *error) {
        double v = 0.0;
        if (a.getResult(id, &v) != 0) {
            QxtLogger::getInstance()->debug(kTag, error, lineOf(__LINE__));
            return kInfinity;
        }
        return v;
    };
    result.amplitude = read(2, "Error while measuring amplitude");
    result.frequency = read(1, "Error while measuring frequency");
    result.attenuation = read(5, "Error while measuring attenuation");
    double delay = 0.0;
    if (a.getResult(6, &delay) != 0)
        WRAPPER_DEBUG("Error while measuring delay");
    else
        chunk.startTime -= delay;

    WRAPPER_DEBUG("set Frequency:", result.frequency, "set Amplitude:", result.amplitude);
    setOwnValue(Frequency, result.frequency);
    setOwnValue(TestVoltage, result.amplitude);
    setOwnValue(Attenuation, result.attenuation);
    Q_EMIT parameterChanged({Frequency, TestVoltage, Attenuation});

    if (m_holdUntilTestVoltage)
        m_holdUntilTestVoltage = !std::isfinite(result.frequency);

    for (int i = 1; i < n; ++i) {
        if (x[i - 1] <= 0 && 0 < x[i]) {
            const double p = i - x[i] / (x[i] - x[i - 1]);
            if (p > 0)
                result.zeroCrossing = p / rate + chunk.startTime;
            break;
        }
    }

    if (m_device->value(HvSourceType).toInt() == 1) {
        const float threshold = float(m_amplitudeThreshold);
        if (result.amplitude >= threshold) {
            QVector<float> e(n);
            if (a.currentAmplitude(x, e.data(), n) != 0)
                WRAPPER_DEBUG("Error while processing currentAmplitude");
            for (int i = 1; i < n; ++i) {
                if (e[i - 1] >= threshold && threshold > e[i]) {
                    const double p = i - (e[i] - threshold) / (e[i] - e[i - 1]);
                    if (p > 0)
                        result.amplitudeDrop = p / rate + chunk.startTime;
                    break;
                }
            }
        } else {
            result.amplitudeDrop = chunk.startTime;
        }
    }
    return result;
}

void DravikWrapper_v2::reportDroppedShot(double t, const TestVoltageResult &result)
{
    // A shot below the amplitude threshold is cut to nothing on every channel
    // of its trigger. Hosts are told so in words and by a status code they can
    // count.
    const float threshold = float(m_amplitudeThreshold);
    double stop = 0.0;
    if (!m_postAcquisitionCut || !(result.amplitude < threshold)
        || !testVoltageWindow(operationMode(), t, result, &stop) || stop > t)
        return;
    const QString text = tr("Shot at %1 s dropped: test voltage amplitude %2 V is below the threshold of %3 V")
                             .arg(t, 0, 'f', 6)
                             .arg(result.amplitude, 0, 'g', 6)
                             .arg(threshold, 0, 'g', 6);
    QxtLogger::getInstance()->warning(kTag, text, lineOf(__LINE__));
    Q_EMIT notification(StatusWarning, text, -1);
    Q_EMIT statusCode(Dravik_v2::StatusShotDropped);
}

void DravikWrapper_v2::processMode0(ChannelData &chunk, const ChannelInfo &info, int channelId)
{
    double t = 0.0;
    const bool triggered = triggerTime(chunk, &t);
    const bool sync = synchronised();
    if (triggered && m_postAcquisitionCut)
        cutToTestVoltage(chunk, info, channelId, t);
    if (channelId == ChannelPdFiltered && sync && triggered && checkChannel(chunk, info, ChannelData::DataTypeFloat))
        ChunkEditing::cut(chunk, channelId, info.sampleRate, t + 0.0005, t + 0.05);
    if (channelId == ChannelChargePhase0 && checkChannel(chunk, info, ChannelData::DataTypeFloat)) {
        if (triggered && sync)
            fillAround(chunk, info, t);
        transformCharge(chunk, info);
    }
    if (channelId == ChannelOverflowAdc0 && checkChannel(chunk, info, ChannelData::DataTypeBinary)) {
        if (triggered && sync)
            fillAround(chunk, info, t);
        reportOverflow(chunk, info);
    }
    if (m_holdUntilTestVoltage)
        chunk.data.reset();
}

bool DravikWrapper_v2::testVoltageWindow(int operationMode, double t, const TestVoltageResult &result, double *stop)
{
    const double f = result.frequency;
    const bool measured = f > 0 && f < 1000;
    switch (operationMode) {
    case 0:
    case 1:
    case 8:
    case 9:
        // Ten periods of the damped oscillation, less if it died away earlier.
        // Where the record was too short for a frequency, where it died away
        // still ends it: a shot below the amplitude threshold goes either way.
        *stop = measured ? t + 10.0 / f : kInfinity;
        if (std::isfinite(result.amplitudeDrop) && result.amplitudeDrop < *stop)
            *stop = result.amplitudeDrop;
        return std::isfinite(*stop);
    case 2:
    case 5:
        // Just under half a period: one reversal of the cosine-rectangular voltage.
        *stop = t + 0.49 / f;
        return measured;
    default:
        return false;
    }
}

void DravikWrapper_v2::cutToTestVoltage(ChannelData &chunk, const ChannelInfo &info, int channelId, double t)
{
    double stop = 0.0;
    if (testVoltageWindow(operationMode(), t, m_testVoltageResults.value(t), &stop))
        ChunkEditing::cut(chunk, channelId, info.sampleRate, t, stop);
}

void DravikWrapper_v2::fillAround(ChannelData &chunk, const ChannelInfo &info, double t)
{
    double w = 0.0;
    if (m_gatingTime >= 0 && std::isfinite(m_gatingTime)) {
        w = m_gatingTime;
    } else {
        const QVariant source = m_device->value(HvSourceType);
        const int type = source.isValid() ? source.toInt() : -1;
        if (type == 1)
            w = 0.00075;
        else if (type >= 0 && type <= 5)
            w = 0.00025;
    }
    const int size = ChunkEditing::sampleSize(info.dataType);
    const int samples = size > 0 && chunk.data ? chunk.data->size() / size : 0;
    WRAPPER_DEBUG("Timestamps (start/stop Data & Fill):", chunk.startTime, samples, t - w, t + w);
    ChunkEditing::zero(chunk, info.sampleRate, t - w, t + w);
}

void DravikWrapper_v2::reportOverflow(const ChannelData &chunk, const ChannelInfo &)
{
    bool overflow = false;
    if (chunk.data) {
        for (char byte : *chunk.data) {
            if (qint8(byte) >= 1) {
                overflow = true;
                break;
            }
        }
    }
    setOwnValue(OverflowChargeChannel, overflow);
    Q_EMIT parameterChanged({OverflowChargeChannel});
}

void DravikWrapper_v2::transformCharge(ChannelData &chunk, const ChannelInfo &)
{
    // The charge is shown as a magnitude.
    dsp::abs(floats(chunk), floats(chunk), floatCount(chunk));
}

void DravikWrapper_v2::processMode12(ChannelData &chunk, const ChannelInfo &info, int channelId)
{
    switch (channelId) {
    case ChannelPdFiltered:
        if (m_measurementMode == 1 && checkChannel(chunk, info, ChannelData::DataTypeFloat))
            processPdFiltered(chunk, info);
        break;
    case ChannelTestVoltage:
        if (m_measurementMode == 1 && checkChannel(chunk, info, ChannelData::DataTypeFloat)) {
            float mean = 0.0f;
            if (dsp::mean(floats(chunk), floatCount(chunk), &mean) == dsp::Ok)
                m_testVoltageOffset = float(mean * calibration());
        }
        break;
    case ChannelOverflowAdc0:
        if (checkChannel(chunk, info, ChannelData::DataTypeBinary))
            reportOverflow(chunk, info);
        break;
    case ChannelChargePhase0:
        if (checkChannel(chunk, info, ChannelData::DataTypeFloat))
            transformCharge(chunk, info);
        break;
    default:
        break;
    }
}

void DravikWrapper_v2::processPdFiltered(ChannelData &chunk, const ChannelInfo &info)
{
    float *x = floats(chunk);
    const int n = floatCount(chunk);
    const double rate = info.sampleRate;

    if (m_triggerLevelTimer.isActive()) {
        // The first block after the search fixes the level at half its peak.
        m_triggerLevelTimer.stop();
        m_nextAveragedBlockTime = chunk.startTime;
        float a = 0.0f;
        if (dsp::maximum(x, n, &a) != dsp::Ok || a <= 0)
            WRAPPER_DEBUG("Pd Amplitude estimation failed");
        const float gain = m_device->value(GainPdValue).toFloat();
        const float g = std::pow(10.0f, gain / -20.0f);
        const float level = a / (2.0f * g);
        WRAPPER_DEBUG("set triggerlevel", level, "amplitude", a, "by gain [dB]", gain);
        setTriggerLevel(level);
        m_avgResetTimer.start();
    }

    if (n <= rate * 0.0015) {
        // One pulse window: average it, publish one averaged block a second.
        if (m_averager) {
            float m = 0.0f;
            if (dsp::mean(x, n / 4, &m) != dsp::Ok)
                WRAPPER_DEBUG("mean value estimation failed");
            if (dsp::subtractConstant(x, m, x, n) != dsp::Ok)
                WRAPPER_DEBUG("subtracting failed");
            if (m_averager->process(x, x, n) != 0)
                WRAPPER_DEBUG("Pd averaging failed");
        }
        if (!(m_nextAveragedBlockTime > chunk.startTime))
            m_nextAveragedBlockTime += 1.0;
        else
            chunk.data.reset();
        return;
    }
    triggerAndAverage(chunk, rate);
}

void DravikWrapper_v2::triggerAndAverage(ChannelData &chunk, double rate)
{
    float *x = floats(chunk);
    const int n = floatCount(chunk);
    const int w9 = int(rate * 0.0009);
    const int w8 = int(rate * 0.0008);
    const int w4 = int(rate * 0.0004);

    if (m_pdTriggerThreshold <= 0) {
        float a = 0.0f;
        if (dsp::maximum(x, n, &a) != dsp::Ok || a <= 0)
            WRAPPER_DEBUG("Pd Amplitude estimation failed");
        m_pdTriggerThreshold = a * 0.5f;
        const QVariant q = m_device->value(NominalCharge);
        const double charge = q.isValid() ? q.toDouble() : std::nan("");
        const double factor = std::abs(a / charge);
        if (factor > 0 && std::isfinite(factor) && m_adaptiveGain) {
            const int set = setValue(ChargeToVoltageFactor, factor);
            Q_EMIT parameterChanged({ChargeToVoltageFactor});
            WRAPPER_DEBUG("Set Charge to Voltagefactor to", factor * 1e-9, set);
        }
    }
    if (w4 < 1)
        WRAPPER_DEBUG("Triggerparameter failed, maybe samplerate to low");

    QList<int> starts;
    const float threshold = m_pdTriggerThreshold;
    if (n >= 1 && w9 >= 0 && std::isfinite(threshold) && w8 >= 1) {
        bool previous = true; // a block that starts above the threshold does not trigger there
        for (int i = 0; i < n; ++i) {
            bool above = std::abs(x[i]) > threshold;
            if (above && !previous) {
                const int s = i - w4;
                if (s >= 0 && s + w8 - 1 < n) {
                    starts.append(s);
                    if (i >= n - w9)
                        break;
                    i += w9;
                    above = std::abs(x[i]) > threshold;
                }
            }
            previous = above;
        }
    } else {
        WRAPPER_DEBUG("Pd trigger failed");
    }

    if (m_averager) {
        // The average lands at the start of the block, which a window may
        // overlap: each window is copied out first.
        QVector<float> window(w8);
        for (int s : qAsConst(starts)) {
            std::copy(x + s, x + s + w8, window.begin());
            if (m_averager->process(window.constData(), x, w8) != 0)
                WRAPPER_DEBUG("Pd averaging failed");
        }
    }
    if (w8 >= 1 && w8 < n)
        chunk.data->truncate(w8 * int(sizeof(float)));
}
