#include "LogCapture.h"

#include <QMutexLocker>

namespace {
QMutex g_installMutex;
LogCapture *g_current = nullptr;
}

LogCapture::LogCapture()
{
    QMutexLocker locker(&g_installMutex);
    m_outer = g_current;
    g_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker locker(&g_installMutex);
    qInstallMessageHandler(m_previous);
    g_current = m_outer;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *capture = nullptr;
    {
        QMutexLocker locker(&g_installMutex);
        capture = g_current;
    }
    if (capture)
        capture->record(type, context, message);
}

void LogCapture::record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker locker(&m_mutex);
        m_lines.append(Line{type, QString::fromUtf8(context.category ? context.category : "default"), message});
    }
    if (m_previous)
        m_previous(type, context, message);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker locker(&m_mutex);
    return m_lines;
}

QStringList LogCapture::texts(QtMsgType type, const QString &category) const
{
    QStringList result;
    for (const Line &line : lines()) {
        if (line.type == type && (category.isEmpty() || line.category == category))
            result.append(line.text);
    }
    return result;
}

bool LogCapture::contains(QtMsgType type, const QString &text) const
{
    return count(type, text) > 0;
}

int LogCapture::count(QtMsgType type, const QString &text) const
{
    return texts(type).count(text);
}

QStringList LogCapture::unexpectedQtWarnings() const
{
    QStringList result;
    for (const Line &line : lines()) {
        if (line.type != QtDebugMsg && line.type != QtInfoMsg && !line.category.startsWith(QLatin1String("dravik")))
            result.append(line.text);
    }
    return result;
}

void LogCapture::clear()
{
    QMutexLocker locker(&m_mutex);
    m_lines.clear();
}
