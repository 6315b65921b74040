#pragma once

#include "ConnectionOptions.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

// The command line of a device command that takes the connection options and
// one positional argument: parsing, --help, repeated options, the usage
// error format and the connection options, in one place for every command.
class CommandLine
{
public:
    // command: the subcommand's name ("log"); usage: its --help text.
    CommandLine(const QString &command, const QString &usage, QTextStream &out, QTextStream &err);

    // Extra options of the command, before parse().
    QCommandLineParser &parser() { return m_parser; }

    // Parses args. True when the command goes on with options() and
    // positional(); false with *exitCode set when help was printed or the
    // command line was wrong. missing names the one positional argument when
    // it is absent; an empty missing means the command takes none.
    bool parse(const QStringList &args, const QString &missing, double defaultTimeoutSeconds, int *exitCode);

    // Prints "dravik-host COMMAND: message" and the hint; returns the usage exit code.
    int usageError(const QString &message) const;

    const ConnectionOptions &options() const { return m_options; }
    QString positional() const { return m_positional; }

private:
    QString m_command;
    QString m_usage;
    QTextStream &m_out;
    QTextStream &m_err;
    QCommandLineParser m_parser;
    ConnectionOptions m_options;
    QString m_positional;
};
