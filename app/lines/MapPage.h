#pragma once
// The page "Карта" of "Устройства на линии": the named points of a register map polled together,
// each with its value in its units, its status and when it was last read; the points edited in
// place, the ticked ones plotted, every cycle logged to a CSV file while the poll runs, and a
// point open to writing written after a confirmation naming it.

#include "MapPoll.h"
#include "RegisterMapFile.h"
#include "SampleTime.h"
#include "ui_MapPage.h"

#include <QElapsedTimer>
#include <QFile>

#include <functional>
#include <span>
#include <string>
#include <vector>

class TPollPlot;

// The maps opened or saved last, newest first, kept where the program keeps its recent files.
struct TRecentMaps {
    std::function<std::vector<std::string>()> List;
    std::function<void(const std::string&)> Used;
    std::function<void(const std::string&)> Gone;  // a map that could not be opened again
};

class TMapPage : public QWidget, public Ui::TMapPage {
public:
    // Asks the confirmation of the window's single write and writes: the point named, the value
    // typed already turned into the text of its raw registers. reread: after the write was taken.
    using TWritePoint =
        std::function<void(const TMapPoint& point, const QString& rawText, std::function<void()> reread)>;

    TMapPage(TModuleClient& client, TWritePoint writePoint, QWidget* parent = nullptr);
    ~TMapPage() override;

    const TMapPoll& Poll() const { return Poll_; }
    TPollPlot& Plot() { return *Plot_; }
    const QString& MapFile() const { return MapFile_; }
    // The map file the log is written to; empty when not logging.
    QString LogFile() const { return Log_.isOpen() ? Log_.fileName() : QString(); }

    void SetRecentMaps(TRecentMaps recent);
    // Where the maps shipped with the program are: the open dialog starts there while no map is open.
    QString ShippedMapsFolder;
    // Tells every error of a file that cannot be used; the map shown stays.
    bool OpenMap(const QString& fileName);
    // The last map used, opened quietly: a map gone since is simply not shown.
    void OpenLastMap();
    bool SaveMap(const QString& fileName);
    // A point of the single-block poll, its name made unique; it becomes the current row.
    void AddPoint(TMapPoint point);
    // Each cycle appended to the file from now on: a new or empty file gets the header, a log of
    // the same points goes on, any other file is refused.
    bool StartLog(const QString& fileName);
    void StartPoll();
    void StopPoll();
    // After the client's requests were dropped: the poll asks again.
    void ResumeAfterCancel();

    // A cycle's outcome shown, plotted at seconds and logged: what the poll tells each cycle, and
    // what a benchmark feeds on a simulated clock.
    void TakeCycle(const TMapCycle& cycle, std::span<const TPointState> states, double seconds);

private:
    void OpenButtonMenu();
    void SaveButtonClick();
    void WriteButtonClick();
    void LogCheckToggled(bool on);
    void StopLog(const QString& why);
    void ShowMap();
    void ShowPoint(int row, const TPointState& state, std::chrono::steady_clock::time_point now);
    void PointEdited(QTableWidgetItem* item);
    // The map's points polled as they now are; a log whose columns they change is ended.
    void UsePoints();
    QString LineName(const TMapPoint& point) const;
    void SetPollRunning(bool running);
    // Starts the poll, the module's configuration asked first so that each request waits as long as
    // the module waits for its line.
    void StartPollCycles();

    TWritePoint WritePoint_;
    TModuleClient& Client_;
    TMapPoll Poll_;
    TRegisterMap Map_;
    QString MapFile_;
    TRecentMaps Recent_;
    TPollPlot* Plot_;
    QElapsedTimer Clock_;
    QFile Log_;
    std::string LogHeader_;
    bool Fitted_ = false;  // the columns to the first values shown
    TSampleTimeText LogTime_;
};
