// The master's verdicts on gateways that misbehave, each against a scripted loopback peer: what the
// order ends with, how many times its request went out, and how long that took in ticks of the
// master's own response timer, so that a loaded machine cannot make a fast verdict look slow.
#include "ModbusMaster.h"
#include "ScriptedServer.h"
#include "TickCountingMaster.h"
#include "Wait.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace {

constexpr int TimeoutTicks = 20;
constexpr int RepeatCount = 2;

// Counts the transmissions it traces as well.
class TCountingMaster : public TTickCountingMaster, public TModbusTraceSink {
public:
    // The master's own destructor closes the connection and traces it, after this sink is gone.
    ~TCountingMaster() override { TraceSink = nullptr; }
    void Trace(TModbusTraceEvent event, const uint8_t*, int, uint8_t) override
    {
        if (event == TModbusTraceEvent::Retransmission)
            ++Transmissions;
    }
    int Transmissions = 1;
};

std::unique_ptr<TCountingMaster> MasterFor(quint16 port)
{
    auto master = std::make_unique<TCountingMaster>();
    master->SetParameters("IPADDRESS=127.0.0.1\r\nTCPPORT=" + std::to_string(port) + "\r\nTIMEOUT=" +
                          std::to_string(TimeoutTicks) + "\r\nREPEATCOUNT=" + std::to_string(RepeatCount) + "\r\n");
    master->TraceSink = master.get();
    master->SetActive(true);
    return master;
}

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

constexpr uint8_t Unit = 7;
constexpr uint16_t Address = 100;

QByteArray Pdu(std::initializer_list<uint8_t> bytes)
{
    QByteArray pdu;
    for (uint8_t byte : bytes)
        pdu.append(char(byte));
    return pdu;
}

// A read reply from its byte count on, as the peer chooses to send it.
QByteArray ReadReply(const TScriptedRequest& request, int byteCount, int registers)
{
    QByteArray pdu = Pdu({request.FunctionCode(), uint8_t(byteCount)});
    for (int i = 0; i < registers; ++i)
        pdu += Pdu({0x12, uint8_t(i)});
    return MbapFrame(request.TransactionId(), request.UnitId(), pdu);
}

// The echo of a write request (function, address, and count or value), cut short by `shortBy` bytes.
QByteArray Echo(const TScriptedRequest& request, int shortBy)
{
    const QByteArray echo = request.Frame.mid(7, 5);
    return MbapFrame(request.TransactionId(), request.UnitId(), echo.left(echo.size() - shortBy));
}

using TQueue = std::function<int(TModbusMaster&)>;

TQueue ReadOf(uint16_t count)
{
    return [count](TModbusMaster& master) { return master.ReadHoldingRegisters(Unit, Address, count, OrderOneShot); };
}

const TQueue Read4 = ReadOf(4);

const TQueue Write16 = [](TModbusMaster& master) {
    const std::array<uint16_t, 2> registers{1, 2};
    return master.WriteMultipleRegisters(Unit, Address, registers);
};

const TQueue Write6 = [](TModbusMaster& master) {
    const uint16_t value = 5;
    return master.AddOrder(Unit, 6, Address, 1, OrderOneShot, &value);
};

// A coil write goes as a raw frame, one word a byte, its echo six bytes long.
const TQueue Write5 = [](TModbusMaster& master) {
    const std::array<uint16_t, 6> frame{Unit, 5, 0, Address, 0xFF, 0};
    return master.AddOrder(Unit, 0, 6, 6, OrderOneShot, frame.data());
};

enum class TPeer { Scripted, ClosesOnAccept, ClosedPort };
// How long the verdict may take: within one time-out in all, or every transmission waited out.
enum class TTicks { AtOnce, WaitedOut };

struct THostileCase {
    const char* Name;
    TPeer Peer;
    TQueue Queue;
    TScript Script;
    uint8_t Status;
    int Transmissions;
    TTicks Ticks;
    TConnectionFailure Failure = TConnectionFailure::None;
    friend void PrintTo(const THostileCase& c, std::ostream* os) { *os << c.Name; }
};

class HostileGateway : public testing::TestWithParam<THostileCase> {};

TEST_P(HostileGateway, VerdictTransmissionsAndTicks)
{
    const THostileCase& c = GetParam();
    TScriptedServer server(c.Script);
    ASSERT_TRUE(server.Listen());
    server.SetCloseOnAccept(c.Peer == TPeer::ClosesOnAccept);
    auto master = MasterFor(c.Peer == TPeer::ClosedPort ? ClosedPort() : server.Port());

    int completions = 0;
    uint8_t status = 0xFF;
    const int id = c.Queue(*master);
    ASSERT_GE(id, 0);
    master->SetOrderCallback(id, [&](TModbusMaster*, int, uint8_t s) {
        ++completions;
        status = s;
    });
    ASSERT_TRUE(WaitUntil([&] { return completions > 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(int(status), int(c.Status));
    EXPECT_EQ(master->Transmissions, c.Transmissions);
    EXPECT_EQ(master->ConnectionFailure(), c.Failure);
    if (c.Ticks == TTicks::AtOnce) {
        EXPECT_LT(master->Ticks, TimeoutTicks);
    } else {
        EXPECT_GE(master->Ticks, c.Transmissions * TimeoutTicks);
    }
    if (c.Peer == TPeer::Scripted) {
        EXPECT_EQ(int(server.Requests().size()), c.Transmissions);
    }
    EXPECT_EQ(completions, 1);
}

TScriptedAnswer Silence(const TScriptedRequest&)
{
    return {};
}

// Two exception replies to the request in one segment, as a gateway that repeats itself sends them.
TScriptedAnswer TwoExceptions(const TScriptedRequest& r)
{
    return {ExceptionReply(r, 2) + ExceptionReply(r, 2)};
}

INSTANTIATE_TEST_SUITE_P(
    , HostileGateway,
    testing::Values(THostileCase{"silent", TPeer::Scripted, Read4, Silence, StatusNoReply, 3, TTicks::WaitedOut},
                    THostileCase{"portClosed", TPeer::ClosedPort, Read4, Silence, StatusNoReply, 3, TTicks::AtOnce,
                                 TConnectionFailure::Refused},
                    THostileCase{"acceptsAndCloses", TPeer::ClosesOnAccept, Read4, Silence, StatusNoReply, 3,
                                 TTicks::AtOnce, TConnectionFailure::ClosedByPeer},
                    THostileCase{"closesOnTheRequest", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest&) {
                                     return TScriptedAnswer{{}, 0, true};
                                 },
                                 StatusNoReply, 3, TTicks::AtOnce, TConnectionFailure::ClosedByPeer},
                    // A copy of the previous request's reply, from the unit asked then, arrives first.
                    THostileCase{"lateCopyFromThePreviousUnit", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) {
                                     QByteArray late = ReadReply(r, 8, 4);
                                     late[1] = char(r.TransactionId() - 1);
                                     late[6] = char(Unit - 1);
                                     return TScriptedAnswer{late + ReadReply(r, 8, 4)};
                                 },
                                 StatusOk, 1, TTicks::AtOnce},
                    THostileCase{"lateCopyAlone", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) {
                                     QByteArray late = ReadReply(r, 8, 4);
                                     late[1] = char(r.TransactionId() - 1);
                                     late[6] = char(Unit - 1);
                                     return TScriptedAnswer{late};
                                 },
                                 StatusNoReply, 3, TTicks::WaitedOut},
                    THostileCase{"threeRegistersOfFour", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{ReadReply(r, 6, 3)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"fiveRegistersOfFour", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{ReadReply(r, 10, 5)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"byteCountShortOfTheData", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{ReadReply(r, 6, 4)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"write16EchoOneByteShort", TPeer::Scripted, Write16,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{Echo(r, 1)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"write6EchoOneByteShort", TPeer::Scripted, Write6,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{Echo(r, 1)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"write5EchoOneByteShort", TPeer::Scripted, Write5,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{Echo(r, 1)}; },
                                 StatusWrongLength, 1, TTicks::AtOnce},
                    THostileCase{"write16Echoed", TPeer::Scripted, Write16,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{Echo(r, 0)}; }, StatusOk, 1,
                                 TTicks::AtOnce},
                    THostileCase{"exception", TPeer::Scripted, Read4,
                                 [](const TScriptedRequest& r) { return TScriptedAnswer{ExceptionReply(r, 2)}; },
                                 StatusException, 1, TTicks::AtOnce},
                    // Bytes beyond a whole reply make it a frame of the wrong length, whatever was asked.
                    THostileCase{"twoExceptionsInOneSegmentToARead1", TPeer::Scripted, ReadOf(1), TwoExceptions,
                                 StatusWrongLength, 3, TTicks::AtOnce},
                    THostileCase{"twoExceptionsInOneSegmentToARead4", TPeer::Scripted, Read4, TwoExceptions,
                                 StatusWrongLength, 3, TTicks::AtOnce},
                    THostileCase{"twoExceptionsInOneSegmentToARead5", TPeer::Scripted, ReadOf(5), TwoExceptions,
                                 StatusWrongLength, 3, TTicks::AtOnce},
                    THostileCase{"twoExceptionsInOneSegmentToARead125", TPeer::Scripted, ReadOf(125), TwoExceptions,
                                 StatusWrongLength, 3, TTicks::AtOnce}),
    [](const auto& info) { return info.param.Name; });

}  // namespace
