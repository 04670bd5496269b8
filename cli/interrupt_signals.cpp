#include "interrupt_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace kestrel {
namespace {

// Ctrl+C, a request to end, and the terminal going away all stop the run the same way.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

int g_anInterruptPipe[2] = {-1, -1};

void OnInterruptSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_anInterruptPipe[1], &c, 1);
}

}  // namespace

CInterruptSignals::CInterruptSignals(std::function<void()> onSignal)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_anInterruptPipe) != 0) return;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_anInterruptPipe[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [onSignal = std::move(onSignal)] {
        char c;
        [[maybe_unused]] const ssize_t n = read(g_anInterruptPipe[0], &c, 1);
        onSignal();
    });
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

CInterruptSignals::~CInterruptSignals()
{
    if (!m_pNotifier) return;
    for (const int stopSignal : kStopSignals) signal(stopSignal, SIG_DFL);
    m_pNotifier.reset();
    close(g_anInterruptPipe[0]);
    close(g_anInterruptPipe[1]);
    g_anInterruptPipe[0] = g_anInterruptPipe[1] = -1;
}

}  // namespace kestrel
