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

    // extra: scenario, time scale, faults. False with errorString() set if
    // the simulator did not come up within timeoutMs.
    bool start(const QStringList &extra, int timeoutMs = 10000);
    QString address() const { return m_address; }
    QString errorString() const { return m_error; }
    // Ends the simulator; true if it exited cleanly (code 0).
    bool stop(int timeoutMs = 5000);

private:
    QProcess m_process;
    QString m_program;
    QString m_address;
    QString m_error;
};
