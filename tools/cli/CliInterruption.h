#pragma once
// Ctrl+C (SIGINT) or SIGTERM while modules are being asked: a module whose request is already on
// its way may take it, so those modules are waited for and reported; no further module is started.
// A second signal ends the program at once. Outside that time a signal ends the program as usual.

#include <functional>
#include <memory>

class QSocketNotifier;

class TCliInterruption {
public:
    // onFirst runs from the event loop when the first signal arrives.
    explicit TCliInterruption(std::function<void()> onFirst);
    ~TCliInterruption();

    // The signal received, 0 while none.
    int Signal() const { return Signal_; }

private:
    std::unique_ptr<QSocketNotifier> Notifier_;
    int Signal_ = 0;
};

// After the report: ends the program by the signal it received, so that the shell or script that
// started it stops as well; returns when the signal is 0.
void EndBySignal(int signal);
