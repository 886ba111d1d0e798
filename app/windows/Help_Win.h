#pragma once
// The program's own help viewer: the pages of the help folder with their links, back and forward,
// so that help works where no desktop browser is installed.

#include "ui_Help_Win.h"

#include <QDialog>
#include <QString>

class THelpWindow : public QDialog, public Ui::THelpWindow {
    Q_OBJECT

public:
    // helpFolder: where the pages lie, with a trailing separator.
    explicit THelpWindow(const QString& helpFolder, QWidget* parent = nullptr);

    // Shows the page (a file name in the help folder, with "#section" for a part of it), brings the window up and keeps
    // the way back to the page shown before.
    void ShowTopic(const QString& topic);
    // The full path of the page shown, empty before the first one.
    QString Page() const;

public slots:
    void Button3Click();

private:
    void ShowTitle();

    QString HelpFolder;
};
