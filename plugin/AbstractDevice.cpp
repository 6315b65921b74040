#include "AbstractDevice.h"

#include <algorithm>

#include "QxtLogger.h"
#include "SdkMetaTypes.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <mutex>

namespace {
const char *const kTag = "[AbstractDevice]:";
const char *const kMaxVoltagesProperty = "MaxVoltages";

// "MaxVoltages" is one table for every device of the process, and each
// device edits it by reading, changing and writing back the whole map. Hosts
// drive their devices from one thread, but one that gives each detector a
// thread of its own would otherwise lose entries; this lock makes each edit
// whole. It guards only our own edits: a host reads the property on its own
// thread.
std::mutex g_maxVoltagesLock;
}

AbstractDevice::AbstractDevice(QObject *parent)
    : QObject(parent)
{
    registerSdkMetaTypes();
    connect(this, &AbstractDevice::opened, this, &AbstractDevice::refreshOpenAndStartable, Qt::UniqueConnection);
    connect(this, &AbstractDevice::closed, this, &AbstractDevice::refreshOpenAndStartable, Qt::UniqueConnection);
    connect(this, &AbstractDevice::opened, this, &AbstractDevice::onOpen);
    connect(this, &AbstractDevice::closed, this, &AbstractDevice::onClose);
}

AbstractDevice::~AbstractDevice() = default;

void AbstractDevice::onParameterRegistered(int)
{
}

void AbstractDevice::onChannelRegistered(int)
{
}

QString AbstractDevice::serialNumber() const
{
    return settings().value(QStringLiteral("SerialNumber")).toString();
}

QString AbstractDevice::deviceKey() const
{
    return QStringLiteral("%1-%2").arg(serialNumber()).arg(phaseCount());
}

QList<int> AbstractDevice::channelIds() const
{
    return m_channels.keys();
}

bool AbstractDevice::channelInfo(int id, ChannelInfo &out) const
{
    const auto it = m_channels.constFind(id);
    if (it == m_channels.constEnd())
        return false;
    out = it.value();
    return true;
}

bool AbstractDevice::parameterInfo(int id, ParameterInfo &out) const
{
    const auto it = m_parameters.constFind(id);
    if (it == m_parameters.constEnd())
        return false;
    out = it.value();
    return true;
}

QList<int> AbstractDevice::parameterIds() const
{
    QList<int> ids;
    for (auto it = m_parameters.constBegin(); it != m_parameters.constEnd(); ++it) {
        if (!it->internal)
            ids.append(it.key());
    }
    return ids;
}

QList<int> AbstractDevice::describedParameterIds() const
{
    QList<int> ids = m_parameters.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool AbstractDevice::isOpenAndStartable() const
{
    return m_openAndStartable;
}

bool AbstractDevice::registerChannel(int channelId, const QString &name, int phaseId, int roleCode, int dataType,
                                     const QString &unit, double sampleRate, const QString &secondText, bool flag)
{
    if (m_channels.contains(channelId)) {
        QxtLogger::getInstance()->warning(kTag, "Channel", channelId, "already registered!");
        return false;
    }
    if (phaseId == -1) {
        QxtLogger::getInstance()->warning(kTag, "Phase id is undefined! Channel:", channelId);
        return false;
    }
    ChannelInfo info;
    info.id = channelId;
    info.name = name;
    info.phaseId = phaseId;
    info.roleCode = roleCode;
    info.dataType = dataType;
    info.unit = unit;
    info.sampleRate = sampleRate;
    info.secondText = secondText;
    info.flag = flag;
    m_channels.insert(channelId, info);
    onChannelRegistered(channelId);
    return true;
}

bool AbstractDevice::registerParameter(int id, const QString &name, int kind, const QString &unit, int channelId,
                                       int phaseId, int numberField, const QString &description, int valueType,
                                       bool flagA, bool internal, bool flagB)
{
    ParameterInfo info;
    info.id = id;
    info.name = name;
    info.description = description;
    info.unit = unit;
    info.kind = kind;
    info.flagA = flagA;
    info.flagB = flagB;
    info.channelId = channelId;
    info.numberField = numberField;
    info.valueType = valueType;
    info.phaseId = phaseId;
    info.internal = internal;
    return registerParameter(info);
}

bool AbstractDevice::registerParameter(const ParameterInfo &info)
{
    QxtLogger *log = QxtLogger::getInstance();
    if (info.channelId != -1 && info.phaseId != -1) {
        log->warning(kTag, "Parameter", info.name, "with id", info.id,
                     "can't be registered because phaseId and channelId is set!");
        return false;
    }
    // Only visible parameters count as duplicates: the host's rule, which lets
    // an internal record be replaced by a later registration of the same id.
    if (parameterIds().contains(info.id)) {
        log->warning(kTag, "Parameter ", info.name, "with id", info.id, "is already registered!");
        return false;
    }
    if (info.channelId >= 0 && !m_channels.contains(info.channelId)) {
        log->warning(kTag, "Parameter channel", info.channelId, "of parameter", info.name, "with id", info.id,
                     "is not registered!");
        return false;
    }
    m_parameters.insert(info.id, info);
    onParameterRegistered(info.id);
    return true;
}

void AbstractDevice::notifyError(const QString &text, int token)
{
    Q_EMIT notification(StatusError, text, token);
}

void AbstractDevice::refreshOpenAndStartable()
{
    const bool value = isOpen() && m_startable;
    if (value == m_openAndStartable)
        return;
    m_openAndStartable = value;
    Q_EMIT openAndStartableChanged(value);
}

void AbstractDevice::setStartable(bool startable)
{
    if (startable == m_startable)
        return;
    m_startable = startable;
    refreshOpenAndStartable();
}

void AbstractDevice::onOpen()
{
    writeMaxVoltageEntry(true);
}

void AbstractDevice::onClose()
{
    writeMaxVoltageEntry(false);
}

void AbstractDevice::refreshMaxVoltageEntry()
{
    if (!m_maxVoltageKey.isNull())
        writeMaxVoltageEntry(true);
}

void AbstractDevice::writeMaxVoltageEntry(bool hold)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || (!hold && m_maxVoltageKey.isNull()))
        return;
    // Asked before the lock is taken: both may ask the device's containers.
    const QString key = hold ? deviceKey() : QString();
    const int volts = hold ? maxVoltage() : 0;
    std::lock_guard<std::mutex> lock(g_maxVoltagesLock);
    QVariantMap map = app->property(kMaxVoltagesProperty).toMap();
    // The key this device wrote, which is its current one unless the key
    // changed while it was open; never a key it did not write.
    if (!m_maxVoltageKey.isNull())
        map.remove(m_maxVoltageKey);
    if (hold)
        map.insert(key, volts);
    app->setProperty(kMaxVoltagesProperty, map);
    m_maxVoltageKey = key;
}
