#include "SessionRecording.h"

#include "DeviceSession.h"
#include "ExitCode.h"
#include "RunReport.h"

SessionRecording::SessionRecording(DeviceSession *session, RunReport *report, const QString &path, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_report(report)
    , m_recorder(path)
{
    connect(session, &DeviceSession::measurementBegins, this, [this](int index) {
        QString e;
        if (!m_recorder.beginMeasurement(index, &e))
            m_session->abort(ExitOutputFailed, e);
    });
    connect(session, &DeviceSession::chunkTaken, this,
            [this](int channelId, const ChannelData &chunk, const ChannelInfo &info) {
                QString e;
                if (!m_recorder.addChunk(channelId, chunk, info, &e))
                    m_session->abort(ExitOutputFailed, e);
            });
    connect(session, &DeviceSession::measurementEnds, this, [this](int) {
        QString e;
        if (!m_recorder.endMeasurement(RunReport::measurementAttributes(m_report->measurements.last()), &e))
            m_session->abort(ExitOutputFailed, e);
    });
}

bool SessionRecording::open(QString *error)
{
    return m_recorder.open(error);
}

int SessionRecording::finish(int exitCode, const QString &runError, QString *writeError)
{
    // Nothing measured, or nothing that can be written: no file.
    const bool keep = exitCode == ExitOk || (exitCode != ExitOutputFailed && !m_report->measurements.isEmpty());
    if (keep) {
        m_report->exitCode = exitCode;
        m_report->error = runError;
        if (m_recorder.commit(m_report->fileAttributes(), writeError)) {
            m_report->fileWritten = true;
            return exitCode;
        }
        m_recorder.discard();
        return exitCode == ExitOk ? ExitOutputFailed : exitCode;
    }
    m_recorder.discard();
    return exitCode;
}
