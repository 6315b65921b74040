#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that an
// interrupted run can stop the detector, close the link and remove its
// temporary file. A second signal while the first is being handled ends the
// process at once with the default action.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void interrupted(int signalNumber);

private:
    static void onSignal(int signalNumber);
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
};
