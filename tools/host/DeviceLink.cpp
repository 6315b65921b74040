#include "DeviceLink.h"

#include "ProgressPrinter.h"

#include "DeviceInterface.h"
#include "ExitCode.h"

#include <QEventLoop>
#include <QMetaMethod>
#include <QTimer>

#include <algorithm>

namespace {
// Closing may take the plug-in's socket time-out (5 s) and a little.
const int kCloseTimeoutMs = 7000;
} // namespace

DeviceLink::DeviceLink(QObject *device, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_object(device)
    , m_device(qobject_cast<DeviceInterface *>(device))
    , m_timeoutMs(timeoutMs)
{
}

bool DeviceLink::attach(QString *error)
{
    if (!m_device) {
        *error = QStringLiteral("the device object does not implement DeviceInterface");
        return false;
    }
    struct Link
    {
        const char *signal;
        const char *slot;
    };
    const Link links[] = {
        {SIGNAL(opened()), SLOT(onOpened())},
        {SIGNAL(closed(int)), SLOT(onClosed(int))},
        {SIGNAL(notification(StatusType,QString,int)), SLOT(onNotification(StatusType,QString,int))},
    };
    for (const Link &link : links) {
        const QByteArray signature = QMetaObject::normalizedSignature(link.signal + 1);
        if (m_object->metaObject()->indexOfSignal(signature.constData()) < 0) {
            *error = QStringLiteral("the device has no signal %1").arg(QString::fromLatin1(signature));
            return false;
        }
        if (!connect(m_object, link.signal, this, link.slot)) {
            *error = QStringLiteral("cannot connect to the device's signal %1").arg(QString::fromLatin1(signature));
            return false;
        }
    }
    return true;
}

QString DeviceLink::statusText(int status) const
{
    const QString text = m_device->statusInfo(status).second;
    return text.isEmpty() ? QStringLiteral("status %1").arg(status)
                          : QStringLiteral("status %1: %2").arg(status).arg(text);
}

int DeviceLink::attachAndOpen(ProgressPrinter *printer, const QString &address, QString *error)
{
    if (!attach(error))
        return ExitPluginFailed;
    reportTo(printer);
    return open(address, error);
}

int DeviceLink::open(const QString &address, QString *error)
{
    m_connecting = true;
    m_closedWhileConnecting = false;
    m_rejection.clear();
    Q_EMIT progress(QStringLiteral("connecting to %1").arg(address));

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QMetaObject::Connection quitOnOpen = connect(m_object, SIGNAL(opened()), &loop, SLOT(quit()));
    QMetaObject::Connection quitOnClose = connect(m_object, SIGNAL(closed(int)), &loop, SLOT(quit()));
    deadline.start(m_timeoutMs);
    m_device->open();
    if (!m_open && !m_closedWhileConnecting)
        loop.exec();
    disconnect(quitOnOpen);
    disconnect(quitOnClose);
    if (m_open && !m_closedWhileConnecting) {
        // The device settles after opened() (version check, startable state):
        // let the signals it queued arrive before looking.
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
    }
    m_connecting = false;

    if (m_closedWhileConnecting) {
        // A rejected detector stays connected (its firmware can still be
        // updated): a link that closed on the way could not connect, and
        // the device's own error ("Connection to Dravik lost") says why.
        *error = QStringLiteral("could not connect to %1 (%2)")
                     .arg(address, m_rejection.isEmpty() ? statusText(m_closeStatus) : m_rejection);
        return ExitConnectFailed;
    }
    if (!m_open) {
        *error = QStringLiteral("no connection to %1 within %2 s").arg(address).arg(m_timeoutMs / 1000.0);
        close();
        return ExitConnectFailed;
    }
    if (!m_rejection.isEmpty()) {
        *error = QStringLiteral("the detector was rejected: %1").arg(m_rejection);
        close();
        return ExitDetectorRejected;
    }
    return ExitOk;
}

void DeviceLink::close()
{
    // Nothing to close once the link is down and no attempt is under way.
    if (!m_open && m_device->openState() == 0)
        return;
    m_closing = true;
    m_closedOnRequest = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QMetaObject::Connection quitOnClose = connect(m_object, SIGNAL(closed(int)), &loop, SLOT(quit()));
    deadline.start(std::min(m_timeoutMs, kCloseTimeoutMs));
    m_device->close();
    if (!m_closedOnRequest)
        loop.exec();
    disconnect(quitOnClose);
    m_open = false;
    m_closing = false;
}

void DeviceLink::onOpened()
{
    if (m_connecting)
        m_open = true;
}

void DeviceLink::onClosed(int status)
{
    const bool wasOpen = m_open;
    m_open = false;
    m_closeStatus = status;
    if (m_closing)
        m_closedOnRequest = true;
    if (m_connecting) {
        m_closedWhileConnecting = true;
        return;
    }
    if (wasOpen && !m_closing)
        Q_EMIT linkLost(QStringLiteral("the link to the detector was lost (%1)").arg(statusText(status)));
}

void DeviceLink::onNotification(StatusType severity, QString text, int token)
{
    Q_UNUSED(token);
    if (severity == StatusError && m_connecting)
        m_rejection = text;
    Q_EMIT notified(int(severity), text);
}

void DeviceLink::reportTo(ProgressPrinter *printer)
{
    connect(this, &DeviceLink::progress, this, [printer](const QString &text) { printer->event(text); });
    connect(this, &DeviceLink::notified, this, [printer](int severity, const QString &text) {
        const char *level = severity == 2 ? "error" : severity == 1 ? "warning" : "information";
        printer->message(QStringLiteral("device %1: %2").arg(QLatin1String(level), text));
    });
}
