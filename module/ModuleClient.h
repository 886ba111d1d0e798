#pragma once
// One module reached over ModbusTCP through its own TModbusTCPMaster: read the information, read
// the configuration, write it, write it and read it back. Each operation ends with one call of
// its completion handler from the event loop, never from inside the call that started it, unless
// the client is reconfigured or cancelled first. A handler must not destroy the client directly
// (its master is still completing): deleteLater.

#include "ConfigFields.h"
#include "ConnectionFailure.h"
#include "ModuleInfo.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TModbusMaster;
class TModbusTCPMaster;

// How long a reply is waited for and how often a request is sent before "Нет ответа": the
// program's own defaults (51 ticks of 10 ms, a silent module tried three times) and the bounds
// the settings dialog allows.
inline constexpr int32_t DefaultReplyTimeout = 510;
inline constexpr int32_t MinReplyTimeout = 100;
inline constexpr int32_t MaxReplyTimeout = 10000;
inline constexpr int32_t DefaultTransmissions = 3;
inline constexpr int32_t MinTransmissions = 1;
inline constexpr int32_t MaxTransmissions = 5;

struct TModuleClientOptions {
    int TimeoutMs = DefaultReplyTimeout;
    int Transmissions = DefaultTransmissions;  // of one request, the first included
};

// How an exchange ended: the master's status code (0 success), or a negative code when the
// master refused to queue the request; Text is the status text to show.
struct TModuleResult {
    int Status = 0;
    std::string Text;
    uint8_t Exception = 0;  // the module's exception code when Status says it answered with one
    // Why no reply came when the module could not be connected to; Text names it too.
    TConnectionFailure Connection = TConnectionFailure::None;
    bool Ok() const { return Status == 0; }
};

class TModuleClient : public QObject {
public:
    using TInfoDone = std::function<void(const TModuleResult&, const TModuleInfo&)>;
    using TConfigDone = std::function<void(const TModuleResult&, const TModuleConfig&)>;
    using TWriteDone = std::function<void(const TModuleResult&)>;
    // Written when the module took the write, even if the read that checks it then failed; verified
    // when the module holds every byte that was sent; Differing lists the table's fields it holds
    // otherwise.
    using TVerifyDone =
        std::function<void(const TModuleResult&, bool written, bool verified, const TModuleConfig& readBack,
                           const std::vector<const TConfigField*>& differing)>;

    // address: dotted, already checked by the decimal rule.
    TModuleClient(const std::string& address, uint16_t port, const TModuleClientOptions& options,
                  QObject* owner = nullptr);
    ~TModuleClient() override;

    // Points the client at another module or changes its times; operations still waiting are
    // dropped without an outcome, as by Cancel.
    void Configure(const std::string& address, uint16_t port, const TModuleClientOptions& options);
    // Changes the times alone, from the next request on; unlike Configure, what waits goes on.
    void SetTimes(const TModuleClientOptions& options);
    // The module and times as last set.
    const std::string& Address() const { return Address_; }
    uint16_t Port() const { return Port_; }
    const TModuleClientOptions& Options() const { return Options_; }
    // Drops the operations still waiting: their handlers are never called.
    void Cancel();

    void ReadInfo(TInfoDone done);
    void ReadConfig(TConfigDone done);
    // Both blocks in one request: what tells a module from another device, and its configuration.
    using TModuleDone = std::function<void(const TModuleResult&, const TModuleInfo&, const TModuleConfig&)>;
    void ReadModule(TModuleDone done);
    // Sends the image the window sends for this record: checksum and marker added.
    void WriteConfig(const TModuleConfig& config, TWriteDone done);
    // checking, when given, is told when the module has taken the write and the read-back starts.
    void WriteAndVerify(const TModuleConfig& config, TVerifyDone done, std::function<void()> checking = {});

    // Any other exchange with whatever sits behind the module: queue() puts one order on the master
    // (connected on demand) and answers its id or the master's refusal; done is told like every
    // operation above, with the master to take the reply from inside the call.
    using TOrderDone = std::function<void(const TModuleResult&, TModbusMaster*)>;
    void Exchange(const std::function<int(TModbusMaster&)>& queue, TOrderDone done);

    // Told from the event loop after Cancel or Configure has dropped the operations waiting, so that
    // one that keeps asking (a poll of a device) can ask again instead of waiting for ever.
    std::function<void()> OnCancelled;

    // The master, for whoever watches its frames.
    TModbusTCPMaster& Master() { return *Master_; }

    // The master's parameter text for a module and these options.
    static std::string ParametersText(const std::string& address, uint16_t port, const TModuleClientOptions& options);
    // A time-out in milliseconds as the master counts it: ticks of 10 ms, the last of which ends the
    // wait.
    static uint32_t TimeoutTicks(int timeoutMs);

private:
    static std::string TimesText(const TModuleClientOptions& options);
    void Track(int orderId, TOrderDone handler);
    TModbusTCPMaster& Active();
    // A block of the module's holding registers read into its record.
    template <class TBlock>
    void ReadBlock(uint16_t firstRegister, std::function<void(const TModuleResult&, const TBlock&)> done);

    std::unique_ptr<TModbusTCPMaster> Master_;
    std::string Address_;
    uint16_t Port_ = 0;
    TModuleClientOptions Options_;
    // Raised by every cancellation, so that a completion of an earlier generation is not told.
    uint64_t Generation_ = 0;
};
