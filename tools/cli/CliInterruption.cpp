#include "CliInterruption.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int SignalSocket[2] = {-1, -1};

constexpr std::array Signals{SIGINT, SIGTERM};

volatile sig_atomic_t SignalsReceived = 0;

// What the second signal tells, as TCliInterruption holds it for the run; read by the handler only.
struct TUnknownOutcome {
    const std::string* ForPeople = nullptr;
    const std::string* ForScripts = nullptr;
    volatile sig_atomic_t* InFlight = nullptr;
    size_t Count = 0;
};
TUnknownOutcome UnknownOutcome;

void WriteAll(int descriptor, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(descriptor, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += size_t(written);
    }
}

void OnSignal(int signal)
{
    const int savedErrno = errno;
    const bool first = SignalsReceived == 0;
    SignalsReceived = 1;
    if (first) {
        const char byte = char(signal);
        [[maybe_unused]] const auto written = ::write(SignalSocket[0], &byte, 1);
        errno = savedErrno;
        return;
    }
    // The second one ends the program, after naming the modules it leaves in flight: each may or may
    // not have taken its request. Only write(2) here, over lines made before.
    for (size_t i = 0; i < UnknownOutcome.Count; ++i) {
        if (!UnknownOutcome.InFlight[i])
            continue;
        WriteAll(STDOUT_FILENO, UnknownOutcome.ForScripts[i]);
        WriteAll(STDERR_FILENO, UnknownOutcome.ForPeople[i]);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

TCliInterruption::TCliInterruption(std::function<void()> onFirst) : OnFirst_(std::move(onFirst))
{
    SignalsReceived = 0;
    WatchOutput();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalSocket) != 0)
        return;  // a signal then ends the program at once, as without this
    Notifier_ = std::make_unique<QSocketNotifier>(SignalSocket[1], QSocketNotifier::Read);
    QObject::connect(Notifier_.get(), &QSocketNotifier::activated, Notifier_.get(), [this] {
        char byte = 0;
        if (::read(SignalSocket[1], &byte, 1) != 1 || Signal_ != 0)
            return;
        Signal_ = byte;
        Stop("прервано: новые модули не опрашиваются, ожидаются ответы тех, которым запрос уже отправлен "
             "(повторное прерывание: выход сразу)");
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
    UnknownOutcome.Count = 0;
    Notifier_.reset();
    for (int& end : SignalSocket) {
        ::close(end);
        end = -1;
    }
}

void TCliInterruption::SetUnknownOutcomeLines(std::vector<std::string> forPeople, std::vector<std::string> forScripts)
{
    // The handler reads only as many as Count tells, and Count is set last.
    UnknownOutcome.Count = 0;
    ForPeople_ = std::move(forPeople);
    ForScripts_ = std::move(forScripts);
    ForScripts_.resize(ForPeople_.size());
    InFlight_ = std::make_unique<volatile sig_atomic_t[]>(ForPeople_.size());
    UnknownOutcome.ForPeople = ForPeople_.data();
    UnknownOutcome.ForScripts = ForScripts_.data();
    UnknownOutcome.InFlight = InFlight_.get();
    UnknownOutcome.Count = ForPeople_.size();
}

void TCliInterruption::Started(size_t module)
{
    if (module < ForPeople_.size())
        InFlight_[module] = 1;
}

void TCliInterruption::Finished(size_t module)
{
    if (module < ForPeople_.size())
        InFlight_[module] = 0;
}

void TCliInterruption::WatchOutput()
{
    struct stat output {};
    if (::fstat(STDOUT_FILENO, &output) != 0 || !S_ISFIFO(output.st_mode))
        return;
    // The write end of a pipe never turns readable: the read notification comes only with the
    // error that tells the reader has closed it.
    OutputWatch_ = std::make_unique<QSocketNotifier>(STDOUT_FILENO, QSocketNotifier::Read);
    QObject::connect(OutputWatch_.get(), &QSocketNotifier::activated, OutputWatch_.get(), [this] {
        // Told once; a pipe opened for reading too would otherwise wake the loop for every byte.
        OutputWatch_->setEnabled(false);
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&output, 1, 0) != 1 || (output.revents & POLLERR) == 0)
            return;
        OutputLost_ = true;
        if (Signal_ == 0)
            Stop("стандартный вывод закрыт: новые модули не опрашиваются, ожидаются ответы тех, которым запрос "
                 "уже отправлен");
    });
}

void TCliInterruption::Stop(const char* message)
{
    std::fprintf(stderr, "korvel-cli: %s\n", message);
    OnFirst_();
}

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

void EndBySignal(int signal)
{
    if (signal == 0)
        return;
    std::fflush(stdout);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
