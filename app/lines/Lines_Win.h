#pragma once
// The window "Устройства на линии": polls a device behind the module (a live table of its values,
// the counters of its answers and a plot over time), writes a value into it after a confirmation,
// and searches the unit identifiers that answer. Its traffic goes to the module the main window's
// client points at, through a client of its own that waits for each answer no less than the module
// waits for its line, and the exchange monitor sees it; it stays open beside the main window.

#include "DataTypes.h"
#include "CommissioningReport.h"
#include "DevicePoll.h"
#include "Forms.h"
#include "PollLog.h"
#include "UnitSearch.h"
#include "ui_Lines_Win.h"

#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class TMapPage;
class TPollPlot;

class TLinesWindow : public TForm, public Ui::TLinesWindow {
    Q_OBJECT

public:
    // A search for the module the program points at now, its frames traced with the client's.
    using TNewSearch = std::function<std::unique_ptr<TUnitSearch>()>;

    TLinesWindow(TModuleClient& client, TNewSearch newSearch, TShowHelpTopic showHelpTopic = {},
                 QWidget* parent = nullptr);
    ~TLinesWindow() override;

    const TDevicePoll& Poll() const { return Poll_; }
    TPollPlot& Plot() { return *Plot_; }
    TMapPage& MapPage() { return *MapPage_; }
    const TPollLog& Log() const { return Log_; }
    const TUnitSearchSummary& LastSearch() const { return LastSearch_; }
    bool Searching() const { return Search_ && Search_->IsRunning(); }
    // What the commissioning report tells of the devices on the lines: the units the last search
    // found and the map's points as they stand now; none when neither a search nor a map poll ran.
    std::optional<TReportDevices> ReportDevices() const;

public slots:
    void PollButtonClick();
    void StopPollButtonClick();
    void WriteButtonClick();
    void AddToMapButtonClick();
    void ExportButtonClick();
    void SearchButtonClick();
    void StopSearchButtonClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Activated again, it follows the main window's connection settings, for whichever page is used.
    void changeEvent(QEvent* event) override;
    // Space in the table ticks or clears the current row for the plot, whichever cell is current.
    bool FormKeyDown(int key, Qt::KeyboardModifiers shift) override;

private:
    void ShowAddressNotation();
    void ShowFormatChoice();
    TDataType ChosenType() const;
    // The order of the chosen type; ABCD where it has none to choose.
    TWordOrder ChosenOrder() const;
    void TakeSample(const TDeviceSample& sample);
    // Registers of a value shown in a row: one for bits, the whole read for ASCII.
    int RowWidth() const;
    // The rows of the polled block, from the registers last read, marked stale or failed when the
    // last request got no data.
    std::vector<TDeviceValue> ShownValues() const;
    void ShowRows(const std::vector<TDeviceValue>& values);
    // The type and order chosen now: the rows are decoded anew from the registers kept.
    void DecodeAgain();
    void ShowCounters();
    void ShowSearchProgress(size_t done, size_t total, std::chrono::milliseconds left);
    void ShowUnitResult(const TUnitResult& result);
    void FinishSearch(const TUnitSearchSummary& summary);
    // Asks the operator's confirmation, then writes the value typed at the address given; point:
    // the map point written, named in the question. reread: after the device took the value.
    void WriteValue(const TDeviceRead& at, TDataType type, TWordOrder order, const QString& text, const QString& point,
                    std::function<void()> reread);
    // hint: what to check first when the line failed, or empty.
    void ShowWritten(const TDeviceReply& reply, const QString& where, const QString& hint,
                     const std::function<void()>& reread);
    void SetPollRunning(bool running);
    // New connection settings drop the poll's request and a write in flight.
    void ResumeAfterCancel();
    // Points the window's client at the module and times of the main window's, when they changed.
    void FollowMainClient();

    TModuleClient& MainClient_;
    TModuleClient Client_;
    TModuleClientOptions FollowedOptions_;
    TDevicePoll Poll_;
    // What to check first after the latest sample, when the module said the line failed.
    QString LineHint_;
    TDeviceRead Polled_;
    int PollPeriodMs_ = -1;
    // Where the write waiting for its answer goes; empty when none waits.
    QString WriteInFlight_;
    TDataType PolledType_ = TDataType::UInt16;
    TWordOrder PolledOrder_ = TWordOrder::ABCD;
    // The block's registers from its last answer with data, when, and why the requests since got
    // none; the rows are drawn from these.
    std::vector<uint16_t> ShownRaw_;
    std::chrono::system_clock::time_point ShownTime_;
    QString Failure_;
    std::chrono::system_clock::time_point FailureTime_;
    // Each device's counters go on across changes of what is read from it.
    std::map<uint8_t, TPollStatistics> Counters_;
    TPollPlot* Plot_;
    TMapPage* MapPage_;
    TPollLog Log_;
    QElapsedTimer PollClock_;
    TNewSearch NewSearch_;
    std::unique_ptr<TUnitSearch> Search_;
    TUnitSearchSummary LastSearch_;
    // "1-247": the units the search running asks, and those the last one finished asked.
    QString SearchRange_;
    QString SearchedRange_;
};
