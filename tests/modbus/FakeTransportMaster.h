#pragma once
// An engine with a scripted transport: it records every request handed over and answers each
// judgement with the verdict the test gives.

#include "ModbusMaster.h"

#include <optional>
#include <utility>
#include <vector>

class TFakeTransportMaster : public TModbusMaster {
public:
    using TModbusMaster::BuildRequest;

    struct TSent {
        int OrderId;
        std::vector<uint8_t> Request;
    };

    explicit TFakeTransportMaster(uint32_t timeout = 0, uint8_t repeatCount = 0)
    {
        SetParameters("TIMEOUT=" + std::to_string(timeout) + "\r\nREPEATCOUNT=" + std::to_string(repeatCount) + "\r\n");
        OnOrderComplete = [this](TModbusMaster*, int orderId, uint8_t status) {
            Completions.emplace_back(orderId, status);
        };
        SetActive(true);
    }

    // Delivers a byte and, with it, the verdict of the next judgement.
    void Reply(uint8_t status)
    {
        Verdict = status;
        const uint8_t byte = 0;
        ReceiveData(&byte, 1);
    }
    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            ResponseTimerTick();
    }
    std::vector<int> SentIds() const
    {
        std::vector<int> ids;
        for (const TSent& sent : Sent)
            ids.push_back(sent.OrderId);
        return ids;
    }

    std::vector<TSent> Sent;
    std::vector<std::pair<int, uint8_t>> Completions;
    std::optional<uint8_t> Verdict;
    int SendResult = 0;

    std::string GetConnectionText() const override { return "fake"; }
    int GetReplyRegisterCount() const override { return 0; }
    uint8_t GetExceptionCode() const override { return 0; }
    void GetReplyData(void*) const override {}

protected:
    int SendOrder(TModbusMasterOrder& order) override
    {
        std::vector<uint8_t> request(MaxRequestLength);
        int length = 0;
        BuildRequest(order, request.data(), length);
        request.resize(size_t(length));
        Sent.push_back({CurrentIndex(), request});
        return SendResult;
    }
    bool CheckReply(uint8_t& status) override
    {
        if (!Verdict)
            return false;
        status = *std::exchange(Verdict, std::nullopt);
        return true;
    }
};
