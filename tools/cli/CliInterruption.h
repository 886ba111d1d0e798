#pragma once
// Ctrl+C (SIGINT) or SIGTERM during a fleet command: a module whose request is already on its way
// may take it, so those modules are waited for and reported; no further module is started. A
// second signal ends the program at once.

#include <functional>
#include <memory>

class QSocketNotifier;

class TCliInterruption {
public:
    // onFirst runs from the event loop when the first signal arrives.
    explicit TCliInterruption(std::function<void()> onFirst);
    ~TCliInterruption();

    bool Interrupted() const { return Signal_ != 0; }
    // After the report: ends the program by the signal it received, so that the shell or script
    // that started it stops as well; returns when there was none.
    void EndBySignal() const;

private:
    std::unique_ptr<QSocketNotifier> Notifier_;
    int Signal_ = 0;
};
