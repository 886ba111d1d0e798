// Requests to devices behind a module, against a scripted loopback server: the raw frames of the
// bit functions and what is made of their replies, the unit search's verdict on each kind of
// answer, and the latency figures of a poll.
#include "DevicePoll.h"
#include "DeviceRequests.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "PollStatistics.h"
#include "ScriptedServer.h"
#include "UnitSearch.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

QByteArray Pdu(std::initializer_list<int> bytes)
{
    QByteArray pdu;
    for (int byte : bytes)
        pdu.append(char(byte));
    return pdu;
}

TDeviceReply Await(const std::function<void(TDeviceDone)>& request)
{
    std::optional<TDeviceReply> reply;
    request([&](const TDeviceReply& r) { reply = r; });
    EXPECT_TRUE(WaitUntil([&] { return reply.has_value(); }));
    return reply.value_or(TDeviceReply{});
}

}  // namespace

// Bits come least significant first in each byte; a reply that holds fewer bits than asked, or a
// coil write answered with something else than its echo, is no success.
TEST(DeviceRequests, BitFunctionsGoAsRawFramesAndTheirRepliesAreChecked)
{
    QByteArray reply;
    TScriptedServer server([&](const TScriptedRequest& request) {
        return TScriptedAnswer{MbapFrame(request.TransactionId(), request.UnitId(), reply)};
    });
    ASSERT_TRUE(server.Listen());
    TModuleClient client("127.0.0.1", server.Port(), {200, 1});

    reply = Pdu({1, 2, 0b10000101, 0b10});
    TDeviceReply read = Await([&](TDeviceDone done) { ReadDevice(client, {7, 1, 300, 10}, done); });
    ASSERT_TRUE(read.Result.Ok()) << read.Result.Text;
    EXPECT_EQ(read.Raw, (std::vector<uint16_t>{1, 0, 1, 0, 0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(server.Requests().back().Frame.mid(6), Pdu({7, 1, 0x01, 0x2C, 0, 10}));

    const struct {
        const char* Name;
        std::function<void(TDeviceDone)> Request;
        QByteArray Reply;
    } failures[] = {
        {"byte count short of the bits asked",
         [&](TDeviceDone done) {
             ReadDevice(client, {7, 2, 0, 10}, done);
         },
         Pdu({2, 1, 0xFF, 0xFF})},
        {"coil write answered with the coil off", [&](TDeviceDone done) { WriteDeviceCoil(client, 7, 3, true, done); },
         Pdu({5, 0, 3, 0, 0})},
    };
    for (const auto& c : failures) {
        reply = c.Reply;
        read = Await(c.Request);
        EXPECT_EQ(read.Result.Status, StatusWrongLength) << c.Name;
        EXPECT_TRUE(read.Raw.empty()) << c.Name;
    }

    reply = Pdu({5, 0, 3, 0xFF, 0});
    EXPECT_TRUE(Await([&](TDeviceDone done) { WriteDeviceCoil(client, 7, 3, true, done); }).Result.Ok());
    EXPECT_EQ(server.Requests().back().Frame.mid(6), Pdu({7, 5, 0, 3, 0xFF, 0}));

    // Out of the protocol's ranges: refused before anything is sent.
    const int sent = int(server.Requests().size());
    EXPECT_LT(Await([&](TDeviceDone done) { ReadDevice(client, {0, 3, 0, 1}, done); }).Result.Status, 0);
    EXPECT_LT(Await([&](TDeviceDone done) { ReadDevice(client, {1, 3, 0, 126}, done); }).Result.Status, 0);
    EXPECT_LT(Await([&](TDeviceDone done) { ReadDevice(client, {1, 1, 0, 2001}, done); }).Result.Status, 0);
    EXPECT_EQ(int(server.Requests().size()), sent);
}

// Each kind of answer told apart; only the device's own answers count as found, and the summary
// has the channels' settings read at the start when nothing was found.
TEST(UnitSearch, ToldEachAnswerApart)
{
    TModuleConfig config = FactoryDefaults;
    config.Channels[1].SlaveAddress = 3;
    const TConfigImage image = BuildConfigImage(config);
    TScriptedServer server([&](const TScriptedRequest& request) -> TScriptedAnswer {
        switch (request.UnitId()) {
        case ModuleUnitId: return {ReadRegistersReply(request, {image.begin(), image.end() - 1})};
        case 3: return {ReadRegistersReply(request, {42})};
        case 4: return {ExceptionReply(request, 2)};
        case 5: return {ExceptionReply(request, ExceptionGatewayPath)};
        case 6: return {};
        default: return {ExceptionReply(request, ExceptionGatewayTarget)};
        }
    });
    ASSERT_TRUE(server.Listen());
    TUnitSearch search("127.0.0.1", server.Port(), {100, 3});
    std::vector<TUnitOutcome> outcomes;
    std::optional<TUnitSearchSummary> summary;
    size_t progressed = 0, total = 0;
    search.OnUnit = [&](const TUnitResult& result) { outcomes.push_back(result.Outcome); };
    search.OnProgress = [&](size_t done, size_t of, std::chrono::milliseconds) {
        progressed = done;
        total = of;
    };
    search.OnFinished = [&](const TUnitSearchSummary& s) { summary = s; };
    search.Start(3, 7, {});
    ASSERT_TRUE(WaitUntil([&] { return summary.has_value(); }));
    EXPECT_EQ(outcomes, (std::vector<TUnitOutcome>{TUnitOutcome::Answered, TUnitOutcome::DeviceException,
                                                   TUnitOutcome::PathUnavailable, TUnitOutcome::NoModuleAnswer,
                                                   TUnitOutcome::TargetFailed}));
    EXPECT_EQ(summary->Found, (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(progressed, 5u);
    EXPECT_EQ(total, 5u);
    EXPECT_TRUE(summary->Hint.empty());
    // One transmission each, whatever the client was given.
    EXPECT_EQ(std::count_if(server.Requests().begin(), server.Requests().end(),
                            [](const TScriptedRequest& r) { return r.UnitId() == 6; }),
              1);

    summary.reset();
    search.Start(7, 8, {});
    ASSERT_TRUE(WaitUntil([&] { return summary.has_value(); }));
    EXPECT_TRUE(summary->Found.empty());
    EXPECT_NE(summary->Hint.find("Канал 2: Ведомый, Скорость 115200, Паритет EVEN, Стоп-биты 2"), std::string::npos)
        << summary->Hint;

    // Stopped after the unit in flight.
    summary.reset();
    search.OnUnit = [&](const TUnitResult&) { search.Stop(); };
    search.Start(1, 247, {});
    ASSERT_TRUE(WaitUntil([&] { return summary.has_value(); }));
    EXPECT_TRUE(summary->Stopped);
    EXPECT_EQ(summary->Asked, 1u);
}

TEST(PollStatistics, CountsByKindAndTakesTheMedianOfTheLatest)
{
    TPollStatistics statistics;
    for (double ms : {4.0, 1.0, 3.0, 2.0})
        statistics.Count({{StatusOk, "", 0}, {}, ms});
    statistics.Count({{StatusException, "", 0x0B}, {}, 100});
    statistics.Count({{StatusNoReply, "", 0}, {}, 500});
    statistics.Count({{StatusWrongLength, "", 0}, {}, 1});
    EXPECT_EQ(statistics.Requests(), 7u);
    EXPECT_EQ(statistics.Replies(), 4u);
    EXPECT_EQ(statistics.Timeouts(), 1u);
    EXPECT_EQ(statistics.Failures(), 1u);
    EXPECT_EQ(statistics.Exceptions().at(0x0B), 1u);
    // Of the answers only: 1 2 3 4 100; a time-out says nothing about how fast the device is.
    EXPECT_EQ(statistics.MedianMs(), 3.0);
    EXPECT_EQ(statistics.WorstMs(), 100.0);
    EXPECT_EQ(statistics.LastMs(), 100.0);

    // The median forgets what lies further back than its window.
    for (size_t i = 0; i < TPollStatistics::MedianWindow; ++i)
        statistics.Count({{StatusOk, "", 0}, {}, i % 2 ? 10.0 : 20.0});
    EXPECT_EQ(statistics.MedianMs(), 15.0);
    EXPECT_EQ(statistics.WorstMs(), 100.0);
}

// Polling at once after each answer must not spin on a read that can never be sent.
TEST(DevicePoll, ARefusedReadEndsThePoll)
{
    TModuleClient client("127.0.0.1", 1, {100, 1});
    TDevicePoll poll(client);
    int samples = 0;
    poll.OnSample = [&](const TDeviceSample& sample) {
        ++samples;
        EXPECT_LT(sample.Reply.Result.Status, 0);
    };
    poll.Start({1, 3, 0, 200}, 0);
    ASSERT_TRUE(WaitUntil([&] { return !poll.IsRunning(); }));
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(poll.Statistics().Failures(), 1u);
}
