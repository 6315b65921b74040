// dravik-sim: a Dravik detector on a loopback port, for running, demonstrating
// and testing the plug-in without hardware.
#include "DravikSimulator.h"
#include "SimCommandLine.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM reach the event loop through a socket pair: a signal
// handler may only write a byte, the loop then quits in peace.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
    (void)written;
}

bool installSignalHandlers(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier] {
        notifier->setEnabled(false);
        char byte;
        const ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        (void)got;
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

QString endpoint(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    SimConfig config;
    QString message;
    switch (SimCommandLine::parse(app.arguments(), &config, &message)) {
    case SimCommandLine::Help:
        out << SimCommandLine::usage();
        return 0;
    case SimCommandLine::Version:
        out << "dravik-sim " << DRAVIK_VERSION << "\n";
        return 0;
    case SimCommandLine::Error:
        err << "dravik-sim: " << message << "\n\n" << SimCommandLine::usage();
        return 2;
    case SimCommandLine::Run:
        break;
    }
    if (!config.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=false"));

    if (!installSignalHandlers(&app)) {
        err << "dravik-sim: cannot install signal handlers\n";
        return 1;
    }

    DravikSimulator simulator;
    simulator.applyConfig(config);
    if (!simulator.listen(config.address, config.port)) {
        err << "dravik-sim: " << simulator.errorString() << "\n";
        return 1;
    }
    // Scripts and tests read this line to learn the port.
    out << "listening " << endpoint(simulator.serverAddress(), simulator.serverPort()) << "\n";
    out.flush();

    const int result = app.exec();
    simulator.close();
    err << "dravik-sim: stopped\n";
    return result;
}
