#pragma once
// Helpers shared by the widget tests: message boxes recorded instead of shown, and modal windows
// driven from the event loop so that no test blocks.

#include "Dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

struct TShownMessage {
    QString Text;
    QString Caption;
    unsigned Flags;
};

// Records every message box while it lives and answers each with Answer.
class TMessageBoxRecorder {
public:
    explicit TMessageBoxRecorder(int answer = ID::Ok) : Answer(answer)
    {
        DialogsTestHook::OnMessageBox = [this](const QString& text, const QString& caption, unsigned flags) {
            Shown.push_back({text, caption, flags});
            return Answer;
        };
    }
    ~TMessageBoxRecorder() { DialogsTestHook::OnMessageBox = nullptr; }
    TMessageBoxRecorder(const TMessageBoxRecorder&) = delete;
    TMessageBoxRecorder& operator=(const TMessageBoxRecorder&) = delete;

    int Answer;
    std::vector<TShownMessage> Shown;
};

// Runs action on the first modal window that appears after the call, from the event loop, so that
// the test can then enter the blocking exec() that shows it. Gives up after a deadline, closing
// whatever is modal, so that a window that never shows cannot hang the suite.
inline void WhenModalShown(std::function<void(QWidget* modal)> action, int deadlineMs = 5000)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, deadlineMs] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool expired = clock->elapsed() > deadlineMs;
        if (!modal && !expired)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal && !expired)
            action(modal);
        else if (modal)
            modal->close();
    });
    timer->start();
}

// Works the modal window of type TWindow that the next blocking call shows.
template <typename TWindow> void OperateModal(std::function<void(TWindow&)> operate)
{
    WhenModalShown([operate](QWidget* modal) {
        if (auto* window = dynamic_cast<TWindow*>(modal))
            operate(*window);
        else
            modal->close();
    });
}
