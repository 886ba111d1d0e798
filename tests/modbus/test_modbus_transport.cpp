// The ModbusTCP master against real peers on loopback: the simulated module and a scripted
// server for broken, late, split and missing replies.
#include "FloodServer.h"
#include "ModbusMaster.h"
#include "ModuleSimServer.h"
#include "ScriptedServer.h"
#include "TickCountingMaster.h"
#include "Wait.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <set>
#include <span>
#include <string>

namespace {

struct TResult {
    bool Done = false;
    int Completions = 0;
    uint8_t Status = 0xFF;
    uint8_t ExceptionCode = 0;
    int RegisterCount = 0;
    std::vector<uint8_t> Data;
};

// Time-outs in ticks: short where the peer is meant to stay silent, so those tests stay quick
// (about 40 ms a transmission); long enough elsewhere that a loaded machine never turns a slow
// answer into a retransmission.
constexpr int QuickTimeout = 3;
constexpr int PatientTimeout = 50;

std::unique_ptr<TTickCountingMaster> MasterFor(quint16 port, int timeout = PatientTimeout, int repeatCount = 2,
                                               const std::string& address = "127.0.0.1")
{
    auto master = std::make_unique<TTickCountingMaster>();
    master->SetParameters("IPADDRESS=" + address + "\r\nTCPPORT=" + std::to_string(port) + "\r\nTIMEOUT=" +
                          std::to_string(timeout) + "\r\nREPEATCOUNT=" + std::to_string(repeatCount) + "\r\n");
    master->SetActive(true);
    return master;
}

void Watch(TModbusTCPMaster& master, int orderId, TResult& result, uint16_t registers)
{
    ASSERT_GE(orderId, 0);
    master.SetOrderCallback(orderId, [&result, registers](TModbusMaster* sender, int, uint8_t status) {
        ++result.Completions;
        result.Done = true;
        result.Status = status;
        result.ExceptionCode = sender->GetExceptionCode();
        result.RegisterCount = sender->GetReplyRegisterCount();
        result.Data.assign(2 * size_t(registers), 0);
        if (status == StatusOk)
            sender->GetReplyData(result.Data.data());
    });
}

TResult Read(TModbusTCPMaster& master, uint16_t start, uint16_t count, uint8_t unit = 255)
{
    TResult result;
    Watch(master, master.ReadHoldingRegisters(unit, start, count, OrderOneShot), result, count);
    EXPECT_TRUE(WaitUntil([&] { return result.Done; })) << "no completion";
    return result;
}

TResult Write(TModbusTCPMaster& master, uint16_t start, const std::vector<uint8_t>& image)
{
    TResult result;
    Watch(master, master.WriteMultipleRegisters(255, start, uint16_t(image.size() / 2), image.data()), result, 0);
    EXPECT_TRUE(WaitUntil([&] { return result.Done; })) << "no completion";
    return result;
}

std::vector<uint16_t> Registers(int count, uint16_t first = 0x0102)
{
    std::vector<uint16_t> values;
    for (int i = 0; i < count; ++i)
        values.push_back(uint16_t(first + 0x0202 * i));
    return values;
}

}  // namespace

TEST(ModbusTransport, ConfigurationBlockWrittenAndReadBackFromTheSimulator)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0)) << module.ErrorText().toStdString();
    auto master = MasterFor(module.Port());

    std::vector<uint8_t> image(114);
    for (size_t i = 0; i < 112; ++i)
        image[i] = uint8_t(3 * i + 1);
    image[112] = image[113] = 0xAA;
    const TResult written = Write(*master, 84, image);
    EXPECT_EQ(written.Status, StatusOk);
    EXPECT_EQ(master->TransactionId(), 1) << "the first frame carries transaction id 1";
    EXPECT_EQ(module.Register(84), image[0] | image[1] << 8) << "register k holds image bytes 2k (low), 2k+1";
    EXPECT_EQ(module.Register(140), 0xAAAA);

    const TResult read = Read(*master, 84, 56);
    EXPECT_EQ(read.Status, StatusOk);
    EXPECT_EQ(read.RegisterCount, 56);
    EXPECT_EQ(read.Data, std::vector<uint8_t>(image.begin(), image.begin() + 112));
    EXPECT_EQ(module.RequestCount(), 2);
    EXPECT_FALSE(master->IsResponseTimerActive()) << "an idle master must not tick";
}

TEST(ModbusTransport, InformationBlockFromTheSimulator)
{
    TModuleSimServer module;
    module.SetVersion(1, 3);
    module.SetMac({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    module.SetJumperFitted(true);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    auto master = MasterFor(module.Port());

    const TResult info = Read(*master, 78, 6);
    ASSERT_EQ(info.Status, StatusOk);
    EXPECT_EQ(info.Data, (std::vector<uint8_t>{0x03, 0x01, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0, 0, 1, 0}));
}

TEST(ModbusTransport, TypedRegisterBuffersWriteAndReadWithinTheirBounds)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    auto master = MasterFor(module.Port());
    const std::array<uint16_t, 3> written{0x1234, 0xABCD, 0x00FF};
    TResult write;
    Watch(*master, master->WriteMultipleRegisters(255, 84, written), write, 0);
    ASSERT_TRUE(WaitUntil([&] { return write.Done; }));
    ASSERT_EQ(write.Status, StatusOk);
    EXPECT_EQ(module.Register(85), 0xABCD);

    // Room for fewer registers than the reply holds, exactly as many, and more.
    for (const size_t room : {2u, 3u, 5u}) {
        std::vector<uint16_t> registers(room, 0x5555);
        bool done = false;
        master->SetOrderCallback(master->ReadHoldingRegisters(255, 84, 3, OrderOneShot),
                                 [&](TModbusMaster* sender, int, uint8_t) {
                                     sender->GetReplyData(std::span<uint16_t>(registers));
                                     done = true;
                                 });
        ASSERT_TRUE(WaitUntil([&] { return done; }));
        for (size_t i = 0; i < room; ++i)
            EXPECT_EQ(registers[i], i < written.size() ? written[i] : 0x5555) << "room " << room << ", register " << i;
    }
}

TEST(ModbusTransport, SilentServerThreeTransmissionsEachOnANewConnection)
{
    TScriptedServer server([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port(), QuickTimeout);

    const TResult result = Read(*master, 84, 56);
    EXPECT_EQ(result.Status, StatusNoReply);
    ASSERT_EQ(server.Requests().size(), 3u);
    std::set<int> connections;
    std::set<uint16_t> transactionIds;
    for (const TScriptedRequest& request : server.Requests()) {
        connections.insert(request.Connection);
        transactionIds.insert(request.TransactionId());
    }
    EXPECT_EQ(connections.size(), 3u);
    EXPECT_EQ(transactionIds, (std::set<uint16_t>{1, 2, 3}));
    EXPECT_FALSE(master->IsResponseTimerActive());
}

// A connection that cannot be made keeps the no-reply status, but is told with its cause and is not
// waited out: each of the three transmissions follows the failure within a tick or so of the
// master's own timer, where a silent peer costs the whole time-out each time.
TEST(ModbusTransport, ConnectionsThatCannotBeMadeAreToldAtOnceWithTheirCause)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    TScriptedServer listening(
        [](const TScriptedRequest& request) { return TScriptedAnswer{ReadRegistersReply(request, Registers(6))}; });
    ASSERT_TRUE(listening.Listen());

    struct TEvents : TModbusTraceSink {
        void Trace(TModbusTraceEvent event, const uint8_t*, int, uint8_t) override { Seen.push_back(event); }
        std::vector<TModbusTraceEvent> Seen;
    };
    using E = TModbusTraceEvent;
    const struct {
        const char* address;
        quint16 port;
        TConnectionFailure failure;
        E told;
    } cases[] = {
        {"127.0.0.1", closedPort, TConnectionFailure::Refused, E::ConnectionRefused},
        // Names are not looked up, and a malformed address is not guessed at.
        {"localhost", listening.Port(), TConnectionFailure::Unreachable, E::ConnectionFailed},
        {"127.0.0.999", listening.Port(), TConnectionFailure::Unreachable, E::ConnectionFailed},
        {"", listening.Port(), TConnectionFailure::Unreachable, E::ConnectionFailed},
    };
    for (const auto& c : cases) {
        auto master = MasterFor(c.port, PatientTimeout, 2, c.address);
        TEvents events;
        master->TraceSink = &events;
        EXPECT_EQ(Read(*master, 78, 6).Status, StatusNoReply) << c.address;
        // Three transmissions in less than one time-out of the three a silent peer would cost.
        EXPECT_LT(master->Ticks, PatientTimeout) << c.address;
        EXPECT_EQ(master->ConnectionFailure(), c.failure) << c.address;
        EXPECT_EQ(events.Seen, (std::vector<E>{c.told, E::Retransmission, c.told, E::Retransmission, c.told}))
            << c.address;
        master->TraceSink = nullptr;
    }
    EXPECT_EQ(listening.ConnectionCount(), 0);

    // A peer that takes the connection and stays silent is waited out, and no connection failed.
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    auto master = MasterFor(silent.Port(), QuickTimeout, 0);
    EXPECT_EQ(Read(*master, 78, 6).Status, StatusNoReply);
    EXPECT_EQ(master->ConnectionFailure(), TConnectionFailure::None);
}

TEST(ModbusTransport, AddressesAreReadByTheDecimalRule)
{
    // Two modules whose addresses an octal reading of the zero-led groups would confuse.
    const auto answering = [](const TScriptedRequest& r) {
        return TScriptedAnswer{ReadRegistersReply(r, Registers(6))};
    };
    TScriptedServer ten(answering), eight(answering);
    ASSERT_TRUE(ten.Listen(QHostAddress("127.0.0.10"))) << "127.0.0.10 must be bindable on loopback";
    ASSERT_TRUE(eight.Listen(QHostAddress("127.0.0.8")));

    const struct {
        const char* address;
        quint16 port;
        TScriptedServer* reached;  // nullptr: neither, no reply
    } cases[] = {
        {"127.000.000.010", ten.Port(), &ten},  {"127.0.0.010", ten.Port(), &ten},
        {"127.0.0.10", ten.Port(), &ten},       {"127.000.000.008", eight.Port(), &eight},
        {"127.0.0.0x8", eight.Port(), nullptr}, {"0x7f.0.0.8", eight.Port(), nullptr},
        {"$7F.0.0.8", eight.Port(), nullptr},   {"127.0.0.+8", eight.Port(), nullptr},
        {"127.8", eight.Port(), nullptr},       {"2130706440", eight.Port(), nullptr},  // 127.0.0.8 as one number
    };
    for (const auto& c : cases) {
        const int tenBefore = ten.ConnectionCount();
        const int eightBefore = eight.ConnectionCount();
        auto master = MasterFor(c.port, c.reached ? PatientTimeout : QuickTimeout, c.reached ? 2 : 0, c.address);
        EXPECT_EQ(Read(*master, 78, 6).Status, c.reached ? StatusOk : StatusNoReply) << c.address;
        EXPECT_EQ(ten.ConnectionCount() - tenBefore, c.reached == &ten ? 1 : 0) << c.address;
        EXPECT_EQ(eight.ConnectionCount() - eightBefore, c.reached == &eight ? 1 : 0) << c.address;
        if (c.reached) {
            EXPECT_EQ(master->GetConnectionText(), c.address + (":" + std::to_string(c.port))) << "kept as typed";
        }
    }
}

struct BrokenReplyCase {
    const char* name;
    std::function<TScriptedAnswer(const TScriptedRequest&)> answer;
    uint8_t status;
    size_t transmissions;
    uint8_t exceptionCode;
    friend void PrintTo(const BrokenReplyCase& c, std::ostream* os) { *os << c.name; }
};

class ModbusTransportReplies : public testing::TestWithParam<BrokenReplyCase> {};

TEST_P(ModbusTransportReplies, Judged)
{
    const BrokenReplyCase& c = GetParam();
    TScriptedServer server(c.answer);
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port(), c.status == StatusNoReply ? QuickTimeout : PatientTimeout);

    const TResult result = Read(*master, 78, 6);
    EXPECT_EQ(result.Status, c.status);
    EXPECT_EQ(result.ExceptionCode, c.exceptionCode);
    EXPECT_EQ(server.Requests().size(), c.transmissions);
    EXPECT_EQ(result.Completions, 1);
    if (c.status == StatusOk) {
        std::vector<uint8_t> expected;
        for (uint16_t value : Registers(6))
            expected.insert(expected.end(), {uint8_t(value), uint8_t(value >> 8)});
        EXPECT_EQ(result.Data, expected);
    }
}

namespace {

QByteArray WithLengthField(QByteArray frame, int length)
{
    frame[4] = char(length >> 8);
    frame[5] = char(length);
    return frame;
}

QByteArray FromUnit(QByteArray frame, uint8_t unit)
{
    frame[6] = char(unit);
    return frame;
}

QByteArray WithFunction(QByteArray frame, uint8_t functionCode)
{
    frame[7] = char(functionCode);
    return frame;
}

QByteArray Stale(const TScriptedRequest& request)
{
    QByteArray frame = ReadRegistersReply(request, Registers(6, 0xDEAD));
    frame[1] = char(request.TransactionId() - 1);
    return frame;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    , ModbusTransportReplies,
    testing::Values(BrokenReplyCase{"fromUnit1",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{FromUnit(ReadRegistersReply(r, Registers(6)), 1)};
                                    },
                                    StatusWrongUnit, 3, 0},
                    BrokenReplyCase{"unit1ThenRight",
                                    [](const TScriptedRequest& r) {
                                        const QByteArray reply = ReadRegistersReply(r, Registers(6));
                                        return TScriptedAnswer{r.Index == 0 ? FromUnit(reply, 1) : reply};
                                    },
                                    StatusOk, 2, 0},
                    BrokenReplyCase{"lengthFieldShort",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{
                                            WithLengthField(ReadRegistersReply(r, Registers(6)), 14)};
                                    },
                                    StatusWrongLength, 3, 0},
                    BrokenReplyCase{"bytesBeyondTheReply",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{ReadRegistersReply(r, Registers(6)) +
                                                               QByteArray(2, '\0')};
                                    },
                                    StatusWrongLength, 3, 0},
                    BrokenReplyCase{"exceptionCode2",
                                    [](const TScriptedRequest& r) { return TScriptedAnswer{ExceptionReply(r, 2)}; },
                                    StatusException, 1, 2},
                    // Code 0 is no code the protocol defines, but it is an answer: told at once.
                    BrokenReplyCase{"exceptionCode0",
                                    [](const TScriptedRequest& r) { return TScriptedAnswer{ExceptionReply(r, 0)}; },
                                    StatusException, 1, 0},
                    BrokenReplyCase{"exceptionCode0InPieces",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{ExceptionReply(r, 0), 4};
                                    },
                                    StatusException, 1, 0},
                    BrokenReplyCase{"oneByteChunks",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{ReadRegistersReply(r, Registers(6)), 1};
                                    },
                                    StatusOk, 1, 0},
                    BrokenReplyCase{"staleThenRightTogether",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{Stale(r) + ReadRegistersReply(r, Registers(6))};
                                    },
                                    StatusOk, 1, 0},
                    BrokenReplyCase{"staleThenRightInPieces",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{Stale(r) + ReadRegistersReply(r, Registers(6)), 5};
                                    },
                                    StatusOk, 1, 0},
                    BrokenReplyCase{"function16ToARead",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{WithFunction(ReadRegistersReply(r, Registers(6)), 16)};
                                    },
                                    StatusWrongFunction, 3, 0},
                    BrokenReplyCase{"function4ToARead",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{WithFunction(ReadRegistersReply(r, Registers(6)), 4)};
                                    },
                                    StatusWrongFunction, 3, 0},
                    BrokenReplyCase{"exceptionOfAnotherFunction",
                                    [](const TScriptedRequest& r) {
                                        return TScriptedAnswer{WithFunction(ExceptionReply(r, 2), 0x90)};
                                    },
                                    StatusWrongFunction, 3, 2},
                    BrokenReplyCase{"function4ThenRight",
                                    [](const TScriptedRequest& r) {
                                        const QByteArray reply = ReadRegistersReply(r, Registers(6));
                                        return TScriptedAnswer{r.Index == 0 ? WithFunction(reply, 4) : reply};
                                    },
                                    StatusOk, 2, 0},
                    BrokenReplyCase{"staleAlone", [](const TScriptedRequest& r) { return TScriptedAnswer{Stale(r)}; },
                                    StatusNoReply, 3, 0}),
    [](const auto& info) { return info.param.name; });

TEST(ModbusTransport, OversizedReplyFailsWithoutHarm)
{
    TScriptedServer server([](const TScriptedRequest& r) {
        return TScriptedAnswer{ReadRegistersReply(r, Registers(152))};  // 313 bytes
    });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port(), QuickTimeout, 0);
    const TResult result = Read(*master, 78, 6);
    EXPECT_TRUE(result.Status == StatusNoReply || result.Status == StatusWrongLength) << int(result.Status);
}

TEST(ModbusTransport, ServerClosingMidExchangeFailsTheOrderAndTheNextReconnects)
{
    bool closing = true;
    TScriptedServer server([&](const TScriptedRequest& r) {
        return closing ? TScriptedAnswer{{}, 0, true} : TScriptedAnswer{ReadRegistersReply(r, Registers(6))};
    });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port(), QuickTimeout);

    EXPECT_EQ(Read(*master, 78, 6).Status, StatusNoReply);
    const int connectionsSoFar = server.ConnectionCount();
    closing = false;
    master->SetParameters("TIMEOUT=" + std::to_string(PatientTimeout) + "\r\n");
    EXPECT_EQ(Read(*master, 78, 6).Status, StatusOk);
    EXPECT_EQ(server.ConnectionCount(), connectionsSoFar + 1);
}

TEST(ModbusTransport, ServerClosingAfterEveryReplyNeverStopsTheMaster)
{
    // The next request goes out from the callback, often before the close has been noticed:
    // a send on a lost connection must end by time-out and reconnect, not kill the master.
    TScriptedServer server([](const TScriptedRequest& r) {
        return TScriptedAnswer{ReadRegistersReply(r, Registers(6)), 0, true};
    });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port());
    std::vector<uint8_t> statuses;
    TModbusOrderCompleteEvent chain = [&](TModbusMaster* sender, int, uint8_t status) {
        statuses.push_back(status);
        if (statuses.size() < 5)
            sender->SetOrderCallback(sender->ReadHoldingRegisters(255, 78, 6, OrderOneShot), chain);
    };
    master->SetOrderCallback(master->ReadHoldingRegisters(255, 78, 6, OrderOneShot), chain);
    ASSERT_TRUE(WaitUntil([&] { return statuses.size() == 5; })) << statuses.size();
    EXPECT_EQ(statuses, std::vector<uint8_t>(5, StatusOk));
    EXPECT_FALSE(master->IsFatal());
    EXPECT_EQ(server.ConnectionCount(), 5);
}

TEST(ModbusTransport, StoppingEndsTheInterruptedOrderAndLaterOrdersAreServed)
{
    bool silent = true;
    TScriptedServer server([&](const TScriptedRequest& r) {
        return silent ? TScriptedAnswer{} : TScriptedAnswer{ReadRegistersReply(r, Registers(6))};
    });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port());
    master->SetParameters("TIMEOUT=1000\r\n");

    TResult interrupted;
    Watch(*master, master->ReadHoldingRegisters(255, 78, 6, OrderOneShot), interrupted, 6);
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 1; }));
    master->SetActive(false);
    EXPECT_TRUE(interrupted.Done);
    EXPECT_EQ(interrupted.Status, StatusNoReply);
    EXPECT_FALSE(master->IsResponseTimerActive());

    silent = false;
    master->SetActive(true);
    const TResult next = Read(*master, 78, 6);
    EXPECT_EQ(next.Status, StatusOk);
    EXPECT_EQ(interrupted.Completions, 1);
}

TEST(ModbusTransport, AddressChangesOnlyWhileClosed)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    auto master = MasterFor(module.Port());
    ASSERT_EQ(Read(*master, 78, 6).Status, StatusOk);
    EXPECT_NO_THROW(master->SetParameters("IPADDRESS=127.0.0.1\r\nTCPPORT=" + std::to_string(module.Port()) + "\r\n"))
        << "the same address and port are no change";
    EXPECT_THROW(master->SetParameters("TCPPORT=1\r\n"), ESocketError);
    master->SetActive(false);
    master->SetParameters("IPADDRESS=127.0.0.2\r\nTCPPORT=1\r\n");
    EXPECT_EQ(master->GetConnectionText(), "127.0.0.2:1");
}

TEST(ModbusTransport, CallbackWithANestedEventLoopCompletesOnce)
{
    // The reply, then a copy of it a moment later, while the callback's loop is running.
    TScriptedServer server([](const TScriptedRequest& r) {
        const QByteArray reply = ReadRegistersReply(r, Registers(6));
        return TScriptedAnswer{reply + reply, int(reply.size())};
    });
    ASSERT_TRUE(server.Listen());
    auto master = MasterFor(server.Port());

    TResult first;
    const int id = master->ReadHoldingRegisters(255, 78, 6, OrderOneShot);
    master->SetOrderCallback(id, [&](TModbusMaster* sender, int, uint8_t status) {
        ++first.Completions;
        first.Status = status;
        // As a modal message box would: the loop runs until the copy has arrived and been read.
        int turns = 0;
        WaitUntil([&] { return server.AnswersFinished() == 1 && ++turns > 5; });
        first.RegisterCount = sender->GetReplyRegisterCount();
        first.Done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return first.Done; }));
    EXPECT_EQ(first.Completions, 1);
    EXPECT_EQ(first.Status, StatusOk);
    EXPECT_EQ(first.RegisterCount, 6) << "the reply stays as it was while the callback runs";
    EXPECT_EQ(server.Requests().size(), 1u);

    EXPECT_EQ(Read(*master, 78, 6).Status, StatusOk);
    EXPECT_EQ(first.Completions, 1);
}

namespace {

// The resident set of this process in KiB, as the system counts it.
long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Growth allowed over the idle figure: the socket's bounded buffer and the allocator's slack,
// far below what an unbounded buffer takes in a fraction of a second of flood.
constexpr long FloodGrowthLimitKiB = 16 * 1024;

#ifdef __SANITIZE_ADDRESS__
// The sanitizer holds freed blocks in quarantine (256 MB by default): the resident set then says
// nothing about what the program keeps.
constexpr bool ResidentSetShowsWhatIsKept = false;
#else
constexpr bool ResidentSetShowsWhatIsKept = true;
#endif

// A master against a flooding peer, with the highest resident set seen while waiting.
struct TFloodedMaster {
    explicit TFloodedMaster(TFloodServer::TMode mode) : Server(mode)
    {
        EXPECT_TRUE(Server.Listen());
        Master = MasterFor(Server.Port());
        Idle = Peak = ResidentKiB();
    }
    bool WaitSampling(const std::function<bool()>& predicate)
    {
        return WaitUntil([&] {
            Peak = std::max(Peak, ResidentKiB());
            return predicate();
        });
    }
    void ExpectBoundedGrowth() const
    {
        if (ResidentSetShowsWhatIsKept) {
            EXPECT_LT(Peak - Idle, FloodGrowthLimitKiB) << "idle " << Idle << " KiB, peak " << Peak << " KiB";
        }
    }

    TFloodServer Server;
    std::unique_ptr<TModbusTCPMaster> Master;
    long Idle = 0;
    long Peak = 0;
};

}  // namespace

TEST(ModbusTransportFlood, PeerFloodingDuringARequestKeepsMemoryBoundedUntilTheTimeout)
{
    TFloodedMaster flooded(TFloodServer::TMode::InsteadOfFirstReply);
    TResult result;
    Watch(*flooded.Master, flooded.Master->ReadHoldingRegisters(255, 78, 6, OrderOneShot), result, 6);
    ASSERT_TRUE(flooded.WaitSampling([&] { return result.Done; }));
    EXPECT_EQ(result.Status, StatusOk) << "the time-out ends the flooded transmission, the next one is answered";
    EXPECT_EQ(flooded.Server.Connections(), 2);
    EXPECT_TRUE(flooded.Server.FloodEnded());
    EXPECT_GT(flooded.Server.BytesFlooded(), 1 << 20) << "the flood should have lasted long enough to show";
    flooded.ExpectBoundedGrowth();
}

TEST(ModbusTransportFlood, PeerSendingUnaskedIsCutOffAndTheNextRequestReconnects)
{
    TFloodedMaster flooded(TFloodServer::TMode::AfterFirstReply);
    EXPECT_EQ(Read(*flooded.Master, 78, 6).Status, StatusOk);
    flooded.Server.StartFlood();
    EXPECT_TRUE(flooded.WaitSampling([&] { return flooded.Server.FloodEnded(); }))
        << "the master should hang up on a peer that keeps sending unasked";
    EXPECT_FALSE(flooded.Master->IsResponseTimerActive());

    EXPECT_EQ(Read(*flooded.Master, 78, 6).Status, StatusOk);
    EXPECT_EQ(flooded.Server.Connections(), 2);
    flooded.ExpectBoundedGrowth();
}
