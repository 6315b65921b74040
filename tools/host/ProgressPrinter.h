#pragma once

#include "RunReport.h"

#include <QMutex>
#include <QString>

#include <cstdio>

// What a person sees while a run goes on, on stderr: lines for what happened
// (connected, measurement 2 of 3 done, a device notification) and, on a
// terminal, one live line that is redrawn in place. stdout is left for the
// summary or the JSON. Safe to call from any thread: the plug-in's log lines
// arrive from its protocol thread.
class ProgressPrinter
{
public:
    // live: redraw a status line in place (stderr is a terminal). quiet: only
    // messages, no events and no status line.
    ProgressPrinter(FILE *stream, bool live, bool quiet);

    // Something that happened; suppressed by quiet.
    void event(const QString &line);
    // Something the user must see (errors, notifications); printed even when quiet.
    void message(const QString &line);
    // Replaces the live line (terminal only).
    void setStatus(const QString &status);
    void clearStatus();

    // The live line: "measurement 2/3  running  1.4 s  18 chunks  51.2 MB  36.0 MB/s".
    static QString statusText(const QString &state, const RunReport &report, double seconds);
    // "information", "warning", "error": a device notification's severity.
    static QString severityName(int severity);
    // "done, 18 chunks, 51.2 MB, test voltage 50.0009 Hz": a measurement recorded.
    static QString measurementDone(const RunReport::Measurement &m);
    // The table printed at the end of a run.
    static QString summary(const RunReport &report);
    static QString formatBytes(double bytes);

private:
    void writeLine(const QString &line);

    QMutex m_mutex;
    FILE *m_stream;
    bool m_live;
    bool m_quiet;
    QString m_status;
};
