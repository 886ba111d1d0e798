#include "Compare_Win.h"

#include <QHeaderView>

#include <algorithm>
#include <utility>

namespace {
const QColor DifferenceColour(255, 221, 221);
constexpr int ColumnCount = 3;
constexpr int RowPadding = 6;
}  // namespace

TCompareWindow::TCompareWindow(TShowHelpTopic showHelpTopic, QWidget* parent) : TForm(parent)
{
    setupUi(this);
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Conent.htm#compare"));
    TableWidget1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    TableWidget1->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    // One line of text per row, as in a list, so that most of the 28 fields fit without scrolling.
    TableWidget1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + RowPadding);
    connect(Button1, &QPushButton::clicked, this, &TCompareWindow::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TCompareWindow::Button2Click);
    connect(CheckBox1, &QCheckBox::toggled, this, &TCompareWindow::CheckBox1Click);
}

void TCompareWindow::FillRows(const TModuleConfig& window, const TModuleConfig& module)
{
    Rows = CompareConfigs(window, module);
    ShowRows();
}

void TCompareWindow::ShowRows()
{
    TableWidget1->clearSpans();
    TableWidget1->setRowCount(0);
    const bool equal = std::none_of(Rows.begin(), Rows.end(), [](const TFieldComparison& row) { return row.Differs; });
    if (equal && CheckBox1->isChecked()) {
        TableWidget1->setRowCount(1);
        TableWidget1->setItem(0, 0, new QTableWidgetItem(tr("Конфигурация в окне и в модуле совпадают")));
        TableWidget1->setSpan(0, 0, 1, ColumnCount);
        return;
    }
    for (const TFieldComparison& row : Rows) {
        if (!row.Differs && CheckBox1->isChecked())
            continue;
        const int at = TableWidget1->rowCount();
        TableWidget1->insertRow(at);
        const QString texts[ColumnCount] = {row.Label, row.Ours, row.Theirs};
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (row.Differs)
                item->setBackground(DifferenceColour);
            TableWidget1->setItem(at, column, item);
        }
    }
}

void TCompareWindow::Button1Click()
{
    WriteChosen = true;
    accept();
}

void TCompareWindow::Button2Click()
{
    reject();
}

void TCompareWindow::CheckBox1Click()
{
    ShowRows();
}

bool ShowCompareWindow(const TModuleConfig& window, const TModuleConfig& module, const TShowHelpTopic& showHelpTopic)
{
    TCompareWindow compare(showHelpTopic);
    compare.FillRows(window, module);
    compare.exec();
    return compare.WriteChosen;
}
