#pragma once
// Ctrl+C (SIGINT) or SIGTERM while modules are being asked: a module whose request is already on
// its way may take it, so those modules are waited for and reported; no further module is started.
// A second signal ends the program at once, naming first every module then in flight: its outcome
// is unknown. Outside that time a signal ends the program as usual.
// A reader of stdout that goes away (`| head`) stops the run the same way: what is written after
// it could reach nobody.

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

class TCliInterruption {
public:
    // onFirst runs from the event loop when the first signal arrives or stdout's reader is gone.
    explicit TCliInterruption(std::function<void()> onFirst);
    ~TCliInterruption();

    // The signal received, 0 while none.
    int Signal() const { return Signal_; }
    // True once stdout is a pipe that nobody reads any more.
    bool OutputLost() const { return OutputLost_; }
    bool Stopped() const { return Signal_ != 0 || OutputLost_; }

    // What a second signal writes for each module then in flight: a line for people on stderr and,
    // when not empty, one for a script on stdout, each with its line end. One pair a module, given
    // before the modules are started; a module is in flight from Started to Finished.
    void SetUnknownOutcomeLines(std::vector<std::string> forPeople, std::vector<std::string> forScripts);
    void Started(size_t module);
    void Finished(size_t module);

private:
    void WatchOutput();
    void Stop(const char* message);

    std::function<void()> OnFirst_;
    std::unique_ptr<QSocketNotifier> Notifier_;
    std::unique_ptr<QSocketNotifier> OutputWatch_;
    int Signal_ = 0;
    bool OutputLost_ = false;
    std::vector<std::string> ForPeople_;
    std::vector<std::string> ForScripts_;
    std::unique_ptr<volatile sig_atomic_t[]> InFlight_;
};

// Writes to a stdout nobody reads fail with EPIPE instead of killing the program, so that the run
// can finish the modules in flight and tell them. For the whole process, before anything is written.
void IgnoreBrokenPipe();

// After the report: ends the program by the signal it received, so that the shell or script that
// started it stops as well; returns when the signal is 0.
void EndBySignal(int signal);
