#include "LogRouter.h"

#include "ProgressPrinter.h"

#include <QAtomicPointer>
#include <QString>

namespace {
QAtomicPointer<LogRouter> g_router;
}

LogRouter::LogRouter(ProgressPrinter *printer, bool verbose)
    : m_printer(printer)
    , m_verbose(verbose)
{
    g_router.storeRelease(this);
    m_previous = qInstallMessageHandler(&LogRouter::handler);
}

LogRouter::~LogRouter()
{
    qInstallMessageHandler(m_previous);
    g_router.storeRelease(nullptr);
}

void LogRouter::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogRouter *router = g_router.loadAcquire();
    if (!router)
        return;
    const QString category = QString::fromLatin1(context.category ? context.category : "default");
    const bool plugin = category == QLatin1String("dravik") || category.startsWith(QLatin1String("dravik."));
    const char *level = "debug";
    switch (type) {
    case QtDebugMsg:
        level = "debug";
        break;
    case QtInfoMsg:
        level = "info";
        break;
    case QtWarningMsg:
        level = "warning";
        break;
    case QtCriticalMsg:
        level = "critical";
        break;
    case QtFatalMsg:
        level = "fatal";
        break;
    }
    const bool serious = type == QtCriticalMsg || type == QtFatalMsg;
    const bool show = router->m_verbose || serious || (type == QtWarningMsg && !plugin);
    if (show)
        router->m_printer->message(QStringLiteral("%1 %2: %3").arg(category, QLatin1String(level), message));
    if (type == QtFatalMsg && router->m_previous)
        router->m_previous(type, context, message);
}
