#pragma once
// The program's one window: the configuration being edited, its file and unsaved-changes flag,
// the connection settings and the ModbusTCP master that reaches the module.

#include "LocalDefines.h"
#include "Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class TBusySign;
class TModbusMaster;
class TModbusTCPMaster;
class TExchangeTrace;
class THelpWindow;
class TRS485SettingsFrame;

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

    // Closes as the operator's close does, for a termination signal; when the settings file cannot
    // be written the program ends with status 1 instead of staying open.
    void CloseOnSignal();

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
    // True when the file was read.
    bool OpenFile(const QString& name);
    // The configuration file named on the command line, opened as the open command does; a file
    // that cannot be read leaves the window as it started.
    void OpenFileAtStart(const QString& name);
    void SaveFile(const QString& name);
    // True when a file was written.
    bool SaveFileAs();

    // Connection settings.
    void LoadConnectionSettings();
    void SaveConnectionSettings();
    void ApplyConnectionSettings();
    void ShowConnectionSettings();

    // Module exchange.
    void WriteConfigToModule(const TModuleConfig& config);
    void ReadConfigFromModule();
    void ReadModuleInfo();
    // Reads the module's configuration to set it beside the window's in the comparison window.
    void CompareWithModule();

    TModuleConfig Config{};
    bool Modified = false;
    QString FileName;
    QString SettingsFileName;
    TSettings Settings;
    // The settings file was there at start but could not be used: it is kept aside before the
    // close replaces it.
    bool SettingsFileUnusable = false;
    std::array<TRS485SettingsFrame*, ChannelCount> Frames{};
    TModbusTCPMaster* Master = nullptr;
    int32_t WriteOrderId = -1;
    int32_t ReadOrderId = -1;
    int32_t InfoOrderId = -1;
    int32_t VerifyOrderId = -1;  // the read-back after a write
    int32_t CompareOrderId = -1;
    QString HelpFolder;
    // The exchange monitor and the trace file.
    TExchangeTrace* ExchangeTrace = nullptr;

public slots:
    void FileOpenActionExecute();
    void SaveFileActionExecute();
    void SaveAsFileActionExecute();
    void ExitActionExecute();
    void SettingsActionExecute();
    void WriteConfigActionExecute();
    void ReadConfigActionExecute();
    void ReadInfoActionExecute();
    void CompareConfigActionExecute();
    void ShowMonitorActionExecute();
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
    // Answers whether the window may close.
    bool FormClose();
    void FormKeyDown(int key);
    // True for the key of a command the window itself dispatches.
    bool IsCommandKey(const QKeyEvent* key) const;
    // Stops and destroys the master without reporting the requests it cuts off.
    void ReleaseMaster();
    // Stopping the master drops its requests without a completion: none of them is pending any more.
    void ForgetPendingRequests();
    bool RequestPending() const;
    void SetUpToolBar();
    void SetUpStatusBar();
    void CreateFrame(size_t channel, const char* name, QWidget* page);
    // Which member keeps a request's id while it is pending, and what to do with its reply.
    using TPendingOrder = int32_t TMainWindow::*;
    using TReplyHandler = void (TMainWindow::*)(TModbusMaster* sender);
    // Attaches the operation's completion handler to a queued request, or tells the operator that
    // the master refused it; answers the id to keep as pending.
    int32_t TrackRequest(int32_t orderId, const QString& operation, const QString& failurePrefix, TPendingOrder pending,
                         TReplyHandler onReply);
    // The steps every completion shares: the pending id matched and cleared, the busy sign, the
    // failure message; the reply itself goes to the operation's handler.
    void RequestComplete(TModbusMaster* sender, int orderId, uint8_t status, int32_t& pending,
                         const QString& failurePrefix, TReplyHandler onReply);
    void WriteComplete(TModbusMaster* sender);
    void VerifyComplete(TModbusMaster* sender);
    void ReadComplete(TModbusMaster* sender);
    void InfoComplete(TModbusMaster* sender);
    void CompareComplete(TModbusMaster* sender);
    // Reads the block back to see whether the module keeps what was written.
    void VerifyWrittenConfig();
    void CheckWrittenConfig(const TModuleConfig& held);
    // Tells the operator that the write is done and offers to follow the module's new address.
    void ReportWritten();

    std::unique_ptr<Ui::TMainWindow> ui;
    std::array<QLabel*, 3> StatusPanels{};
    bool ClosingOnSignal = false;
    TBusySign* Busy = nullptr;
    // What the pending write sent, so that its completion compares the module's new address
    // with what was written rather than with whatever the record holds by then.
    TModuleConfig WrittenConfig{};
    // Lives while open; belongs to the modal dialog it was opened over, which would block it otherwise.
    QPointer<THelpWindow> HelpWindow;
};
