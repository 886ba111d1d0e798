#include "TerminationSignals.h"

#include "Main_Win.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A signal handler may only write to a descriptor; the event loop reads the other end.
int SignalSocket[2] = {-1, -1};
// Set by the first signal: the close is under way. Any thread may take a signal, so two at once
// must not both see themselves first.
std::atomic<bool> Ending = false;
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only use a lock-free atomic");

// How often a close waits for a modal window's own loop to end, and for how long at most: a window
// that will not close must not keep the program alive once everything has been written, and a
// session end allows a couple of seconds before it kills.
constexpr int RetryCloseMs = 50;
constexpr int MaxCloseRetries = 20;

void OnSignal(int signal)
{
    if (Ending.exchange(true)) {
        // Whoever sends a second signal will not wait for the close: the signal's own ending, now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(SignalSocket[0], &byte, 1);
    errno = savedErrno;
}

// A modal window runs a loop of its own inside some command (a completion, a dialog); closing the
// main window under it would pull the master away from that command. End the modal window first
// (its command sees it cancelled) and close once the command has returned to the main loop.
void CloseFromMainLoop(TMainWindow* window, int retries)
{
    if (QThread::currentThread()->loopLevel() <= 1) {
        window->CloseOnSignal();
        return;
    }
    if (retries >= MaxCloseRetries) {
        std::fflush(nullptr);
        ::_exit(window->SaveOnSignal());
    }
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    if (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
    QTimer::singleShot(RetryCloseMs, window, [window, retries] { CloseFromMainLoop(window, retries + 1); });
}
}  // namespace

void CloseOnTerminationSignals(TMainWindow* window)
{
    // Non-blocking, so that a flood of signals cannot stall the handler; not inherited by the
    // help viewer the program starts.
    if (SignalSocket[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalSocket) != 0)
        return;  // the program still runs; it just cannot be closed by a signal
    Ending = false;
    auto* notifier = new QSocketNotifier(SignalSocket[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] const auto read = ::read(SignalSocket[1], &byte, 1);
        // Kept at once, from whatever loop runs: ending a modal window's command may take a while.
        window->SaveOnSignal();
        CloseFromMainLoop(window, 0);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : std::array{SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
