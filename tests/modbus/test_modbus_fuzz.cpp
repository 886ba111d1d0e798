// Random reply bytes into the ModbusTCP judgement: whatever arrives, the master neither crashes
// nor reports a status the transport does not produce.
#include "ModbusMaster.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace {

// Frames requests without a socket, so that received bytes are judged against real orders.
class TOfflineTCPMaster : public TModbusTCPMaster {
protected:
    int SendOrder(TModbusMasterOrder& order) override
    {
        BuildFrame(order);
        return 0;
    }
};

}  // namespace

TEST(ModbusFuzz, RandomReplyChunks)
{
    TOfflineTCPMaster master;
    master.SetParameters("TIMEOUT=2\r\nREPEATCOUNT=1\r\n");
    master.SetActive(true);

    std::map<uint8_t, int> statuses;
    master.OnOrderComplete = [&](TModbusMaster* sender, int orderId, uint8_t status) {
        ++statuses[status];
        // The caller's room is exactly the registers it asked for; the sanitizer watches the copy.
        std::vector<uint8_t> room(2 * size_t(sender->Order(orderId)->Count));
        sender->GetReplyData(room.data());
        EXPECT_LE(sender->GetReplyRegisterCount(), 146);
        sender->GetExceptionCode();
    };
    ASSERT_EQ(master.ReadHoldingRegisters(255, 84, 56, OrderCyclic), 0);
    ASSERT_EQ(master.ReadHoldingRegisters(255, 78, 6, OrderCyclic), 1);
    const std::array<uint8_t, 4> image{1, 2, 3, 4};
    ASSERT_EQ(master.AddOrder(255, FunctionWriteMultipleRegisters, 84, 2, OrderCyclic, image.data()), 2);

    std::mt19937 random(20261207);
    const auto below = [&](int n) { return int(random() % unsigned(n)); };
    std::vector<uint8_t> chunk;
    for (int i = 0; i < 100000; ++i) {
        chunk.clear();
        if (below(3) == 0) {
            // Something close to a reply: right or nearly right header fields, random body.
            const uint16_t transactionId = below(4) ? master.TransactionId() : uint16_t(random());
            const int length = below(4) ? std::array{3, 6, 15, 115}[size_t(below(4))] : below(300);
            chunk = {uint8_t(transactionId >> 8),
                     uint8_t(transactionId),
                     0,
                     0,
                     uint8_t(length >> 8),
                     uint8_t(length),
                     uint8_t(below(4) ? 255 : below(256)),
                     uint8_t(std::array{3, 16, 0x83, 0x90}[size_t(below(4))])};
            const int body = below(4) ? length - 2 : below(320);
            for (int b = 0; b < body; ++b)
                chunk.push_back(uint8_t(below(4) ? b : below(256)));
            chunk.resize(size_t(std::clamp(int(chunk.size()) - (below(3) == 0 ? below(10) : 0), 0, 1024)));
        } else {
            chunk.resize(size_t(below(8) == 0 ? below(1024) + 1 : below(12) + 1));
            for (uint8_t& byte : chunk)
                byte = uint8_t(random());
        }
        master.ReceiveData(chunk.data(), int(chunk.size()));
        if (below(5) == 0)
            master.ResponseTimerTick();
    }

    std::set<uint8_t> seen;
    for (const auto& [status, count] : statuses)
        seen.insert(status);
    for (uint8_t status : seen)
        EXPECT_TRUE(status == 0 || status == 1 || status == 3 || status == 4 || status == 6 || status == 7)
            << int(status);
    EXPECT_EQ(seen, (std::set<uint8_t>{0, 1, 3, 4, 6, 7})) << "the generator should reach every verdict";
}
