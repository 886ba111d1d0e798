#include "PollPlot.h"

#include <QChart>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

TPollPlot::TPollPlot(QWidget* parent) : QChartView(new QChart, parent), AxisX_(new QValueAxis), AxisY_(new QValueAxis)
{
    chart()->legend()->setAlignment(Qt::AlignBottom);
    AxisX_->setTitleText("с");
    AxisX_->setLabelFormat("%.0f");
    chart()->addAxis(AxisX_, Qt::AlignBottom);
    chart()->addAxis(AxisY_, Qt::AlignLeft);
    setRenderHint(QPainter::Antialiasing, false);
    RefreshTimer_.setInterval(RefreshIntervalMs);
    connect(&RefreshTimer_, &QTimer::timeout, this, [this] {
        if (Changed_)
            Refresh();
    });
    RefreshTimer_.start();
}

void TPollPlot::SetWindowSeconds(double seconds)
{
    WindowSeconds_ = seconds;
    for (auto& [name, track] : Tracks_)
        Trim(track);
    Changed_ = true;
}

void TPollPlot::SetPaused(bool paused)
{
    Paused_ = paused;
    if (!paused)
        Refresh();
}

void TPollPlot::AddPoint(const QString& line, double seconds, double value)
{
    if (!std::isfinite(value))
        return;  // a gap rather than a scale stretched to infinity
    TTrack& track = Tracks_[line];
    if (!track.Series) {
        track.Series = new QLineSeries;
        track.Series->setName(line);
        chart()->addSeries(track.Series);
        track.Series->attachAxis(AxisX_);
        track.Series->attachAxis(AxisY_);
    }
    track.Points.emplace_back(seconds, value);
    Latest_ = std::max(Latest_, seconds);
    Trim(track);
    Changed_ = true;
}

void TPollPlot::RemoveLine(const QString& line)
{
    const auto it = Tracks_.find(line);
    if (it == Tracks_.end())
        return;
    chart()->removeSeries(it->second.Series);
    delete it->second.Series;
    Tracks_.erase(it);
    Changed_ = true;
}

void TPollPlot::Clear()
{
    while (!Tracks_.empty())
        RemoveLine(Tracks_.begin()->first);
    Latest_ = 0;
    Refresh();
}

size_t TPollPlot::PointCount() const
{
    size_t count = 0;
    for (const auto& [name, track] : Tracks_)
        count += track.Points.size();
    return count;
}

void TPollPlot::Trim(TTrack& track)
{
    while (!track.Points.empty() && track.Points.front().x() < Latest_ - WindowSeconds_)
        track.Points.pop_front();
}

void TPollPlot::Refresh()
{
    if (Paused_)
        return;
    Changed_ = false;
    double low = INFINITY, high = -INFINITY;
    for (auto& [name, track] : Tracks_) {
        Trim(track);
        // Every n-th point, the newest always among them.
        const size_t step = std::max<size_t>(1, (track.Points.size() + MaxShownPoints - 1) / MaxShownPoints);
        QList<QPointF> shown;
        shown.reserve(qsizetype(track.Points.size() / step + 1));
        for (size_t k = (track.Points.size() - 1) % step; k < track.Points.size(); k += step)
            shown.append(track.Points[k]);
        for (const QPointF& point : track.Points) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
        track.Series->replace(shown);
    }
    AxisX_->setRange(std::max(0.0, Latest_ - WindowSeconds_), std::max(Latest_, WindowSeconds_));
    if (low <= high) {
        const double margin = low == high ? std::max(1.0, std::abs(low) * 0.05) : (high - low) * 0.05;
        AxisY_->setRange(low - margin, high + margin);
    }
}
