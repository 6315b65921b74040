#pragma once

#include "AbstractDevice.h"

#include <QHash>
#include <QMap>
#include <QMultiMap>
#include <QTimer>

#include <limits>
#include <memory>

class InterfacePdLocFilter;
class InterfacePdTestvoltage;

// The device the plug-in hands to the host. It owns the detector device and
// behaves like it, but stands between the detector's chunks and the host:
// every chunk is post-processed by measurement mode and re-announced under a
// token of its own. In measurement mode 0 the test voltage of each trigger is
// analysed first and the other channels of that trigger wait for it, so that
// all of them can be cut to the test voltage. It adds parameters 2013-2017,
// computed from the data.
class DravikWrapper_v2 : public AbstractDevice
{
    Q_OBJECT

public:
    // One trigger's test voltage; -infinity where not measured.
    struct TestVoltageResult
    {
        double frequency = -std::numeric_limits<double>::infinity();
        double amplitude = -std::numeric_limits<double>::infinity();
        double zeroCrossing = -std::numeric_limits<double>::infinity();
        double attenuation = -std::numeric_limits<double>::infinity();
        double amplitudeDrop = -std::numeric_limits<double>::infinity();
    };

    // Wraps a new detector device.
    explicit DravikWrapper_v2(QObject *parent = nullptr);
    // Wraps inner, which becomes a child. The inner device must offer the
    // detector's parameter ids and the signal startableChanged(bool); tests
    // hand in a device of their own.
    DravikWrapper_v2(AbstractDevice *inner, QObject *parent);
    ~DravikWrapper_v2() override;

    AbstractDevice *innerDevice() const { return m_device; }

    bool initialize() override;
    bool isAvailable() const override;
    bool isOpen() const override;
    int openState() const override;
    void open() override;
    void close() override;
    QString serialNumber() const override;
    int phaseCount() const override;
    int maxVoltage() const override;
    double minimumVoltage() const override;
    double maximumVoltage() const override;
    QList<int> channelIds() const override;
    bool channelInfo(int id, ChannelInfo &out) const override;
    ChannelData takeChannelData(int channelId, int token, bool *ok = nullptr) override;
    QString phaseName(int phase) const override;
    bool parameterInfo(int id, ParameterInfo &out) const override;
    QList<int> parameterIds() const override;
    QVariant value(int id) const override;
    int setValue(int id, const QVariant &v) override;
    QVariantHash settings() const override;
    void setEnvironment(const AbstractQueryObject &query) override;
    bool applySettings(const QVariantHash &settings) override;
    void resetSettings() override;
    bool hasWidget(int kind) const override;
    void createWidget(int kind, QLayout *layout) override;
    QPixmap icon() const override;
    bool isReady() const override;
    bool isRunning() const override;
    QPair<StatusType, QString> statusInfo(int code) const override;
    void setDataTransferEnabled(bool enabled) override;
    void start() override;
    void stop(bool force = false) override;
    void disengage() override;
    void reserved() override;

    int measurementMode() const { return m_measurementMode; }

    // The window [t, *stop] that chunks of trigger t are cut to in
    // operationMode, given that trigger's test voltage; false where nothing
    // is cut (continuous voltages, unknown mode, no usable frequency).
    static bool testVoltageWindow(int operationMode, double t, const TestVoltageResult &result, double *stop);

Q_SIGNALS:
    // Relayed from the detector device, for hosts and the configuration view.
    void firmwareUpdate(QByteArray bitstream, quint8 mode);
    void firmwareUpdateState(int state, double progress, QString description);
    void logFileRead(bool ok, QString filename, qint64 bytes);
    void inspectEvent(int event, QVariantHash hash);

public Q_SLOTS:
    // Reads the detector's log into the file named by SettingsLogFile.
    void onReadLogFile();

private Q_SLOTS:
    void onChannelDataAvailable(int channelId, int token);
    void onStartableChanged(bool startable);
    void onStopped(int status);
    void onParameterChanged(QList<int> parameterIds);
    void onTimerElapsed();
    void onAvgResetTimerElapsed();

private:
    void publish(ChannelData chunk);
    void resetParameters(bool notify);
    void setOwnValue(int id, const QVariant &value);
    bool checkChannel(const ChannelData &chunk, const ChannelInfo &info, int dataType) const;
    int operationMode() const;
    bool synchronised() const;
    double calibration() const;
    void makeAnalyser();
    void renewAverager();
    void setTriggerLevel(float level);

    // Measurement mode 0.
    TestVoltageResult analyseTestVoltage(ChannelData &chunk, const ChannelInfo &info);
    void reportDroppedShot(double t, const TestVoltageResult &result);
    void processMode0(ChannelData &chunk, const ChannelInfo &info, int channelId);
    void cutToTestVoltage(ChannelData &chunk, const ChannelInfo &info, int channelId, double t);
    void fillAround(ChannelData &chunk, const ChannelInfo &info, double t);
    void reportOverflow(const ChannelData &chunk, const ChannelInfo &info);
    void transformCharge(ChannelData &chunk, const ChannelInfo &info);

    // Measurement modes 1 and 2.
    void processMode12(ChannelData &chunk, const ChannelInfo &info, int channelId);
    void processPdFiltered(ChannelData &chunk, const ChannelInfo &info);
    void triggerAndAverage(ChannelData &chunk, double sampleRate);

    AbstractDevice *m_device;
    std::unique_ptr<InterfacePdTestvoltage> m_analyser;
    std::unique_ptr<InterfacePdLocFilter> m_averager;
    int m_measurementMode = -1;
    bool m_postAcquisitionCut = true;
    bool m_onlyFloatChannels = true;
    bool m_adaptiveGain = false;
    bool m_holdUntilTestVoltage = false;
    float m_pdTriggerThreshold = 0.0f;
    float m_testVoltageOffset = 0.0f;
    double m_gatingTime = -1.0;
    double m_amplitudeThreshold = 15000.0;
    double m_nextAveragedBlockTime = 0.0;
    QMap<double, TestVoltageResult> m_testVoltageResults;
    // Chunks the host never takes must not pile up: at most this many wait,
    // in the token store and held back each; the oldest go, with a warning.
    static constexpr int kMaxOutstanding = 256;
    QHash<int, ChannelData> m_tokens;
    QList<int> m_tokenOrder; // oldest first
    QMultiMap<double, ChannelData> m_pending; // held back, by trigger time
    QHash<int, QVariant> m_ownValues;
    QTimer m_triggerLevelTimer;
    QTimer m_avgResetTimer;
};
