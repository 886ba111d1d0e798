#pragma once
// The plot of polled values over time: one line per chosen row, over a rolling window of time. The
// points older than the window are let go as new ones come, so a poll left running for hours keeps
// a bounded memory; the chart is redrawn a few times a second, not per sample, and shows at most
// MaxShownPoints of each line, so that a fast poll over a long window stays cheap to draw.

#include <QChartView>
#include <QTimer>

#include <deque>
#include <map>

class QLineSeries;
class QValueAxis;

class TPollPlot : public QChartView {
public:
    static constexpr int RefreshIntervalMs = 250;
    static constexpr int MaxShownPoints = 1000;

    explicit TPollPlot(QWidget* parent = nullptr);

    // The span of time shown, the newest point at the right edge.
    void SetWindowSeconds(double seconds);
    // Paused, the plot stands still; points still come in and are there when it runs again.
    void SetPaused(bool paused);
    bool Paused() const { return Paused_; }
    // seconds: since the poll started.
    void AddPoint(const QString& line, double seconds, double value);
    void RemoveLine(const QString& line);
    // Every line off, and the time axis from 0 again.
    void Clear();
    // The points held over all lines.
    size_t PointCount() const;
    // Redraws now rather than at the next tick.
    void Refresh();

private:
    struct TTrack {
        QLineSeries* Series = nullptr;
        std::deque<QPointF> Points;
    };
    void Trim(TTrack& track);

    std::map<QString, TTrack> Tracks_;
    QValueAxis* AxisX_;
    QValueAxis* AxisY_;
    QTimer RefreshTimer_;
    double WindowSeconds_ = 60;
    double Latest_ = 0;
    bool Paused_ = false;
    bool Changed_ = false;
};
