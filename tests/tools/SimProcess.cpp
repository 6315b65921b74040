#include "SimProcess.h"
#include "HostProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <csignal>

SimProcess::SimProcess(const QString &program)
    : m_program(program)
{
    // stdout carries the address; stderr goes straight to the test's log so
    // that a full pipe can never stall the simulator.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setProcessEnvironment(HostProcess::cleanEnvironment());
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList &extra, int timeoutMs)
{
    // Port 0: the system picks a free one; the simulator refuses anything
    // that is not loopback.
    m_process.start(m_program, QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + extra);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("dravik-sim did not start: %1").arg(m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("dravik-sim printed no address within %1 ms").arg(timeoutMs);
            return false;
        }
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    const QString line = QString::fromLatin1(m_process.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^listening (127\\.0\\.0\\.1:\\d+)$")).match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("unexpected first line from dravik-sim: %1").arg(line);
        return false;
    }
    m_address = match.captured(1);
    return true;
}

bool SimProcess::endWith(int signalNumber, int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_process.processId()), signalNumber);
        if (!m_process.waitForFinished(timeoutMs))
            return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool SimProcess::stop(int timeoutMs)
{
    if (endWith(SIGTERM, timeoutMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(timeoutMs);
    return false;
}
