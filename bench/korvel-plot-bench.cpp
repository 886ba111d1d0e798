// korvel-plot-bench: the poll window's plot and sample log fed as a poll would feed them, on a
// simulated clock: rows polled every period for a span of simulated time, the plot redrawn and
// painted at its own pace (every 250 ms of simulated time). Prints the points and rows held and the
// resident memory as the span goes on, and the processor time taken, as a share of the span it
// stands for. With --map, the Карта page is fed instead: every point of the map read anew each
// cycle, the first --plotted points plotted, each cycle logged to a file, the page painted with its
// plot. The clock is
// simulated because the plot's cost depends on the samples and redraws it gets, not on waiting
// between them; the poll's own exchange is the same whether plotted or not.
#include "MapPage.h"
#include "PollLog.h"
#include "PollPlot.h"
#include "ProcessStatus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QPainter>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What a point reads at t seconds: numbers move, texts and bits stand.
std::vector<uint16_t> PointRegisters(const TMapPoint& point, size_t index, double t)
{
    if (point.IsBit())
        return {1};
    if (point.Type == TDataType::Ascii)
        return EncodeValue("METER-005", point.Type, point.Order);
    const double value = 230 + 10 * std::sin(t / 10 + double(index));
    const bool integer = point.Type != TDataType::Float32 && point.Type != TDataType::Float64;
    const std::string text = integer ? std::to_string(std::lround(value)) : std::to_string(value);
    return EncodeValue(text, point.Type, point.Order);
}

// The Карта page on the simulated clock: each cycle every point is read, the page takes the cycle
// (table, plot, log) and repaints what changed, the plot redrawn at its own pace.
int FeedMapPage(const QString& mapFile, int plotted, int periodMs, double span, double window)
{
    TModuleClient client("127.0.0.1", 1, {});  // never asked: the cycles are made here
    TMapPage page(client, {});
    page.resize(1000, 640);
    page.show();  // shown, its table lays out and its header fits as on a screen
    if (!page.OpenMap(mapFile))
        return 2;
    const TMapReading reading = ReadRegisterMapFile(mapFile.toStdString());
    const std::vector<TMapPoint>& points = reading.Map.Points;
    int ticked = 0;
    for (int row = 0; row < page.PointsTable->rowCount(); ++row) {
        const bool plot = points[size_t(row)].IsNumber() && ticked < plotted;
        ticked += plot ? 1 : 0;
        page.PointsTable->item(row, 0)->setCheckState(plot ? Qt::Checked : Qt::Unchecked);
    }
    page.Plot().SetWindowSeconds(window);
    QTemporaryDir folder;
    if (!page.StartLog(folder.filePath("cycles.csv")))
        return 2;
    const long startKiB = StatusKB("VmRSS:");
    const double startCpu = CpuSeconds();
    std::printf("%zu points, %d plotted, a cycle every %d ms, window %.0f s, %.0f min simulated, log on\n",
                points.size(), ticked, periodMs, window, span / 60);
    std::printf("%10s %12s %12s %12s\n", "minute", "points held", "log KiB", "RSS KiB");
    std::vector<TPointState> states(points.size());
    const double period = periodMs / 1000.0;
    const double refresh = TPollPlot::RefreshIntervalMs / 1000.0;
    const auto start = std::chrono::system_clock::now();
    double nextRefresh = refresh, nextReport = 600;
    for (long k = 0; k * period <= span; ++k) {
        const double t = k * period;
        const auto time = start + std::chrono::milliseconds(k * periodMs);
        const auto clock = std::chrono::steady_clock::now();
        for (size_t i = 0; i < points.size(); ++i)
            states[i].Read(points[i], PointRegisters(points[i], i, t), time, clock);
        page.TakeCycle({uint64_t(k + 1), time, 12.0, 2, 0}, states, t);
        if (t >= nextRefresh) {
            page.Plot().Refresh();
            nextRefresh += refresh;
        }
        // The event loop's turn after each cycle, as in the program: the page repaints what changed.
        QCoreApplication::processEvents();
        if (t >= nextReport) {
            std::printf("%10.0f %12zu %12lld %12ld\n", t / 60, page.Plot().PointCount(),
                        QFileInfo(page.LogFile()).size() / 1024, StatusKB("VmRSS:"));
            nextReport += 600;
        }
    }
    const double cpu = CpuSeconds() - startCpu;
    std::printf("RSS before %ld KiB, after %ld KiB\n", startKiB, StatusKB("VmRSS:"));
    std::printf("processor time %.1f s for %.0f s simulated: %.2f%% of one core for the page\n", cpu, span,
                100 * cpu / span);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The poll window's plot on a simulated clock: memory and processor time.");
    parser.addHelpOption();
    const QCommandLineOption rowsOption("rows", "Rows plotted.", "n", "4");
    const QCommandLineOption periodOption("period", "Poll period in ms.", "ms", "50");
    const QCommandLineOption minutesOption("minutes", "Simulated span in minutes.", "m", "60");
    const QCommandLineOption windowOption("window", "The plot's window in seconds (the list's longest: 3600).", "s",
                                          "3600");
    const QCommandLineOption mapOption("map", "Feed the Карта page with the points of this register map.", "file");
    const QCommandLineOption plottedOption("plotted", "With --map: the points plotted.", "n", "8");
    parser.addOptions({rowsOption, periodOption, minutesOption, windowOption, mapOption, plottedOption});
    parser.process(app);
    const int rows = parser.value(rowsOption).toInt();
    const int periodMs = parser.value(periodOption).toInt();
    const double span = parser.value(minutesOption).toDouble() * 60;
    if (rows < 1 || periodMs < 1 || span <= 0) {
        std::fprintf(stderr, "korvel-plot-bench: bad option\n");
        return 2;
    }
    if (parser.isSet(mapOption))
        return FeedMapPage(parser.value(mapOption), parser.value(plottedOption).toInt(), periodMs, span,
                           parser.value(windowOption).toDouble());

    TPollPlot plot;
    TPollLog log;
    plot.resize(640, 400);
    plot.SetWindowSeconds(parser.value(windowOption).toDouble());
    QImage canvas(plot.size(), QImage::Format_ARGB32_Premultiplied);
    const long startKiB = StatusKB("VmRSS:");
    const double startCpu = CpuSeconds();
    std::printf("%d rows every %d ms, window %s s, %.0f min simulated\n", rows, periodMs,
                qPrintable(parser.value(windowOption)), span / 60);
    std::printf("%10s %12s %12s %12s\n", "minute", "points held", "log rows", "RSS KiB");
    const double period = periodMs / 1000.0;
    const double refresh = TPollPlot::RefreshIntervalMs / 1000.0;
    double nextRefresh = refresh, nextReport = 600;
    for (long k = 0; k * period <= span; ++k) {
        const double t = k * period;
        for (int row = 0; row < rows; ++row) {
            const double value = 230 + 10 * std::sin(t / 10 + row);
            plot.AddPoint(QString::number(2 * row), t, value);
            log.Add(
                {std::chrono::system_clock::now(), 5, uint32_t(2 * row), "436D DCD6", QString::number(value, 'g', 8)});
        }
        if (t >= nextRefresh) {
            plot.Refresh();
            canvas.fill(Qt::white);
            QPainter painter(&canvas);
            plot.render(&painter);
            nextRefresh += refresh;
        }
        if (t >= nextReport) {
            std::printf("%10.0f %12zu %12zu %12ld\n", t / 60, plot.PointCount(), log.Size(), StatusKB("VmRSS:"));
            nextReport += 600;
        }
    }
    const double cpu = CpuSeconds() - startCpu;
    std::printf("RSS before %ld KiB, after %ld KiB\n", startKiB, StatusKB("VmRSS:"));
    std::printf("processor time %.1f s for %.0f s simulated: %.2f%% of one core while plotting\n", cpu, span,
                100 * cpu / span);
    return 0;
}
