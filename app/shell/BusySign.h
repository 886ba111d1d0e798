#pragma once
// What the main window shows while a module request is pending: the operation and its running
// time in a status panel with the button that cancels it, the busy cursor, and the module commands
// disabled with a hint that says why, so that impatient clicks cannot queue requests behind the one
// that is running.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

class QAction;
class QLabel;
class QToolButton;

class TBusySign : public QObject {
public:
    // cancel: the button of the cancel command, shown and offered only while a request waits;
    // busyHint: added to the commands' hints while they are unavailable.
    TBusySign(QLabel* panel, std::vector<QAction*> commands, QToolButton* cancel, QString busyHint,
              QObject* parent = nullptr);
    ~TBusySign() override;

    // A request has been queued: the commands go grey, the cursor busy, the panel counts.
    void Start(const QString& operation);
    // The request has completed: cursor and panel go back before its outcome is shown.
    void Stop();
    // The outcome has been reported: the commands are offered again.
    void EnableCommands();

private:
    void ShowElapsed();

    QLabel* Panel;
    std::vector<QAction*> Commands;
    QToolButton* Cancel;
    QString BusyHint;
    // The commands' own hints while the busy hint is shown beside them; empty otherwise.
    std::vector<QString> OwnHints;
    QTimer Ticker;
    QElapsedTimer Clock;
    QString Operation;
    bool CursorShown = false;
};
