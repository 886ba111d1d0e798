#include "CliInterruption.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int SignalSocket[2] = {-1, -1};

constexpr std::array Signals{SIGINT, SIGTERM};

void OnSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(SignalSocket[0], &byte, 1);
    // The second one ends the program.
    for (const int each : Signals)
        std::signal(each, SIG_DFL);
    errno = savedErrno;
}

}  // namespace

TCliInterruption::TCliInterruption(std::function<void()> onFirst)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalSocket) != 0)
        return;  // a signal then ends the program at once, as without this
    Notifier_ = std::make_unique<QSocketNotifier>(SignalSocket[1], QSocketNotifier::Read);
    QObject::connect(Notifier_.get(), &QSocketNotifier::activated, Notifier_.get(),
                     [this, onFirst = std::move(onFirst)] {
                         char byte = 0;
                         if (::read(SignalSocket[1], &byte, 1) != 1 || Signal_ != 0)
                             return;
                         Signal_ = byte;
                         std::fputs("korvel-cli: прервано: новые модули не опрашиваются, ожидаются ответы тех, "
                                    "которым запрос уже отправлен (повторное прерывание: выход сразу)\n",
                                    stderr);
                         onFirst();
                     });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Signals) {
        struct sigaction previous {};
        // A signal the caller ignores (a background job of a script) stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

TCliInterruption::~TCliInterruption()
{
    if (!Notifier_)
        return;
    for (const int signal : Signals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == OnSignal)
            std::signal(signal, SIG_DFL);
    }
    Notifier_.reset();
    for (int& end : SignalSocket) {
        ::close(end);
        end = -1;
    }
}

void EndBySignal(int signal)
{
    if (signal == 0)
        return;
    std::fflush(stdout);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
