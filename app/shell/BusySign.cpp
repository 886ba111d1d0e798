#include "BusySign.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLocale>

namespace {
constexpr int TickMs = 100;
}  // namespace

TBusySign::TBusySign(QLabel* panel, std::vector<QAction*> commands, QObject* parent)
    : QObject(parent)
    , Panel(panel)
    , Commands(std::move(commands))
{
    Ticker.setInterval(TickMs);
    connect(&Ticker, &QTimer::timeout, this, &TBusySign::ShowElapsed);
}

TBusySign::~TBusySign()
{
    // The panel may already be gone with the window; only the application-wide cursor needs undoing.
    if (CursorShown)
        QApplication::restoreOverrideCursor();
}

void TBusySign::Start(const QString& operation)
{
    for (QAction* command : Commands)
        command->setEnabled(false);
    if (!CursorShown)
        QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    CursorShown = true;
    Operation = operation;
    Clock.start();
    Ticker.start();
    ShowElapsed();
}

void TBusySign::Stop()
{
    Ticker.stop();
    if (CursorShown)
        QApplication::restoreOverrideCursor();
    CursorShown = false;
    Panel->clear();
}

void TBusySign::EnableCommands()
{
    for (QAction* command : Commands)
        command->setEnabled(true);
}

void TBusySign::ShowElapsed()
{
    // Tenths of a second, written as the operator's locale writes them ("0,4 с").
    const double seconds = double(Clock.elapsed()) / 1000.0;
    //: %1 is the operation running, %2 the seconds it has taken so far
    Panel->setText(QCoreApplication::translate("TBusySign", "%1 %2 с")
                       .arg(Operation, QLocale(QLocale::Russian).toString(seconds, 'f', 1)));
}
