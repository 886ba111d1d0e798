#include "Settings_Win.h"

#include "Dialogs.h"
#include "IPAddressText.h"
#include "RConvert.h"
#include "Search_Win.h"

#include <utility>

TSettingsWindow::TSettingsWindow(TShowHelpTopic showHelpTopic, QWidget* parent)
    : TEditForm(parent)
    , HelpTopic(showHelpTopic)
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
    if (!CheckTextInRange(*SpinEdit1, tr("Недопустимое значение TCP порта !. Интервал допустимых значений %1")))
        return false;
    // The address must be one the program can reach: four numbers 0..255, none of them missing.
    TIPAddress address;
    if (!StrToIP(AddressWithoutBlanks(), address)) {
        ShowInputError(tr("Недопустимое значение IP адреса !"));
        return false;
    }
    return CheckTextInRange(*SpinEdit2,
                            tr("Недопустимое значение таймаута ответа !. Интервал допустимых значений %1")) &&
           CheckTextInRange(*SpinEdit3,
                            tr("Недопустимое значение количества передач !. Интервал допустимых значений %1"));
}

void TSettingsWindow::Button3Click()
{
    std::string address = AddressWithoutBlanks();
    int32_t port = SpinEdit1->Value();
    // The time-out as the dialog shows it now: the operator may have raised it for a slow link.
    if (!SearchModules(address, port, SpinEdit2->Value(), HelpTopic))
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
    window.SpinEdit2->SetValue(settings.Timeout);
    window.SpinEdit3->SetValue(settings.Transmissions);
    // The address starts with the focus; selected, it is replaced by what the operator types
    // instead of refusing every key behind its last digit.
    window.MaskEdit1->selectAll();
    window.exec();
    if (window.Accepted) {
        settings.IPAddress = window.AddressWithoutBlanks();
        settings.TCPPort = window.SpinEdit1->Value();
        settings.VerifyWrite = window.CheckBox1->isChecked();
        settings.Timeout = window.SpinEdit2->Value();
        settings.Transmissions = window.SpinEdit3->Value();
    }
    return window.Accepted;
}
