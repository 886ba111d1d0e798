// The shipped register map of the simulator's meters against the simulator at a frozen moment:
// every point reads what the meter's documented layout holds, two requests a meter.
#include "MapPoll.h"
#include "ModuleDefaults.h"
#include "ModuleSimServer.h"
#include "RegisterMapFile.h"
#include "SimLines.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <map>

TEST(ModuleSimMap, TheShippedMapReadsEachMeterInTwoRequests)
{
    const TMapReading reading = ReadRegisterMapFile(KORVEL_SIM_METERS_MAP);
    ASSERT_TRUE(reading.Ok()) << reading.Errors.front().Text();
    EXPECT_TRUE(reading.Notes.empty());
    ASSERT_EQ(reading.Map.Points.size(), 60u);

    const TSerialSettings factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};
    TModuleSimServer module;
    for (const auto& [channel, unit] : {std::pair{0, 5}, {0, 17}, {1, 30}})
        module.Lines().AddDevice(TSimDevice(channel, uint8_t(unit), factory));
    module.Lines().SetLineTimeFactor(0);
    module.Lines().FreezeClock(15);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));

    TModuleClient client("127.0.0.1", module.Port(), {});
    TMapPoll poll(client);
    poll.SetPoints(reading.Map.Points);
    EXPECT_EQ(poll.Requests().size(), 6u);
    std::optional<TMapCycle> cycle;
    poll.OnCycle = [&](const TMapCycle& c) { cycle = c; };
    poll.Start(-1);
    ASSERT_TRUE(WaitUntil([&] { return cycle.has_value(); }));
    EXPECT_EQ(cycle->Failed, 0u);

    std::map<std::string, std::string> values;
    for (size_t i = 0; i < poll.Points().size(); ++i) {
        const TPointState& state = poll.States()[i];
        EXPECT_EQ(state.Status, TPointStatus::Ok) << poll.Points()[i].Name;
        values[poll.Points()[i].Name] = state.Value ? DeviceValueText(*state.Value) : "";
    }
    // At t = 15 s, by the formulas of the layout.
    const std::pair<const char*, const char*> expected[] = {
        {"m5_U1", "240"},
        {"m5_U2", "225"},
        {"m5_U3", "225"},
        {"m5_E", "5.001"},
        {"m5_status", "0x0001"},
        {"m5_T", "2.1"},
        {"m5_f", "50"},
        {"m5_PF", "0.943"},
        {"m5_f_int", "50"},
        {"m17_Eq", "8.5"},
        {"m30_Eq", "15"},
        {"m5_run", "15"},
        {"m30_address", "30"},
        {"m5_setpoint", "50"},
        {"m5_ct", "100"},
        {"m30_name", "METER-030"},
        {"m17_flags", "0000000000000001"},
        {"m17_E", "17.001"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(values[name], value) << name;
}
