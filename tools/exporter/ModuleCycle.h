#pragma once
// One scrape's exchange with one module: its information and configuration blocks in one request,
// then, with a map, every point of the map in the requests its plan makes, one at a time (the
// devices' poll of a map, one cycle). Nothing is ever written. What is known so far can be taken at
// any moment, so that a scrape whose time is up is answered with it.

#include "MapPoll.h"
#include "ModuleAddress.h"
#include "ModuleClient.h"
#include "ModuleInfo.h"
#include "RegisterMap.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A map as a scrape named it.
struct TNamedMap {
    std::string Name;
    TRegisterMap Map;
};

struct TCycleOutcome {
    bool Finished = false;    // every request has had its outcome; else the cycle was cut short
    bool BlocksRead = false;  // the module's blocks have had their outcome
    TModuleResult Module;     // of the read of the blocks
    bool NotAModule = false;  // it answered, but not as a module does
    TModuleInfo Info{};
    TModuleConfig Config{};
    double Seconds = 0;   // from the first request to the last outcome, or to now when cut short
    size_t Requests = 0;  // sent, the blocks' request included
    // With a map: its points, the requests planned for them, and each point's state; a point not
    // asked before the cycle ended is Waiting.
    std::shared_ptr<const TNamedMap> Map;
    std::vector<TPlannedRequest> Plan;
    std::vector<TPointState> Points;

    bool ModuleUp() const { return BlocksRead && Module.Ok() && !NotAModule; }
};

class TModuleCycle : public QObject {
public:
    // map: none, or the map whose points the cycle reads after the blocks.
    TModuleCycle(const TModuleAddress& module, const TModuleClientOptions& options,
                 std::shared_ptr<const TNamedMap> map, QObject* owner = nullptr);
    ~TModuleCycle() override;

    void Start();
    // Asks nothing more and tells nothing more.
    void Stop();
    TCycleOutcome Outcome() const;

    // Told once, from the event loop, when the last request has had its outcome.
    std::function<void()> OnFinished;

private:
    void Finish();

    std::unique_ptr<TModuleClient> Client_;
    std::unique_ptr<TMapPoll> Poll_;
    TCycleOutcome Outcome_;
    std::chrono::steady_clock::time_point Started_;
};
