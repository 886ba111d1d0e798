#pragma once
// The program's modal boxes and file dialogs, with test hooks so that no test ever blocks on a
// real modal window. Flag and answer values are the Windows message-box values the program uses.

#include <QString>
#include <functional>

class QWidget;

namespace MB {
constexpr unsigned IconError = 0x10;  // MB_ICONHAND | MB_OK
constexpr unsigned YesNoCancelQuestion = 0x23;
constexpr unsigned YesNoQuestion = 0x24;
constexpr unsigned Warning = 0x30;      // MB_ICONEXCLAMATION | MB_OK
constexpr unsigned Information = 0x40;  // MB_ICONASTERISK | MB_OK
}  // namespace MB

namespace ID {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
}  // namespace ID

// Shows a modal message box and answers the button pressed (ID::Ok, ID::Cancel, ID::Yes, ID::No).
int MessageBox(const QString& text, const QString& caption, unsigned flags);

// The application title: shown on the taskbar and the caption of every message box.
inline constexpr const char* ApplicationTitle = "KorvelService";

// A rejected value: the message with the caption, the error icon and one OK button.
void ShowInputError(const QString& text);

// An open or save file dialog: Filter in the "Description|*.ext|..." form, DefaultExt without the
// dot (added when the typed name has no extension), FileName in and out.
class TFileDialog {
public:
    enum class TKind { Open, Save };
    explicit TFileDialog(TKind kind, QWidget* parent = nullptr) : Kind(kind), Parent(parent) {}

    TKind Kind;
    QString Filter;
    QString DefaultExt;
    QString FileName;
    // The folder shown first when FileName names none.
    QString InitialDir;

    // True when the operator confirmed a file; FileName then holds its full path.
    bool Execute();

private:
    QWidget* Parent;
};

// The Filter text in Qt's form: "Ini-files (*.ini)|*.ini" gives "Ini-files (*.ini)".
QString QtNameFilters(const QString& filter);

// Test hooks: when assigned, they replace the real windows. Each records the call and answers it.
namespace DialogsTestHook {
extern std::function<int(const QString& text, const QString& caption, unsigned flags)> OnMessageBox;
extern std::function<bool(TFileDialog& dialog)> OnFileDialog;
}  // namespace DialogsTestHook
