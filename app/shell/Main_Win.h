#pragma once
// The program's one window: the configuration being edited, its file and unsaved-changes flag,
// the connection settings and the module client that reaches the module.

#include "CommissioningReport.h"
#include "ModuleConfig.h"
#include "Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QToolButton;
class TBusySign;
struct TConfigField;
struct TModuleResult;
class TModuleClient;
class TExchangeTrace;
class THelpWindow;
class TLinesWindow;
class TRS485SettingsFrame;
struct TRecovery;

namespace Ui {
class TMainWindow;
}

class TMainWindow : public QMainWindow {
    Q_OBJECT

public:
    // settingsFileName: where the connection settings live; empty means beside the program.
    // helpFolder: where the help pages live, with a trailing separator; empty means the "Help"
    // folder beside the program.
    explicit TMainWindow(const QString& settingsFileName = {}, const QString& helpFolder = {},
                         QWidget* parent = nullptr);
    ~TMainWindow() override;

    // For a termination signal, from whatever loop runs: writes the unsaved edits to a recovery file
    // and the settings file, asking nothing, and answers the program's exit status (1 when something
    // could not be written, the reason then on stderr). Once only; a second call answers the same.
    int SaveOnSignal();
    // Ends the program for a termination signal: what SaveOnSignal keeps is kept, the window closes
    // without a question and the program's loop ends with that status.
    void CloseOnSignal();
    // At start: offers the configurations that a termination signal kept, the newest first. Yes opens
    // one into the window as unsaved edits without a file name; the file goes once opened or declined.
    void OfferRecovery();

    // Appends every frame of the exchange with the module to the file; one that cannot be opened
    // is told like a configuration file that cannot be opened.
    void StartTrace(const QString& fileName);

    // Shows a page of the help folder in the help window; the other windows ask for their topics here.
    void ShowHelpTopic(const QString& topic);

    // Configuration editing and files.
    void ConfigToControls(const TModuleConfig& config);
    bool ControlsToConfig();
    void PrefillConfig();
    void SetModified(bool value);
    void SetFileName(const QString& name);
    // True when the file was read; it then fills the window, unmodified. One that cannot be read is
    // told and leaves the window as it was.
    bool OpenFile(const QString& name);
    // The configuration file named on the command line, opened as the open command does; a file
    // that cannot be read leaves the window as it started.
    void OpenFileAtStart(const QString& name);
    // True when the file was written; a file whose contents cannot be read is replaced only when
    // the operator agrees, as nothing else it holds can be kept.
    bool SaveFile(const QString& name);
    // True when a file was written.
    bool SaveFileAs();

    // Connection settings.
    void LoadConnectionSettings();
    void SaveConnectionSettings();
    void ApplyConnectionSettings();
    void ShowConnectionSettings();

    // The commissioning report of what the window shows, with what the module said of it.
    TCommissioningReport CommissioningReport() const;

    // Module exchange.
    void WriteConfigToModule(const TModuleConfig& config);
    void ReadConfigFromModule();
    void ReadModuleInfo();
    // Reads the module's configuration to set it beside the window's in the comparison window.
    void CompareWithModule();
    // A module command waits for its outcome.
    bool RequestPending() const { return Pending; }

    TModuleConfig Config{};
    bool Modified = false;
    QString FileName;
    QString SettingsFileName;
    TSettings Settings;
    // The settings file was there at start but could not be used: it is kept aside before the
    // close replaces it.
    bool SettingsFileUnusable = false;
    std::array<TRS485SettingsFrame*, ChannelCount> Frames{};
    // The one way to the module; its master carries the exchange the monitor watches.
    TModuleClient* Client = nullptr;
    QString HelpFolder;
    // Where a termination signal keeps the unsaved edits.
    QString RecoveryFolder;
    // The exchange monitor and the trace file.
    TExchangeTrace* ExchangeTrace = nullptr;

public slots:
    void FileNewActionExecute();
    void FileOpenActionExecute();
    void OpenRecentFile(const QString& name);
    // Withdraws the command waiting for the module and tells so.
    void CancelRequestActionExecute();
    void SaveFileActionExecute();
    void SaveAsFileActionExecute();
    void ExitActionExecute();
    void SettingsActionExecute();
    void WriteConfigActionExecute();
    void ReadConfigActionExecute();
    void ReadInfoActionExecute();
    void CompareConfigActionExecute();
    void ShowMonitorActionExecute();
    void ReportActionExecute();
    void ShowLinesActionExecute();
    void HelpContentActionExecute();
    void ShowAboutActionExecute();
    void Button1Click();
    void MaskEdit1Change();
    void MaskEdit2Change();
    void MaskEdit3Change();
    void SpinEdit1Change();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // The edits as far as the controls hold values, with the texts of those that do not.
    TRecovery RecoverableEdits() const;
    // Answers whether the window may close.
    bool FormClose();
    // Before the edits are replaced: asks whether to save them first; false when the operator
    // cancels or the save did not happen.
    bool MayDiscardEdits();
    void FormKeyDown(int key);
    // True for the key of a command the window itself dispatches.
    bool IsCommandKey(const QKeyEvent* key) const;
    // Stops and destroys the master without reporting the requests it cuts off.
    void ReleaseClient();
    // Drops the request waiting for the module, which then reports nothing.
    void ForgetPendingRequests();
    void SetUpToolBar();
    void SetUpStatusBar();
    // The folder the file dialogs start in.
    QString FileFolder() const;
    // A file opened or saved goes first in the Последние файлы menu.
    void RememberFile(const QString& name);
    void ShowRecentFiles();
    void CreateFrame(size_t channel, const char* name, QWidget* page);
    // The TCP/IP page or the channel frame that shows a field.
    QWidget* FieldPage(const TConfigField& field) const;
    // A module command waits for the module from StartRequest until its outcome has been told; a
    // request started while another waits replaces it, whose outcome then goes untold.
    // writes: the request changes the module, so its cancel cannot say whether it did.
    uint64_t StartRequest(const QString& operation, bool writes = false);
    void EndRequest(uint64_t token, const std::function<void()>& tell);
    // message: a text to translate whose %1 is the reason.
    void TellFailure(const char* message, const TModuleResult& result);
    // Reads the module's configuration for a command; a failed read is told as one.
    void ReadModuleConfig(const QString& operation, std::function<void(const TModuleConfig&)> onRead);
    // What the module said, for the report; a module at another address or port starts afresh.
    void NoteModuleInfo(const TModuleInfo& info);
    void NoteModuleVerdict(TReportVerdict verdict, const TModuleConfig& checked);
    void NoteModuleReached();
    // That the module did not keep what was written, field by field.
    QString NotKeptMessage(const TModuleConfig& held) const;
    // Tells the outcome of a write the module took, with the icon given, and offers to follow the
    // address and port of held, what the module holds now as far as the window knows.
    void ReportWritten(const QString& outcome, unsigned icon, const TModuleConfig& held);

    std::unique_ptr<Ui::TMainWindow> ui;
    std::array<QLabel*, 3> StatusPanels{};
    bool ClosingOnSignal = false;
    bool EndingOnSignal = false;
    int SignalExitStatus = 0;
    // The program's exit status after an operator's close: 1 when the settings could not be written.
    int CloseExitStatus = 0;
    TBusySign* Busy = nullptr;
    // What the pending write sent, so that its completion compares the module's new address
    // with what was written rather than with whatever the record holds by then.
    TModuleConfig WrittenConfig{};
    bool Pending = false;
    bool PendingWrites = false;
    // The module acknowledged the pending write and its read-back runs.
    bool Checking = false;
    QToolButton* CancelButton = nullptr;
    uint64_t RequestToken = 0;
    // What the module said since the program started, and the address and port it was said at.
    TReportModule ReportModule;
    QString ReportModuleAt;
    // Lives while open; belongs to the modal dialog it was opened over, which would block it otherwise.
    QPointer<THelpWindow> HelpWindow;
    // Created at its first opening; closed, it is hidden and keeps its table and plot.
    QPointer<TLinesWindow> LinesWindow;
};
