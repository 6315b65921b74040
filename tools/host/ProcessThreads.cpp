#include "ProcessThreads.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

int ProcessThreads::count()
{
#ifdef Q_OS_LINUX
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
#else
    return 0;
#endif
}

bool ProcessThreads::waitUntilAtMost(int threads, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // Nothing to wait on but the count itself: the threads are Qt's and
    // detached, so they cannot be joined.
    while (count() > threads) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}
