#include "ExpEthernetSettings_Win.h"

TExpEthernetSettingsWindow::TExpEthernetSettingsWindow(TShowHelpTopic showHelpTopic, QWidget* parent)
    : TEditForm(parent)
{
    setupUi(this);
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_RS485.htm#servers"));
    BindButtons(Button1, Button2);
    FixSize();
}

bool TExpEthernetSettingsWindow::ValidateInput()
{
    return CheckTextInRange(*SpinEdit1, tr("Недопустимое значение таймаута ModbusTCP. Допускаются значения %1")) &&
           CheckTextInRange(*SpinEdit2,
                            tr("Недопустимое значение времени установления соединения. Допускаются значения %1"));
}

bool EditExpEthernetSettings(TExpEthernetValues& values, const TShowHelpTopic& showHelpTopic)
{
    TExpEthernetSettingsWindow window(showHelpTopic);
    window.SpinEdit1->SetValue(values.RecvTimeout);
    window.SpinEdit2->SetValue(values.ConnTimeout);
    // The time-out starts with the focus; selected, it is replaced by what the operator types
    // instead of being added to.
    window.SpinEdit1->selectAll();
    window.exec();
    if (window.Accepted) {
        values.RecvTimeout = window.SpinEdit1->Value();
        values.ConnTimeout = window.SpinEdit2->Value();
    }
    return window.Accepted;
}
