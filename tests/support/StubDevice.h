#pragma once

#include "AbstractDevice.h"

// An AbstractDevice with every device operation stubbed, for tests of the
// framework and of code that registers into a device. The open state and the
// serial number are set by the test.
class StubDevice : public AbstractDevice
{
    Q_OBJECT

public:
    explicit StubDevice(QObject *parent = nullptr);

    // Registration and startability are protected in the framework; tests call them directly.
    using AbstractDevice::registerChannel;
    using AbstractDevice::registerParameter;
    using AbstractDevice::setStartable;

    // Enters the open state and emits opened(), or leaves it and emits closed(status).
    void simulateOpened();
    void simulateClosed(int status = 0);
    void setSerial(const QString &serial) { m_serial = serial; }
    void setMaxVoltage(int volts) { m_maxVoltage = volts; }

    QList<int> registeredParameterHooks() const { return m_parameterHooks; }
    QList<int> registeredChannelHooks() const { return m_channelHooks; }

    bool initialize() override { return true; }
    bool isAvailable() const override { return true; }
    bool isOpen() const override { return m_openState == 2; }
    int openState() const override { return m_openState; }
    void open() override { simulateOpened(); }
    void close() override { simulateClosed(); }
    int phaseCount() const override { return 1; }
    int maxVoltage() const override { return m_maxVoltage; }
    double minimumVoltage() const override { return 0.0; }
    double maximumVoltage() const override { return m_maxVoltage; }
    ChannelData takeChannelData(int channelId, int token, bool *ok) override;
    QString phaseName(int phase) const override { return QStringLiteral("L%1").arg(phase + 1); }
    // Values live in a plain table; setValue() accepts every id.
    QVariant value(int id) const override { return m_values.value(id); }
    int setValue(int id, const QVariant &v) override;
    // Hands out chunk under a new token, as a device does when a transfer ends.
    int announce(int channelId, const ChannelData &chunk);
    void setRunning(bool running) { m_running = running; }
    QVariantHash settings() const override;
    void setEnvironment(const AbstractQueryObject &) override {}
    bool applySettings(const QVariantHash &) override { return false; }
    void resetSettings() override {}
    bool hasWidget(int) const override { return false; }
    void createWidget(int, QLayout *) override {}
    QPixmap icon() const override { return QPixmap(); }
    bool isReady() const override { return false; }
    bool isRunning() const override { return m_running; }
    QPair<StatusType, QString> statusInfo(int) const override { return {StatusInformation, QString()}; }
    void setDataTransferEnabled(bool) override {}
    void start() override {}
    void stop(bool) override {}
    void disengage() override {}
    void reserved() override {}

Q_SIGNALS:
    void startableChanged(bool isStartable);
    void valueSet(int id, QVariant value);

protected:
    void onParameterRegistered(int id) override { m_parameterHooks.append(id); }
    void onChannelRegistered(int channelId) override { m_channelHooks.append(channelId); }

private:
    QHash<int, QVariant> m_values;
    QHash<int, ChannelData> m_chunks;
    int m_nextToken = 1;
    bool m_running = false;
    int m_openState = 0;
    int m_maxVoltage = 0;
    QString m_serial;
    QList<int> m_parameterHooks;
    QList<int> m_channelHooks;
};
