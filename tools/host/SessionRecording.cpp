#include "SessionRecording.h"

#include "DeviceSession.h"
#include "ExitCode.h"

SessionRecording::SessionRecording(DeviceSession *session, const RunReport *sessionReport, const QString &path,
                                   QObject *parent)
    : SessionRecording(session, sessionReport, nullptr, 0, parent)
{
    m_ownRecorder = std::make_unique<Hdf5Recorder>(path);
    m_recorder = m_ownRecorder.get();
}

SessionRecording::SessionRecording(DeviceSession *session, const RunReport *sessionReport, Hdf5Recorder *recorder,
                                   int detector, QObject *parent)
    : QObject(parent)
    , m_sessionReport(sessionReport)
    , m_recorder(recorder)
    , m_detector(detector)
{
    connect(session, &DeviceSession::measurementBegins, this, &SessionRecording::onMeasurementBegins);
    connect(session, &DeviceSession::chunkTaken, this, &SessionRecording::onChunkTaken);
    connect(session, &DeviceSession::measurementEnds, this, &SessionRecording::onMeasurementEnds);
}

bool SessionRecording::open(QString *error)
{
    return m_recorder->open(error);
}

RunReport::Measurement SessionRecording::current() const
{
    RunReport::Measurement m = m_sessionReport->measurements.isEmpty() ? RunReport::Measurement()
                                                                         : m_sessionReport->measurements.last();
    m.index = m_measurements.size() + 1;
    return m;
}

void SessionRecording::fail(const QString &error)
{
    if (m_failed)
        return;
    m_failed = true;
    Q_EMIT failed(error);
}

void SessionRecording::onMeasurementBegins()
{
    QString error;
    if (!m_failed && m_recorder->isOpen()
        && !m_recorder->beginMeasurement(m_measurements.size() + 1, &error, m_detector))
        fail(error);
}

void SessionRecording::onChunkTaken(int channelId, const ChannelData &chunk, const ChannelInfo &info)
{
    QString error;
    if (!m_failed && isRecording() && !m_recorder->addChunk(channelId, chunk, info, &error, m_detector))
        fail(error);
}

void SessionRecording::onMeasurementEnds()
{
    if (m_failed || !isRecording())
        return;
    const RunReport::Measurement m = current();
    QString error;
    if (!m_recorder->endMeasurement(RunReport::measurementAttributes(m), &error, m_detector)) {
        fail(error);
        return;
    }
    m_measurements.append(m);
    Q_EMIT measurementRecorded(m);
}

RunReport SessionRecording::recorded(const RunReport &header) const
{
    RunReport r = header;
    r.measurements = m_measurements;
    r.outputPath = m_recorder->path();
    return r;
}

bool SessionRecording::commit(const RunReport &header, QString *error)
{
    if (m_failed) {
        *error = QStringLiteral("the recording failed before");
        return false;
    }
    return m_recorder->commit(recorded(header).fileAttributes(), error);
}

RunReport SessionRecording::closeOpen(const RunReport &header, QString *error)
{
    RunReport r = recorded(header);
    if (isRecording()) {
        // The measurement that failed, as far as it got.
        const RunReport::Measurement m = current();
        if (m_recorder->endMeasurement(RunReport::measurementAttributes(m), error, m_detector))
            r.measurements.append(m);
    }
    m_measurements = r.measurements;
    return r;
}

bool SessionRecording::settle(const RunReport &header, int exitCode, const QString &reason, QString *error)
{
    RunReport r = closeOpen(header, error);
    if (r.measurements.isEmpty()) {
        *error = QStringLiteral("no measurement was recorded");
        return false;
    }
    r.exitCode = exitCode;
    r.error = reason;
    return m_recorder->writeDetectorAttributes(m_detector, r.fileAttributes(), error);
}

bool SessionRecording::keep(const RunReport &header, int exitCode, const QString &reason, QString *error)
{
    RunReport r = closeOpen(header, error);
    if (r.measurements.isEmpty() || !m_recorder->isOpen()) {
        *error = QStringLiteral("no measurement was recorded");
        discard();
        return false;
    }
    r.exitCode = exitCode;
    r.error = reason;
    if (!m_recorder->commit(r.fileAttributes(), error)) {
        discard();
        return false;
    }
    return true;
}

void SessionRecording::discard()
{
    m_recorder->discard();
}

int SessionRecording::finish(RunReport *report, int exitCode, const QString &runError, QString *writeError)
{
    int code = exitCode;
    bool written = false;
    if (exitCode == ExitOk) {
        written = commit(*report, writeError);
        if (!written)
            code = ExitOutputFailed;
    } else if (exitCode != ExitOutputFailed && (measurementCount() > 0 || isRecording())) {
        written = keep(*report, exitCode, runError, writeError);
    }
    if (!written)
        discard();
    report->fileWritten = written;
    return code;
}
