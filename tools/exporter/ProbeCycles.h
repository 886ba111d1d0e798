#pragma once
// The exporter's cycles over its modules: a scrape of a module joins the cycle already in flight
// for it instead of doubling the traffic on its lines; at most Concurrency cycles run at once and
// the rest wait their turn; a module asked again within MinIntervalMs of its last cycle is answered
// with that cycle. Each scrape is answered once, at the latest when its time is up, with what is
// known by then; a cycle that no scrape waits for any more is dropped.

#include "ModuleCycle.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TProbeSettings {
    TModuleClientOptions Client;
    int Concurrency = 64;
    int MinIntervalMs = 0;
    // Modules remembered between scrapes; past it the one asked least recently is forgotten.
    size_t MaxModules = 4096;
};

// How a scrape was answered, as the exporter counts them.
enum class TProbeAnswer { Cycle, Shared, Interval, Cut };
inline constexpr size_t ProbeAnswerCount = 4;

// Exceptions a module and the devices behind it have answered with, over every cycle the exporter
// has run with it (and its map) since it began to remember it.
struct TExceptionCounts {
    std::map<uint8_t, uint64_t> Requests;    // requests, by exception code
    std::map<std::string, uint64_t> Points;  // reads of a point, by its name
};

class TProbeCycles : public QObject {
public:
    using TAnswer = std::function<void(const TCycleOutcome&, const TExceptionCounts&)>;

    explicit TProbeCycles(const TProbeSettings& settings, QObject* owner = nullptr);
    ~TProbeCycles() override;

    // answer is told once: from inside this call when the module's last cycle is recent enough,
    // later otherwise, and at the latest when budget has passed. A module is remembered with the
    // name of its map: scrapes share a cycle only when they want the same points.
    void Probe(const TModuleAddress& module, std::shared_ptr<const TNamedMap> map, std::chrono::milliseconds budget,
               TAnswer answer);

    size_t Running() const { return Running_; }
    size_t Waiting() const { return Queue_.size(); }
    size_t Remembered() const { return Modules_.size(); }
    uint64_t CyclesStarted() const { return CyclesStarted_; }
    uint64_t Answers(TProbeAnswer kind) const { return Answers_[size_t(kind)]; }

private:
    struct TWaiter {
        uint64_t Id;
        TAnswer Answer;
        std::unique_ptr<QTimer> Deadline;
    };
    struct TModuleEntry {
        TModuleAddress Module;
        std::unique_ptr<TModuleCycle> Cycle;  // in flight or waiting its turn
        bool Running = false;
        std::vector<TWaiter> Waiters;
        std::optional<TCycleOutcome> Last;
        std::chrono::steady_clock::time_point LastEnd;
        std::chrono::steady_clock::time_point LastAsked;
        TExceptionCounts Exceptions;
    };

    void StartWaiting();
    void CycleFinished(const std::string& key);
    void DeadlinePassed(const std::string& key, uint64_t waiter);
    void DropCycle(TModuleEntry& entry, const std::string& key);
    void Forget();

    const TProbeSettings Settings_;
    std::map<std::string, TModuleEntry> Modules_;
    std::deque<std::string> Queue_;  // keys of the cycles waiting their turn
    size_t Running_ = 0;
    uint64_t NextWaiter_ = 0;
    uint64_t CyclesStarted_ = 0;
    std::array<uint64_t, ProbeAnswerCount> Answers_{};
};
