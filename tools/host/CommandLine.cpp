#include "CommandLine.h"

#include "ExitCode.h"
#include "PluginLoader.h"

CommandLine::CommandLine(const QString &command, const QString &usage, QTextStream &out, QTextStream &err)
    : m_command(command)
    , m_usage(usage)
    , m_out(out)
    , m_err(err)
{
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    ConnectionOptions::addTo(m_parser);
    m_parser.addOption(QCommandLineOption(QStringList{QStringLiteral("help"), QStringLiteral("h")}));
}

int CommandLine::usageError(const QString &message) const
{
    m_err << "dravik-host " << m_command << ": " << message << '\n'
          << "Try 'dravik-host " << m_command << " --help' for the options.\n";
    return ExitUsage;
}

bool CommandLine::parse(const QStringList &args, const QString &missing, double defaultTimeoutSeconds, int *exitCode)
{
    if (!m_parser.parse(QStringList{m_command} + args)) {
        *exitCode = usageError(m_parser.errorText());
        return false;
    }
    if (m_parser.isSet(QStringLiteral("help"))) {
        m_out << m_usage;
        *exitCode = ExitOk;
        return false;
    }
    for (const QString &name : m_parser.optionNames()) {
        if (m_parser.optionNames().count(name) > 1) {
            *exitCode = usageError(QStringLiteral("--%1 given more than once").arg(name));
            return false;
        }
    }
    const QStringList positional = m_parser.positionalArguments();
    const int expected = missing.isEmpty() ? 0 : 1;
    // An empty argument ("$UNSET") names no file either.
    if (positional.size() != expected || (expected == 1 && positional.first().trimmed().isEmpty())) {
        *exitCode = usageError(positional.size() <= expected
                                   ? missing
                                   : QStringLiteral("unexpected argument '%1'").arg(positional.at(expected)));
        return false;
    }
    m_positional = positional.value(0);
    m_options.timeoutSeconds = defaultTimeoutSeconds;
    QString error;
    if (!m_options.take(m_parser, PluginLoader::defaultPath(), &error)) {
        *exitCode = usageError(error);
        return false;
    }
    return true;
}
