#pragma once
// The program's application object: its title and the error display for whatever no handler
// caught, so that no exception crosses the event loop.

#include <QApplication>
#include <QTranslator>
#include <exception>
#include <functional>

class TKorvelApplication : public QApplication {
public:
    TKorvelApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    // The program speaks Russian whatever the desktop's language: Qt's own buttons and file
    // dialogs follow it when the translation is installed.
    QTranslator QtTranslator;
};

// The error display: a message box with the error's text, the application title as caption and
// the error icon.
void ShowApplicationError(const std::exception& error);

// Runs an operator command; an exception it raises is shown by the error display and the command
// is abandoned at that point. Answers false when it was abandoned.
bool RunGuarded(const std::function<void()>& command);
