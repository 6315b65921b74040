#pragma once

#include "AbstractJobHandler_v2.h"
#include "DravikAbstractProtocolHandler_v2.h"

#include <QHash>
#include <QPointer>

class DravikParameterHandler_v2;
class QlpConverter_v2;
class QThread;

// The one object through which the detector device talks to the detector. It
// lives on the protocol thread, owns the frame converter and the jobs, sends
// what the jobs ask for and routes every response to the job that claims its
// command id.
//
// The jobs are created with the handler and registered by init(). Jobs that
// are not part of this build stay null and init() reports them; tests and
// later jobs register through initCommandHandler().
class DravikProtocolHandler_v2 : public DravikAbstractProtocolHandler_v2
{
    Q_OBJECT

public:
    static constexpr const char *kThreadName = "DravikProtocolHandlerThread";

    DravikProtocolHandler_v2(const QSharedPointer<AbstractParameterContainer> &userParameters,
                             const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                             QObject *parent = nullptr);
    ~DravikProtocolHandler_v2() override;

    // Builds the routing. Called once from the device's thread before the
    // protocol thread starts.
    void init() override;

    // Routes the handler's ids to it (a later registration takes an id over)
    // and connects its requests. Refuses a null handler and one without ids.
    void initCommandHandler(AbstractJobHandler_v2 *handler);

    DravikParameterHandler_v2 *parameterHandler() const { return m_parameterHandler; }

    // The job that receives responses for command, or null.
    AbstractJobHandler_v2 *handlerFor(quint16 command) const { return m_handlers.value(command); }

    // Creates the protocol thread (a child of threadParent, named
    // "DravikProtocolHandlerThread") and moves this handler onto it. The
    // handler has no parent, so it deletes itself when the thread finishes.
    // The caller connects its signals, calls init() and starts the thread.
    QThread *moveToProtocolThread(QObject *threadParent);

protected:
    void requestParameter(QList<int> parameterIds) override;
    void requestParameter(int parameterId) override;
    void processMeasurementCommandIntern(MeasurementCommands command, int data) override;
    void readLogFileIntern(QString filename) override;
    void processValidChannels(QList<int> channels) override;
    bool processReceivedData(QByteArray data) override;
    int transmitCommand(quint16 command, QByteArray data) override;
    void setGainCompensation(bool enabled) override;

private Q_SLOTS:
    void onReceivedResponse(quint16 cmdGroup, quint16 command, quint16 stateCode, quint16 ackCode,
                            QByteArray cmdData);
    void onFirmwareUpdateState(int state, double progress, QString description);
    void onSendQlpCommand(quint16 command, QByteArray cmdData);
    void onConnectionChanged(bool open);

private:
    // Makes job a child of this handler on this handler's thread, also when
    // called from another thread before the protocol thread runs.
    void adopt(QObject *job);

    QHash<quint16, QPointer<AbstractJobHandler_v2>> m_handlers;
    QlpConverter_v2 *m_converter = nullptr;
    // The five jobs; null until they are part of the build.
    AbstractJobHandler_v2 *m_measurementHandler = nullptr;
    AbstractJobHandler_v2 *m_fileTransferHandler = nullptr;
    AbstractJobHandler_v2 *m_logFileReader = nullptr;
    DravikParameterHandler_v2 *m_parameterHandler = nullptr;
    AbstractJobHandler_v2 *m_firmwareUpdateHandler = nullptr;
    QSharedPointer<AbstractParameterContainer> m_deviceParameters;
};
