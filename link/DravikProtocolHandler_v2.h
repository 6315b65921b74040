#pragma once

#include "AbstractFirmwareJob_v2.h"
#include "AbstractJobHandler_v2.h"
#include "AbstractLogFileJob_v2.h"
#include "AbstractMeasurementJob_v2.h"
#include "DravikAbstractProtocolHandler_v2.h"

#include <QHash>
#include <QPointer>
#include <QSet>

class DravikParameterHandler_v2;
class QlpConverter_v2;
class QThread;

// The one object through which the detector device talks to the detector. It
// lives on the protocol thread, owns the frame converter and the jobs, sends
// what the jobs ask for and routes every response to the job that claims its
// command id.
//
// The jobs for measurement data and device files live with the data path and
// the file services, which build on this link; whoever creates the handler
// (the device) creates them and hands them over at construction. The handler
// adopts them as children. A missing job is reported by init(); tests
// register jobs of their own through initCommandHandler().
class DravikProtocolHandler_v2 : public DravikAbstractProtocolHandler_v2
{
    Q_OBJECT

public:
    static constexpr const char *kThreadName = "DravikProtocolHandlerThread";

    struct Jobs
    {
        AbstractJobHandler_v2 *fileTransfer = nullptr;
        AbstractLogFileJob_v2 *logFileReader = nullptr;
        AbstractMeasurementJob_v2 *measurement = nullptr;
        AbstractFirmwareJob_v2 *firmwareUpdate = nullptr;
    };

    DravikProtocolHandler_v2(const QSharedPointer<AbstractParameterContainer> &userParameters,
                             const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                             const Jobs &jobs, QObject *parent = nullptr);
    // Without jobs of its own (tests register theirs).
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
    // Hands a response to the job its command id is routed to.
    void deliverResponse(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData);
    void onFirmwareUpdateState(int state, double progress, QString description);
    void onSendQlpCommand(quint16 command, QByteArray cmdData);
    void onConnectionChanged(bool open);

private:
    // Makes job a child of this handler on this handler's thread, also when
    // called from another thread before the protocol thread runs.
    void adopt(QObject *job);

    QHash<quint16, QPointer<AbstractJobHandler_v2>> m_handlers;
    QlpConverter_v2 *m_converter = nullptr;
    AbstractMeasurementJob_v2 *m_measurementHandler = nullptr;
    AbstractJobHandler_v2 *m_fileTransferHandler = nullptr;
    AbstractLogFileJob_v2 *m_logFileReader = nullptr;
    DravikParameterHandler_v2 *m_parameterHandler = nullptr;
    AbstractFirmwareJob_v2 *m_firmwareUpdateHandler = nullptr;
    QSharedPointer<AbstractParameterContainer> m_deviceParameters;
    // Commands sent on this connection: an answer to one of them is a sign of
    // life. Not a count of requests in flight, because transfers, the log and
    // the firmware write answer one request with many frames.
    QSet<quint16> m_requested;
    int m_answers = 0; // answers among the frames of the current read
};
