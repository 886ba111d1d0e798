#include "ModuleClient.h"

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
    Master_->SetParameters("IPADDRESS=" + address + ParameterLineEnd + "TCPPORT=" + std::to_string(port) +
                           ParameterLineEnd + "TIMEOUT=" + std::to_string(TimeoutTicks(options.TimeoutMs)) +
                           ParameterLineEnd + "REPEATCOUNT=" + std::to_string(std::clamp(options.Retries, 0, 255)) +
                           ParameterLineEnd);
    Master_->SetActive(true);
}

// The master is stopped without reporting what it cuts off: nobody waits for it any more.
TModuleClient::~TModuleClient() = default;

uint32_t TModuleClient::TimeoutTicks(int timeoutMs)
{
    const int ticks =
        (std::max(timeoutMs, 1) + TModbusMaster::ResponseTimerInterval - 1) / TModbusMaster::ResponseTimerInterval;
    return uint32_t(ticks - 1);
}

void TModuleClient::Track(int orderId, TReplyHandler handler)
{
    if (orderId < 0) {
        // Told from the event loop like every other outcome, so callers need not guard re-entry.
        QTimer::singleShot(0, this, [orderId, handler = std::move(handler)] {
            handler({orderId, RefusedText + std::to_string(orderId)}, nullptr);
        });
        return;
    }
    Master_->SetOrderCallback(orderId, [handler = std::move(handler)](TModbusMaster* sender, int, uint8_t status) {
        handler({status, StatusText(status, sender->GetExceptionCode())}, sender);
    });
}

void TModuleClient::ReadInfo(TInfoDone done)
{
    Track(Master_->ReadHoldingRegisters(ModuleUnitId, InfoFirstRegister, InfoRegisterCount, OrderOneShot),
          [done = std::move(done)](const TModuleResult& result, TModbusMaster* master) {
              TModuleInfo info{};
              if (result.Ok())
                  master->GetReplyData(&info);
              done(result, info);
          });
}

void TModuleClient::ReadConfig(TConfigDone done)
{
    Track(Master_->ReadHoldingRegisters(ModuleUnitId, ConfigFirstRegister, ConfigReadRegisterCount, OrderOneShot),
          [done = std::move(done)](const TModuleResult& result, TModbusMaster* master) {
              TModuleConfig config{};
              if (result.Ok())
                  master->GetReplyData(&config);
              done(result, config);
          });
}

void TModuleClient::WriteConfig(const TModuleConfig& config, TWriteDone done)
{
    const TConfigImage image = BuildConfigImage(config);
    Track(Master_->WriteMultipleRegisters(ModuleUnitId, ConfigFirstRegister, image),
          [done = std::move(done)](const TModuleResult& result, TModbusMaster*) { done(result); });
}

void TModuleClient::WriteAndVerify(const TModuleConfig& config, TVerifyDone done)
{
    WriteConfig(config, [this, config, done = std::move(done)](const TModuleResult& written) {
        if (!written.Ok()) {
            done(written, false, false, TModuleConfig{}, {});
            return;
        }
        ReadConfig([config, done](const TModuleResult& read, const TModuleConfig& readBack) {
            if (!read.Ok()) {
                done(read, true, false, readBack, {});
                return;
            }
            const std::vector<const TConfigField*> differing = DifferingFields(config, readBack);
            done(read, true, differing.empty(), readBack, differing);
        });
    });
}
