#pragma once
// The window "О программе": the maker, the program's icon, its purpose and its version.

#include "Forms.h"
#include "ui_About_Win.h"

class TAboutWindow : public TForm, public Ui::TAboutWindow {
    Q_OBJECT

public:
    explicit TAboutWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr);

    // Centres the window over mainWindow (when given) and shows the program's version.
    void FillAbout(const QWidget* mainWindow);
    // Fills the window and runs it modally.
    void ShowAbout(const QWidget* mainWindow);

public slots:
    void Button1Click();

protected:
    bool FormKeyPress(QChar key) override;
};

// Shows the About window modally, centred over the main window; F1 there opens the help's contents.
void ShowAboutWindow(const QWidget* mainWindow = nullptr, const TShowHelpTopic& showHelpTopic = {});
