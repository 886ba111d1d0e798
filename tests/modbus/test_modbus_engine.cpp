// The order table, selection, retransmission and completion of the engine, driven through a
// scripted transport; time-outs come from explicit ticks.
#include "FakeTransportMaster.h"

#include <gtest/gtest.h>

#include <array>

using Completion = std::pair<int, uint8_t>;

namespace {

const std::array<uint16_t, 2> TwoWords{0x1234, 0x5678};

}  // namespace

TEST(ModbusEngine, QueueingIntoIdleMasterSendsAtOnceAndCompletesLater)
{
    TFakeTransportMaster master;
    const int id = master.ReadHoldingRegisters(255, 84, 56, OrderOneShot);
    ASSERT_EQ(id, 0);
    EXPECT_EQ(master.SentIds(), std::vector<int>{0});
    EXPECT_TRUE(master.Completions.empty());
    EXPECT_TRUE(master.IsResponseTimerActive());

    std::vector<Completion> ownCallback;
    master.SetOrderCallback(
        id, [&](TModbusMaster*, int orderId, uint8_t status) { ownCallback.emplace_back(orderId, status); });
    master.Reply(StatusOk);
    EXPECT_EQ(ownCallback, (std::vector<Completion>{{0, StatusOk}}));
    EXPECT_TRUE(master.Completions.empty()) << "the order's own callback replaces OnOrderComplete";
    EXPECT_EQ(master.Order(0), nullptr);
    EXPECT_EQ(master.CurrentIndex(), -1);
    EXPECT_FALSE(master.IsResponseTimerActive()) << "an idle master must not tick";
}

TEST(ModbusEngine, PriorityThenWritesThenReadsEachClassInTurn)
{
    TFakeTransportMaster master;
    // Queue while an exchange is in progress, so that nothing is selected until it completes.
    const int busy = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    const int read1 = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    const int write1 = master.WriteMultipleRegisters(1, 0, 2, TwoWords.data());
    const int read2 = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    const int priority = master.ReadHoldingRegisters(1, 0, 1, OrderPriority);
    const int write2 = master.WriteMultipleRegisters(1, 0, 2, TwoWords.data());
    for (int i = 0; i < 6; ++i)
        master.Reply(StatusOk);
    // Within a class the search starts after the order served last.
    EXPECT_EQ(master.SentIds(), (std::vector<int>{busy, priority, write2, write1, read2, read1}));
    EXPECT_EQ(master.Completions.size(), 6u);
}

TEST(ModbusEngine, WriteQueuedDuringReadRunsNextBeforeOtherReads)
{
    TFakeTransportMaster master;
    const int cyclicA = master.ReadHoldingRegisters(1, 0, 1, OrderCyclic);
    const int cyclicB = master.ReadHoldingRegisters(1, 10, 1, OrderCyclic);
    master.Reply(StatusOk);  // A done, B next
    const int write = master.WriteMultipleRegisters(1, 0, 2, TwoWords.data());
    master.Reply(StatusOk);  // B done, the write jumps ahead of A
    master.Reply(StatusOk);  // write done
    master.Reply(StatusOk);  // A again: the write did not disturb the turn of the reads
    EXPECT_EQ(master.SentIds(), (std::vector<int>{cyclicA, cyclicB, write, cyclicA, cyclicB}));
}

TEST(ModbusEngine, TurnsGoRoundTheWholeTableAcrossItsEnd)
{
    TFakeTransportMaster master;
    for (int id = 0; id < TModbusMaster::OrderSlots; ++id)
        ASSERT_EQ(master.ReadHoldingRegisters(1, 0, 1, id == 64 ? OrderCyclic : OrderOneShot), id);
    // Slots far apart, on both sides of every 64th, with the first in flight.
    for (int id = 1; id < TModbusMaster::OrderSlots; ++id)
        if (id != 63 && id != 64 && id != 130 && id != 255)
            master.DeleteOrder(id);
    for (int i = 0; i < 4; ++i)
        master.Reply(StatusOk);
    // The last slot in flight; a newcomer takes the first, free again.
    ASSERT_EQ(master.ReadHoldingRegisters(2, 0, 1, OrderOneShot), 0);
    master.Reply(StatusOk);
    master.Reply(StatusOk);
    EXPECT_EQ(master.SentIds(), (std::vector<int>{0, 63, 64, 130, 255, 0, 64}));
}

TEST(ModbusEngine, CyclicOrderAloneIsResentAfterEveryCompletion)
{
    TFakeTransportMaster master;
    int calls = 0;
    const int id = master.ReadHoldingRegisters(1, 0, 4, OrderCyclic);
    master.SetOrderCallback(id, [&](TModbusMaster*, int, uint8_t) { ++calls; });
    for (int i = 0; i < 3; ++i)
        master.Reply(StatusOk);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(master.SentIds(), (std::vector<int>{id, id, id, id}));
    EXPECT_NE(master.Order(id), nullptr);
}

TEST(ModbusEngine, OnlyOneShotAndPriorityOrdersLeaveTheTableAtCompletion)
{
    const struct {
        uint8_t kind;
        bool stays;
    } cases[] = {{OrderCyclic, true}, {OrderOneShot, false}, {OrderPriority, false}, {3, true}, {255, true}};
    for (const auto& c : cases) {
        TFakeTransportMaster master;
        const int id = master.ReadHoldingRegisters(1, 0, 1, c.kind);
        master.Reply(StatusOk);
        EXPECT_EQ(master.Order(id) != nullptr, c.stays) << "kind " << int(c.kind);
        EXPECT_EQ(master.Sent.size(), c.stays ? 2u : 1u) << "kind " << int(c.kind);
    }
}

TEST(ModbusEngine, IdsAreSlotsReusedAfterCompletion)
{
    TFakeTransportMaster master;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderOneShot), 0);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderOneShot), 1);
    master.Reply(StatusOk);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderOneShot), 0);
    master.DeleteOrder(1);
    master.DeleteOrder(300);  // ignored
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderOneShot), 1);
}

TEST(ModbusEngine, AnOrderDeletedInProgressLeavesItsExchangeToNoOther)
{
    TFakeTransportMaster master;
    const int deleted = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.DeleteOrder(deleted);
    EXPECT_FALSE(master.IsResponseTimerActive());
    // The freed id at once holds a new order: the reply to the deleted request must not be its.
    const int newcomer = master.ReadHoldingRegisters(2, 0, 1, OrderOneShot);
    ASSERT_EQ(newcomer, deleted);
    ASSERT_EQ(master.Sent.size(), 2u) << "the newcomer's own request goes out";
    EXPECT_EQ(master.Sent[1].Request[0], 2);

    const int waiting = master.ReadHoldingRegisters(3, 0, 1, OrderOneShot);
    master.DeleteOrder(newcomer);
    EXPECT_EQ(master.SentIds().back(), waiting) << "the next order goes out at once";
    master.Reply(StatusOk);
    EXPECT_EQ(master.Completions, (std::vector<Completion>{{waiting, StatusOk}}));
}

TEST(ModbusEngine, RefusalsAreNegativeResults)
{
    TFakeTransportMaster master;
    for (int i = 0; i < TModbusMaster::OrderSlots; ++i)
        ASSERT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderCyclic), i);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderCyclic), OrderTableFull);
    master.DeleteOrder(7);

    const std::vector<uint16_t> registers(124);
    struct Case {
        const char* what;
        int result;
        int expected;
    } cases[] = {
        {"function 1", master.AddOrder(1, 1, 0, 1, OrderOneShot, nullptr), OrderFunctionNotSupported},
        {"no registers", master.ReadHoldingRegisters(1, 0, 0, OrderOneShot), OrderRequestNotEncodable},
        {"124 registers written", master.WriteMultipleRegisters(1, 0, 124, registers.data()), OrderRequestNotEncodable},
        {"write without data", master.WriteMultipleRegisters(1, 0, 2, nullptr), OrderRequestNotEncodable},
        {"callback for -2", master.SetOrderCallback(-2, {}), OrderNotFound},
        {"callback for 300", master.SetOrderCallback(300, {}), OrderNotFound},
        {"callback for empty slot 7", master.SetOrderCallback(7, {}), OrderNotFound},
        {"123 registers written", master.WriteMultipleRegisters(1, 0, 123, registers.data()), 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
}

TEST(ModbusEngine, CallerBufferIsCopiedAtQueueing)
{
    TFakeTransportMaster master;
    const int busy = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    std::array<uint16_t, 2> buffer = TwoWords;
    const int write = master.WriteMultipleRegisters(1, 0, 2, buffer.data());
    buffer.fill(0);
    master.Reply(StatusOk);
    ASSERT_EQ(master.SentIds(), (std::vector<int>{busy, write}));
    EXPECT_EQ(master.Sent[1].Request, (std::vector<uint8_t>{1, 16, 0, 0, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}));
}

// Transmissions and final status for a run of verdicts, with the application's REPEATCOUNT=2.
struct RetransmissionCase {
    const char* name;
    std::vector<int> verdicts;  // -1: silence until the time-out
    size_t transmissions;
    uint8_t status;
    friend void PrintTo(const RetransmissionCase& c, std::ostream* os) { *os << c.name; }
};

class ModbusRetransmission : public testing::TestWithParam<RetransmissionCase> {};

TEST_P(ModbusRetransmission, EndsWithTheLastVerdict)
{
    const RetransmissionCase& c = GetParam();
    TFakeTransportMaster master(/*timeout*/ 3, /*repeatCount*/ 2);
    master.ReadHoldingRegisters(255, 84, 56, OrderOneShot);
    for (int verdict : c.verdicts) {
        if (verdict >= 0) {
            master.Reply(uint8_t(verdict));
            continue;
        }
        master.Tick(3);
        ASSERT_TRUE(master.Completions.empty() && master.Sent.size() <= c.transmissions) << "time-out before tick 4";
        master.Tick();
    }
    EXPECT_EQ(master.Sent.size(), c.transmissions);
    EXPECT_EQ(master.Completions, (std::vector<Completion>{{0, c.status}}));
    EXPECT_FALSE(master.IsResponseTimerActive());
}

INSTANTIATE_TEST_SUITE_P(
    , ModbusRetransmission,
    testing::Values(
        RetransmissionCase{"silent", {-1, -1, -1}, 3, StatusNoReply},
        RetransmissionCase{"answerAfterTwoSilences", {-1, -1, StatusOk}, 3, StatusOk},
        RetransmissionCase{"exceptionAtOnce", {StatusException}, 1, StatusException},
        RetransmissionCase{"wrongUnitThrice", {StatusWrongUnit, StatusWrongUnit, StatusWrongUnit}, 3, StatusWrongUnit},
        RetransmissionCase{"lastVerdictWins", {StatusWrongLength, -1, StatusWrongLength}, 3, StatusWrongLength}),
    [](const auto& info) { return info.param.name; });

TEST(ModbusEngine, RepeatCountZeroMeansOneTransmissionAndTimeoutZeroTheFirstTick)
{
    TFakeTransportMaster master(/*timeout*/ 0, /*repeatCount*/ 0);
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.Tick();
    EXPECT_EQ(master.Sent.size(), 1u);
    EXPECT_EQ(master.Completions, (std::vector<Completion>{{0, StatusNoReply}}));
}

TEST(ModbusEngine, ReplyCompleteWhenTheTimeoutIsNoticedWins)
{
    TFakeTransportMaster master(0, 0);
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.Verdict = StatusOk;
    master.Tick();
    EXPECT_EQ(master.Completions, (std::vector<Completion>{{0, StatusOk}}));
}

TEST(ModbusEngine, CallbackRunningANestedLoopNeverCompletesTheOrderTwice)
{
    TFakeTransportMaster master(5, 2);
    const int first = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    int second = -1;
    std::vector<Completion> seen;
    master.SetOrderCallback(first, [&](TModbusMaster*, int orderId, uint8_t status) {
        seen.emplace_back(orderId, status);
        // What a modal box's loop may deliver meanwhile: more bytes, ticks, a new request.
        master.Reply(StatusWrongLength);
        master.Tick(10);
        second = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    });
    master.Reply(StatusOk);
    EXPECT_EQ(seen, (std::vector<Completion>{{first, StatusOk}}));
    EXPECT_EQ(second, 1) << "the completing order still holds its slot";
    EXPECT_EQ(master.SentIds(), (std::vector<int>{first, second})) << "the new request goes out after the callback";
    master.Reply(StatusOk);
    EXPECT_EQ(master.Completions, (std::vector<Completion>{{second, StatusOk}}));
}

TEST(ModbusEngine, CallbackMayDeleteItsOwnCyclicOrderOrStopTheMaster)
{
    TFakeTransportMaster master;
    const int cyclic = master.ReadHoldingRegisters(1, 0, 1, OrderCyclic);
    master.SetOrderCallback(cyclic, [&](TModbusMaster*, int orderId, uint8_t) { master.DeleteOrder(orderId); });
    master.Reply(StatusOk);
    EXPECT_EQ(master.Order(cyclic), nullptr);
    EXPECT_EQ(master.Sent.size(), 1u);

    // The freed id handed out again from inside the callback belongs to the new order.
    const int replaced = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    int successor = -1;
    master.SetOrderCallback(replaced, [&](TModbusMaster*, int orderId, uint8_t) {
        master.DeleteOrder(orderId);
        successor = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    });
    master.Reply(StatusOk);
    ASSERT_EQ(successor, replaced);
    EXPECT_NE(master.Order(successor), nullptr);
    EXPECT_EQ(master.SentIds().back(), successor);
    master.Reply(StatusOk);
    master.Completions.clear();
    master.Sent.clear();

    const int stopping = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.SetOrderCallback(stopping, [&](TModbusMaster*, int, uint8_t) { master.SetActive(false); });
    master.Reply(StatusOk);
    EXPECT_EQ(master.Sent.size(), 1u) << "a stopped master sends nothing more";
    EXPECT_EQ(master.Order(1), nullptr) << "stopping empties the table";
    EXPECT_EQ(master.CurrentIndex(), -1);
}

TEST(ModbusEngine, ExceptionInCallbackLeavesTheMasterServing)
{
    TFakeTransportMaster master;
    const int throwing = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    const int next = master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.SetOrderCallback(throwing, [](TModbusMaster*, int, uint8_t) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(master.Reply(StatusOk), std::runtime_error);
    EXPECT_EQ(master.Order(throwing), nullptr);
    EXPECT_EQ(master.SentIds(), (std::vector<int>{throwing, next}));
}

TEST(ModbusEngine, FatalSendStopsTheMasterForGood)
{
    TFakeTransportMaster master;
    int fatalReports = 0;
    master.OnFatalError = [&](TModbusMaster*) { ++fatalReports; };
    master.SendResult = 2;
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    EXPECT_EQ(fatalReports, 1);
    EXPECT_TRUE(master.IsFatal());
    EXPECT_FALSE(master.IsRunning());
    master.SendResult = 0;
    master.SetActive(true);
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.Tick(5);
    EXPECT_EQ(master.Sent.size(), 1u);
    EXPECT_TRUE(master.Completions.empty());
}

TEST(ModbusEngine, StoppingDropsEveryOrderWithoutCallbacks)
{
    TFakeTransportMaster master;
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.ReadHoldingRegisters(1, 0, 1, OrderCyclic);
    master.SetActive(false);
    EXPECT_EQ(master.Order(0), nullptr);
    EXPECT_EQ(master.Order(1), nullptr);
    EXPECT_FALSE(master.IsResponseTimerActive());
    master.SetActive(true);
    master.Tick(3);
    EXPECT_TRUE(master.Completions.empty());
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, 1, OrderOneShot), 0);
}

TEST(ModbusEngine, MaxCountOrdersRefusesWhileRunningAndAbove256)
{
    TFakeTransportMaster master;
    try {
        master.SetMaxCountOrders(10);
        FAIL() << "no exception while running";
    } catch (const EModbusMasterChangeMaxCountOrdersInRun& error) {
        EXPECT_STREQ(error.what(), "Невозможно изменить максимальное количество заявок, если ModbusMaster запущен !");
    }
    master.SetActive(false);
    try {
        master.SetMaxCountOrders(300);
        FAIL() << "no exception for 300";
    } catch (const EModbusMasterMaxCountOrdersTooBig& error) {
        EXPECT_STREQ(error.what(), "Слишком большое значение максимального количества заявок: 300 !");
        EXPECT_EQ(error.RequestedCount, 300);
    }
    EXPECT_EQ(master.MaxCountOrders(), 256);
    for (int i = 0; i < 6; ++i)
        master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.SetMaxCountOrders(4);
    EXPECT_EQ(master.MaxCountOrders(), 4);
    EXPECT_NE(master.Order(3), nullptr);
    EXPECT_EQ(master.Order(4), nullptr);
    EXPECT_EQ(master.Order(5), nullptr);
}

struct EncodingCase {
    const char* name;
    uint8_t functionCode;
    uint32_t startAddress;
    uint16_t count;
    std::vector<uint16_t> data;
    std::vector<uint8_t> request;
    uint16_t expectedLength;
    friend void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }
};

class ModbusRequestEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ModbusRequestEncoding, BytesAndExpectedReplyLength)
{
    const EncodingCase& c = GetParam();
    TModbusMasterOrder order;
    order.UnitId = 255;
    order.FunctionCode = c.functionCode;
    order.StartAddress = c.startAddress;
    order.Count = c.count;
    order.Data = c.data;
    std::vector<uint8_t> bytes(TModbusMaster::MaxRequestLength);
    int length = 0;
    ASSERT_EQ(TFakeTransportMaster::BuildRequest(order, bytes.data(), length), 0);
    bytes.resize(size_t(length));
    EXPECT_EQ(bytes, c.request);
    EXPECT_EQ(order.ExpectedLength, c.expectedLength);
}

INSTANTIATE_TEST_SUITE_P(
    , ModbusRequestEncoding,
    testing::Values(
        EncodingCase{"readConfig", 3, 84, 56, {}, {255, 3, 0, 84, 0, 56}, 115},
        EncodingCase{"readInfo", 3, 78, 6, {}, {255, 3, 0, 78, 0, 6}, 15},
        EncodingCase{"readInput", 4, 0x10001, 2, {}, {255, 4, 0, 1, 0, 2}, 7},
        EncodingCase{"writeTwo", 16, 84, 2, {0xA8C0, 0x0A7F}, {255, 16, 0, 84, 0, 2, 4, 0xA8, 0xC0, 0x0A, 0x7F}, 6},
        EncodingCase{"writeOne", 6, 90, 1, {0x01F6}, {255, 6, 0, 90, 0x01, 0xF6}, 6},
        EncodingCase{"readMemory", 34, 0x12345678, 0x0102, {}, {255, 34, 0x02, 0x01, 0x78, 0x56, 0x34, 0x12}, 0x0104},
        EncodingCase{"writeMemory",
                     36,
                     0x0A0B0C0D,
                     3,
                     {0x2211, 0x0033, 0},
                     {255, 36, 3, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0x11, 0x22, 0x33},
                     2},
        EncodingCase{"function45", 45, 0, 1, {}, {255, 45}, 2},
        EncodingCase{"rawFrame", 0, 0x10005, 3, {0x0201, 0x0003}, {1, 2, 3}, 5}),
    [](const auto& info) { return info.param.name; });

TEST(ModbusEngine, ConfigurationWriteTravelsWithEveryBytePairExchanged)
{
    std::array<uint8_t, 114> image{};
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i);
    TFakeTransportMaster master;
    master.WriteMultipleRegisters(255, 84, 57, image.data());
    const std::vector<uint8_t>& request = master.Sent.at(0).Request;
    ASSERT_EQ(request.size(), 121u);
    EXPECT_EQ(request[6], 114);
    for (size_t i = 0; i < image.size(); i += 2) {
        EXPECT_EQ(request[7 + i], image[i + 1]);
        EXPECT_EQ(request[8 + i], image[i]);
    }
}

TEST(ModbusEngine, TraceSinkIsToldRepliesTimeOutsAndRetransmissions)
{
    struct TRecorder : TModbusTraceSink {
        std::vector<std::string> Lines;
        void Trace(TModbusTraceEvent event, const uint8_t*, int count, uint8_t status) override
        {
            Lines.push_back(std::to_string(int(event)) + "/" + std::to_string(count) + "/" + std::to_string(status));
        }
    } recorder;
    TFakeTransportMaster master(0, 1);
    master.TraceSink = &recorder;
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.Reply(StatusOk);
    master.ReadHoldingRegisters(1, 0, 1, OrderOneShot);
    master.Tick();
    master.Tick();
    const auto line = [](TModbusTraceEvent event, int count, int status) {
        return std::to_string(int(event)) + "/" + std::to_string(count) + "/" + std::to_string(status);
    };
    EXPECT_EQ(recorder.Lines, (std::vector<std::string>{line(TModbusTraceEvent::Received, 1, StatusOk),
                                                        line(TModbusTraceEvent::Timeout, 0, StatusOk),
                                                        line(TModbusTraceEvent::Retransmission, 0, StatusOk),
                                                        line(TModbusTraceEvent::Timeout, 0, StatusOk)}));
}
