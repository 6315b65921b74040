#include "DeviceSession.h"

#include "DeviceInterface.h"
#include "ExitCode.h"
#include "RunReport.h"

#include <QDateTime>
#include <QMetaEnum>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

const int kMeasurementState = 1010;
const int kTestVoltageCalibration = 1123;
const int kDetectorReady = 1;
// The device's status code for a shot it dropped because its test voltage
// stayed below the amplitude threshold.
const int kShotDropped = -1008;
// Closing the link may take the plug-in's socket time-out (5 s) and a little.
const int kCloseTimeoutMs = 7000;

// The post-processing values the analysis announces through parameterChanged;
// a value read at any other time may be a reset placeholder.
bool isAnalysisResult(int id)
{
    return id == 2013 || id == 2014 || id == 2015;
}

double peakOf(const ChannelData &chunk)
{
    if (chunk.dataType != ChannelData::DataTypeFloat || !chunk.data)
        return 0.0;
    const char *bytes = chunk.data->constData();
    const int n = chunk.data->size() / 4;
    float peak = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float v = qFromLittleEndian<float>(bytes + 4 * i);
        if (std::isfinite(v))
            peak = std::max(peak, std::abs(v));
    }
    return peak;
}

qint64 samplesOf(const ChannelData &chunk)
{
    const qint64 bytes = chunk.data ? chunk.data->size() : 0;
    return chunk.dataType == ChannelData::DataTypeFloat ? bytes / 4 : bytes;
}

} // namespace

DeviceSession::DeviceSession(QObject *device, const HostQuery &query, const Config &config, RunReport *report,
                             QObject *parent)
    : QObject(parent)
    , m_object(device)
    , m_device(qobject_cast<DeviceInterface *>(device))
    , m_query(query)
    , m_config(config)
    , m_report(report)
{
    m_deadline.setSingleShot(true);
    m_runTimer.setSingleShot(true);
    m_drainPoll.setInterval(m_config.pollMs);
    m_stallWatch.setInterval(std::max(1, m_config.stallMs / 8));
    connect(&m_deadline, &QTimer::timeout, this, &DeviceSession::onDeadline);
    connect(&m_stallWatch, &QTimer::timeout, this, &DeviceSession::onStallWatch);
    connect(&m_runTimer, &QTimer::timeout, this, &DeviceSession::onRunElapsed);
    connect(&m_drainPoll, &QTimer::timeout, this, &DeviceSession::onDrainPoll);
}

QList<QPair<int, QString>> DeviceSession::identificationParameters()
{
    return {
        {1001, QStringLiteral("product_number")},
        {1002, QStringLiteral("serial")},
        {1003, QStringLiteral("descriptor")},
        {1004, QStringLiteral("type")},
        {1006, QStringLiteral("software_version")},
        {1007, QStringLiteral("hardware_version")},
        {1008, QStringLiteral("firmware_version")},
        {1009, QStringLiteral("protocol_version")},
        {1123, QStringLiteral("test_voltage_calibration")},
    };
}

bool DeviceSession::attach(QString *error)
{
    if (!m_device) {
        *error = QStringLiteral("the device object does not implement DeviceInterface");
        return false;
    }
    // By name, as any host that does not compile against the plug-in.
    struct Link
    {
        const char *signal;
        const char *slot;
    };
    const Link links[] = {
        {SIGNAL(opened()), SLOT(onOpened())},
        {SIGNAL(closed(int)), SLOT(onClosed(int))},
        {SIGNAL(channelDataAvailable(int,int)), SLOT(onChannelDataAvailable(int,int))},
        {SIGNAL(started()), SLOT(onStarted())},
        {SIGNAL(ready(bool)), SLOT(onReady(bool))},
        {SIGNAL(stopped(int)), SLOT(onStopped(int))},
        {SIGNAL(notification(StatusType,QString,int)), SLOT(onNotification(StatusType,QString,int))},
        {SIGNAL(parameterChanged(QList<int>)), SLOT(onParameterChanged(QList<int>))},
        {SIGNAL(statusCode(int)), SLOT(onStatusCode(int))},
    };
    for (const Link &link : links) {
        // Check first: connect() would only warn on the message log.
        const QByteArray signature = QMetaObject::normalizedSignature(link.signal + 1);
        if (m_object->metaObject()->indexOfSignal(signature.constData()) < 0) {
            *error = QStringLiteral("the device has no signal %1").arg(QString::fromLatin1(signature));
            return false;
        }
        if (!connect(m_object, link.signal, this, link.slot)) {
            *error = QStringLiteral("cannot connect to the device's signal %1").arg(QString::fromLatin1(signature));
            return false;
        }
    }
    return true;
}

QString DeviceSession::stateName() const
{
    switch (m_state) {
    case State::Idle:
        return QStringLiteral("idle");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Configuring:
        return QStringLiteral("configuring");
    case State::Starting:
        return QStringLiteral("starting");
    case State::Running:
        return QStringLiteral("running");
    case State::Stopping:
        return QStringLiteral("stopping");
    case State::Draining:
        return QStringLiteral("taking the last data");
    case State::Closing:
        return QStringLiteral("closing");
    case State::Finished:
        return QStringLiteral("finished");
    case State::Open:
        return QStringLiteral("connected");
    }
    return QString();
}

double DeviceSession::measurementSeconds() const
{
    return m_measurementClock.isValid() ? m_measurementClock.elapsed() / 1000.0 : 0.0;
}

double DeviceSession::sinceBegin() const
{
    return m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
}

void DeviceSession::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

QString DeviceSession::measurementLabel() const
{
    return m_config.interactive ? QStringLiteral("measurement %1").arg(m_index)
                                : QStringLiteral("measurement %1 of %2").arg(m_index).arg(m_config.count);
}

bool DeviceSession::inMeasurement() const
{
    return m_state == State::Starting || m_state == State::Running || m_state == State::Stopping
           || m_state == State::Draining;
}

QString DeviceSession::statusText(int status) const
{
    const QString text = m_device->statusInfo(status).second;
    return text.isEmpty() ? QStringLiteral("status %1").arg(status)
                          : QStringLiteral("status %1: %2").arg(status).arg(text);
}

void DeviceSession::begin()
{
    m_clock.start();
    m_stallClock.start();
    m_stallWatch.start();
    setState(State::Connecting);
    Q_EMIT progress(QStringLiteral("connecting to %1").arg(m_config.address));
    m_deadline.start(m_config.timeoutMs);
    m_device->open();
}

void DeviceSession::onOpened()
{
    if (m_state != State::Connecting || m_exiting)
        return;
    m_deadline.stop();
    setState(State::Configuring);
    // The device settles its "startable" state right after opened(); look at
    // it once the signal has been delivered everywhere.
    QTimer::singleShot(0, this, &DeviceSession::configure);
}

void DeviceSession::configure()
{
    if (m_exiting)
        return;
    for (const auto &entry : identificationParameters()) {
        const QVariant v = m_device->value(entry.first);
        if (!v.isValid())
            continue;
        if (entry.first == kTestVoltageCalibration && v.userType() == QMetaType::QByteArray
            && v.toByteArray().size() == 8) {
            // The detector's configuration item as it came: a little-endian double.
            m_report->device.insert(entry.second, qFromLittleEndian<double>(v.toByteArray().constData()));
            continue;
        }
        bool isNumber = false;
        const double number = v.toDouble(&isNumber);
        const bool text = v.userType() == QMetaType::QString || v.userType() == QMetaType::QByteArray;
        m_report->device.insert(entry.second, isNumber && !text ? QVariant(number) : QVariant(v.toString()));
    }
    ParameterInfo info;
    m_report->postProcessing = m_device->parameterInfo(2013, info);
    const QList<int> offered = m_device->channelIds();
    for (int channel : qAsConst(m_config.channels)) {
        if (!offered.contains(channel))
            Q_EMIT progress(QStringLiteral("warning: the device has no channel %1; nothing will be recorded for it").arg(channel));
    }

    const QVariantMap &d = m_report->device;
    Q_EMIT progress(QStringLiteral("connected: serial %1, firmware %2, software %3, protocol %4")
                     .arg(d.value(QStringLiteral("serial")).toString(),
                          d.value(QStringLiteral("firmware_version")).toString(),
                          d.value(QStringLiteral("software_version")).toString(),
                          d.value(QStringLiteral("protocol_version")).toString()));
    if (m_exiting)
        return;
    // With the device open this also sends the acquisition parameters.
    m_device->setEnvironment(m_query);
    QTimer::singleShot(0, this, &DeviceSession::checkStartable);
}

void DeviceSession::checkStartable()
{
    if (m_exiting)
        return;
    if (!m_rejection.isEmpty()) {
        fail(ExitDetectorRejected, QStringLiteral("the detector was rejected: %1").arg(m_rejection));
        return;
    }
    if (m_config.interactive && m_state == State::Configuring) {
        setState(State::Open);
        return;
    }
    if (!m_device->isOpenAndStartable()) {
        fail(ExitDetectorRejected, m_lastWarning.isEmpty()
                                       ? QStringLiteral("the device is open but cannot start")
                                       : QStringLiteral("the device cannot start: %1").arg(m_lastWarning));
        return;
    }
    startMeasurement(m_index + 1);
}

bool DeviceSession::requestStart()
{
    if (!m_config.interactive || m_state != State::Open || m_exiting)
        return false;
    checkStartable();
    return true;
}

bool DeviceSession::requestStop()
{
    if (!m_config.interactive || m_exiting)
        return false;
    if (m_state == State::Running) {
        onRunElapsed();
        return true;
    }
    if (m_state != State::Starting)
        return false;
    // The device carries out a stop given while its start is pending.
    setState(State::Stopping);
    m_deadline.start(m_config.timeoutMs);
    Q_EMIT progress(QStringLiteral("%1: stopping").arg(measurementLabel()));
    if (!m_exiting)
        m_device->stop(false);
    return true;
}

void DeviceSession::setQuery(const HostQuery &query)
{
    m_query = query;
    if (m_state == State::Open)
        m_device->setEnvironment(m_query);
}

void DeviceSession::startMeasurement(int index)
{
    m_index = index;
    m_started = false;
    RunReport::Measurement m;
    m.index = index;
    m.startedAt = QDateTime::currentDateTimeUtc();
    m_report->measurements.append(m);
    m_measurementClock.start();
    m_measurementOpen = true;
    m_measurementWarning.clear();
    setState(State::Starting);
    Q_EMIT measurementBegins(index);
    if (m_exiting)
        return;
    Q_EMIT progress(QStringLiteral("%1: starting").arg(measurementLabel()));
    if (m_exiting)
        return;
    m_deadline.start(m_config.timeoutMs);
    m_device->start();
}

void DeviceSession::onStarted()
{
    if (m_state == State::Starting)
        m_started = true;
}

void DeviceSession::onReady(bool ready)
{
    if (!ready || m_state != State::Starting || m_exiting)
        return;
    m_deadline.stop();
    setState(State::Running);
    m_runClock.start();
    if (!m_config.interactive)
        m_runTimer.start(m_config.durationMs);
    Q_EMIT progress(QStringLiteral("%1: running").arg(measurementLabel()));
    Q_EMIT measurementRunning(m_index);
}

void DeviceSession::onRunElapsed()
{
    if (m_state != State::Running || m_exiting)
        return;
    RunReport::Measurement &m = m_report->measurements.last();
    m.runSeconds = m_runClock.elapsed() / 1000.0;
    // Read before stop(): stopping resets the post-processing values.
    for (int id : RunReport::postProcessingIds()) {
        if (!isAnalysisResult(id))
            capture(id);
    }
    setState(State::Stopping);
    m_deadline.start(m_config.timeoutMs);
    Q_EMIT progress(QStringLiteral("%1: stopping").arg(measurementLabel()));
    if (m_exiting)
        return;
    m_device->stop(false);
}

void DeviceSession::onStopped(int status)
{
    if (m_exiting) {
        if (m_state == State::Stopping)
            closeLink();
        return;
    }
    if (m_state == State::Stopping) {
        m_deadline.stop();
        m_report->measurements.last().stopStatus = status;
        if (status != 0) {
            fail(ExitMeasurementFailed,
                 withDeviceWarning(QStringLiteral("the measurement ended with %1").arg(statusText(status))));
            return;
        }
        setState(State::Draining);
        m_drainClock.start();
        m_sinceChunk.start();
        m_deadline.start(m_config.timeoutMs);
        m_drainPoll.start();
        return;
    }
    if (m_state == State::Starting || m_state == State::Running) {
        m_report->measurements.last().stopStatus = status;
        fail(ExitMeasurementFailed, withDeviceWarning(QStringLiteral("the measurement stopped before its time (%1)")
                                                          .arg(statusText(status))));
    }
}

void DeviceSession::onDrainPoll()
{
    if (m_state != State::Draining || m_exiting)
        return;
    // The detector is idle once it has handed over or dropped every frame; a
    // device without the measurement state counts as idle.
    const QVariant state = m_device->value(kMeasurementState);
    bool isNumber = false;
    const int detector = state.toInt(&isNumber);
    const bool idle = !state.isValid() || !isNumber || detector == kDetectorReady;
    if (idle && m_sinceChunk.elapsed() >= m_config.quietMs && m_drainClock.elapsed() >= m_config.quietMs)
        measurementDone(true);
}

void DeviceSession::onStallWatch()
{
    const qint64 gapMs = m_stallClock.restart();
    if (gapMs < m_config.stallMs || !m_measurementOpen || m_report->measurements.isEmpty())
        return;
    // Stopped (SIGSTOP, a debugger) or starved: the detector went on
    // measuring, and what it could not keep for us is gone.
    m_report->measurements.last().hostStallSeconds += gapMs / 1000.0;
    Q_EMIT progress(QStringLiteral("warning: dravik-host did not run for %1 s during measurement %2; the detector "
                                   "keeps only a limited number of frames, so data of that time may be missing")
                        .arg(gapMs / 1000.0, 0, 'f', 1)
                        .arg(m_index));
}

QString DeviceSession::withDeviceWarning(const QString &message) const
{
    return m_measurementWarning.isEmpty() ? message
                                          : QStringLiteral("%1; the device said: %2").arg(message, m_measurementWarning);
}

void DeviceSession::endMeasurement()
{
    if (!m_measurementOpen)
        return;
    m_measurementOpen = false;
    Q_EMIT measurementEnds(m_index);
}

void DeviceSession::measurementDone(bool drained)
{
    m_drainPoll.stop();
    m_deadline.stop();
    RunReport::Measurement &m = m_report->measurements.last();
    m.drained = drained;
    // A recording must never pass for complete without its data.
    QString missing;
    if (!drained) {
        const QVariant state = m_device->value(kMeasurementState);
        missing = QStringLiteral("measurement %1: data was still due %2 s after the stop (detector state %3)")
                      .arg(m_index)
                      .arg(m_config.timeoutMs / 1000.0)
                      .arg(state.isValid() ? state.toString() : QStringLiteral("unknown"));
    } else if (m.notTaken > 0) {
        missing = QStringLiteral("measurement %1: %2 chunk(s) the device announced could not be taken")
                      .arg(m_index)
                      .arg(m.notTaken);
    }
    m.complete = missing.isEmpty();
    if (m.complete && m_index == m_config.count && m_report->recordedChunks() == 0)
        missing = QStringLiteral("no data: not one chunk was recorded in %1 measurement(s)").arg(m_index);
    endMeasurement();
    if (!missing.isEmpty()) {
        fail(ExitMeasurementFailed, withDeviceWarning(missing));
        return;
    }
    if (m_exiting)
        return;
    if (m_config.interactive) {
        m_measurementClock.invalidate();
        setState(State::Open);
        return;
    }
    if (m_index < m_config.count) {
        startMeasurement(m_index + 1);
        return;
    }
    setState(State::Closing);
    m_measurementClock.invalidate();
    closeLink();
}

void DeviceSession::onClosed(int status)
{
    switch (m_state) {
    case State::Closing:
        finish();
        return;
    case State::Finished:
    case State::Idle:
        return;
    case State::Connecting:
        m_deadline.stop();
        if (!m_exiting) {
            fail(ExitConnectFailed,
                 QStringLiteral("could not connect to %1 (%2)").arg(m_config.address, statusText(status)));
        }
        setState(State::Closing);
        finish();
        return;
    default:
        break;
    }
    // The link went down under a measurement or while configuring.
    m_linkLost = true;
    const QString message = QStringLiteral("the link to the detector was lost (%1)").arg(statusText(status));
    if (!m_exiting || m_exitCode == ExitMeasurementFailed) {
        // A stopped(-4) just before this said the same less clearly.
        m_exiting = false;
        fail(ExitMeasurementFailed, message);
    }
    setState(State::Closing);
    finish();
}

void DeviceSession::onChannelDataAvailable(int channelId, int token)
{
    bool ok = false;
    const ChannelData chunk = m_device->takeChannelData(channelId, token, &ok);
    if (!ok) {
        ++m_report->chunksLost;
        Q_EMIT progress(QStringLiteral("warning: chunk %1 of channel %2 could not be taken").arg(token).arg(channelId));
    }
    // Kept while the measurement is open, also when it is being cut short:
    // what it measured goes into the recording.
    if (!m_measurementOpen || m_report->measurements.isEmpty()) {
        m_report->chunksOutside += ok ? 1 : 0;
        return;
    }
    RunReport::Measurement &m = m_report->measurements.last();
    auto info = m_channelInfo.find(channelId);
    if (info == m_channelInfo.end()) {
        ChannelInfo ci;
        if (!m_device->channelInfo(channelId, ci)) {
            ci.id = channelId;
            ci.sampleRate = std::nan("");
        }
        info = m_channelInfo.insert(channelId, ci);
    }
    RunReport::Channel channel;
    channel.id = channelId;
    channel.name = info->name;
    channel.unit = info->unit;
    channel.dataType = ok ? chunk.dataType : info->dataType;
    channel.sampleRate = info->sampleRate;
    channel.recorded = m_config.channels.isEmpty() || m_config.channels.contains(channelId);
    RunReport::announce(m, channel).announced += 1;
    if (!ok) {
        ++m.notTaken;
        return;
    }
    m_sinceChunk.start();
    const qint64 bytes = chunk.data ? chunk.data->size() : 0;
    RunReport::tally(m, channel, samplesOf(chunk), bytes, peakOf(chunk));
    if (channel.recorded)
        Q_EMIT chunkTaken(channelId, chunk, *info);
}

void DeviceSession::onNotification(StatusType severity, QString text, int token)
{
    RunReport::Notification n;
    n.severity = int(severity);
    n.text = text;
    n.token = token;
    n.atSeconds = sinceBegin();
    m_report->notifications.append(n);
    if (severity >= StatusWarning) {
        m_lastWarning = text;
        if (m_measurementOpen)
            m_measurementWarning = text;
    }
    if (severity == StatusError && (m_state == State::Connecting || m_state == State::Configuring))
        m_rejection = text;
    Q_EMIT notified(int(severity), text);
}

void DeviceSession::onParameterChanged(QList<int> parameterIds)
{
    if (m_state != State::Running && m_state != State::Stopping && m_state != State::Draining)
        return;
    for (int id : parameterIds) {
        if (RunReport::postProcessingIds().contains(id))
            capture(id);
    }
}

void DeviceSession::onStatusCode(int code)
{
    // Counted like the chunks of the shot: the device reports the drop while
    // it handles them.
    if (code == kShotDropped && inMeasurement() && !m_report->measurements.isEmpty() && !m_exiting)
        ++m_report->measurements.last().droppedShots;
}

void DeviceSession::capture(int id)
{
    if (m_report->measurements.isEmpty())
        return;
    const QVariant v = m_device->value(id);
    bool isNumber = false;
    const double number = v.toDouble(&isNumber);
    if (v.isValid() && isNumber && std::isfinite(number))
        m_report->measurements.last().parameters.insert(id, number);
}

void DeviceSession::onDeadline()
{
    const double seconds = m_config.timeoutMs / 1000.0;
    switch (m_state) {
    case State::Connecting:
        fail(ExitConnectFailed, QStringLiteral("no connection to %1 within %2 s").arg(m_config.address).arg(seconds));
        break;
    case State::Starting:
        fail(ExitMeasurementFailed, m_started ? QStringLiteral("the detector did not report running within %1 s").arg(seconds)
                                              : QStringLiteral("the detector did not start within %1 s").arg(seconds));
        break;
    case State::Stopping:
        if (m_exiting)
            closeLink();
        else
            fail(ExitMeasurementFailed, QStringLiteral("the detector did not stop within %1 s").arg(seconds));
        break;
    case State::Draining:
        measurementDone(false);
        break;
    case State::Closing:
        Q_EMIT progress(QStringLiteral("warning: the link did not close in time"));
        finish();
        break;
    default:
        break;
    }
}

void DeviceSession::abort(int exitCode, const QString &message)
{
    fail(exitCode, message);
}

void DeviceSession::fail(int exitCode, const QString &message)
{
    if (m_exiting || m_state == State::Finished)
        return;
    m_exiting = true;
    m_exitCode = exitCode;
    m_error = message;
    m_runTimer.stop();
    m_drainPoll.stop();
    m_deadline.stop();
    // Out of the signal that brought the failure: the device may be in the
    // middle of emitting.
    QTimer::singleShot(0, this, &DeviceSession::windDown);
}

void DeviceSession::windDown()
{
    if (m_state == State::Finished || m_state == State::Closing)
        return;
    if (m_device->isRunning()) {
        // Leave the detector stopped: it would go on measuring without us.
        setState(State::Stopping);
        m_deadline.start(m_config.timeoutMs);
        m_device->stop(true);
        return;
    }
    closeLink();
}

void DeviceSession::closeLink()
{
    m_deadline.stop();
    const State before = m_state;
    setState(State::Closing);
    // Nothing to close once the link is down and no connection attempt is
    // under way.
    if (m_linkLost || (m_device->openState() == 0 && before != State::Connecting)) {
        finish();
        return;
    }
    m_deadline.start(std::min(m_config.timeoutMs, kCloseTimeoutMs));
    m_device->close();
}

void DeviceSession::finish()
{
    if (m_state == State::Finished)
        return;
    m_deadline.stop();
    m_runTimer.stop();
    m_drainPoll.stop();
    m_stallWatch.stop();
    endMeasurement();
    setState(State::Finished);
    Q_EMIT finished(m_exitCode);
}
