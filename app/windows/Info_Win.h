#pragma once
// The window "Информация о модуле": firmware version, MAC address and the factory-configuration
// jumper of the module, as its information block reports them.

#include "Forms.h"
#include "ModuleInfo.h"
#include "ui_Info_Win.h"

class TInfoWindow : public TForm, public Ui::TInfoWindow {
    Q_OBJECT

public:
    explicit TInfoWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr);

    void FillInfo(const TModuleInfo& info);
    // Fills the window and runs it modally.
    void ShowInfo(const TModuleInfo& info);

public slots:
    void Button1Click();

protected:
    bool FormKeyPress(QChar key) override;
};

// Shows the block in a modal window; showHelpTopic answers F1.
void ShowModuleInfo(const TModuleInfo& info, const TShowHelpTopic& showHelpTopic = {});
