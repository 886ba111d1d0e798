// A register map polled through a scripted module: a request per planned block, each point's state
// after the cycle (values, exceptions in words, stale values kept with their age), a silent module
// not asked for the rest of its cycle, points decoded anew without a request, and the log's rows.
#include "MapPoll.h"
#include "PointLog.h"
#include "RegisterMapFile.h"
#include "ScriptedServer.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

const char* const Map = "name,unit,function,address,type,order,scale,units\n"
                        "U,1,input,0,float32,,,V\n"
                        "T,1,input,2,int16,,0.1,°C\n"
                        "F,2,holding,0,,,,\n"
                        "G,3,holding,5,,,,\n";

std::vector<std::string> Statuses(const TMapPoll& poll)
{
    std::vector<std::string> statuses;
    for (const TPointState& state : poll.States())
        statuses.push_back(std::string(PointStatusKey(state.Status)) +
                           (state.Value ? " " + DeviceValueText(*state.Value) : std::string()));
    return statuses;
}

}  // namespace

TEST(MapPoll, TellsEachPointsStateAfterACycle)
{
    bool silent = false;
    TScriptedServer server([&](const TScriptedRequest& request) -> TScriptedAnswer {
        if (silent)
            return {};
        switch (request.UnitId()) {
        case 1: return {ReadRegistersReply(request, {0x4366, 0x8000, 2301})};
        case 2: return {ExceptionReply(request, 0x0B)};
        default: return {ExceptionReply(request, 0x02)};
        }
    });
    ASSERT_TRUE(server.Listen());
    TModuleClient client("127.0.0.1", server.Port(), {100, 1});
    TMapPoll poll(client);
    const TMapReading reading = ParseRegisterMap(Map);
    ASSERT_TRUE(reading.Ok());
    poll.SetPoints(reading.Map.Points);
    std::vector<TMapCycle> cycles;
    poll.OnCycle = [&](const TMapCycle& cycle) { cycles.push_back(cycle); };

    poll.Start(-1);
    ASSERT_TRUE(WaitUntil([&] { return cycles.size() == 1; }));
    EXPECT_FALSE(poll.IsRunning());
    EXPECT_EQ(cycles[0].Requests, 3u);
    EXPECT_EQ(cycles[0].Failed, 2u);
    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.Requests()[0].Count(), 3);
    EXPECT_EQ(server.Requests()[2].StartAddress(), 5);
    EXPECT_EQ(Statuses(poll), (std::vector<std::string>{"ok 230.5", "ok 230.1", "exception", "exception"}));
    EXPECT_EQ(PointFailureText(poll.States()[2].Failure), "0x0B: устройство на линии не ответило");
    EXPECT_EQ(PointFailureText(poll.States()[3].Failure), "исключение 02: недопустимый адрес данных");
    EXPECT_EQ(poll.States()[1].Raw(poll.Points()[1]), std::vector<uint16_t>{2301});
    EXPECT_EQ(PointLogHeader(poll.Points()), "time,U,U status,T,T status,F,F status,G,G status");
    EXPECT_EQ(PointLogRow("t0", poll.States()), "t0,230.5,ok,230.1,ok,,exception 0x0B,,exception 0x02");

    // The module falls silent: its first request's time-out ends the cycle; what was read is kept as
    // stale with its age, never as current.
    silent = true;
    poll.Start(-1);
    ASSERT_TRUE(WaitUntil([&] { return cycles.size() == 2; }));
    EXPECT_EQ(server.Requests().size(), 4u);
    EXPECT_EQ(cycles[1].Requests, 1u);
    EXPECT_EQ(cycles[1].Failed, 3u);
    EXPECT_EQ(Statuses(poll), (std::vector<std::string>{"stale 230.5", "stale 230.1", "no_answer", "no_answer"}));
    EXPECT_GE(poll.States()[0].AgeMs(std::chrono::steady_clock::now()), 100);
    EXPECT_EQ(PointLogRow("t1", poll.States()), "t1,,stale (no_answer),,stale (no_answer),,no_answer,,no_answer");

    // A point's type or scaling changed: decoded anew from what was kept, with no request.
    std::vector<TMapPoint> points = poll.Points();
    points[0].Type = TDataType::Int32;
    points[1].Scale = 0.01;
    points[1].Units = "K";
    poll.SetPoints(points);
    EXPECT_EQ(server.Requests().size(), 4u);
    EXPECT_EQ(Statuses(poll), (std::vector<std::string>{"stale 1130790912", "stale 23.01", "no_answer", "no_answer"}));
    // Moved to other registers, a point has nothing to show until it is read there.
    points[1].Address = 1;
    poll.SetPoints(points);
    EXPECT_EQ(poll.States()[1].Status, TPointStatus::Waiting);
    EXPECT_FALSE(poll.States()[1].Value);
}

// Cycle after cycle, each request of the plan in its turn, as many cycles as asked.
TEST(MapPoll, CyclesThroughThePlanAsManyTimesAsAsked)
{
    TScriptedServer server([&](const TScriptedRequest& request) -> TScriptedAnswer {
        return {ReadRegistersReply(request, std::vector<uint16_t>(request.Count(), 7))};
    });
    ASSERT_TRUE(server.Listen());
    TModuleClient client("127.0.0.1", server.Port(), {500, 1});
    TMapPoll poll(client);
    std::vector<TMapPoint> points(3);
    for (size_t i = 0; i < points.size(); ++i) {
        points[i].Name = "P" + std::to_string(i);
        points[i].Unit = uint8_t(1 + i);
    }
    poll.SetPoints(points);
    uint64_t cycles = 0;
    poll.OnCycle = [&](const TMapCycle& cycle) { cycles = cycle.Number; };
    poll.Start(0, 4);
    ASSERT_TRUE(WaitUntil([&] { return !poll.IsRunning(); }));
    EXPECT_EQ(cycles, 4u);
    EXPECT_EQ(server.Requests().size(), 12u);
    // Requests come in the plan's order, cycle after cycle.
    for (size_t i = 0; i < server.Requests().size(); ++i)
        EXPECT_EQ(server.Requests()[i].UnitId(), 1 + i % 3);
}

// A device that does not serve the registers between two points refuses the request that reads them
// together; the points are then read apart, this cycle and the next.
TEST(MapPoll, ReadsPointsApartWhenTheDeviceRefusesTheGap)
{
    TScriptedServer server([&](const TScriptedRequest& request) -> TScriptedAnswer {
        const int first = request.StartAddress(), last = first + request.Count() - 1;
        if (first <= 3 && last >= 2)
            return {ExceptionReply(request, 0x02)};
        return {ReadRegistersReply(request, std::vector<uint16_t>(request.Count(), uint16_t(100 + first)))};
    });
    ASSERT_TRUE(server.Listen());
    TModuleClient client("127.0.0.1", server.Port(), {500, 1});
    TMapPoll poll(client);
    const TMapReading reading = ParseRegisterMap("name,unit,function,address\nA,1,holding,0\nB,1,holding,5\n");
    ASSERT_TRUE(reading.Ok());
    poll.SetPoints(reading.Map.Points);
    std::vector<TMapCycle> cycles;
    poll.OnCycle = [&](const TMapCycle& cycle) { cycles.push_back(cycle); };
    poll.Start(0, 2);
    ASSERT_TRUE(WaitUntil([&] { return cycles.size() == 2; }));
    EXPECT_EQ(Statuses(poll), (std::vector<std::string>{"ok 100", "ok 105"}));
    EXPECT_EQ(cycles[0].Requests, 3u);
    EXPECT_EQ(cycles[0].Failed, 0u);
    EXPECT_EQ(cycles[1].Requests, 2u);
    EXPECT_EQ(poll.Requests().size(), 2u);
}
