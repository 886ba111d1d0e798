#pragma once
// Finds the devices behind a module: asks each unit identifier of a range once with a probe read,
// one at a time (a line serves one request at a time), and tells what each answer means. The
// module's channel settings are read first, so that a search that finds nothing can name them.

#include "DeviceRequests.h"
#include "LineTimeout.h"
#include "ModuleConfig.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TUnitOutcome : uint8_t {
    Answered,         // the device answered with data
    DeviceException,  // the device answered with an exception of its own: it is there
    TargetFailed,     // the module: no device answered on the line (0x0B)
    PathUnavailable,  // the module: no path to that line (0x0A)
    NoModuleAnswer,   // the module itself did not answer, or answered malformed
};

struct TUnitResult {
    uint8_t Unit = 0;
    TUnitOutcome Outcome = TUnitOutcome::NoModuleAnswer;
    TModuleResult Result;
    double Ms = 0;
    bool Found() const { return Outcome == TUnitOutcome::Answered || Outcome == TUnitOutcome::DeviceException; }
};

struct TUnitProbe {
    uint8_t Function = FunctionReadHoldingRegisters;
    uint16_t Address = 0;
};

struct TUnitSearchSummary {
    std::vector<uint8_t> Found;
    size_t Asked = 0;
    bool Stopped = false;
    // The module's configuration as read at the start; none when it could not be read.
    std::optional<TModuleConfig> Config;
    // When nothing was found: what to check first, the channels' role, baud rate, parity and stop
    // bits; empty otherwise.
    std::string Hint;
    // Set when the module itself did not answer the read of its configuration: then no unit is
    // asked, as each would only wait out the same silence.
    std::optional<TModuleResult> ModuleFailure;
};

class TUnitSearch : public QObject {
public:
    // The search has a client of its own, as each unit is asked once: one transmission, and a wait
    // for the module's answer no shorter than its channels' own time-outs with some room.
    TUnitSearch(const std::string& address, uint16_t port, const TModuleClientOptions& options,
                QObject* owner = nullptr);

    void Start(uint8_t firstUnit, uint8_t lastUnit, const TUnitProbe& probe);
    // Ends the search after the unit in flight; the summary is told with Stopped.
    void Stop();
    bool IsRunning() const { return Running_; }
    // The search's own client, so that a front end can trace its frames with the rest.
    TModuleClient& Client() { return Client_; }

    std::function<void(const TUnitResult&)> OnUnit;
    // Units asked, of how many, and the time the rest should take at the pace so far.
    std::function<void(size_t done, size_t total, std::chrono::milliseconds left)> OnProgress;
    std::function<void(const TUnitSearchSummary&)> OnFinished;

private:
    void AskNext();
    void Finish();

    std::string Address_;
    uint16_t Port_;
    TModuleClientOptions Options_;
    TModuleClient Client_;
    TUnitProbe Probe_;
    unsigned Next_ = 0;
    unsigned Last_ = 0;
    bool Running_ = false;
    bool StopAsked_ = false;
    std::chrono::steady_clock::time_point Started_;
    TUnitSearchSummary Summary_;
};

TUnitOutcome UnitOutcome(const TModuleResult& result);
