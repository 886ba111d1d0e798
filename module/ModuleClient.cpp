#include "ModuleClient.h"

#include "ConfigCRC.h"
#include "ConfigVerdict.h"
#include "ModbusMaster.h"
#include "ModuleRegisters.h"
#include "modbus.h"

#include <QTimer>

#include <algorithm>

namespace {

const std::string RefusedText = "запрос не поставлен в очередь, код ";

}  // namespace

TModuleClient::TModuleClient(const std::string& address, uint16_t port, const TModuleClientOptions& options,
                             QObject* owner)
    : QObject(owner)
    , Master_(std::make_unique<TModbusTCPMaster>())
{
    Configure(address, port, options);
}

// The master is stopped without reporting what it cuts off: nobody waits for it any more.
TModuleClient::~TModuleClient() = default;

void TModuleClient::Configure(const std::string& address, uint16_t port, const TModuleClientOptions& options)
{
    // The socket takes a new address only while closed.
    Cancel();
    Address_ = address;
    Port_ = port;
    Options_ = options;
    Master_->SetParameters(ParametersText(address, port, options));
}

void TModuleClient::SetTimes(const TModuleClientOptions& options)
{
    Options_ = options;
    Master_->SetParameters(TimesText(options));
}

TModbusTCPMaster& TModuleClient::Active()
{
    // Connected on demand: a client that is never asked opens no connection.
    Master_->SetActive(true);
    return *Master_;
}

void TModuleClient::Cancel()
{
    ++Generation_;
    Master_->SetActive(false);
    // Only to whoever listens now: the one of the constructor's own Configure would reach a handler
    // set later, which has lost nothing.
    if (!OnCancelled)
        return;
    QTimer::singleShot(0, this, [this] {
        if (OnCancelled)
            OnCancelled();
    });
}

std::string TModuleClient::ParametersText(const std::string& address, uint16_t port,
                                          const TModuleClientOptions& options)
{
    return "IPADDRESS=" + address + ParameterLineEnd + "TCPPORT=" + std::to_string(port) + ParameterLineEnd +
           TimesText(options);
}

std::string TModuleClient::TimesText(const TModuleClientOptions& options)
{
    return "TIMEOUT=" + std::to_string(TimeoutTicks(options.TimeoutMs)) + ParameterLineEnd +
           "REPEATCOUNT=" + std::to_string(std::clamp(options.Transmissions - 1, 0, 255)) + ParameterLineEnd;
}

uint32_t TModuleClient::TimeoutTicks(int timeoutMs)
{
    const int ticks =
        (std::max(timeoutMs, 1) + TModbusMaster::ResponseTimerInterval - 1) / TModbusMaster::ResponseTimerInterval;
    return uint32_t(ticks - 1);
}

void TModuleClient::Track(int orderId, TOrderDone handler)
{
    const uint64_t generation = Generation_;
    if (orderId < 0) {
        // Told from the event loop like every other outcome, so callers need not guard re-entry.
        QTimer::singleShot(0, this, [this, generation, orderId, handler = std::move(handler)] {
            if (generation == Generation_)
                handler({orderId, RefusedText + std::to_string(orderId)}, nullptr);
        });
        return;
    }
    Master_->SetOrderCallback(
        orderId, [this, generation, handler = std::move(handler)](TModbusMaster* sender, int id, uint8_t status) {
            if (generation != Generation_)
                return;
            const uint8_t exception = sender->GetExceptionCode();
            const TConnectionFailure failure =
                status == StatusNoReply ? Master_->ConnectionFailure() : TConnectionFailure::None;
            std::string text = failure != TConnectionFailure::None ? NoReplyText(failure)
                               : status == StatusWrongLength
                                   ? WrongLengthText(sender->GetReplyFrame(), sender->Order(id)->ExpectedLength)
                                   : StatusText(status, exception);
            handler({status, std::move(text), exception, failure}, sender);
        });
}

void TModuleClient::Exchange(const std::function<int(TModbusMaster&)>& queue, TOrderDone done)
{
    Track(queue(Active()), std::move(done));
}

template <class TBlock>
void TModuleClient::ReadBlock(uint16_t firstRegister, std::function<void(const TModuleResult&, const TBlock&)> done)
{
    static_assert(sizeof(TBlock) % 2 == 0);
    Track(Active().ReadHoldingRegisters(ModuleUnitId, firstRegister, sizeof(TBlock) / 2, OrderOneShot),
          [done = std::move(done)](const TModuleResult& result, TModbusMaster* master) {
              TBlock block{};
              if (result.Ok())
                  master->GetReplyData(&block);
              done(result, block);
          });
}

void TModuleClient::ReadInfo(TInfoDone done)
{
    ReadBlock<TModuleInfo>(InfoFirstRegister, std::move(done));
}

void TModuleClient::ReadConfig(TConfigDone done)
{
    ReadBlock<TModuleConfig>(ConfigFirstRegister, std::move(done));
}

void TModuleClient::ReadModule(TModuleDone done)
{
    ReadBlock<TModuleBlocks>(InfoFirstRegister,
                             [done = std::move(done)](const TModuleResult& result, const TModuleBlocks& blocks) {
                                 done(result, blocks.Info, blocks.Config);
                             });
}

void TModuleClient::WriteConfig(const TModuleConfig& config, TWriteDone done)
{
    const TConfigImage image = BuildConfigImage(config);
    Track(Active().WriteMultipleRegisters(ModuleUnitId, ConfigFirstRegister, image),
          [done = std::move(done)](const TModuleResult& result, TModbusMaster*) { done(result); });
}

void TModuleClient::WriteAndVerify(const TModuleConfig& config, TVerifyDone done, std::function<void()> checking)
{
    TModuleConfig sent = config;
    SetConfigCRC(sent);
    WriteConfig(sent,
                [this, sent, done = std::move(done), checking = std::move(checking)](const TModuleResult& written) {
                    if (!written.Ok()) {
                        done(written, false, false, TModuleConfig{}, {});
                        return;
                    }
                    if (checking)
                        checking();
                    ReadConfig([sent, done](const TModuleResult& read, const TModuleConfig& readBack) {
                        if (!read.Ok()) {
                            done(read, true, false, readBack, {});
                            return;
                        }
                        done(read, true, WriteVerified(sent, readBack), readBack, DifferingFields(sent, readBack));
                    });
                });
}
