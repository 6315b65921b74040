#pragma once

#include <QList>
#include <QPair>
#include <QPixmap>
#include <QString>
#include <QVariant>
#include <QtPlugin>

#include "AbstractQueryObject.h"
#include "ChannelData.h"
#include "ChannelInfo.h"
#include "ParameterInfo.h"
#include "StatusType.h"

class QLayout;

// A measurement device as the host sees it. The virtual functions keep this
// order; hosts depend on it. The device's signals (opened(), closed(int),
// channelDataAvailable(int, int), ...) are declared by AbstractDevice and are
// connected by the host through the device's QObject.
class DeviceInterface
{
public:
    virtual ~DeviceInterface() = default;

    virtual bool initialize() = 0;
    virtual bool isAvailable() const = 0;
    virtual bool isOpen() const = 0;
    // 0 disconnected, 1 connecting, 2 connected, 3 disconnecting
    virtual int openState() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual QString serialNumber() const = 0;
    virtual QString deviceKey() const = 0;
    virtual int phaseCount() const = 0;
    virtual int maxVoltage() const = 0;
    virtual double minimumVoltage() const = 0;
    virtual double maximumVoltage() const = 0;
    virtual QList<int> channelIds() const = 0;
    virtual bool channelInfo(int id, ChannelInfo &out) const = 0;
    // Hands over the block announced by channelDataAvailable(channelId, token).
    // Each token is valid for exactly one call.
    virtual ChannelData takeChannelData(int channelId, int token, bool *ok = nullptr) = 0;
    virtual QString phaseName(int phase) const = 0;
    virtual bool parameterInfo(int id, ParameterInfo &out) const = 0;
    // Ids of every parameter not registered as internal.
    virtual QList<int> parameterIds() const = 0;
    virtual QVariant value(int id) const = 0;
    virtual int setValue(int id, const QVariant &v) = 0;
    virtual QVariantHash settings() const = 0;
    virtual void setEnvironment(const AbstractQueryObject &query) = 0;
    virtual bool applySettings(const QVariantHash &settings) = 0;
    virtual void resetSettings() = 0;
    virtual bool hasWidget(int kind) const = 0;
    virtual void createWidget(int kind, QLayout *layout) = 0;
    virtual QPixmap icon() const = 0;
    virtual bool isReady() const = 0;
    virtual bool isOpenAndStartable() const = 0;
    virtual bool isRunning() const = 0;
    virtual QPair<StatusType, QString> statusInfo(int code) const = 0;
    virtual void setDataTransferEnabled(bool enabled) = 0;
    virtual void start() = 0;
    virtual void stop(bool force = false) = 0;
    virtual void disengage() = 0;
    // Kept for the host's interface layout; no meaning for this plug-in.
    virtual void reserved() = 0;
};

#define DeviceInterface_iid "org.dravik.DeviceInterface/1.1"
Q_DECLARE_INTERFACE(DeviceInterface, DeviceInterface_iid)
