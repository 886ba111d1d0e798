#include "Monitor_Win.h"

#include "Dialogs.h"

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
// The widest text each column but the bytes usually holds; the meaning's is the longest exception
// name, which the operator must read whole.
const QString ColumnSamples[TExchangeTableModel::BytesColumn] = {
    QStringLiteral("99999.9"), QStringLiteral("←"),      QStringLiteral("65535"),
    QStringLiteral("255"),     QStringLiteral("144"),    QStringLiteral("84..140 (57)"),
    QStringLiteral("127"),     QStringLiteral("9999.9"), QStringLiteral("исключение: недопустимое значение данных"),
};
const QString SaveFilter = QStringLiteral("Текстовые файлы (*.txt)|*.txt");
const QString SaveExt = QStringLiteral("txt");
const QString WriteErrorText = QStringLiteral("Ошибка записи в файл ");

QString LatencyText(double ms)
{
    return ms < 0 ? QStringLiteral("—") : QString::number(ms, 'f', 1) + QStringLiteral(" мс");
}
}  // namespace

TMonitorWindow::TMonitorWindow(TShowHelpTopic showHelpTopic, QWidget* parent) : TForm(parent)
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
        const QString widest =
            std::max(Model.headerData(column, Qt::Horizontal).toString(), ColumnSamples[column],
                     [this](const QString& a, const QString& b) {
                         return fontMetrics().horizontalAdvance(a) < fontMetrics().horizontalAdvance(b);
                     });
        header->resizeSection(column, fontMetrics().horizontalAdvance(widest) + CellPadding);
    }
    RefreshTimer.setSingleShot(true);
    RefreshTimer.setInterval(RefreshMs);
    connect(&RefreshTimer, &QTimer::timeout, this, &TMonitorWindow::Refresh);
    connect(Button2, &QPushButton::clicked, this, &TMonitorWindow::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TMonitorWindow::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &QDialog::close);
    ShowCounters();
}

void TMonitorWindow::AddRecord(const TExchangeRecord& record)
{
    if (Button1->isChecked())
        return;  // paused
    if (!RefreshTimer.isActive()) {
        // Followed only when the operator has not scrolled back to look at something.
        const QScrollBar* scroll = TableView1->verticalScrollBar();
        FollowEnd = scroll->value() == scroll->maximum();
        RefreshTimer.start();
    }
    Model.Append(record);
    Counters_.Add(record);
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
    return QStringLiteral("Запросов: %1   Ответов: %2   Таймаутов: %3   Повторов: %4   Исключений: %5   "
                          "Задержка: медиана %6, худшая %7")
        .arg(Counters_.Requests)
        .arg(Counters_.Replies)
        .arg(Counters_.Timeouts)
        .arg(Counters_.Retransmissions)
        .arg(Counters_.Exceptions)
        .arg(LatencyText(Counters_.MedianLatencyMs()), LatencyText(Counters_.WorstLatencyMs()));
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
    dialog.Filter = SaveFilter;
    dialog.DefaultExt = SaveExt;
    if (!dialog.Execute())
        return;
    QByteArray text;
    for (const TExchangeRecord& record : Model.Records())
        text += TraceFileLine(record).toUtf8() + '\n';
    text += CountersText().toUtf8() + '\n';
    // Replaced whole or not at all: a failed save leaves the previous file as it was.
    QSaveFile file(dialog.FileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        ShowInputError(WriteErrorText + dialog.FileName);
}
