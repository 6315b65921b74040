#pragma once

#include "ConnectionOptions.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

class DeviceLink;
class ProgressPrinter;

// dravik-host firmware FILE [--mode N]: writes a firmware image to the
// detector through the plug-in. The image goes to the device as it is, by
// its signal firmwareUpdate(QByteArray, quint8), invoked by name; the device
// reports each step with firmwareUpdateState(state, progress, description):
//
//   0 transfer started, 1 transferring, 2 transfer successful (write order
//   sent), 3 transfer failed, 4 writing started, 5 writing, 6 writing
//   successful, 7 writing failed, 8 link lost
//
// 6 ends the command with ExitOk, 3, 7 and 8 with their exit codes. The
// plug-in has no time-out of its own: --timeout bounds the wait for each next
// report.
class FirmwareCommand : public QObject
{
    Q_OBJECT

public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();
    // The exit code a final state ends the command with; -1 for a state that
    // is not final.
    static int exitCodeForState(int state);
    // A progress bar of width characters for a fraction, clamped to [0, 1]:
    // "[#####     ]  50%".
    static QString progressBar(double fraction, int width = 30);

Q_SIGNALS:
    void finished();

private Q_SLOTS:
    void onState(int state, double progress, QString description);

private:
    FirmwareCommand(ProgressPrinter *printer, int timeoutMs);
    void end(int code, const QString &error);

    ProgressPrinter *m_printer;
    QTimer m_watchdog;
    QElapsedTimer m_clock;
    int m_lastState = -1;
    QString m_lastDescription;
    double m_lastProgress = 0.0;
    QJsonArray m_states;
    bool m_done = false;
    int m_code = -1;
    QString m_error;
};
