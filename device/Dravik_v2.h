#pragma once

#include "AbstractDevice.h"
#include "AcquisitionTiming.h"
#include "ChunkBufferPool.h"
#include "MeasurementCommands.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QSharedPointer>
#include <QTimer>
#include <QVariantHash>

#include <functional>
#include <memory>

class DravikChunkCreator_v2;
class QWidget;
class DravikProtocolHandler_v2;
class ParameterHandler;
class QThread;

// The device that stands for one detector. It lives on the host's thread and
// drives the protocol thread only through queued signals; the two parameter
// containers are the only state both threads touch, and they lock themselves.
//
// Open states: 0 disconnected, 1 connecting (socket up, identification and
// version check running), 2 connected, 3 disconnecting.
class Dravik_v2 : public AbstractDevice
{
    Q_OBJECT

public:
    enum OpenState {
        StateDisconnected = 0,
        StateConnecting = 1,
        StateConnected = 2,
        StateDisconnecting = 3
    };

    // Status codes the host can look up with statusInfo().
    enum StatusCode {
        StatusConnectionActive = -1001,
        StatusConnectionOpened = -1002,
        StatusConnectionClosed = -1003,
        StatusDeviceNotSupported = -1004,
        StatusInvalidDeviceState = -1005,
        StatusMeasurementAborted = -1006,
        StatusConnectionLost = -1007,
        StatusShotDropped = -1008, // a test voltage shot below the amplitude threshold, cut to nothing
        StatusLinkDown = -4 // running cleared because the link went down
    };

    // How often in a row the detector may refuse to switch remote power on
    // before the device stops asking until the next open().
    static constexpr int kMaxRemotePowerRefusals = 3;

    // Builds the view of a kind for a device; set by the plug-in, which knows
    // the widgets (they build on the device, not the other way round).
    using WidgetFactory = std::function<QWidget *(int kind, Dravik_v2 *device)>;

    explicit Dravik_v2(QObject *parent = nullptr);
    ~Dravik_v2() override;

    void setWidgetFactory(WidgetFactory factory) { m_widgetFactory = std::move(factory); }

    bool initialize() override;
    bool isAvailable() const override { return true; }
    bool isOpen() const override { return m_openState == StateConnected; }
    int openState() const override { return m_openState; }
    void open() override;
    void close() override;
    // The detector's serial number once it has been identified; until then
    // the framework's (none), so deviceKey() is "-1" before the first
    // identification and "<serial>-1" from then on.
    QString serialNumber() const override;
    int phaseCount() const override { return 1; }
    int maxVoltage() const override;
    double minimumVoltage() const override { return 0.0; }
    double maximumVoltage() const override { return maxVoltage(); }
    ChannelData takeChannelData(int channelId, int token, bool *ok = nullptr) override;
    QString phaseName(int phase) const override;
    QVariant value(int id) const override;
    int setValue(int id, const QVariant &v) override;
    QVariantHash settings() const override;
    void setEnvironment(const AbstractQueryObject &query) override;
    bool applySettings(const QVariantHash &settings) override;
    void resetSettings() override;
    bool hasWidget(int kind) const override;
    void createWidget(int kind, QLayout *layout) override;
    QPixmap icon() const override;
    bool isReady() const override { return m_flags & FlagReady; }
    bool isRunning() const override { return m_flags & FlagRunning; }
    QPair<StatusType, QString> statusInfo(int code) const override;
    void setDataTransferEnabled(bool enabled) override;
    void start() override;
    void stop(bool force = false) override;
    void disengage() override;
    void reserved() override {}

    // The measurement-state texts, for the widgets.
    QHash<int, QString> measurementStateTexts() const { return m_measurementStateTexts; }
    QSharedPointer<ParameterHandler> userContainer() const { return m_user; }
    QSharedPointer<ParameterHandler> deviceContainer() const { return m_device; }
    QHash<int, int> hwChannelMap() const { return m_hwChannelMap; }
    // Access granted by the last applySettings().
    bool serviceAccess() const { return m_serviceAccess; }
    bool productionAccess() const { return m_productionAccess; }
    // True when the firmware (or, on software below 2, the hardware) version is at least min.
    bool firmwareAtLeast(quint32 min) const;
    // Asks the detector for every device parameter again; with
    // skipIdentification the serial number and versions are left out.
    void refreshAllParameters(bool skipIdentification);
    // Sends again what is pending in the device container.
    void resendPendingRequests();

Q_SIGNALS:
    void openIo();
    void closeIo();
    void measurementCommand(MeasurementCommands command, int data = 0);
    void requestParameter(QList<int> parameterIds);
    void setTriggerSources(QList<QPair<int, QString>> triggerSources);
    void readLogFile(QString filename);
    void firmwareUpdateState(int state, double progress, QString description);
    void firmwareUpdate(QByteArray bitstream, quint8 mode);
    void validHwChannels(QList<int> channels);
    void inspectEvent(int event, QVariantHash hash);
    void startableChanged(bool isStartable);
    // A log read ended: ok when the whole log was written to filename.
    void logFileRead(bool ok, QString filename, qint64 bytes);

private Q_SLOTS:
    void onConnect();
    void onDisconnect();
    void onConnectionChanged(bool isOpen);
    void onMeasurementCommandResponse(MeasurementCommands command, bool success);
    void onChannelDataAvailable(int hwChannelId, qulonglong triggerTimeStamp, qulonglong packetTimeStamp,
                                QByteArray data);
    void onChannelDataTermination(int hwChannelId, qulonglong triggerTimeStamp, qulonglong packetTimeStamp);
    void onParameterStatusChanged(int parameterId, int status);
    void onDeviceParameterStatusChanged(int parameterId, int status);
    void onMeasurementStateTimeout();
    void onVitalDataTimer();
    void onError(int error, QString errorString);
    void onReadLogFile();
    void onStartupTimer();
    void onParameterCheckTimeout();
    void onPdGainLevelUpdateTimer();
    void onResetToDefault();
    void onRequestRefused(quint16 command, quint16 ackCode, QList<int> subjects);

protected:
    void onChannelRegistered(int channelId) override;

private:
    enum Flag {
        FlagRunning = 2,
        FlagReady = 4,
        FlagDataTransfer = 8
    };

    // Connection lifecycle.
    void createProtocolThread();
    void setOpenState(int state, int status);
    void checkVersions();
    // opened(): once the start-up delay has passed and the parameters read
    // after the version check have come in (or their wait has timed out).
    void finishOpening();
    void announceStartable(bool startable);
    // Open, versions accepted and the operation mode (the requested one, or
    // the current one when operationMode is invalid) supported by the device type.
    bool computeStartable(const QVariant &operationMode = QVariant()) const;
    // The warning notification for an operation mode the device type lacks.
    void warnIfUnsupported(int operationMode);
    void handleDeviceParameter(int id);
    void noteRemotePower();
    void setHwChannelMapping(bool dual, bool gating, quint8 ch0, quint8 ch1);
    void rebuildHwChannelMap();
    void inspect(int event, const QString &text);
    void processChunk(int hwChannelId, quint64 start, quint64 end);

    // Measurement control.
    void applyStartParameters(bool force);
    void applyGating(bool enable);
    // Requests values for an acquisition and notes them as start parameters.
    void requestStartParameters(const QHash<int, QVariant> &values);
    void setGainsByCharge(bool enable, double charge);
    void applyTriggerLevelByCharge();
    void processPdBoxMeasurementState(int state);
    void onChannelStateChanged(int id, quint8 state);
    void sendStart();
    void sendStop();
    void setRunning(bool running, int status);
    void setReady(bool isReadyNow);
    void emitStopped(int status);
    void armAnswerTimer();
    int answerTimeoutMs() const;
    // What a simplified start needs: no request of either container waiting
    // for the detector, and the muxer set-up read, so that the acquisition's
    // channels can be bound.
    bool startNeedsMet() const;
    bool muxerKnown() const;
    // Sends a simplified start whose needs are met, or ends it when the
    // detector did not take its acquisition parameters.
    void continueSimplifiedStart();
    // "Trigger 0 source (1043), ..." for the host.
    QString parameterNames(const QList<int> &ids) const;
    static QString channelGroupName(int group);
    void onAnswerTimeout();
    // Ends a start that has not been answered: a waiting one is never sent,
    // and the host hears stopped(status) for it. Also clears ready and running.
    void abandonMeasurement(int status);
    // Binds the hardware channels of the acquisition that just started to the
    // chunk creators of the channels they feed.
    void bindAcquisition();
    // Drops what a transfer that never ended left in the chunk creators.
    void discardUnfinishedTransfers();

    // User requests: checked, given their side effects and confirmed.
    void confirmUserRequest(int id);
    void confirmUser(int id, const QVariant &value);
    int userInt(int id, int fallback) const;

    // Where a start() stands until the detector answers it.
    enum StartPhase {
        StartIdle,
        StartWaitingForParameters, // simplified start, not sent yet
        StartAwaitingAnswer        // sent, no answer yet
    };

    bool m_initialized = false;
    int m_openState = StateDisconnected;
    StartPhase m_startPhase = StartIdle;
    // stop() came while the start was on its way: sent once the start is answered.
    bool m_stopAfterStart = false;
    // The version check of this connection passed.
    bool m_versionsAccepted = false;
    // Identification answers of this connection: the second answers the read
    // sent after the parameter refresh, so everything before it is in.
    int m_identificationAnswers = 0;
    bool m_refreshAnswered = false;
    bool m_waitingForRefresh = false;
    // What the device writes for an acquisition, and those of them the
    // detector did not take since they were last written.
    QSet<int> m_startParameters;
    QSet<int> m_failedStartParameters;
    // Start parameters sent and not answered yet, as the container's signals
    // tell: its pending list runs ahead of them (answers settle it on the
    // protocol thread), so a start judged by that list alone could go out
    // before a refusal reaches this thread.
    QSet<int> m_awaitedStartParameters;
    bool m_requestingStartParameters = false;
    // Refusals the host has heard of since the last start() or connection,
    // and hardware channels whose unplaced data was reported in this acquisition.
    QSet<QString> m_refusalsNoted;
    QSet<int> m_unplacedChannels;
    // Remote power: asked for and not read back yet; refusals in a row.
    bool m_remotePowerAsked = false;
    int m_remotePowerRefusals = 0;
    // Both muxer outputs select one channel (the second is not recorded).
    bool m_muxerConflict = false;
    // Chunk memory the channels fill again once the host let a chunk go;
    // given back to the system when the device closes.
    const std::shared_ptr<ChunkBufferPool> m_chunkBuffers = ChunkBufferPool::create();
    // Logical channel → its chunk creator, for the life of the device.
    QHash<int, QSharedPointer<DravikChunkCreator_v2>> m_chunkCreators;
    // Hardware channel → chunk creator of the running acquisition.
    QHash<int, QSharedPointer<DravikChunkCreator_v2>> m_acquisition;
    // Channel groups whose transfer was asked for and has not ended; those
    // still under way when an acquisition starts are stale (bytes dropped so far).
    QSet<int> m_transfersInFlight;
    // The detector's measurement state as this thread hears it, behind the
    // data received before it: what value() tells the host.
    QVariant m_measurementState;
    QHash<int, qint64> m_staleTransfers;
    QHash<int, int> m_hwChannelMap;
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;
    QTimer m_measurementStateTimer;
    QTimer m_vitalDataTimer;
    QTimer m_startupTimer;
    // Bounds the wait for a start's parameters and for the answer to a start
    // or stop: an answer lost on the link must not leave the host waiting.
    QTimer m_answerTimer;
    int m_measurementStateInterval = 100;
    int m_vitalDataInterval = 500;
    int m_flags = 0;
    QHash<int, int> m_selectorMap;
    bool m_verbose = true;
    QHash<int, QString> m_measurementStateTexts;
    int m_lastAppliedOperationMode = -1;
    QHash<int, QTimer *> m_requestGuards;
    bool m_startable = true;
    bool m_serviceAccess = false;
    bool m_productionAccess = false;
    bool m_development = false;
    QThread *m_protocolThread = nullptr;
    QHash<int, QPair<StatusType, QString>> m_statusCodes;
    WidgetFactory m_widgetFactory;
};
