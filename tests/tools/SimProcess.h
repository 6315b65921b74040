#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// dravik-sim as a child process on a free loopback port. The simulator prints
// "listening 127.0.0.1:PORT" as its first line; start() waits for it (bounded)
// and the destructor ends the process: SIGTERM, then SIGKILL if it lingers.
class SimProcess
{
public:
    explicit SimProcess(const QString &program);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Keeps the simulator's log (stderr) for errorOutput() instead of passing
    // it on; call before start().
    void captureErrorOutput() { m_process.setProcessChannelMode(QProcess::SeparateChannels); }
    QByteArray errorOutput() { return m_errors += m_process.readAllStandardError(); }
    // extra: scenario, time scale, faults. False with errorString() set if
    // the simulator did not come up within timeoutMs.
    bool start(const QStringList &extra, int timeoutMs = 10000);
    QString address() const { return m_address; }
    quint16 port() const { return quint16(m_address.section(QLatin1Char(':'), 1).toUInt()); }
    QString errorString() const { return m_error; }
    // Sends the signal and waits for the simulator to end; true if it
    // exited cleanly (code 0).
    bool endWith(int signalNumber, int timeoutMs = 5000);
    // Ends the simulator with SIGTERM (SIGKILL if it lingers); true if it
    // exited cleanly.
    bool stop(int timeoutMs = 5000);

private:
    QProcess m_process;
    QString m_program;
    QString m_address;
    QString m_error;
    QByteArray m_errors;
};
