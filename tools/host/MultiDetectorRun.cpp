#include "MultiDetectorRun.h"

#include "DeviceInterface.h"
#include "DeviceSession.h"
#include "ExitCode.h"

MultiDetectorRun::MultiDetectorRun(const QList<Detector> &detectors, int count, int durationMs, QObject *parent)
    : QObject(parent)
    , m_detectors(detectors)
    , m_count(count)
    , m_durationMs(durationMs)
{
    m_runTimer.setSingleShot(true);
    connect(&m_runTimer, &QTimer::timeout, this, &MultiDetectorRun::stopAll);
    for (int d = 0; d < m_detectors.size(); ++d) {
        DeviceSession *session = m_detectors.at(d).session;
        connect(session, &DeviceSession::stateChanged, this, &MultiDetectorRun::advance);
        connect(session, &DeviceSession::finished, this, [this, d](int code) { onSessionFinished(d, code); });
    }
}

void MultiDetectorRun::begin()
{
    for (const Detector &d : qAsConst(m_detectors))
        d.session->begin();
}

bool MultiDetectorRun::allIn(int state) const
{
    for (const Detector &d : m_detectors) {
        if (int(d.session->state()) != state)
            return false;
    }
    return true;
}

void MultiDetectorRun::advance()
{
    switch (m_phase) {
    case Phase::Opening:
        if (!allIn(int(DeviceSession::State::Open)))
            return;
        // None starts unless all can: a cable tested on two phases of three
        // is a test to repeat.
        for (int d = 0; d < m_detectors.size(); ++d) {
            if (!m_detectors.at(d).device->isOpenAndStartable()) {
                abort(ExitDetectorRejected, QStringLiteral("detector %1 (%2) is open but cannot start; none is started")
                                                .arg(d + 1)
                                                .arg(m_detectors.at(d).address));
                return;
            }
        }
        startAll();
        return;
    case Phase::Starting:
        if (!allIn(int(DeviceSession::State::Running)))
            return;
        m_phase = Phase::Running;
        m_runTimer.start(m_durationMs);
        return;
    case Phase::Stopping:
        if (!allIn(int(DeviceSession::State::Open)))
            return;
        if (m_index < m_count) {
            startAll();
            return;
        }
        m_phase = Phase::Closing;
        for (const Detector &d : qAsConst(m_detectors))
            d.session->abort(ExitOk, QString());
        return;
    case Phase::Running:
    case Phase::Closing:
        return;
    }
}

void MultiDetectorRun::startAll()
{
    m_phase = Phase::Starting;
    ++m_index;
    Q_EMIT progress(QStringLiteral("measurement %1 of %2: starting %3 detectors together")
                        .arg(m_index)
                        .arg(m_count)
                        .arg(m_detectors.size()));
    for (const Detector &d : qAsConst(m_detectors))
        d.session->requestStart();
}

void MultiDetectorRun::stopAll()
{
    if (m_phase != Phase::Running)
        return;
    m_phase = Phase::Stopping;
    for (const Detector &d : qAsConst(m_detectors))
        d.session->requestStop();
}

void MultiDetectorRun::abort(int exitCode, const QString &message)
{
    if (m_exitCode == ExitOk && exitCode != ExitOk) {
        m_exitCode = exitCode;
        m_error = message;
    }
    if (m_phase == Phase::Closing)
        return;
    m_phase = Phase::Closing;
    m_runTimer.stop();
    for (const Detector &d : qAsConst(m_detectors))
        d.session->abort(exitCode, message);
}

void MultiDetectorRun::onSessionFinished(int detector, int exitCode)
{
    if (exitCode != ExitOk || m_phase != Phase::Closing) {
        // One detector down ends the run for all.
        const DeviceSession *session = m_detectors.at(detector).session;
        const QString why = session->errorString().isEmpty() ? QStringLiteral("its session ended early")
                                                             : session->errorString();
        abort(exitCode != ExitOk ? exitCode : ExitMeasurementFailed,
              QStringLiteral("detector %1 (%2): %3").arg(detector + 1).arg(m_detectors.at(detector).address, why));
    }
    if (++m_finished == m_detectors.size())
        Q_EMIT finished(m_exitCode);
}
