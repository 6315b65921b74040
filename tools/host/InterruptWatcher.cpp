#include "InterruptWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The usual self-pipe: the handler only writes a byte, the event loop reads it.
int g_fds[2] = {-1, -1};
volatile std::sig_atomic_t g_pending = 0;

void install(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0)
        return;
    ::fcntl(g_fds[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptWatcher::onReadable);
    install(SIGINT, &InterruptWatcher::onSignal);
    install(SIGTERM, &InterruptWatcher::onSignal);
}

InterruptWatcher::~InterruptWatcher()
{
    install(SIGINT, SIG_DFL);
    install(SIGTERM, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptWatcher::onSignal(int signalNumber)
{
    if (g_pending) {
        // Asked twice: give up on a clean end.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    g_pending = 1;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_fds[1], &byte, 1);
}

void InterruptWatcher::onReadable()
{
    char byte = 0;
    if (::read(g_fds[0], &byte, 1) == 1)
        Q_EMIT interrupted(int(byte));
}
