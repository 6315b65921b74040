#pragma once

#include "StatusType.h"

#include <QObject>
#include <QString>

class DeviceInterface;

// Opens and closes a device's link for commands that need it open for one
// job (firmware, log), the way DeviceSession does for a measurement: open(),
// wait for opened() within the time-out, treat an error notification while
// connecting (the version check) as a rejection. Signals are connected by
// name, so no plug-in header is needed.
//
// Once open, a closed() the host did not ask for is reported as linkLost().
class ProgressPrinter;

class DeviceLink : public QObject
{
    Q_OBJECT

public:
    // device must implement DeviceInterface.
    DeviceLink(QObject *device, int timeoutMs, QObject *parent = nullptr);

    // False with error set if the device lacks opened(), closed() or
    // notification().
    bool attach(QString *error);
    // Prints the link's progress and the device's notifications (with their
    // severity) on printer, as every command shows them.
    void reportTo(ProgressPrinter *printer);
    // Opens and waits (event loop) for opened(). ExitOk, ExitConnectFailed
    // (time-out, or the link closed while connecting) or ExitDetectorRejected;
    // error says why. A failed open leaves the link closed.
    int open(const QString &address, QString *error);
    // attach(), reportTo(printer) and open() in one, for commands that give up
    // when the link does not come up: ExitPluginFailed if attach() fails,
    // else what open() returns.
    int attachAndOpen(ProgressPrinter *printer, const QString &address, QString *error);
    // Closes the link and waits for closed(), bounded.
    void close();
    bool isOpen() const { return m_open; }

Q_SIGNALS:
    void linkLost(const QString &reason);
    void notified(int severity, const QString &text);
    void progress(const QString &text);

private Q_SLOTS:
    void onOpened();
    void onClosed(int status);
    void onNotification(StatusType severity, QString text, int token);

private:
    QString statusText(int status) const;

    QObject *m_object;
    DeviceInterface *m_device;
    int m_timeoutMs;
    bool m_connecting = false;
    bool m_open = false;
    bool m_closing = false;
    bool m_closedOnRequest = false;
    bool m_closedWhileConnecting = false;
    int m_closeStatus = 0;
    QString m_rejection; // the device's last error while connecting
};
