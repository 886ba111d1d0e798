#pragma once
// The window "Монитор обмена": every frame between the program and the module, and the events of
// the connection, as they happen, with the sums of the exchange below. It stays open beside the
// main window while the operator works.

#include "ExchangeCounters.h"
#include "ExchangeHeader.h"
#include "ExchangeTableModel.h"
#include "Forms.h"
#include "ui_Monitor_Win.h"

#include <QTimer>

class TMonitorWindow : public TForm, public Ui::TMonitorWindow {
    Q_OBJECT

public:
    explicit TMonitorWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr,
                            int capacity = TExchangeTableModel::DefaultCapacity);

    void AddRecord(const TExchangeRecord& record);
    const TExchangeCounters& Counters() const { return Counters_; }
    const TExchangeTableModel& Rows() const { return Model; }
    // The text of the sums line, with the rows kept and the most that are.
    QString CountersText() const;
    // The selected rows as the trace file has them, bytes and all, to the clipboard (Ctrl+C).
    void CopySelectedRows();

    // Where the module is reached, for the header of a saved capture.
    TExchangeConnection Connection;

public slots:
    void Button2Click();
    void Button3Click();

private:
    void Refresh();
    void ShowCounters();
    // Whether the table is to stay at its end: true while the operator leaves it there, whatever
    // changes its height or its rows.
    void ScrollMoved(int value);
    void ScrollRangeChanged(int maximum);

    TExchangeTableModel Model;
    TExchangeCounters Counters_;
    // Started by the first record after a quiet spell; the records until it fires are shown at once.
    QTimer RefreshTimer;
    bool FollowEnd = true;
};
