#include "cli/interrupts.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The pair's ends: the handler writes to [1], the event loop reads [0].
int g_pair[2] = {-1, -1};

constexpr int kCaught[] = {SIGINT, SIGTERM};

void restoreDefaults();

void onSignal(int number) {
    const int saved = errno;
    // A second Ctrl-C ends a command that does not end by itself.
    restoreDefaults();
    const char byte = char(number);
    // Non-blocking: when the pair is full, a signal is already waiting to be read.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[1], &byte, 1);
    errno = saved;
}

void handle(int number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

void restoreDefaults() {
    for (const int number : kCaught)
        handle(number, SIG_DFL); // sigaction may be called from a handler
}

} // namespace

Interrupts::Interrupts(QObject *parent)
    : QObject(parent) {
    if (g_pair[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0)
        return;
    ::fcntl(g_pair[1], F_SETFL, ::fcntl(g_pair[1], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_pair[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Interrupts::read);
    for (const int number : kCaught)
        handle(number, onSignal);
    handle(SIGPIPE, SIG_IGN);
}

Interrupts::~Interrupts() {
    if (!m_notifier)
        return;
    restoreDefaults();
    handle(SIGPIPE, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
}

void Interrupts::read() {
    char byte = 0;
    if (::read(g_pair[0], &byte, 1) == 1) {
        m_raised = int(byte);
        Q_EMIT raised(m_raised);
    }
}

void Interrupts::endBySignal() const {
    if (m_raised == 0)
        return;
    // Ended by the signal itself, as shells expect of a program they interrupted: a loop in a
    // script stops on Ctrl-C instead of going on with its next command.
    std::signal(m_raised, SIG_DFL);
    std::raise(m_raised);
}
