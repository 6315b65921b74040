#include "Dravik_v2.h"

#include "ChannelCatalogue.h"
#include "DeviceSettings.h"
#include "DravikChunkCreator_v2.h"
#include "DravikFileTransfer_v2.h"
#include "DravikMeasurementHandler_v2.h"
#include "DravikUpdateFirmware_v2.h"
#include "LogFileReader_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "GainSelection.h"
#include "HardwareChannelMap.h"
#include "OperationModes.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "PdQlp_v2.h"
#include "RawDataUnpacker_v2.h"
#include "QxtLogger.h"

#include <QCoreApplication>
#include <QLayout>
#include <QWidget>
#include <QPixmap>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

const char *const kTag = "[DRAVIK2]:";

// Parameter ids the device acts on.
enum : int {
    DeviceSerial = 1002,
    DeviceSoftwareVersion = 1006,
    DeviceHardwareVersion = 1007,
    DeviceFirmwareVersion = 1008,
    DeviceProtocolVersion = 1009,
    MeasurementState = 1010,
    ChannelStateMuxer = 1011,
    ChannelStateCharge2 = 1015,
    Trigger1Level = 1049,
    GainRemotePowerValue = 1087,
    GainPdLevels = 1080,
    GainPdValue = 1081,
    GainPdBandwidthValue = 1084,
    MuxerChannel0 = 1111,
    MuxerChannel1 = 1112,
    MuxerDualChannelEnable = 1113,
    MuxerGatingEnable = 1114,
    DeviceConfigInfoString = 1122,
    DeviceConfigDeviceType = 1124,
    SettingsDigitalChannel0HoldTime = 1173,
    SettingsSystemGatingLevel = 1174,
    SettingsSystemGatingHoldTime = 1175,
    SettingsAliveTimeout = 1172,
    SettingsLogFile = 1177,
    HvSourceType = 1178,
    UserCharge = 2000,
    UserOperationMode = 2001,
    UserMeasurementMode = 2002,
    NominalCharge = 2003,
    ChargeToVoltageFactor = 2005,
    CalibrationFactor = 2006,
    TriggerLevelByCharge = 2007,
    RelativeTriggerLevel = 2008,
    UserSerialNumber = 2009,
    ExpertMode = 2010,
    MaxVlfShots = 2011,
};

// Requests whose refusal the device tells the host of.
enum Command : quint16 {
    StartCommand = 0x0F00,
    StopCommand = 0x0F01,
    FirmwareWriteCommand = 0x0F03,
    TransferCommand = 0x0F5B,
};

const QList<int> kIdentificationIds{1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009};
const QList<int> kVitalDataIds{1122, 1186, 1187, 1188, 1189};
// Identification and network configuration read as unknown after a connection is lost.
const QList<int> kResetOnLinkDown{1008, 1007, 1006, 1009, 1116, 1117, 1118, 1119, 1120, 1121, 1123, 1124};

const int kStartupDelayMs = 1000;
const int kMinAnswerTimeoutMs = 5000;
const int kGainUpdateDelayMs = 100;
const quint32 kMinProtocol = 2;
const quint32 kMinFirmware = 23;
const quint32 kMinSoftware = 11;
const double kChargeDefault = 1e-9;
const double kChargeSensitivity = 1e-10;

QString versionTemplate(const QVariant &current, int required)
{
    return Dravik_v2::tr("You need at least version %2 or higher. Current version is %1.")
        .arg(current.toString())
        .arg(required);
}

// The log names of ids, each after a blank.
QString logNames(const QList<int> &ids)
{
    QString names;
    for (int id : ids)
        names += QLatin1Char(' ') + ParameterCatalogue::logName(id);
    return names;
}

bool isNumber(const QVariant &v)
{
    bool ok = false;
    v.toDouble(&ok);
    return v.isValid() && ok;
}

} // namespace

Dravik_v2::Dravik_v2(QObject *parent)
    : AbstractDevice(parent)
    , m_user(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.data]:")))
    , m_device(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.devdata]:")))
{
    // The device's picture lives in this static library's resources.
    Q_INIT_RESOURCE(dravik_device);
    registerLinkMetaTypes();
    m_measurementStateTimer.setInterval(m_measurementStateInterval);
    m_vitalDataTimer.setInterval(m_vitalDataInterval);
    m_startupTimer.setSingleShot(true);
    m_startupTimer.setInterval(kStartupDelayMs);
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &Dravik_v2::onAnswerTimeout);

    m_measurementStateTexts = {
        {0, tr("Not ready")},
        {1, tr("Ready")},
        {2, tr("Starting")},
        {3, tr("Running", "Measurement is running") + QStringLiteral(" ...")},
        {4, tr("Acquisation terminated")},
        {5, tr("Timed out")},
        {6, tr("Post process")},
        {7, tr("Transfering") + QStringLiteral(" ...")},
        {8, tr("Stopping")},
        {9, tr("Stopped")},
    };
}

Dravik_v2::~Dravik_v2()
{
    if (m_protocolThread) {
        m_protocolThread->quit();
        m_protocolThread->wait();
    }
}

bool Dravik_v2::initialize()
{
    // A second call would register everything again and start a second
    // protocol thread on the same containers.
    if (m_initialized) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "already initialized, nothing to do");
        return true;
    }
    m_initialized = true;
    ChannelCatalogue::registerChannels([this](const ChannelCatalogue::Channel &c) {
        return registerChannel(c.id, QLatin1String(c.name), 0, c.roleCode, c.dataType, QLatin1String(c.unit),
                               c.sampleRate);
    });

    // Parameters: user side and settings first, then the detector's.
    auto sink = [this](const ParameterInfo &info) { return registerParameter(info); };
    ParameterCatalogue::registerUserParameters(sink, m_user.data());
    ParameterCatalogue::registerDeviceParameters(sink, m_device.data());

    m_statusCodes = {
        {StatusConnectionActive, {StatusError, tr("Connection is active")}},
        {StatusConnectionOpened, {StatusInformation, tr("Connection opened")}},
        {StatusConnectionClosed, {StatusInformation, tr("Connection closed")}},
        {StatusDeviceNotSupported, {StatusInformation, tr("Device not supported")}},
        {StatusInvalidDeviceState, {StatusInformation, tr("Invalid device state")}},
        {StatusMeasurementAborted,
         {StatusInformation, tr("Measurement aborted. Check network connection, please.")}},
        {StatusConnectionLost, {StatusError, tr("Connection to Dravik lost")}},
        {StatusShotDropped, {StatusWarning, tr("Shot dropped: test voltage amplitude below the threshold")}},
    };

    connect(&m_measurementStateTimer, &QTimer::timeout, this, &Dravik_v2::onMeasurementStateTimeout);
    connect(&m_vitalDataTimer, &QTimer::timeout, this, &Dravik_v2::onVitalDataTimer);

    connect(m_user.data(), &AbstractParameterContainer::parameterUpdated, this, &AbstractDevice::parameterChanged);
    connect(m_user.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), this,
            qOverload<int, int>(&AbstractDevice::parameterStatusChanged));
    connect(m_user.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), this,
            &Dravik_v2::onParameterStatusChanged);
    connect(m_device.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), this,
            &Dravik_v2::onDeviceParameterStatusChanged);

    for (const auto &entry : ParameterCatalogue::userDefaults())
        m_user->update(entry.first, entry.second, AbstractParameterContainer::StatusSynchronised);

    createProtocolThread();

    connect(&m_startupTimer, &QTimer::timeout, this, &Dravik_v2::onStartupTimer);
    return true;
}

void Dravik_v2::createProtocolThread()
{
    auto *fileTransfer = new DravikFileTransfer_v2;
    auto *logFileReader = new LogFileReader_v2;
    DravikProtocolHandler_v2::Jobs jobs;
    jobs.fileTransfer = fileTransfer;
    jobs.logFileReader = logFileReader;
    jobs.measurement = new DravikMeasurementHandler_v2;
    jobs.firmwareUpdate = new DravikUpdateFirmware_v2(fileTransfer);
    auto *handler = new DravikProtocolHandler_v2(m_user, m_device, jobs);
    // The end of a log read, for a host that waits for it with a time-out of its own.
    connect(logFileReader, &LogFileReader_v2::logFileRead, this, &Dravik_v2::logFileRead);
    // The handler deletes itself when the thread ends; the device only waits
    // for that in its destructor.
    m_protocolThread = handler->moveToProtocolThread(this);

    connect(handler, &DravikAbstractProtocolHandler_v2::connectionChanged, this, &Dravik_v2::onConnectionChanged);
    connect(handler, &DravikAbstractProtocolHandler_v2::channelData, this, &Dravik_v2::onChannelDataAvailable,
            Qt::QueuedConnection);
    connect(handler, &DravikAbstractProtocolHandler_v2::channelDataTermination, this,
            &Dravik_v2::onChannelDataTermination, Qt::QueuedConnection);
    connect(this, &Dravik_v2::openIo, handler, &DravikAbstractProtocolHandler_v2::onOpen);
    connect(this, &Dravik_v2::closeIo, handler, &DravikAbstractProtocolHandler_v2::onClose);
    connect(this, &Dravik_v2::measurementCommand, handler, &DravikAbstractProtocolHandler_v2::onMeasurementCommand);
    connect(this, &Dravik_v2::requestParameter, handler,
            qOverload<QList<int>>(&DravikAbstractProtocolHandler_v2::onRequestParameter));
    connect(handler, &DravikAbstractProtocolHandler_v2::measurementCommandResponse, this,
            &Dravik_v2::onMeasurementCommandResponse);
    connect(handler, &DravikAbstractProtocolHandler_v2::error, this, &Dravik_v2::onError);
    connect(handler, &DravikAbstractProtocolHandler_v2::requestRefused, this, &Dravik_v2::onRequestRefused);
    connect(handler, &DravikAbstractProtocolHandler_v2::measurementStateAnswered, this,
            [this](const QVariant &state) { m_measurementState = state; });
    connect(this, &Dravik_v2::readLogFile, handler, &DravikAbstractProtocolHandler_v2::onReadLogFile);
    connect(this, &Dravik_v2::firmwareUpdate, handler, &DravikAbstractProtocolHandler_v2::updateFirmware);
    connect(handler, &DravikAbstractProtocolHandler_v2::firmwareUpdateState, this, &Dravik_v2::firmwareUpdateState);
    connect(this, &Dravik_v2::validHwChannels, handler, &DravikAbstractProtocolHandler_v2::onValidChannels);
    connect(handler, &DravikAbstractProtocolHandler_v2::inspectEvent, this, &Dravik_v2::inspectEvent);

    handler->init();
    m_protocolThread->start(QThread::InheritPriority);
}

// ---- connection lifecycle --------------------------------------------------

void Dravik_v2::open()
{
    if (m_verbose)
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "connecting device");
    // Remote power is asked for again on every connection.
    m_remotePowerRefusals = 0;
    Q_EMIT openIo();
}

void Dravik_v2::close()
{
    if (m_verbose)
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "disconnecting device");
    abandonMeasurement(StatusLinkDown);
    setOpenState(StateDisconnecting, 0);
    m_chunkBuffers->clear();
    Q_EMIT closeIo();
}

void Dravik_v2::onConnect()
{
    open();
}

void Dravik_v2::onDisconnect()
{
    close();
}

void Dravik_v2::onConnectionChanged(bool isOpen)
{
    if (isOpen) {
        m_versionsAccepted = false;
        m_identificationAnswers = 0;
        m_refreshAnswered = false;
        m_waitingForRefresh = false;
        m_failedStartParameters.clear();
        m_refusalsNoted.clear();
        m_remotePowerAsked = false;
        setOpenState(StateConnecting, 0);
        m_measurementStateTimer.start();
        m_vitalDataTimer.start();
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, "request identification");
        Q_EMIT requestParameter(kIdentificationIds);
        m_lastAppliedOperationMode = -1;
        setValue(NominalCharge, userInt(UserOperationMode, -1) == OperationModes::SensitivityCheck
                                    ? kChargeSensitivity
                                    : kChargeDefault);
        return;
    }

    // Lost, not closed by the host: the detector went away, fell silent or
    // spoke only garbage until the alive supervision gave up on it.
    if (m_openState == StateConnecting || m_openState == StateConnected)
        notifyError(statusInfo(StatusConnectionLost).second);
    abandonMeasurement(StatusLinkDown);
    discardUnfinishedTransfers();
    m_acquisition.clear();
    m_transfersInFlight.clear();
    m_staleTransfers.clear();
    m_measurementStateTimer.stop();
    m_vitalDataTimer.stop();
    m_startupTimer.stop();
    for (int id : kResetOnLinkDown) {
        if (m_user->contains(id))
            m_user->reset(id);
        else if (m_device->contains(id))
            m_device->reset(id);
    }
    setOpenState(StateDisconnected, StatusConnectionClosed);
}

void Dravik_v2::inspect(int event, const QString &text)
{
    Q_EMIT inspectEvent(event, QVariantHash{{QStringLiteral("text"), text}});
}

void Dravik_v2::announceStartable(bool startable)
{
    m_startable = startable;
    setStartable(startable); // isOpenAndStartable() of this device
    Q_EMIT startableChanged(startable);
}

void Dravik_v2::setOpenState(int state, int status)
{
    static const char *const names[] = {"disconnected", "connecting", "connected", "disconnecting"};
    m_openState = state;
    switch (state) {
    case StateConnected:
        inspect(0, QStringLiteral("signal opened"));
        Q_EMIT opened();
        // Checked again on every connection: the detector may be another one.
        warnIfUnsupported(userInt(UserOperationMode, -1));
        announceStartable(computeStartable());
        break;
    case StateDisconnecting:
        m_startupTimer.stop();
        announceStartable(false);
        break;
    case StateDisconnected:
        inspect(0, QStringLiteral("signal closed (%1)").arg(status));
        announceStartable(false);
        Q_EMIT closed(status);
        break;
    default:
        break;
    }
    const bool known = state >= 0 && state < int(std::size(names));
    inspect(2, QLatin1String(known ? names[state] : "undefined"));
    Q_EMIT openStateChanged(state);
}

void Dravik_v2::warnIfUnsupported(int operationMode)
{
    if (OperationModes::isSupported(m_device->value(DeviceConfigDeviceType), operationMode))
        return;
    Q_EMIT notification(StatusWarning,
                        tr("Operation mode '%1' not supported.").arg(OperationModes::name(operationMode, false)), -1);
}

bool Dravik_v2::computeStartable(const QVariant &operationMode) const
{
    const QVariant mode = operationMode.isValid() ? operationMode : m_user->value(UserOperationMode);
    const bool modeSupported =
        !mode.isValid() || OperationModes::isSupported(m_device->value(DeviceConfigDeviceType), mode.toInt());
    return m_openState == StateConnected && m_versionsAccepted && firmwareAtLeast(kMinFirmware) && modeSupported;
}

bool Dravik_v2::firmwareAtLeast(quint32 min) const
{
    quint32 version = m_device->value(DeviceFirmwareVersion).toUInt();
    // Detectors with software below 2 report their firmware in the hardware version.
    if (m_device->value(DeviceSoftwareVersion).toUInt() < 2)
        version = m_device->value(DeviceHardwareVersion).toUInt();
    return min <= (version % 256);
}

void Dravik_v2::checkVersions()
{
    // One identification answer brings all three versions: check once.
    if (m_versionsAccepted)
        return;
    for (int id : {DeviceProtocolVersion, DeviceFirmwareVersion, DeviceSoftwareVersion}) {
        if (!m_device->isValid(id) || !m_device->value(id).isValid())
            return;
    }
    const QVariant protocol = m_device->value(DeviceProtocolVersion);
    const QVariant software = m_device->value(DeviceSoftwareVersion);
    QString failure;
    if (protocol.toUInt() < kMinProtocol) {
        failure = tr("Dravik protocol not supported!") + QLatin1Char(' ') + versionTemplate(protocol, kMinProtocol);
    } else if (!firmwareAtLeast(kMinFirmware)) {
        failure = tr("Dravik firmware not supported!") + QLatin1Char(' ') +
                  versionTemplate(m_device->value(DeviceFirmwareVersion), kMinFirmware);
    } else if (software.toUInt() >= kMinSoftware) {
        m_versionsAccepted = true;
        Q_EMIT setTriggerSources(ChannelCatalogue::triggerSources(m_device->value(DeviceFirmwareVersion).toUInt()));
        m_selectorMap = ChannelCatalogue::selectorMap();
        refreshAllParameters(true);
        // Read after everything else: its answer comes after theirs.
        Q_EMIT requestParameter(QList<int>{DeviceFirmwareVersion});
        m_startupTimer.start();
        return;
    } else {
        failure = tr("Dravik software not supported!") + QLatin1Char(' ') + versionTemplate(software, kMinSoftware);
    }

    // Connected all the same, so that a firmware update can still be made,
    // but never startable, whatever the firmware number: opened() is followed
    // by startableChanged(false).
    notifyError(failure);
    announceStartable(false);
    setOpenState(StateConnected, 0);
}

void Dravik_v2::resendPendingRequests()
{
    // Requests made before the link was up (the start parameters set while
    // initialising, a host's values given before open()) or lost with the
    // last link never reached a detector: this one gets them now.
    QHash<int, QVariant> requests;
    for (int id : m_device->pendingIds())
        requests.insert(id, m_device->newValue(id));
    if (!requests.isEmpty())
        m_device->setValue(requests);
}

void Dravik_v2::refreshAllParameters(bool skipIdentification)
{
    QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO);
    QList<int> ids = m_device->ids();
    if (skipIdentification) {
        for (int id : kIdentificationIds)
            ids.removeAll(id);
    }
    Q_EMIT requestParameter(ids);
}

void Dravik_v2::onStartupTimer()
{
    if (!m_refreshAnswered && !m_waitingForRefresh) {
        // A slow link: what the host will ask for next (the start's
        // parameters, the muxer's channels) needs these values.
        m_waitingForRefresh = true;
        m_startupTimer.start(answerTimeoutMs());
        return;
    }
    if (!m_refreshAnswered)
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "opened before every parameter was read");
    finishOpening();
}

void Dravik_v2::finishOpening()
{
    m_startupTimer.stop();
    m_waitingForRefresh = false;
    // After the refresh: a write carries its whole command instance, so the
    // other members must be known first.
    resendPendingRequests();
    QTimer::singleShot(kGainUpdateDelayMs, this, &Dravik_v2::onPdGainLevelUpdateTimer);
    setOpenState(StateConnected, 0);
}

void Dravik_v2::onMeasurementStateTimeout()
{
    Q_EMIT requestParameter(QList<int>{MeasurementState});
}

void Dravik_v2::onVitalDataTimer()
{
    Q_EMIT requestParameter(kVitalDataIds);
}

void Dravik_v2::onError(int error, QString errorString)
{
    QxtLogger::getInstance()->debug(kTag, error, errorString);
}

void Dravik_v2::onReadLogFile()
{
    const QVariant name = m_user->value(SettingsLogFile);
    if (!name.isValid()) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no settings entry");
        return;
    }
    if (name.toString().isEmpty()) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no filename given");
        return;
    }
    Q_EMIT readLogFile(name.toString());
}

void Dravik_v2::onParameterCheckTimeout()
{
    const QList<int> pending = m_user->pendingIds();
    if (!pending.isEmpty())
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, logNames(pending));
}

void Dravik_v2::onDeviceParameterStatusChanged(int parameterId, int status)
{
    if (m_startParameters.contains(parameterId) && m_requestingStartParameters) {
        if (status == AbstractParameterContainer::StatusPending)
            m_awaitedStartParameters.insert(parameterId);
    } else if (m_startParameters.contains(parameterId)) {
        if (status != AbstractParameterContainer::StatusPending)
            m_awaitedStartParameters.remove(parameterId);
        if (status == AbstractParameterContainer::StatusFailed)
            m_failedStartParameters.insert(parameterId);
        else if (status == AbstractParameterContainer::StatusSynchronised)
            m_failedStartParameters.remove(parameterId);
        // A slow link that still answers is no lost answer: the wait for the
        // start's parameters is bounded from the last one that came in.
        if (m_startPhase == StartWaitingForParameters)
            armAnswerTimer();
    }
    if (status == AbstractParameterContainer::StatusSynchronised || status == AbstractParameterContainer::StatusFailed)
        handleDeviceParameter(parameterId);
}

void Dravik_v2::handleDeviceParameter(int id)
{
    if (id == DeviceConfigInfoString)
        return;
    if (m_startPhase == StartWaitingForParameters && startNeedsMet())
        continueSimplifiedStart();
    // A failed read leaves the old value in place; only fresh values are acted on below.
    const bool confirmed = m_device->isValid(id);
    const QVariant v = m_device->value(id);

    switch (id) {
    case DeviceSerial:
        m_user->update(UserSerialNumber, v, AbstractParameterContainer::StatusSynchronised);
        // The device key follows the serial number (normally before opened()).
        refreshMaxVoltageEntry();
        break;
    case DeviceFirmwareVersion:
        // The last value of every identification answer.
        if (++m_identificationAnswers == 2 && !m_refreshAnswered) {
            m_refreshAnswered = true;
            if (m_waitingForRefresh && m_openState == StateConnecting)
                finishOpening();
        }
        Q_FALLTHROUGH();
    case DeviceSoftwareVersion:
    case DeviceProtocolVersion:
        if (m_openState == StateConnecting)
            checkVersions();
        break;
    case MuxerChannel0:
    case MuxerChannel1:
    case MuxerDualChannelEnable:
    case MuxerGatingEnable:
        rebuildHwChannelMap();
        break;
    case DeviceConfigDeviceType:
        // The device type decides which operation modes it supports and the
        // highest voltage; on a slow link it may arrive after opened().
        refreshMaxVoltageEntry();
        if (isOpen() && computeStartable() != m_startable)
            announceStartable(computeStartable());
        break;
    case MeasurementState:
        if (confirmed && v.isValid())
            processPdBoxMeasurementState(v.toInt());
        break;
    case GainPdLevels:
        QTimer::singleShot(kGainUpdateDelayMs, this, &Dravik_v2::onPdGainLevelUpdateTimer);
        break;
    case GainRemotePowerValue:
        noteRemotePower();
        Q_EMIT requestParameter(QList<int>{GainPdLevels, GainPdValue});
        break;
    case GainPdValue:
        applyTriggerLevelByCharge();
        break;
    default:
        if (id >= ChannelStateMuxer && id <= ChannelStateCharge2 && confirmed && v.canConvert<st_ChannelMeasState>())
            onChannelStateChanged(id, v.value<st_ChannelMeasState>().value);
        break;
    }
}

void Dravik_v2::noteRemotePower()
{
    if (!m_remotePowerAsked)
        return;
    m_remotePowerAsked = false;
    if (m_device->value(GainRemotePowerValue).toDouble() >= 0.5) {
        m_remotePowerRefusals = 0;
        return;
    }
    // Refused or ignored. Asking again forever would keep the link busy with
    // gain reads and writes; after a few tries the user has to act.
    if (++m_remotePowerRefusals == kMaxRemotePowerRefusals) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "remote power refused", m_remotePowerRefusals, "times");
        notifyError(tr("The detector refused to switch remote power on %1 times in a row; it is not asked again "
                       "until the next connection.")
                        .arg(m_remotePowerRefusals));
    }
}

void Dravik_v2::rebuildHwChannelMap()
{
    setHwChannelMapping(m_device->value(MuxerDualChannelEnable).toUInt() != 0,
                        m_device->value(MuxerGatingEnable).toUInt() != 0,
                        quint8(m_device->value(MuxerChannel0).toUInt()),
                        quint8(m_device->value(MuxerChannel1).toUInt()));
}

void Dravik_v2::setHwChannelMapping(bool dual, bool gating, quint8 ch0, quint8 ch1)
{
    QxtLogger *log = QxtLogger::getInstance();
    const QVariant firmware = m_device->value(DeviceFirmwareVersion);
    log->debug(kTag, "muxer: firmware version", firmware);
    if (!firmwareAtLeast(kMinFirmware)) {
        log->debug(kTag, Q_FUNC_INFO, "unsupported firmware version", firmware);
        return;
    }
    m_hwChannelMap = HardwareChannelMap::build(dual, gating, ch0, ch1, userInt(HvSourceType, -1), m_selectorMap);
    // Both muxer outputs on one channel would interleave two signals in one
    // chunk creator: the second output is left out, and the user told.
    // Said once when the set-up turns so, not at every read of the muxer.
    ChannelInfo shared;
    const bool conflict = dual && ch0 == ch1 && channelInfo(m_selectorMap.value(ch0, -1), shared);
    if (conflict && !m_muxerConflict) {
        const QString text =
            tr("Both muxer channels select '%1'; only muxer channel 0 is recorded.").arg(shared.name);
        log->warning(kTag, Q_FUNC_INFO, text);
        Q_EMIT notification(StatusWarning, text, -1);
    }
    m_muxerConflict = conflict;
}

// ---- parameter access ------------------------------------------------------

QVariant Dravik_v2::value(int id) const
{
    if (m_user->contains(id))
        return m_user->value(id);
    // The container holds a state answer as soon as the protocol thread has
    // it, which may be before the blocks the detector sent ahead of it have
    // reached this thread: a host that reads Ready there could take the
    // measurement as over without its end. It reads the state in the order
    // of the data instead.
    if (id == MeasurementState)
        return m_measurementState;
    return m_device->value(id);
}

int Dravik_v2::setValue(int id, const QVariant &v)
{
    int result = -1;
    if (m_user->contains(id))
        result = m_user->setValue(id, v);
    else if (m_device->contains(id))
        result = m_device->setValue(id, v);
    if (result != 0)
        QxtLogger::getInstance()->debug(kTag, "error setting parameter", ParameterCatalogue::logName(id), result);
    return result;
}

int Dravik_v2::userInt(int id, int fallback) const
{
    bool ok = false;
    const int v = m_user->value(id).toInt(&ok);
    return ok ? v : fallback;
}

void Dravik_v2::confirmUser(int id, const QVariant &value)
{
    m_user->update(id, value, AbstractParameterContainer::StatusSynchronised);
}

void Dravik_v2::onParameterStatusChanged(int parameterId, int status)
{
    if (status == AbstractParameterContainer::StatusPending) {
        confirmUserRequest(parameterId);
        return;
    }
    switch (parameterId) {
    case UserCharge:
    case ChargeToVoltageFactor:
    case RelativeTriggerLevel:
        onPdGainLevelUpdateTimer();
        break;
    case CalibrationFactor:
    case TriggerLevelByCharge:
        applyTriggerLevelByCharge();
        break;
    case ExpertMode:
        if (!m_user->value(ExpertMode).toBool()) {
            onPdGainLevelUpdateTimer();
            applyStartParameters(true);
        }
        break;
    case HvSourceType:
        // The HV source decides where charge phases 0 and 1 arrive: the
        // routing must follow at once, not at the next read of the muxer.
        if (m_device->isValid(MuxerChannel0) && m_device->value(MuxerChannel0).isValid())
            rebuildHwChannelMap();
        break;
    default:
        break;
    }
}

void Dravik_v2::confirmUserRequest(int id)
{
    QxtLogger *log = QxtLogger::getInstance();
    const QVariant current = m_user->value(id);
    const QVariant requested = m_user->newValue(id);

    switch (id) {
    case UserOperationMode:
        // Checked for the first mode a host sets too: a host that sets its
        // mode once, before or after opening, must hear about it.
        if (requested.isValid()) {
            warnIfUnsupported(requested.toInt());
            announceStartable(computeStartable(requested));
        }
        if (current.isValid() && requested.isValid()) {
            const int mode = requested.toInt();
            if ((mode == OperationModes::DisturbanceLevel || mode == OperationModes::SensitivityCheck) &&
                mode != current.toInt()) {
                log->debug(kTag, "reset user charge because of OpMode");
                setValue(UserCharge, mode == OperationModes::SensitivityCheck ? kChargeSensitivity : kChargeDefault);
            }
        }
        confirmUser(id, requested);
        break;
    case UserMeasurementMode:
        if (!current.isValid() || current.toInt() == -1) {
            log->debug(kTag, "reset user charge because of MeasMode");
            setValue(UserCharge, kChargeDefault);
        }
        confirmUser(id, requested);
        break;
    case NominalCharge: {
        confirmUser(id, requested);
        bool ok = false;
        const double charge = requested.toDouble(&ok);
        if (ok && charge > 1e-12)
            confirmUser(UserCharge, requested);
        else
            log->debug(kTag, "rejecting nominal charge of 0");
        break;
    }
    default:
        confirmUser(id, requested);
        break;
    }
}

QString Dravik_v2::serialNumber() const
{
    // 2009 mirrors the detector's serial (1002). It stays after the link is
    // lost, so a closed device keeps the key of the detector it last saw.
    const QVariant serial = m_user->value(UserSerialNumber);
    return serial.isValid() ? serial.toString() : AbstractDevice::serialNumber();
}

int Dravik_v2::maxVoltage() const
{
    return OperationModes::maxVoltage(m_device->value(DeviceConfigDeviceType));
}

QString Dravik_v2::phaseName(int phase) const
{
    return QStringLiteral("L%1").arg(phase + 1);
}

QPair<StatusType, QString> Dravik_v2::statusInfo(int code) const
{
    return m_statusCodes.value(code, {StatusInformation, QString()});
}

// ---- environment and settings ----------------------------------------------

void Dravik_v2::setEnvironment(const AbstractQueryObject &query)
{
    QxtLogger *log = QxtLogger::getInstance();
    const int measurementMode = query.measurementMode();
    const unsigned maxShots = query.maximumShots();
    QVariant operationMode, charge, hvSource, factor, calibration;
    query.query(AbstractQueryObject::KeyOperationMode, operationMode, -1, -1);
    query.query(AbstractQueryObject::KeyNominalCharge, charge, -1, -1);
    query.query(AbstractQueryObject::KeyHvSourceType, hvSource, -1, -1);
    query.query(AbstractQueryObject::KeyChargeToVoltageFactor, factor, -1, -1);
    query.query(AbstractQueryObject::KeyChargeCalibrationFactor, calibration, -1, 1018);

    log->debug(kTag, Q_FUNC_INFO, "MeasMode", measurementMode, "opMode",
               OperationModes::name(operationMode.isValid() ? operationMode.toInt() : -1, false), "charge", charge,
               "MaxShots", maxShots);
    setValue(UserMeasurementMode, measurementMode);
    setValue(MaxVlfShots, maxShots);
    if (operationMode.isValid())
        setValue(UserOperationMode, operationMode);
    if (charge.isValid())
        setValue(NominalCharge, charge);
    if (hvSource.isValid()) {
        log->debug(kTag, Q_FUNC_INFO, "HV source type:", hvSource);
        setValue(HvSourceType, hvSource);
    }
    if (factor.isValid()) {
        log->debug(kTag, Q_FUNC_INFO, "Charge voltage faktor:", factor);
        setValue(ChargeToVoltageFactor, factor);
    }
    if (calibration.isValid()) {
        log->debug(kTag, Q_FUNC_INFO, "Charge calibration faktor:", calibration);
        setValue(CalibrationFactor, calibration);
    }
    if (isOpen())
        applyStartParameters(false);
}

QVariantHash Dravik_v2::settings() const
{
    return DeviceSettings::settings([this](int id) { return value(id); });
}

bool Dravik_v2::applySettings(const QVariantHash &settings)
{
    const DeviceSettings::Access access =
        DeviceSettings::apply(settings, [this](int id, const QVariant &v) { setValue(id, v); });
    m_serviceAccess = access.service;
    m_productionAccess = access.production;
    m_development = access.development;
    return m_serviceAccess;
}

void Dravik_v2::resetSettings()
{
    QxtLogger::getInstance()->debug(kTag, "Reset settings");
}

// ---- widgets (the views arrive with the user interface) --------------------

bool Dravik_v2::hasWidget(int kind) const
{
    return kind == 1 || kind == 2 || kind == 8;
}

void Dravik_v2::createWidget(int kind, QLayout *layout)
{
    QWidget *widget = m_widgetFactory ? m_widgetFactory(kind, this) : nullptr;
    if (!widget)
        return;
    // Views with a trigger source choice get the list at once when connected.
    if (isOpen() && (kind == 2 || kind == 8))
        Q_EMIT setTriggerSources(ChannelCatalogue::triggerSources(m_device->value(DeviceFirmwareVersion).toUInt()));
    if (layout)
        layout->addWidget(widget);
}

QPixmap Dravik_v2::icon() const
{
    return QPixmap(QStringLiteral("://dravik1.png"));
}

// ---- measurement control ---------------------------------------------------

void Dravik_v2::setDataTransferEnabled(bool enabled)
{
    if (enabled)
        m_flags |= FlagDataTransfer;
    else
        m_flags &= ~FlagDataTransfer;
}

void Dravik_v2::start()
{
    QxtLogger *log = QxtLogger::getInstance();
    log->trace(kTag, Q_FUNC_INFO);

    // Every start() ends in exactly one started() or stopped(): one that
    // cannot go to the detector ends at once.
    if (!isOpen() || !m_versionsAccepted) {
        log->warning(kTag, Q_FUNC_INFO, "device not connected or not supported, start refused");
        emitStopped(isOpen() ? StatusDeviceNotSupported : StatusInvalidDeviceState);
        return;
    }
    if (isRunning() || m_startPhase != StartIdle) {
        log->warning(kTag, Q_FUNC_INFO, "a measurement is running or starting already");
        return;
    }

    for (const auto &creator : qAsConst(m_chunkCreators))
        creator->reset();
    m_refusalsNoted.clear();

    if (m_user->value(ExpertMode).toBool()) {
        log->debug(kTag, "start in expert mode");
        sendStart();
        return;
    }
    log->debug(kTag, "start in simplified mode");
    m_startPhase = StartWaitingForParameters;
    armAnswerTimer();
    // The acquisition parameters just written and the muxer's channels must
    // be known, or the detector measures with its own settings and data
    // arrives for channels nobody is bound to.
    if (!startNeedsMet()) {
        log->debug(kTag, "wait for parameter adjustment to finish");
        return;
    }
    continueSimplifiedStart();
}

bool Dravik_v2::muxerKnown() const
{
    // Read at least once; a refused write leaves the detector's set-up in place.
    for (int id : {MuxerChannel0, MuxerChannel1, MuxerDualChannelEnable, MuxerGatingEnable}) {
        if (!m_device->value(id).isValid())
            return false;
    }
    return true;
}

bool Dravik_v2::startNeedsMet() const
{
    return m_awaitedStartParameters.isEmpty() && m_user->pendingIds().isEmpty() && m_device->pendingIds().isEmpty()
        && muxerKnown();
}

void Dravik_v2::continueSimplifiedStart()
{
    if (m_failedStartParameters.isEmpty()) {
        sendStart();
        return;
    }
    const QList<int> failed(m_failedStartParameters.begin(), m_failedStartParameters.end());
    const QString names = parameterNames(failed);
    QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "start given up, parameters not taken:", logNames(failed));
    Q_EMIT notification(StatusWarning, tr("Measurement not started: the detector did not take %1.").arg(names), -1);
    m_answerTimer.stop();
    m_startPhase = StartIdle;
    emitStopped(StatusMeasurementAborted);
}

QString Dravik_v2::parameterNames(const QList<int> &ids) const
{
    QList<int> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    QStringList names;
    for (int id : qAsConst(sorted)) {
        ParameterInfo info;
        names.append(parameterInfo(id, info) && !info.name.isEmpty() ? QStringLiteral("%1 (%2)").arg(info.name).arg(id)
                                                                      : QString::number(id));
    }
    return names.join(QStringLiteral(", "));
}

QString Dravik_v2::channelGroupName(int group)
{
    switch (group) {
    case 0:
        return tr("muxer");
    case 1:
        return tr("test voltage");
    default:
        return tr("charge %1").arg(group - 2);
    }
}

void Dravik_v2::onRequestRefused(quint16 command, quint16 ackCode, QList<int> subjects)
{
    QxtLogger *log = QxtLogger::getInstance();
    QString text;
    switch (command) {
    case StartCommand:
        if (m_startPhase == StartAwaitingAnswer)
            text = tr("The detector refused to start the measurement (acknowledge code %1).").arg(ackCode);
        break;
    case StopCommand:
        // The host hears of its own stops; the supervision's are only logged.
        if (isRunning())
            text = tr("The detector refused to stop the measurement (acknowledge code %1).").arg(ackCode);
        break;
    case FirmwareWriteCommand:
        text = tr("The detector refused to write the firmware (acknowledge code %1).").arg(ackCode);
        break;
    case LogFileReader_v2::kReadLogCommand:
        text = tr("The detector refused to send its log (acknowledge code %1).").arg(ackCode);
        break;
    case DravikFileTransfer_v2::FileInfoCommand:
    case DravikFileTransfer_v2::FileBlockCommand:
    case DravikFileTransfer_v2::ChecksumCommand:
        text = tr("The detector refused a file transfer (acknowledge code %1).").arg(ackCode);
        break;
    case TransferCommand: {
        // Asked again at its next report of ready data; said once per acquisition.
        const int group = subjects.value(0, -1);
        m_transfersInFlight.remove(group);
        if (QTimer *guard = m_requestGuards.value(group))
            guard->stop();
        text = tr("The detector refused to send %1 data (acknowledge code %2).").arg(channelGroupName(group)).arg(ackCode);
        break;
    }
    default:
        text = tr("The detector refused %1 (acknowledge code %2).").arg(parameterNames(subjects)).arg(ackCode);
        break;
    }
    // Each refusal is told once per measurement: a transfer is asked for
    // again at every report of ready data, a write again with every change.
    if (text.isEmpty() || m_refusalsNoted.contains(text))
        return;
    m_refusalsNoted.insert(text);
    log->warning(kTag, Q_FUNC_INFO, "command", QString::number(command, 16), "refused, acknowledge code", ackCode,
                 logNames(subjects));
    Q_EMIT notification(StatusWarning, text, -1);
}

void Dravik_v2::sendStart()
{
    m_startPhase = StartAwaitingAnswer;
    armAnswerTimer();
    Q_EMIT measurementCommand(StartMeasurement, 0);
}

void Dravik_v2::sendStop()
{
    // Our own measurement ends with the answer; a stranger's needs none.
    if (isRunning())
        armAnswerTimer();
    Q_EMIT measurementCommand(StopMeasurement, 0);
    setReady(false);
}

void Dravik_v2::armAnswerTimer()
{
    m_answerTimer.start(answerTimeoutMs());
}

int Dravik_v2::answerTimeoutMs() const
{
    // Twice the alive interval: by then a dead link has been closed, so an
    // answer still missing was lost on a link that lives.
    const int alive = qBound(1000, userInt(SettingsAliveTimeout, 5000), 10000);
    return qMax(kMinAnswerTimeoutMs, 2 * alive);
}

void Dravik_v2::onAnswerTimeout()
{
    QxtLogger *log = QxtLogger::getInstance();
    switch (m_startPhase) {
    case StartWaitingForParameters: {
        log->warning(kTag, Q_FUNC_INFO, "start given up, parameters still pending:", logNames(m_device->pendingIds()));
        Q_EMIT notification(StatusWarning, tr("Measurement not started: the detector did not confirm its parameters."),
                            -1);
        m_startPhase = StartIdle;
        emitStopped(StatusMeasurementAborted);
        break;
    }
    case StartAwaitingAnswer:
        log->warning(kTag, Q_FUNC_INFO, "no answer to the start command");
        m_startPhase = StartIdle;
        m_stopAfterStart = false;
        emitStopped(StatusMeasurementAborted);
        break;
    case StartIdle:
        if (isRunning()) {
            log->warning(kTag, Q_FUNC_INFO, "no answer to the stop command");
            setReady(false);
            setRunning(false, StatusMeasurementAborted);
        }
        break;
    }
}

void Dravik_v2::stop(bool force)
{
    QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, force);
    switch (m_startPhase) {
    case StartWaitingForParameters:
        // Never sent: nothing to stop at the detector.
        m_answerTimer.stop();
        m_startPhase = StartIdle;
        emitStopped(0);
        return;
    case StartAwaitingAnswer:
        // The detector may be starting: the stop follows the answer.
        m_stopAfterStart = true;
        return;
    case StartIdle:
        break;
    }
    if (!isRunning()) {
        Q_EMIT stopped(0);
        return;
    }
    sendStop();
}

void Dravik_v2::abandonMeasurement(int status)
{
    m_answerTimer.stop();
    const bool starting = m_startPhase != StartIdle;
    m_startPhase = StartIdle;
    m_stopAfterStart = false;
    setReady(false);
    if (isRunning())
        setRunning(false, status);
    else if (starting)
        emitStopped(status);
}

void Dravik_v2::bindAcquisition()
{
    // A transfer asked for before the start may still be under way: the
    // detector can answer the start in the middle of it. Its data belongs to
    // the acquisition that ended and goes, up to its end, with a warning.
    for (int group : qAsConst(m_transfersInFlight))
        m_staleTransfers.insert(group, 0);
    m_transfersInFlight.clear();
    m_unplacedChannels.clear();
    discardUnfinishedTransfers();
    m_acquisition.clear();
    for (auto it = m_hwChannelMap.constBegin(); it != m_hwChannelMap.constEnd(); ++it) {
        const QSharedPointer<DravikChunkCreator_v2> creator = m_chunkCreators.value(it.value());
        if (creator)
            m_acquisition.insert(it.key(), creator);
    }
    QList<int> channels = m_acquisition.keys();
    std::sort(channels.begin(), channels.end());
    Q_EMIT validHwChannels(channels);
}

void Dravik_v2::discardUnfinishedTransfers()
{
    for (const auto &creator : qAsConst(m_chunkCreators)) {
        const qint64 bytes = creator->discardSlices();
        if (bytes > 0) {
            QxtLogger::getInstance()->warning(kTag, "channel", creator->channelId(), ": discarded", bytes,
                                              "bytes of a transfer that did not finish");
        }
    }
}

void Dravik_v2::disengage()
{
    QxtLogger::getInstance()->trace(kTag, "disengage");
    m_lastAppliedOperationMode = -1;
    if (isRunning())
        stop(true);
    confirmUser(UserMeasurementMode, -1);
}

void Dravik_v2::onMeasurementCommandResponse(MeasurementCommands command, bool success)
{
    QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "command", int(command), "success", success);
    switch (command) {
    case StartMeasurement: {
        // An answer for a start that was given up (link lost, closed) changes nothing.
        if (m_startPhase != StartAwaitingAnswer)
            break;
        m_answerTimer.stop();
        m_startPhase = StartIdle;
        if (success) {
            bindAcquisition();
            setRunning(true, 0);
            if (m_stopAfterStart) {
                m_stopAfterStart = false;
                sendStop();
            }
        } else {
            // A refused start ends the start() that sent it, running or not.
            m_stopAfterStart = false;
            emitStopped(StatusMeasurementAborted);
        }
        Q_EMIT requestParameter(QList<int>{MeasurementState});
        break;
    }
    case StopMeasurement:
        Q_EMIT requestParameter(QList<int>{MeasurementState});
        setReady(false);
        setRunning(false, success ? 0 : StatusMeasurementAborted);
        break;
    default:
        break;
    }
}

void Dravik_v2::setRunning(bool running, int status)
{
    if (isRunning() == running)
        return;
    if (running) {
        m_flags |= FlagRunning;
        inspect(0, QStringLiteral("signal started"));
        Q_EMIT started();
    } else {
        m_flags &= ~FlagRunning;
        m_answerTimer.stop();
        emitStopped(status);
    }
}

void Dravik_v2::emitStopped(int status)
{
    inspect(0, QStringLiteral("signal stopped (%1)").arg(status));
    Q_EMIT stopped(status);
}

void Dravik_v2::setReady(bool isReadyNow)
{
    if (isReady() == isReadyNow)
        return;
    if (isReadyNow)
        m_flags |= FlagReady;
    else
        m_flags &= ~FlagReady;
    inspect(0, QStringLiteral("signal ready (%1)").arg(isReadyNow ? 1 : 0));
    Q_EMIT ready(isReadyNow);
}

void Dravik_v2::processPdBoxMeasurementState(int state)
{
    switch (state) {
    case 2: // Starting
    case 3: // Running
        if (state == 3 && isRunning()) {
            setReady(true);
            break;
        }
        // Our own start on its way is no stranger's measurement.
        if (!isRunning() && m_startPhase != StartAwaitingAnswer) {
            // The detector runs without a start from us: stop it.
            QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "stopping measurement on device");
            sendStop();
        }
        break;
    case 8: // Stopping
    case 9: // Stopped
        if (isRunning())
            sendStop();
        break;
    default:
        break;
    }
}

void Dravik_v2::onChannelStateChanged(int id, quint8 state)
{
    Q_UNUSED(id)
    const bool dataReady = state & 0x40;
    const bool invalid = state & 0x80;
    if (invalid || !dataReady)
        return;
    const int hardware = state & 0x0F;
    QxtLogger *log = QxtLogger::getInstance();
    if (!(m_flags & FlagDataTransfer)) {
        if (m_verbose)
            log->debug(kTag, "discard measurement data");
        Q_EMIT measurementCommand(DiscardData, hardware);
        return;
    }
    QTimer *&guard = m_requestGuards[hardware];
    if (!guard) {
        guard = new QTimer(this);
        guard->setSingleShot(true);
        guard->setInterval(m_measurementStateInterval);
    }
    // A transfer of this channel is already in flight.
    if (guard->isActive())
        return;
    if (m_verbose)
        log->debug(kTag, "requesting data");
    guard->start();
    m_transfersInFlight.insert(hardware);
    Q_EMIT measurementCommand(TransferData, hardware);
}

void Dravik_v2::onChannelRegistered(int channelId)
{
    m_chunkCreators.insert(channelId, QSharedPointer<DravikChunkCreator_v2>::create(
                                          channelId, DravikChunkCreator_v2::kDefaultMaxOutstanding, m_chunkBuffers));
}

void Dravik_v2::onChannelDataAvailable(int hwChannelId, qulonglong triggerTimeStamp, qulonglong packetTimeStamp,
                                       QByteArray data)
{
    Q_UNUSED(triggerTimeStamp)
    const int group = RawDataUnpacker_v2::groupOf(hwChannelId);
    if (m_staleTransfers.contains(group)) {
        m_staleTransfers[group] += data.size();
        return;
    }
    // Blocks of channels nobody listens to in this acquisition are dropped.
    const QSharedPointer<DravikChunkCreator_v2> creator = m_acquisition.value(hwChannelId);
    if (creator)
        creator->addSlice(packetTimeStamp, data);
}

void Dravik_v2::onChannelDataTermination(int hwChannelId, qulonglong triggerTimeStamp, qulonglong packetTimeStamp)
{
    const int group = RawDataUnpacker_v2::groupOf(hwChannelId);
    m_transfersInFlight.remove(group);
    const auto stale = m_staleTransfers.find(group);
    if (stale != m_staleTransfers.end()) {
        QxtLogger::getInstance()->warning(kTag, "channel group", group, ": dropped", stale.value(),
                                          "bytes of a transfer of the previous acquisition");
        m_staleTransfers.erase(stale);
    } else {
        processChunk(hwChannelId, triggerTimeStamp, packetTimeStamp);
    }
    // The transfer of this group is complete, so no request is in flight any
    // more: the next report of ready data may ask at once instead of waiting
    // out the guard. At high data rates the guard would otherwise cap a
    // channel at one frame per state poll.
    if (QTimer *guard = m_requestGuards.value(RawDataUnpacker_v2::groupOf(hwChannelId)))
        guard->stop();
    // Read the state anew after every end of a transfer.
    Q_EMIT requestParameter(QList<int>{MeasurementState});
}

void Dravik_v2::processChunk(int hwChannelId, quint64 start, quint64 end)
{
    const QSharedPointer<DravikChunkCreator_v2> creator = m_acquisition.value(hwChannelId);
    if (!creator) {
        // Data the host will never see: said once per channel and acquisition.
        if (!m_unplacedChannels.contains(hwChannelId)) {
            m_unplacedChannels.insert(hwChannelId);
            QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no channel for hardware channel", hwChannelId,
                                              "in this acquisition, its data is dropped");
        }
        return;
    }
    // Announced under the channel whose creator holds the chunk: the muxer may
    // have been changed since the acquisition started.
    const int channelId = creator->channelId();
    for (int token : creator->collectChunks(start, end, false))
        Q_EMIT channelDataAvailable(channelId, token);
}

ChannelData Dravik_v2::takeChannelData(int channelId, int token, bool *ok)
{
    QxtLogger *log = QxtLogger::getInstance();
    const QSharedPointer<DravikChunkCreator_v2> creator = m_chunkCreators.value(channelId);
    if (!creator) {
        log->warning(kTag, Q_FUNC_INFO, QStringLiteral("channel (id %1) not available.").arg(channelId));
        if (ok)
            *ok = false;
        return ChannelData();
    }
    ChannelData chunk = creator->takeToken(token);
    if (chunk.isEmpty()) {
        log->warning(kTag, Q_FUNC_INFO,
                     QStringLiteral("channel (id %1) data (token %2) not available.").arg(channelId).arg(token));
        if (ok)
            *ok = false;
        return ChannelData();
    }
    chunk.channelId = channelId;
    ChannelInfo info;
    if (channelInfo(channelId, info))
        chunk.dataType = info.dataType;
    log->debug(kTag, Q_FUNC_INFO, "channel", channelId, "token", token);
    if (ok)
        *ok = true;
    return chunk;
}

void Dravik_v2::onResetToDefault()
{
    applyStartParameters(true);
}

void Dravik_v2::applyStartParameters(bool force)
{
    QxtLogger *log = QxtLogger::getInstance();
    if (m_user->value(ExpertMode).toBool() && !force)
        return;

    const QVariant measurementModeValue = m_user->value(UserMeasurementMode);
    const int measurementMode = measurementModeValue.isValid() ? measurementModeValue.toInt() : -2;
    const QVariant maxShots = m_user->value(MaxVlfShots);
    int operationMode = 0;
    bool gating = false;
    if (measurementMode == 0) {
        const QVariant mode = m_user->value(UserOperationMode);
        if (mode.isValid()) {
            operationMode = mode.toInt();
            log->debug(kTag, "Operationmode:", OperationModes::name(operationMode, false));
        } else {
            log->debug(kTag, "invalid operationmode, using mode", operationMode);
        }
        if (operationMode == OperationModes::DisturbanceLevel && operationMode != m_lastAppliedOperationMode)
            setValue(UserCharge, kChargeDefault);
        m_lastAppliedOperationMode = operationMode;
        gating = true;
    } else if (measurementMode != 1 && measurementMode != 2) {
        log->warning(kTag, Q_FUNC_INFO, "invalid measurement mode, using default parameters");
    }

    const auto record = [&](AcquisitionTiming::Group group) {
        return AcquisitionTiming::lookup(group, measurementMode, operationMode, maxShots);
    };
    const AcquisitionTiming::Record tv = record(AcquisitionTiming::TestVoltage);
    const AcquisitionTiming::Record charge = record(AcquisitionTiming::Charge);
    const AcquisitionTiming::Record muxer = record(AcquisitionTiming::Muxer);

    // A start waits for these and the gating to be confirmed.
    m_startParameters.clear();
    m_failedStartParameters.clear();
    m_awaitedStartParameters.clear();
    requestStartParameters(AcquisitionTiming::parameters(tv, charge, muxer));
    log->debug(kTag, "setParameters (TVPeriod/TVPreTrigger/QPeriod/QPreTrigger/MuxerPeriod/MuxerPretrigger)",
               tv.samplePeriod, tv.pretrigger, charge.samplePeriod, charge.pretrigger, muxer.samplePeriod,
               muxer.pretrigger);
    log->debug(kTag, "setParameters (Triggersource0)", charge.triggerSource);
    log->debug(kTag, "setParameters (Triggersource1)", muxer.triggerSource);
    applyGating(gating);
}

void Dravik_v2::applyGating(bool enable)
{
    QxtLogger *log = QxtLogger::getInstance();
    quint32 digitalActivation = 0;
    quint32 digitalHoldTime = 0;
    quint32 systemActivation = 0;
    double systemLevel = 0.0;
    quint32 systemHoldTime = 0;
    // HV sources of type 1 gate through digital channel 0 instead of the system gating input.
    if (userInt(HvSourceType, -1) == 1) {
        digitalActivation = enable;
        digitalHoldTime = 200000;
    } else {
        systemActivation = enable;
        systemLevel = 0.1585;
        systemHoldTime = 20000;
    }
    // Overrides from the host's settings. They can also arrive through
    // setValue() unchecked, so a value the detector cannot take is refused
    // here, with a warning, and the built-in value stays.
    const auto overrideHoldTime = [&](int id, const char *text, quint32 *holdTime) {
        const QVariant value = m_user->value(id);
        if (!value.isValid())
            return;
        if (DeviceSettings::toHoldTime(value, holdTime))
            log->debug(kTag, text, value);
        else
            log->warning(kTag, Q_FUNC_INFO, "ignoring", ParameterCatalogue::logName(id), value,
                         ": not a number from 0 to 4294967295");
    };
    overrideHoldTime(SettingsDigitalChannel0HoldTime, "Overwrite Digitalchannel 0 Holdtime with value",
                     &digitalHoldTime);
    const QVariant level = m_user->value(SettingsSystemGatingLevel);
    if (isNumber(level) && std::isfinite(level.toDouble())) {
        log->debug(kTag, "Overwrite Systemgating level with value", level);
        systemLevel = level.toDouble();
    } else if (level.isValid()) {
        log->warning(kTag, Q_FUNC_INFO, "ignoring", ParameterCatalogue::logName(SettingsSystemGatingLevel), level,
                     ": not a finite number");
    }
    overrideHoldTime(SettingsSystemGatingHoldTime, "Overwrite Systemgating hold time with value", &systemHoldTime);
    const QHash<int, QVariant> gating{
        {1099, float(systemLevel)},
        {1100, systemHoldTime},
        {1098, systemActivation},
        {1101, 0u},
        {1104, digitalActivation},
        {1105, 0u},
        {1106, 0u},
        {1107, 0u},
        {1108, 0u},
        {1109, 0u},
        {1072, -16.0f},
        {1134, digitalHoldTime},
    };
    requestStartParameters(gating);
}

void Dravik_v2::requestStartParameters(const QHash<int, QVariant> &values)
{
    m_startParameters.unite(QSet<int>(values.keyBegin(), values.keyEnd()));
    // The container answers a value it holds already with "failed" at once,
    // before this returns: that is nothing to send, no refusal.
    m_requestingStartParameters = true;
    m_device->setValue(values);
    m_requestingStartParameters = false;
}

void Dravik_v2::onPdGainLevelUpdateTimer()
{
    if (!isOpen())
        return;
    const double charge = m_user->value(UserCharge).toDouble();
    const bool expert = m_user->value(ExpertMode).toBool();
    setGainsByCharge(!expert, charge);
    if (!expert)
        setValue(TriggerLevelByCharge, m_user->value(RelativeTriggerLevel).toDouble() / 100.0 * charge * 1e9);
}

void Dravik_v2::setGainsByCharge(bool enable, double charge)
{
    if (!enable)
        return;
    QxtLogger *log = QxtLogger::getInstance();
    bool usedFactor = false;
    const double factor = GainSelection::voltageFactor(m_device->value(GainPdBandwidthValue),
                                                       userInt(UserMeasurementMode, -1),
                                                       m_user->value(ChargeToVoltageFactor), &usedFactor);
    if (usedFactor)
        log->debug(kTag, "Charge to Voltage factor used for setting gains", factor);
    const double gain = GainSelection::chooseLevel(m_device->value(GainPdLevels).toList(),
                                                   GainSelection::targetDb(charge, factor));
    log->debug(kTag, "set gain values:", gain, "depending on charge:", charge);
    QHash<int, QVariant> request{{GainPdValue, float(gain)}};
    if (m_device->value(GainRemotePowerValue).toDouble() < 0.5 && m_remotePowerRefusals < kMaxRemotePowerRefusals) {
        request.insert(GainRemotePowerValue, 1.0f);
        m_remotePowerAsked = true;
    }
    m_device->setValue(request);
}

void Dravik_v2::applyTriggerLevelByCharge()
{
    if (userInt(UserMeasurementMode, -1) != 0)
        return;
    const double calibration = m_user->value(CalibrationFactor).toDouble();
    const double gainDb = m_device->value(GainPdValue).toDouble();
    const double charge = m_user->value(TriggerLevelByCharge).toDouble() * 1e-9;
    const double level = GainSelection::triggerLevel(charge, gainDb, calibration);
    QxtLogger::getInstance()->debug(kTag, "charge", charge, "gain", std::pow(10.0, gainDb / -20.0), "calfactor",
                                    calibration, "triggerLevel", level);
    // A calibration factor of 0 (or none yet) gives no usable level; the
    // detector keeps its last one.
    if (!std::isfinite(level))
        return;
    m_device->setValue(Trigger1Level, float(level));
}
