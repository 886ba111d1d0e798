#pragma once
// The main window under test: every modal box and file dialog goes through scripted hooks, the
// settings file and help folder lie in a temporary folder.

#include "Controls.h"
#include "Dialogs.h"
#include "Help_Win.h"
#include "Main_Win.h"
#include "RS485Settings_Frm.h"
#include "WidgetsTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

struct TShownBox {
    QString Text;
    QString Caption;
    unsigned Flags;
};

struct TShownFileDialog {
    TFileDialog::TKind Kind;
    QString Filter;
    QString DefaultExt;
    QString FileName;
    QString InitialDir;
};

// Answers the dialogs in the order the test scripted them; an unscripted message box answers OK
// and an unscripted file dialog is cancelled.
class TScriptedDialogs {
public:
    TScriptedDialogs()
    {
        DialogsTestHook::OnMessageBox = [this](const QString& text, const QString& caption, unsigned flags) {
            Boxes.push_back({text, caption, flags});
            if (BoxAnswers.empty())
                return ID::Ok;
            const int answer = BoxAnswers.front();
            BoxAnswers.pop_front();
            return answer;
        };
        DialogsTestHook::OnFileDialog = [this](TFileDialog& dialog) {
            FileDialogs.push_back({dialog.Kind, dialog.Filter, dialog.DefaultExt, dialog.FileName, dialog.InitialDir});
            if (FileAnswers.empty())
                return false;
            const std::optional<QString> answer = FileAnswers.front();
            FileAnswers.pop_front();
            if (!answer)
                return false;
            dialog.FileName = *answer;
            return true;
        };
    }
    ~TScriptedDialogs()
    {
        DialogsTestHook::OnMessageBox = nullptr;
        DialogsTestHook::OnFileDialog = nullptr;
    }
    TScriptedDialogs(const TScriptedDialogs&) = delete;
    TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

    std::deque<int> BoxAnswers;
    std::deque<std::optional<QString>> FileAnswers;  // nullopt: the operator cancels
    std::vector<TShownBox> Boxes;
    std::vector<TShownFileDialog> FileDialogs;
};

class MainWindowFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        SettingsPath = Folder.filePath("KorvelService.xml");
        HelpFolder = Folder.filePath("Help") + '/';
    }

    // Created on demand, so that a test can prepare the settings file first.
    TMainWindow& Window()
    {
        if (!Window_) {
            Window_ = std::make_unique<TMainWindow>(SettingsPath, HelpFolder);
            Window_->RecoveryFolder = RecoveryFolder();
        }
        return *Window_;
    }

    template <class T> T* TCPIPControl(const char* name)
    {
        auto* page = Window().findChild<QWidget*>("TabSheet3");
        return page ? page->findChild<T*>(name) : nullptr;
    }
    TMaskEdit* AddressEdit(int i) { return TCPIPControl<TMaskEdit>(("MaskEdit" + std::to_string(i)).c_str()); }
    TSpinEdit* PortEdit() { return TCPIPControl<TSpinEdit>("SpinEdit1"); }
    TRS485SettingsFrame* Frame(int i) { return Window().Frames[i]; }
    QString Panel(int i) { return Window().findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text(); }
    QAction* Action(const char* name) { return Window().findChild<QAction*>(name); }

    // Closes the window as the operator would and answers whether it closed.
    bool CloseWindow()
    {
        Window().show();
        return Window().close();
    }

    QString Path(const char* name) const { return Folder.filePath(name); }
    // Where a termination signal keeps the unsaved edits, never the user's own state folder.
    QString RecoveryFolder() const { return Folder.filePath("state/KorvelService"); }

    // The settings file the next window reads: the module at this loopback port.
    void PointSettingsAt(quint16 port)
    {
        QFile file(SettingsPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>" + QByteArray::number(port) +
                   "</TCPPort>\r\n</CONNECT>\r\n");
    }

    QTemporaryDir Folder;
    QString SettingsPath;
    QString HelpFolder;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TMainWindow> Window_;
};

// Texts in failure messages read as text, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Cases of a parameterised test print as their What text.
template <class TCase>
requires requires(const TCase& c)
{
    c.What;
}
void PrintTo(const TCase& c, std::ostream* out)
{
    *out << c.What;
}

// A parameterised case's name from its What text, as GoogleTest allows names.
template <class TCase> std::string ParamNameFromWhat(const ::testing::TestParamInfo<TCase>& info)
{
    std::string name = info.param.What;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// The help window on the screen, if any.
inline THelpWindow* ShownHelpWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* help = qobject_cast<THelpWindow*>(window); help && help->isVisible())
            return help;
    return nullptr;
}

// The page the help window shows: its full path, empty when no help window is shown.
inline QString ShownHelpPage()
{
    const THelpWindow* help = ShownHelpWindow();
    return help ? help->Page() : QString();
}

// The settings file of the program's own defaults, as every version writes it.
inline const QByteArray DefaultSettingsFile =
    "<CONNECT>\r\n <IPAddress>192.168.127.10</IPAddress>\r\n <TCPPort>502</TCPPort>\r\n</CONNECT>\r\n";

// A configuration unlike every default, so that a field lost on the way shows.
inline TModuleConfig SampleConfig()
{
    TModuleConfig config{};
    config.Address = {10, 1, 2, 3};
    config.Gateway = {10, 1, 2, 254};
    config.NetMask = {255, 255, 0, 0};
    config.TCPPort = 1502;
    config.Channels[0] = {0, 4, 1, 1, 250, 0, {10, 1, 2, 50}, {10, 1, 2, 51}, 300, 400, 5020, 5021, {}};
    config.Channels[1] = {17, 12, 2, 0, 100, 0, {10, 1, 3, 50}, {10, 1, 3, 51}, 200, 150, 6020, 6021, {}};
    return config;
}

inline bool SameRecord(const TModuleConfig& a, const TModuleConfig& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
