#include "Monitor_Win.h"

#include "Dialogs.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {
// New rows and the sums line are shown at most this often: laying out and drawing the table costs
// far more than taking a frame, and a burst of frames would otherwise be shown frame by frame.
constexpr int RefreshMs = 50;
constexpr int RowPadding = 4;
constexpr int CellPadding = 16;
// The widest text each column but the meaning and the bytes usually holds.
const QString ColumnSamples[TExchangeTableModel::MeaningColumn] = {
    QStringLiteral("28.12.2026 23:59:59.999"),
    QStringLiteral("99999.9"),
    QStringLiteral("←"),
    QStringLiteral("65535"),
    QStringLiteral("255"),
    QStringLiteral("144"),
    QStringLiteral("84..140 (57)"),
    QStringLiteral("127"),
    QStringLiteral("9999.9"),
};
// The meaning's samples are the named exceptions (codes up to this one), which the operator must
// read whole; which is the longest depends on the language shown.
constexpr int LastExceptionCode = 11;
const QString SaveExt = QStringLiteral("txt");
const QString CountersSeparator = QStringLiteral("   ");

QString LatencyText(double ms)
{
    return ms < 0 ? QStringLiteral("—") : QCoreApplication::translate("TMonitorWindow", "%1 мс").arg(ms, 0, 'f', 1);
}
}  // namespace

TMonitorWindow::TMonitorWindow(TShowHelpTopic showHelpTopic, QWidget* parent, int capacity)
    : TForm(parent)
    , Model(nullptr, capacity)
{
    setupUi(this);
    // A window of its own: it stays open and usable beside the main window.
    setWindowFlags(Qt::Window);
    setModal(false);
    // Wide for the bytes, but never past the screen of a small field laptop.
    if (const QScreen* screen = parent ? parent->screen() : this->screen())
        resize(size().boundedTo(screen->availableSize()));
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Conent.htm#monitor"));
    TableView1->setModel(&Model);
    TableView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + RowPadding);
    // Wide enough for what the columns hold, so the bytes get the rest of the row.
    QHeaderView* header = TableView1->horizontalHeader();
    for (int column = 0; column < TExchangeTableModel::BytesColumn; ++column) {
        QStringList samples{Model.headerData(column, Qt::Horizontal).toString()};
        if (column < TExchangeTableModel::MeaningColumn)
            samples << ColumnSamples[column];
        else
            for (int code = 1; code <= LastExceptionCode; ++code)
                samples << ExceptionMeaning(code);
        int widest = 0;
        for (const QString& sample : samples)
            widest = std::max(widest, fontMetrics().horizontalAdvance(sample));
        header->resizeSection(column, widest + CellPadding);
    }
    RefreshTimer.setSingleShot(true);
    RefreshTimer.setInterval(RefreshMs);
    connect(&RefreshTimer, &QTimer::timeout, this, &TMonitorWindow::Refresh);
    connect(Button2, &QPushButton::clicked, this, &TMonitorWindow::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TMonitorWindow::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &QDialog::close);
    const QScrollBar* scroll = TableView1->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this, &TMonitorWindow::ScrollMoved);
    connect(scroll, &QScrollBar::rangeChanged, this, [this](int, int maximum) { ScrollRangeChanged(maximum); });
    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &TMonitorWindow::CopySelectedRows);
    TableView1->addAction(copy);
    ShowCounters();
}

void TMonitorWindow::AddRecord(const TExchangeRecord& record)
{
    if (Button1->isChecked())
        return;  // paused
    if (!RefreshTimer.isActive())
        RefreshTimer.start();
    Model.Append(record);
    Counters_.Add(record);
}

void TMonitorWindow::ScrollMoved(int value)
{
    // Followed only when the operator has not scrolled back to look at something.
    FollowEnd = value == TableView1->verticalScrollBar()->maximum();
}

void TMonitorWindow::ScrollRangeChanged(int maximum)
{
    // A resize or new rows move the end away from a table that was at it.
    if (FollowEnd)
        TableView1->verticalScrollBar()->setValue(maximum);
}

void TMonitorWindow::CopySelectedRows()
{
    // Whole rows are selected; in the table's order, whatever order they were picked in.
    QModelIndexList rows = TableView1->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const QModelIndex& row : rows)
        if (const TExchangeRecord* record = Model.RecordAt(row.row()))
            text += TraceFileLine(*record) + u'\n';
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void TMonitorWindow::Refresh()
{
    Model.ShowNewRows();
    if (FollowEnd)
        TableView1->scrollToBottom();
    ShowCounters();
}

QString TMonitorWindow::CountersText() const
{
    QString text = tr("Запросов: %1   Ответов: %2   Таймаутов: %3   Повторов: %4   Исключений: %5   "
                      "Задержка: медиана %6, худшая %7")
                       .arg(Counters_.Requests)
                       .arg(Counters_.Replies)
                       .arg(Counters_.Timeouts)
                       .arg(Counters_.Retransmissions)
                       .arg(Counters_.Exceptions)
                       .arg(LatencyText(Counters_.MedianLatencyMs()), LatencyText(Counters_.WorstLatencyMs()));
    // Told only when there are any: a sound exchange reads as it always has.
    if (Counters_.MalformedFrames > 0)
        text += CountersSeparator + tr("Ошибок кадра: %1").arg(Counters_.MalformedFrames);
    return text + CountersSeparator +
           tr("Строк: %1 из %2").arg(qlonglong(Model.Records().size())).arg(Model.Capacity());
}

void TMonitorWindow::ShowCounters()
{
    Label1->setText(CountersText());
}

void TMonitorWindow::Button2Click()
{
    Model.Clear();
    Counters_.Clear();
    ShowCounters();
}

void TMonitorWindow::Button3Click()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = tr("Текстовые файлы (*.txt)|*.txt");
    dialog.DefaultExt = SaveExt;
    if (!dialog.Execute())
        return;
    // Replaced whole or not at all: a failed save leaves the previous file as it was. Written line
    // by line, so that saving a full monitor does not hold its text twice over.
    QSaveFile file(dialog.FileName);
    bool written = file.open(QIODevice::WriteOnly);
    const auto writeLine = [&file, &written](const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        written = written && file.write(bytes) == bytes.size();
    };
    for (const QString& line : ExchangeHeaderLines(Connection, QDateTime::currentDateTime()))
        writeLine(line);
    for (const TExchangeRecord& record : Model.Records())
        writeLine(TraceFileLine(record));
    writeLine(CountersText());
    if (!written || !file.commit())
        ShowInputError(tr("Ошибка записи в файл %1").arg(dialog.FileName));
}
