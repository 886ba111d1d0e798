#include "BusySign.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QToolButton>

namespace {
constexpr int TickMs = 100;
}  // namespace

TBusySign::TBusySign(QLabel* panel, std::vector<QAction*> commands, QToolButton* cancel, QString busyHint,
                     QObject* parent)
    : QObject(parent)
    , Panel(panel)
    , Commands(std::move(commands))
    , Cancel(cancel)
    , BusyHint(std::move(busyHint))
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
    const bool hintsShown = !OwnHints.empty();
    for (QAction* command : Commands) {
        command->setEnabled(false);
        if (hintsShown)
            continue;
        OwnHints.push_back(command->toolTip());
        command->setToolTip(command->toolTip() + u'\n' + BusyHint);
        command->setStatusTip(BusyHint);
    }
    Cancel->defaultAction()->setEnabled(true);
    Cancel->show();
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
    Cancel->defaultAction()->setEnabled(false);
    Cancel->hide();
}

void TBusySign::EnableCommands()
{
    // The busy hint a command showed in the status bar while the pointer rested on it would stay there
    // now, over the window's own panels: a command whose hint is empty clears nothing when left.
    if (auto* bar = qobject_cast<QStatusBar*>(Panel->parentWidget()); bar && bar->currentMessage() == BusyHint)
        bar->clearMessage();
    for (size_t i = 0; i < Commands.size(); ++i) {
        Commands[i]->setEnabled(true);
        if (i < OwnHints.size()) {
            Commands[i]->setToolTip(OwnHints[i]);
            Commands[i]->setStatusTip({});
        }
    }
    OwnHints.clear();
}

void TBusySign::ShowElapsed()
{
    // Tenths of a second, written as the operator's locale writes them ("0,4 с").
    const double seconds = double(Clock.elapsed()) / 1000.0;
    //: %1 is the operation running, %2 the seconds it has taken so far
    Panel->setText(QCoreApplication::translate("TBusySign", "%1 %2 с")
                       .arg(Operation, QLocale(QLocale::Russian).toString(seconds, 'f', 1)));
}
