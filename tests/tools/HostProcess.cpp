#include "HostProcess.h"

#include <QProcess>

QProcessEnvironment HostProcess::cleanEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    return environment;
}

HostProcess::Result HostProcess::run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(cleanEnvironment());
    process.start(program, args);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("%1 did not finish within %2 ms").arg(program).arg(timeoutMs);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}
