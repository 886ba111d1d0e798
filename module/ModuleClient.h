#pragma once
// One module reached over ModbusTCP through its own TModbusTCPMaster: read the information, read
// the configuration, write it, write it and read it back. Each operation ends with one call of
// its completion handler from the event loop, never from inside the call that started it. A
// handler must not destroy the client directly (its master is still completing): deleteLater.

#include "ConfigFields.h"
#include "LocalDefines.h"
#include "ModuleInfo.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TModbusMaster;
class TModbusTCPMaster;

struct TModuleClientOptions {
    int TimeoutMs = 510;  // the window's own: 50 ticks of 10 ms, and the tick that ends them
    int Retries = 2;
};

// How an exchange ended: the master's status code (0 success), or a negative code when the
// master refused to queue the request; Text is the status text to show.
struct TModuleResult {
    int Status = 0;
    std::string Text;
    bool Ok() const { return Status == 0; }
};

class TModuleClient : public QObject {
public:
    using TInfoDone = std::function<void(const TModuleResult&, const TModuleInfo&)>;
    using TConfigDone = std::function<void(const TModuleResult&, const TModuleConfig&)>;
    using TWriteDone = std::function<void(const TModuleResult&)>;
    // Written when the module took the write, even if the read that checks it then failed; verified
    // when every field of the table reads back as written; Differing lists the others.
    using TVerifyDone =
        std::function<void(const TModuleResult&, bool written, bool verified, const TModuleConfig& readBack,
                           const std::vector<const TConfigField*>& differing)>;

    // address: dotted, already checked by the decimal rule.
    TModuleClient(const std::string& address, uint16_t port, const TModuleClientOptions& options,
                  QObject* owner = nullptr);
    ~TModuleClient() override;

    void ReadInfo(TInfoDone done);
    void ReadConfig(TConfigDone done);
    // Sends the image the window sends for this record: checksum and marker added.
    void WriteConfig(const TModuleConfig& config, TWriteDone done);
    void WriteAndVerify(const TModuleConfig& config, TVerifyDone done);

    // The master's parameter text for a time-out in milliseconds: ticks of 10 ms, the last of
    // which ends the wait.
    static uint32_t TimeoutTicks(int timeoutMs);

private:
    using TReplyHandler = std::function<void(const TModuleResult&, TModbusMaster*)>;
    void Track(int orderId, TReplyHandler handler);

    std::unique_ptr<TModbusTCPMaster> Master_;
};
