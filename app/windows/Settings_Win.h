#pragma once
// The dialog "Настройки": the address and TCP port at which the program reaches the module.

#include "Forms.h"
#include "Settings.h"
#include "ui_Settings_Win.h"

#include <string>

class TSettingsWindow : public TEditForm, public Ui::TSettingsWindow {
    Q_OBJECT

public:
    explicit TSettingsWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr);

    bool ValidateInput() override;

public slots:
    // "Поиск...": a module found puts its address and port into the dialog.
    void Button3Click();

public:
    // The typed address as it is stored: without the mask's blanks.
    std::string AddressWithoutBlanks() const;

private:
    TShowHelpTopic HelpTopic;
};

// Runs the dialog on settings; true when the operator confirmed valid values, and only then are
// they replaced. showHelpTopic answers F1.
bool EditSettings(TSettings& settings, const TShowHelpTopic& showHelpTopic = {});
