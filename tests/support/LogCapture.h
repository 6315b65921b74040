#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every message of Qt's message log while it exists, from any thread,
// and passes each one on to the handler that was installed before (so QTest's
// own handling, ignoreMessage() included, keeps working).
//
// Install it inside a test function, after QTest has set up its handler:
//
//     LogCapture log;
//     ...
//     QVERIFY(log.contains(QtWarningMsg, "[AbstractDevice]: Channel 7 already registered!"));
class LogCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Line> lines() const;
    // Texts of type, optionally only those under category.
    QStringList texts(QtMsgType type, const QString &category = QString()) const;
    bool contains(QtMsgType type, const QString &text) const;
    int count(QtMsgType type, const QString &text) const;
    // Warnings and worse from outside our own categories: Qt complaining about
    // a bad connect, an unregistered meta-type, a wrong thread. Tests assert
    // this is empty.
    QStringList unexpectedQtWarnings() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void record(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex m_mutex;
    QList<Line> m_lines;
    QtMessageHandler m_previous = nullptr;
    LogCapture *m_outer = nullptr;
};
