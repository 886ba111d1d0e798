#pragma once
// The window "Сравнение с модулем": the configuration in the window beside the module's, field by
// field, with the differing rows marked, and a way to write the window's into the module.

#include "ConfigComparison.h"
#include "Forms.h"
#include "ui_Compare_Win.h"

#include <vector>

class TCompareWindow : public TForm, public Ui::TCompareWindow {
    Q_OBJECT

public:
    explicit TCompareWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr);

    void FillRows(const TModuleConfig& window, const TModuleConfig& module);

    // True once "Загрузить в модуль" was pressed.
    bool WriteChosen = false;

public slots:
    void Button1Click();
    void Button2Click();
    void CheckBox1Click();

private:
    void ShowRows();

    std::vector<TFieldComparison> Rows;
};

// Runs the window modally; true when the operator chose to write the window's configuration.
bool ShowCompareWindow(const TModuleConfig& window, const TModuleConfig& module,
                       const TShowHelpTopic& showHelpTopic = {});
