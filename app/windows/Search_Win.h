#pragma once
// The window "Поиск модулей": asks every address of a range for the module information at once,
// lists the modules that answer, and hands the chosen one's address and port back.

#include "Forms.h"
#include "ui_Search_Win.h"

#include <cstdint>
#include <string>

class TFleetRunner;

class TSearchWindow : public TForm, public Ui::TSearchWindow {
    Q_OBJECT

public:
    // timeoutMs: how long one address is waited for; the range starts as the /24 of address.
    TSearchWindow(const std::string& address, int32_t port, int timeoutMs, TShowHelpTopic showHelpTopic = {},
                  QWidget* parent = nullptr);

    // The chosen module, once the window was accepted.
    std::string ChosenAddress;
    int32_t ChosenPort = 0;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void TableWidget1DoubleClick();
    void reject() override;

private:
    void AddModule(const std::string& address, uint16_t port, const QStringList& texts);
    void SetSearching(bool searching);

    int TimeoutMs;
    TFleetRunner* Runner = nullptr;  // while a search runs
    bool CloseWhenStopped = false;   // closed while a search ran
};

// Runs the window; true when the operator chose a module, whose address and port then replace
// the given ones.
bool SearchModules(std::string& address, int32_t& port, int timeoutMs, const TShowHelpTopic& showHelpTopic = {});
