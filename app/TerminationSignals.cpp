#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A signal handler may only write to a descriptor; the event loop reads the other end.
int SignalSocket[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(SignalSocket[0], &byte, 1);
}
}  // namespace

void CloseOnTerminationSignals(QWidget* window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalSocket) != 0)
        return;  // the program still runs; it just cannot be closed by a signal
    auto* notifier = new QSocketNotifier(SignalSocket[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] const auto read = ::read(SignalSocket[1], &byte, 1);
        window->close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : std::array{SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
