#pragma once

#include <QtGlobal>

class ProgressPrinter;

// Sends Qt's message log (the plug-in's included) through the progress
// printer, so that log lines never tear the live line. The plug-in's debug
// and warning lines (category "dravik") are internal detail: they are shown
// with --verbose only. Warnings from anything else (Qt reporting a bad
// connection, say) are always shown: they point at a fault in the host.
//
// Installed for the lifetime of the object; one at a time.
class LogRouter
{
public:
    LogRouter(ProgressPrinter *printer, bool verbose);
    ~LogRouter();

    LogRouter(const LogRouter &) = delete;
    LogRouter &operator=(const LogRouter &) = delete;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    ProgressPrinter *m_printer;
    bool m_verbose;
    QtMessageHandler m_previous = nullptr;
};
