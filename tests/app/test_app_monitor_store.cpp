// What the exchange monitor keeps and how it judges a reply: only so many rows however long it
// watches, and an exception only where the frame is one.

#include "AppTestSupport.h"

#include "ExchangeTrace.h"
#include "Monitor_Win.h"
#include "ScriptedServer.h"
#include "Wait.h"

#include <QPushButton>

#include <algorithm>
#include <vector>

namespace {

// The frame as the master received it, from its hex text.
TExchangeRecord Reply(const char* hex)
{
    return DecodeReply(QByteArray::fromHex(hex), nullptr);
}

struct TReplyCase {
    const char* What;
    const char* Hex;
    bool Exception;
    bool Malformed;
    const char* Meaning;
};

class ReplyDecoding : public ::testing::TestWithParam<TReplyCase> {};

TEST_P(ReplyDecoding, AnExceptionIsOnlyAFrameOfAnExceptionsShape)
{
    const TReplyCase& c = GetParam();
    const TExchangeRecord record = Reply(c.Hex);
    EXPECT_EQ(record.IsException, c.Exception);
    EXPECT_EQ(record.IsMalformed, c.Malformed);
    EXPECT_EQ(record.Meaning, QString::fromUtf8(c.Meaning));
    EXPECT_EQ(record.Bytes, QByteArray::fromHex(c.Hex));

    TExchangeCounters counters;
    counters.Add(record);
    EXPECT_EQ(counters.Replies, 1);
    EXPECT_EQ(counters.Exceptions, c.Exception ? 1 : 0);
    EXPECT_EQ(counters.MalformedFrames, c.Malformed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    MonitorStore, ReplyDecoding,
    ::testing::Values(
        TReplyCase{"read reply", "000100000007FF03040001002A", false, false, ""},
        TReplyCase{"exception", "000100000003FF8302", true, false, "исключение: недопустимый адрес данных"},
        TReplyCase{"stray bytes", "ABABABABABABABABAB", false, true, "кадр неверной длины"},
        TReplyCase{"stray bytes of an exception's length field", "ABAB00000003ABABAB", true, false,
                   "исключение: код 171"},
        TReplyCase{"read reply with stray bytes after it", "000100000007FF03040001002AABABAB", false, true,
                   "кадр неверной длины"},
        TReplyCase{"exception with a byte more", "000100000004FF830200", false, true, "кадр неверной длины"},
        TReplyCase{"exception without its code", "000100000002FF83", false, true, "кадр неверной длины"},
        TReplyCase{"exception longer than its header says", "000100000002FF8302", false, true, "кадр неверной длины"},
        TReplyCase{"header alone", "000100000001FF", false, true, "кадр неверной длины"},
        TReplyCase{"nothing", "", false, true, "кадр неверной длины"}),
    ParamNameFromWhat<TReplyCase>);

class MonitorStoreTest : public MainWindowFixture {
protected:
    TMonitorWindow* OpenMonitor()
    {
        Action("ShowMonitorAction")->trigger();
        return Window().ExchangeTrace->Monitor();
    }
};

// A peer that follows its reply with a stream of 0xAB and then falls silent: the bytes after the
// reply make it a frame of the wrong length, and those that come while the retransmission waits are
// no frame of its transaction, kept with its time-out; never an exception, though the byte where a
// function would be has bit 7 set.
TEST_F(MonitorStoreTest, StrayBytesAfterAReplyAreMalformedFramesNotExceptions)
{
    TScriptedServer garbling([](const TScriptedRequest& request) {
        if (request.Index > 0)
            return TScriptedAnswer{};
        const std::vector<uint16_t> registers(request.Count(), 0);
        return TScriptedAnswer{ReadRegistersReply(request, registers) + QByteArray(9 * 30, char(0xAB)), 9};
    });
    ASSERT_TRUE(garbling.Listen());
    PointSettingsAt(garbling.Port());
    TMonitorWindow* monitor = OpenMonitor();
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); }, std::chrono::seconds(10)));
    ASSERT_TRUE(WaitUntil([&] { return monitor->Rows().rowCount() == int(monitor->Rows().Records().size()); }));

    const TExchangeCounters& counters = monitor->Counters();
    EXPECT_EQ(counters.Exceptions, 0);
    EXPECT_GE(counters.MalformedFrames, 1);
    int malformedRows = 0, withTheFlagBit = 0;
    for (const TExchangeRecord& record : monitor->Rows().Records()) {
        EXPECT_FALSE(record.Meaning.contains("исключение")) << record.Meaning.toStdString();
        malformedRows += record.Meaning.startsWith("кадр неверной длины") ? 1 : 0;
        withTheFlagBit += record.Bytes.size() > 7 && uint8_t(record.Bytes[7]) == 0xAB ? 1 : 0;
    }
    EXPECT_EQ(malformedRows, counters.MalformedFrames);
    // The stray bytes did come where a function was looked for: bit 7 set, and still no exception.
    EXPECT_GE(withTheFlagBit, 1);
    EXPECT_TRUE(monitor->CountersText().contains(QStringLiteral("Исключений: 0   ")));
    EXPECT_TRUE(
        monitor->CountersText().contains(QStringLiteral("   Ошибок кадра: %1   ").arg(counters.MalformedFrames)));
}

TEST(MonitorStore, ASoundExchangeShowsNoFrameErrorCounter)
{
    TMonitorWindow monitor;
    monitor.AddRecord(Reply("000100000007FF03040001002A"));
    EXPECT_FALSE(monitor.CountersText().contains("Ошибок кадра"));
    EXPECT_TRUE(monitor.CountersText().endsWith("   Строк: 1 из 100000"));
}

// Latencies spread so that the median is not one of the first frames' or the last ones'.
double LatencyOf(int frame)
{
    return double((frame * 7919) % 10007) / 10;
}

// Far more frames than the monitor keeps: it holds the newest, drops the oldest a block at a time,
// counts them all, and saves what it holds.
TEST(MonitorStore, KeepsAtMostItsCapacityOfRowsButCountsEveryFrame)
{
    constexpr int Capacity = 1000, Frames = 70000;
    TScriptedDialogs dialogs;
    QTemporaryDir folder;
    TMonitorWindow monitor({}, nullptr, Capacity);
    int removals = 0;
    QObject::connect(&monitor.Rows(), &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    std::vector<double> latencies;
    size_t mostKept = 0;
    for (int frame = 0; frame < Frames; ++frame) {
        TExchangeRecord record = Reply("000100000007FF03040001002A");
        record.TimeMs = frame;
        record.LatencyMs = LatencyOf(frame);
        latencies.push_back(record.LatencyMs);
        monitor.AddRecord(record);
        mostKept = std::max(mostKept, monitor.Rows().Records().size());
        if (frame % 5000 == 0)
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitUntil([&] { return monitor.Rows().rowCount() == int(monitor.Rows().Records().size()); }));

    EXPECT_EQ(mostKept, size_t(Capacity));
    const auto& kept = monitor.Rows().Records();
    EXPECT_GT(kept.size(), size_t(Capacity * 9 / 10));
    EXPECT_EQ(kept.back().TimeMs, Frames - 1);
    EXPECT_EQ(kept.front().TimeMs, Frames - double(kept.size()));
    EXPECT_LT(removals, Frames / 10);

    EXPECT_EQ(monitor.Counters().Replies, Frames);
    std::sort(latencies.begin(), latencies.end());
    const double median = (latencies[Frames / 2 - 1] + latencies[Frames / 2]) / 2;
    EXPECT_NEAR(monitor.Counters().MedianLatencyMs(), median, median / 1000);
    EXPECT_EQ(monitor.Counters().WorstLatencyMs(), latencies.back());
    EXPECT_TRUE(monitor.CountersText().startsWith(QStringLiteral("Запросов: 0   Ответов: %1").arg(Frames)));
    EXPECT_TRUE(monitor.CountersText().endsWith(QStringLiteral("   Строк: %1 из %2").arg(kept.size()).arg(Capacity)));

    const QString saved = folder.filePath("monitor.txt");
    dialogs.FileAnswers = {saved};
    QTest::mouseClick(monitor.Button3, Qt::LeftButton);
    const QStringList lines = QString::fromUtf8(FileBytes(saved)).split('\n', Qt::SkipEmptyParts);
    // The header's lines, the rows, the sums.
    ASSERT_EQ(lines.size(), 3 + qsizetype(kept.size()) + 1);
    EXPECT_TRUE(lines.front().startsWith("# ==== KorvelService"));
    EXPECT_EQ(lines[3], TraceFileLine(kept.front()));
    EXPECT_EQ(lines.last(), monitor.CountersText());

    QTest::mouseClick(monitor.Button2, Qt::LeftButton);
    EXPECT_EQ(monitor.Counters().Replies, 0);
    EXPECT_EQ(monitor.Counters().MedianLatencyMs(), -1);
    EXPECT_EQ(monitor.Counters().WorstLatencyMs(), -1);
}

// The sums line at its longest, frame errors and a full store told, wraps rather than pushing the
// window past a small screen.
TEST(MonitorStore, TheLongestSumsLineKeepsTheWindowOnItsScreen)
{
    TMonitorWindow monitor;
    monitor.show();
    TExchangeRecord record = Reply("ABABABABABABABABAB");
    record.LatencyMs = 99999.9;
    for (int frame = 0; frame < 20; ++frame)
        monitor.AddRecord(record);
    ASSERT_TRUE(WaitUntil([&] { return monitor.Label1->text().contains("Ошибок кадра: 20"); }));
    QCoreApplication::processEvents();
    EXPECT_LE(monitor.width(), monitor.screen()->availableSize().width());
}

}  // namespace
