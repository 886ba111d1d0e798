#include "Settings_Win.h"

#include "Dialogs.h"
#include "LocalDefines.h"
#include "ModuleClient.h"
#include "RConvert.h"
#include "Search_Win.h"

#include <utility>

TSettingsWindow::TSettingsWindow(TShowHelpTopic showHelpTopic, QWidget* parent)
    : TEditForm(parent), HelpTopic(showHelpTopic)
{
    setupUi(this);
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Settings.htm"));
    BindButtons(Button1, Button2);
    connect(Button3, &QPushButton::clicked, this, &TSettingsWindow::Button3Click);
    FixSize();
}

std::string TSettingsWindow::AddressWithoutBlanks() const
{
    std::string address = MaskEdit1->Text().toStdString();
    RemoveChars(address, IPBlankChars);
    return address;
}

bool TSettingsWindow::ValidateInput()
{
    if (!SpinEdit1->IsTextInRange()) {
        ShowInputError(QStringLiteral("Недопустимое значение TCP порта !. Интервал допустимых значений ") +
                       SpinEdit1->RangeText());
        return false;
    }
    // The address must be one the program can reach: four numbers 0..255, none of them missing.
    TIPAddress address;
    if (!StrToIP(AddressWithoutBlanks(), address)) {
        ShowInputError(QStringLiteral("Недопустимое значение IP адреса !"));
        return false;
    }
    return true;
}

void TSettingsWindow::Button3Click()
{
    std::string address = AddressWithoutBlanks();
    int32_t port = SpinEdit1->Value();
    if (!SearchModules(address, port, TModuleClientOptions{}.TimeoutMs, HelpTopic))
        return;
    MaskEdit1->setText(QString::fromStdString(address));
    SpinEdit1->SetValue(port);
}

bool EditSettings(TSettings& settings, const TShowHelpTopic& showHelpTopic)
{
    TSettingsWindow window(showHelpTopic);
    window.MaskEdit1->setText(QString::fromStdString(settings.IPAddress));
    window.SpinEdit1->SetValue(settings.TCPPort);
    window.CheckBox1->setChecked(settings.VerifyWrite);
    // The address starts with the focus; selected, it is replaced by what the operator types
    // instead of refusing every key behind its last digit.
    window.MaskEdit1->selectAll();
    window.exec();
    if (window.Accepted) {
        settings.IPAddress = window.AddressWithoutBlanks();
        settings.TCPPort = window.SpinEdit1->Value();
        settings.VerifyWrite = window.CheckBox1->isChecked();
    }
    return window.Accepted;
}
