#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

Q_DECLARE_LOGGING_CATEGORY(lcDravik)
Q_DECLARE_LOGGING_CATEGORY(lcDravikTrace)

// The part of QxtCore's logger this code base calls, written on top of Qt's
// message log: every call writes its items separated by single spaces, debug
// and above under the category "dravik", trace under "dravik.trace" (off
// unless enabled with QT_LOGGING_RULES="dravik.trace.debug=true").
//
//     QxtLogger::getInstance()->debug("[DRAVIK.PH]:", Q_FUNC_INFO, "value", 42);
//
// Each item is rendered as QDebug renders it, without quotes and without
// inserted spaces, so strings appear exactly as written.
class QxtLogger
{
public:
    static QxtLogger *getInstance();

    template<typename... Items>
    void trace(const Items &...items) { write(QtDebugMsg, lcDravikTrace(), items...); }
    template<typename... Items>
    void debug(const Items &...items) { write(QtDebugMsg, lcDravik(), items...); }
    template<typename... Items>
    void info(const Items &...items) { write(QtInfoMsg, lcDravik(), items...); }
    template<typename... Items>
    void warning(const Items &...items) { write(QtWarningMsg, lcDravik(), items...); }
    template<typename... Items>
    void error(const Items &...items) { write(QtCriticalMsg, lcDravik(), items...); }

    // The line that the calls above write for these items.
    template<typename... Items>
    static QString join(const Items &...items)
    {
        QStringList parts;
        parts.reserve(int(sizeof...(items)));
        (parts.append(itemText(items)), ...);
        return parts.join(QLatin1Char(' '));
    }

    // QVariants show their value, as QxtLogger always did.
    static QString itemText(const QVariant &item);

    template<typename T>
    static QString itemText(const T &item)
    {
        QString text;
        QDebug(&text).noquote().nospace() << item;
        return text;
    }

private:
    QxtLogger() = default;

    template<typename... Items>
    void write(QtMsgType type, const QLoggingCategory &category, const Items &...items)
    {
        if (!category.isEnabled(type))
            return;
        emitLine(type, category, join(items...));
    }

    static void emitLine(QtMsgType type, const QLoggingCategory &category, const QString &line);
};
