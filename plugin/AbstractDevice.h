#pragma once

#include "ChannelInfo.h"
#include "DeviceInterface.h"
#include "ParameterInfo.h"
#include "StatusType.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// Base of every device of the plug-in: the channel and parameter tables, the
// registration rules, the "open and startable" bookkeeping and the
// application-wide "MaxVoltages" table. Everything here runs on the thread
// that owns the device, except that "MaxVoltages" is one table for every
// device of the process (see onOpen()).
class AbstractDevice : public QObject, public DeviceInterface
{
    Q_OBJECT
    Q_INTERFACES(DeviceInterface)

public:
    explicit AbstractDevice(QObject *parent = nullptr);
    ~AbstractDevice() override;

protected:
    // Called after a record has been stored; empty here. Kept as the first
    // virtual functions after QObject's so that subclasses in other binaries agree.
    virtual void onParameterRegistered(int id);
    virtual void onChannelRegistered(int channelId);

public:
    QString serialNumber() const override;
    QString deviceKey() const override;
    QList<int> channelIds() const override;
    bool channelInfo(int id, ChannelInfo &out) const override;
    bool parameterInfo(int id, ParameterInfo &out) const override;
    QList<int> parameterIds() const override;
    // Every registered id, internal records (group headers among them)
    // included, in ascending order; for the device's own service views.
    QList<int> describedParameterIds() const;
    bool isOpenAndStartable() const override;

Q_SIGNALS:
    void opened();
    void openStateChanged(int newState);
    void closed(int status);
    void channelDataAvailable(int channelId, int token);
    void openAndStartableChanged(bool openAndStartable);
    void started();
    void ready(bool ready);
    void stopped(int status = 0);
    void parameterStatusChanged(int parameterId, int status);
    void parameterChanged(QList<int> parameterIds);
    void statusCode(int status);
    void notification(StatusType statusCode, QString text, int token = -1);

protected:
    bool registerChannel(int channelId, const QString &name, int phaseId, int roleCode = 0,
                         int dataType = 0, const QString &unit = QString(), double sampleRate = 0.0,
                         const QString &secondText = QString(), bool flag = false);
    bool registerParameter(int id, const QString &name, int kind, const QString &unit, int channelId,
                           int phaseId, int numberField, const QString &description, int valueType,
                           bool flagA, bool internal, bool flagB);
    // The same rules for a ready-made record.
    bool registerParameter(const ParameterInfo &info);

    // An error for the host: StatusError with the text and a token.
    void notifyError(const QString &text, int token = -1);
    // After deviceKey() or maxVoltage() changed: moves this device's
    // "MaxVoltages" entry to the current key and value. Nothing while the
    // device holds no entry (before opened(), after closed()).
    void refreshMaxVoltageEntry();

protected Q_SLOTS:
    void setStartable(bool startable);
    void onOpen();
    void onClose();

private Q_SLOTS:
    void refreshOpenAndStartable();

private:
    // Writes this device's entry under the current key (hold) or removes it.
    void writeMaxVoltageEntry(bool hold);

    QHash<int, ChannelInfo> m_channels;
    QHash<int, ParameterInfo> m_parameters;
    bool m_openAndStartable = false;
    bool m_startable = true;
    // The key this device's "MaxVoltages" entry was written under; null while
    // it holds none. Closing removes this key, so a key that changed while the
    // device was open does not leave its old entry behind.
    QString m_maxVoltageKey;
};
