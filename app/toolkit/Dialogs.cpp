#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace DialogsTestHook {
std::function<int(const QString& text, const QString& caption, unsigned flags)> OnMessageBox;
std::function<bool(TFileDialog& dialog)> OnFileDialog;
}  // namespace DialogsTestHook

namespace {

// The Windows flag word: the low nibble chooses the buttons, the next one the icon.
constexpr unsigned ButtonsMask = 0x0F;
constexpr unsigned IconMask = 0xF0;
constexpr unsigned ButtonsOk = 0x00;
constexpr unsigned ButtonsOkCancel = 0x01;
constexpr unsigned ButtonsYesNoCancel = 0x03;
constexpr unsigned ButtonsYesNo = 0x04;
constexpr unsigned IconHand = 0x10;
constexpr unsigned IconQuestion = 0x20;
constexpr unsigned IconExclamation = 0x30;
constexpr unsigned IconAsterisk = 0x40;

QMessageBox::StandardButtons ButtonsOf(unsigned flags)
{
    switch (flags & ButtonsMask) {
    case ButtonsOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case ButtonsYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case ButtonsYesNo: return QMessageBox::Yes | QMessageBox::No;
    case ButtonsOk:
    default: return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconOf(unsigned flags)
{
    switch (flags & IconMask) {
    case IconHand: return QMessageBox::Critical;
    case IconQuestion: return QMessageBox::Question;
    case IconExclamation: return QMessageBox::Warning;
    case IconAsterisk: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int AnswerOf(int button)
{
    switch (button) {
    case QMessageBox::Yes: return ID::Yes;
    case QMessageBox::No: return ID::No;
    case QMessageBox::Cancel: return ID::Cancel;
    default: return ID::Ok;
    }
}

}  // namespace

// "Description|*.a;*.b|..." becomes "Description (*.a *.b);;...". A description that already
// names its patterns in brackets is kept as it is, so the operator does not see them twice.
QString QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = QString(parts[i + 1]).replace(u';', u' ').trimmed();
        if (description.endsWith(u')') && description.contains(u'('))
            filters << description;
        else
            filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

int MessageBox(const QString& text, const QString& caption, unsigned flags)
{
    if (DialogsTestHook::OnMessageBox)
        return DialogsTestHook::OnMessageBox(text, caption, flags);

    QMessageBox box(IconOf(flags), caption, text, ButtonsOf(flags), QApplication::activeWindow());
    // Closing a box that offers Cancel answers Cancel, as Esc does.
    if (box.standardButtons() & QMessageBox::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    const int button = box.exec();
    return AnswerOf(button);
}

void ShowInputError(const QString& text)
{
    MessageBox(text, QString::fromLatin1(ApplicationTitle), MB::IconError);
}

bool TFileDialog::Execute()
{
    if (DialogsTestHook::OnFileDialog)
        return DialogsTestHook::OnFileDialog(*this);

    QFileDialog dialog(Parent);
    const bool saving = Kind == TKind::Save;
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The open dialog takes names of files that do not exist; the save dialog replaces without asking.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (saving)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!Filter.isEmpty())
        dialog.setNameFilter(QtNameFilters(Filter));
    dialog.setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty()) {
        const QFileInfo current(FileName);
        dialog.setDirectory(current.absolutePath());
        dialog.selectFile(current.fileName());
    } else if (!InitialDir.isEmpty()) {
        dialog.setDirectory(InitialDir);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    return true;
}
