#include "MapPage.h"

#include "DataTypes.h"
#include "Dialogs.h"
#include "LineTimeout.h"
#include "PointLog.h"
#include "PollPlot.h"
#include "TableCell.h"
#include "SampleTime.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

enum : int {
    NameColumn,
    UnitColumn,
    AddressColumn,
    TypeColumn,
    OrderColumn,
    ScaleColumn,
    OffsetColumn,
    ValueColumn,
    UnitsColumn,
    StatusColumn,
    TimeColumn
};

// The plot's windows in the order of the list, in seconds, as on the single poll's page.
constexpr double PlotWindows[] = {10, 60, 300, 900, 3600};

const char* const MapFilter = "Карты регистров (*.csv)|*.csv";

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A number typed with a decimal point or comma.
std::optional<double> NumberText(QString text)
{
    bool ok = false;
    const double number = text.trimmed().replace(',', '.').toDouble(&ok);
    return ok && std::isfinite(number) ? std::optional(number) : std::nullopt;
}

QString NumberText(double number)
{
    return QString::number(number, 'g', 15);
}

// The text of the raw value a typed engineering value stands for: value = raw × scale + offset.
std::optional<QString> RawText(const TMapPoint& point, const QString& typed)
{
    if (point.IsBit() || !point.IsNumber() || (point.Scale == 1 && point.Offset == 0))
        return typed.trimmed();
    const auto value = NumberText(typed);
    if (!value)
        return std::nullopt;
    const double raw = (*value - point.Offset) / point.Scale;
    const bool integer = point.Type != TDataType::Float32 && point.Type != TDataType::Float64;
    return integer ? QString::number(std::llround(raw)) : NumberText(raw);
}

// "a, b или c": the names of a type or order table's rows.
template <class TRow> QString Choices(std::span<const TRow> rows)
{
    QStringList names;
    for (const TRow& row : rows)
        names << Text(row.Name);
    const QString last = names.takeLast();
    return names.join(", ") + " или " + last;
}

}  // namespace

TMapPage::TMapPage(TModuleClient& client, TWritePoint writePoint, QWidget* parent)
    : QWidget(parent)
    , WritePoint_(std::move(writePoint))
    , Client_(client)
    , Poll_(client)
    , Plot_(new TPollPlot)
{
    setupUi(this);
    auto* plotLayout = new QVBoxLayout(PlotPlace);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->addWidget(Plot_);
    Plot_->SetWindowSeconds(PlotWindows[PlotWindowBox->currentIndex()]);
    PointsTable->horizontalHeader()->setStretchLastSection(true);
    PointsTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    MapSplitter->setStretchFactor(0, 3);
    MapSplitter->setStretchFactor(1, 2);
    StopButton->setEnabled(false);
    OpenMapButton->setMenu(new QMenu(OpenMapButton));
    connect(OpenMapButton->menu(), &QMenu::aboutToShow, this, [this] { OpenButtonMenu(); });
    connect(SaveMapButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(PollButton, &QPushButton::clicked, this, [this] { StartPoll(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopPoll(); });
    connect(WriteButton, &QPushButton::clicked, this, [this] { WriteButtonClick(); });
    connect(RepeatCheck, &QCheckBox::toggled, PeriodEdit, &QWidget::setEnabled);
    connect(LogCheck, &QCheckBox::toggled, this, [this](bool on) { LogCheckToggled(on); });
    connect(PointsTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { PointEdited(item); });
    connect(PlotWindowBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { Plot_->SetWindowSeconds(PlotWindows[index]); });
    connect(PauseCheck, &QCheckBox::toggled, this, [this](bool paused) { Plot_->SetPaused(paused); });
    Poll_.OnCycle = [this](const TMapCycle& cycle) {
        TakeCycle(cycle, Poll_.States(), double(Clock_.nsecsElapsed()) / 1e9);
    };
}

TMapPage::~TMapPage() = default;

void TMapPage::SetRecentMaps(TRecentMaps recent)
{
    Recent_ = std::move(recent);
}

void TMapPage::OpenButtonMenu()
{
    QMenu* menu = OpenMapButton->menu();
    menu->clear();
    menu->addAction("&Открыть...", this, [this] {
        TFileDialog dialog(TFileDialog::TKind::Open, this);
        dialog.Filter = MapFilter;
        dialog.DefaultExt = "csv";
        dialog.InitialDir = MapFile_.isEmpty() ? ShippedMapsFolder : QFileInfo(MapFile_).absolutePath();
        if (dialog.Execute())
            OpenMap(dialog.FileName);
    });
    if (!Recent_.List)
        return;
    const std::vector<std::string> recent = Recent_.List();
    if (!recent.empty())
        menu->addSeparator();
    for (size_t k = 0; k < recent.size(); ++k) {
        const QString name = QString::fromStdString(recent[k]);
        menu->addAction(QString("&%1 %2").arg(k + 1).arg(name), this, [this, name] { OpenMap(name); });
    }
}

bool TMapPage::OpenMap(const QString& fileName)
{
    TMapReading reading = ReadRegisterMapFile(fileName.toStdString());
    if (!reading.Ok()) {
        QStringList errors;
        for (const TMapError& error : reading.Errors)
            errors << Text(error.Text());
        if (Recent_.Gone && reading.Errors.size() == 1 && reading.Errors.front().Line == 0)
            Recent_.Gone(fileName.toStdString());
        MessageBox("Карта " + fileName + " не открыта:\n" + errors.join('\n'), ApplicationTitle, MB::IconError);
        return false;
    }
    Map_ = std::move(reading.Map);
    MapFile_ = fileName;
    MapFileLabel->setText(QDir::toNativeSeparators(fileName));
    if (Recent_.Used)
        Recent_.Used(fileName.toStdString());
    Plot_->Clear();
    PointsTable->setRowCount(0);  // another map's rows and ticks
    Fitted_ = false;
    ShowMap();
    UsePoints();
    PointsTable->resizeColumnsToContents();
    return true;
}

void TMapPage::OpenLastMap()
{
    if (!Recent_.List)
        return;
    const std::vector<std::string> recent = Recent_.List();
    if (recent.empty())
        return;
    TMapReading reading = ReadRegisterMapFile(recent.front());
    if (reading.Ok())
        OpenMap(QString::fromStdString(recent.front()));
}

void TMapPage::SaveButtonClick()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = MapFilter;
    dialog.DefaultExt = "csv";
    dialog.FileName = MapFile_;
    if (dialog.Execute())
        SaveMap(dialog.FileName);
}

bool TMapPage::SaveMap(const QString& fileName)
{
    if (WriteRegisterMapFile(fileName.toStdString(), Map_) != TFileWriteResult::Written) {
        ShowInputError("Ошибка записи в файл " + fileName);
        return false;
    }
    MapFile_ = fileName;
    MapFileLabel->setText(QDir::toNativeSeparators(fileName));
    if (Recent_.Used)
        Recent_.Used(fileName.toStdString());
    return true;
}

void TMapPage::AddPoint(TMapPoint point)
{
    std::set<std::string> names;
    for (const TMapPoint& known : Map_.Points)
        names.insert(known.Name);
    const std::string base = point.Name;
    for (int k = 2; names.count(point.Name); ++k)
        point.Name = base + "_" + std::to_string(k);
    point.Line = 0;
    Map_.Points.push_back(std::move(point));
    ShowMap();
    UsePoints();
    PointsTable->setCurrentCell(PointsTable->rowCount() - 1, NameColumn);
}

void TMapPage::ShowMap()
{
    const QSignalBlocker blocker(PointsTable);  // rows drawn here are no edit of the operator's
    PointsTable->setRowCount(int(Map_.Points.size()));
    bool ticked = false;
    for (int row = 0; row < int(Map_.Points.size()); ++row) {
        const TMapPoint& point = Map_.Points[size_t(row)];
        const Qt::ItemFlags shown = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        const Qt::ItemFlags edited = shown | Qt::ItemIsEditable;
        const Qt::ItemFlags format = point.IsBit() ? shown : edited;
        const QString address = QString::number(point.Address);
        const std::pair<int, std::pair<QString, Qt::ItemFlags>> cells[] = {
            {NameColumn, {Text(point.Name), edited | Qt::ItemIsUserCheckable}},
            {UnitColumn, {QString::number(point.Unit), shown}},
            {AddressColumn, {Text(MapFunctionName(point.Function)) + " " + address, shown}},
            {TypeColumn, {point.IsBit() ? QString() : Text(DataTypeName(point.Type)), format}},
            {OrderColumn, {point.IsBit() ? QString() : Text(WordOrderName(point.Order)), format}},
            {ScaleColumn, {NumberText(point.Scale), format}},
            {OffsetColumn, {NumberText(point.Offset), format}},
            {UnitsColumn, {Text(point.Units), edited}},
        };
        for (const auto& [column, cell] : cells) {
            QTableWidgetItem* item = Cell(PointsTable, row, column);
            item->setText(cell.first);
            item->setFlags(cell.second);
        }
        for (const int column : {ValueColumn, StatusColumn, TimeColumn})
            Cell(PointsTable, row, column)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        // As on the single poll's page, the first value that plots is ticked; the operator ticks more.
        QTableWidgetItem* name = PointsTable->item(row, NameColumn);
        if (!name->data(Qt::CheckStateRole).isValid())
            name->setCheckState((point.IsNumber() || point.IsBit()) && !ticked ? Qt::Checked : Qt::Unchecked);
        ticked = ticked || name->checkState() == Qt::Checked;
        name->setToolTip(Text(point.Description));
    }
}

void TMapPage::UsePoints()
{
    // The log's columns are the map's points: other points would write rows under another header.
    if (Log_.isOpen() && PointLogHeader(Map_.Points) != LogHeader_)
        StopLog("Запись в файл остановлена: точки карты изменились");
    Poll_.SetPoints(Map_.Points);
    const auto now = std::chrono::steady_clock::now();
    const QSignalBlocker blocker(PointsTable);
    for (int row = 0; row < int(Map_.Points.size()); ++row)
        ShowPoint(row, Poll_.States()[size_t(row)], now);
}

QString TMapPage::LineName(const TMapPoint& point) const
{
    return point.Units.empty() ? Text(point.Name) : Text(point.Name) + ", " + Text(point.Units);
}

void TMapPage::ShowPoint(int row, const TPointState& state, std::chrono::steady_clock::time_point now)
{
    const TMapPoint& point = Map_.Points[size_t(row)];
    QString value;
    if (state.Value) {
        value = Text(DeviceValueText(*state.Value));
        if (!point.Units.empty())
            value += " " + Text(point.Units);
    }
    Cell(PointsTable, row, ValueColumn)->setText(value);
    // A value kept from an earlier cycle is the last good one, not the device's now.
    Cell(PointsTable, row, ValueColumn)
        ->setForeground(palette().brush(state.Status == TPointStatus::Stale ? QPalette::Disabled : QPalette::Active,
                                        QPalette::Text));
    QTableWidgetItem* status = Cell(PointsTable, row, StatusColumn);
    status->setText(Text(PointStatusText(state, now)));
    status->setToolTip(status->text());
    Cell(PointsTable, row, TimeColumn)
        ->setText(
            state.Value
                ? QDateTime::fromMSecsSinceEpoch(
                      std::chrono::duration_cast<std::chrono::milliseconds>(state.GoodTime.time_since_epoch()).count())
                      .toString("HH:mm:ss")
                : QString());
}

void TMapPage::TakeCycle(const TMapCycle& cycle, std::span<const TPointState> states, double seconds)
{
    // Columns are fitted to the first cycle that shows values, not to every cycle's texts: a header that
    // resizes to its contents lays out every cell's text again on each change, most of the
    // window's processor time at a fast poll.
    const bool fit = !Fitted_ && std::any_of(states.begin(), states.end(),
                                             [](const TPointState& state) { return state.Value.has_value(); });
    Fitted_ = Fitted_ || fit;
    SetPollRunning(Poll_.IsRunning());
    const auto now = std::chrono::steady_clock::now();
    {
        const QSignalBlocker blocker(PointsTable);
        for (int row = 0; row < PointsTable->rowCount() && size_t(row) < states.size(); ++row) {
            const TPointState& state = states[size_t(row)];
            ShowPoint(row, state, now);
            if (state.Status != TPointStatus::Ok || !state.Value ||
                PointsTable->item(row, NameColumn)->checkState() != Qt::Checked)
                continue;
            if (const auto number = DeviceValueNumber(*state.Value))
                Plot_->AddPoint(LineName(Map_.Points[size_t(row)]), seconds, *number);
        }
    }
    if (fit) {
        PointsTable->resizeColumnsToContents();
        // Room for a stale point's reason, longer than the first cycle's statuses.
        PointsTable->setColumnWidth(StatusColumn, std::max(PointsTable->columnWidth(StatusColumn),
                                                           fontMetrics().horizontalAdvance(QString(48, 'x'))));
    }
    CycleLabel->setText(QString("Цикл %1: запросов %2, без данных %3, %4 мс")
                            .arg(cycle.Number)
                            .arg(cycle.Requests)
                            .arg(cycle.Failed)
                            .arg(cycle.Ms, 0, 'f', 1));
    if (!Log_.isOpen())
        return;
    const std::string row = PointLogRow(LogTime_(cycle.Time), states) + "\n";
    // Written through at once: a crash loses at most the cycle being written.
    if (Log_.write(row.data(), qint64(row.size())) != qint64(row.size()) || !Log_.flush())
        StopLog("Ошибка записи в файл " + Log_.fileName());
}

void TMapPage::StartPoll()
{
    if (Map_.Points.empty()) {
        ShowInputError("Откройте карту или добавьте в неё точки со страницы опроса");
        return;
    }
    if (!Clock_.isValid())
        Clock_.start();
    StartPollCycles();
    SetPollRunning(true);
}

void TMapPage::StartPollCycles()
{
    // Queued first, it is answered, and the client's wait set, before the poll's first request goes.
    PrepareForLines(Client_, [](const TModuleResult&, const TModuleConfig*) {});
    Poll_.Start(RepeatCheck->isChecked() ? PeriodEdit->value() : -1);
}

void TMapPage::StopPoll()
{
    Poll_.Stop();
    SetPollRunning(false);
}

void TMapPage::ResumeAfterCancel()
{
    if (Poll_.IsRunning())
        StartPollCycles();
}

void TMapPage::SetPollRunning(bool running)
{
    StopButton->setEnabled(running);
    PollButton->setText(running ? "&Опросить заново" : "&Опросить");
}

void TMapPage::LogCheckToggled(bool on)
{
    if (!on) {
        StopLog({});
        return;
    }
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = "CSV-файлы (*.csv)|*.csv";
    dialog.DefaultExt = "csv";
    if (!dialog.Execute() || !StartLog(dialog.FileName)) {
        const QSignalBlocker blocker(LogCheck);
        LogCheck->setChecked(false);
    }
}

bool TMapPage::StartLog(const QString& fileName)
{
    StopLog({});
    const std::string header = PointLogHeader(Map_.Points);
    // A file of this map's log goes on; any other file is not written into.
    QFile existing(fileName);
    const QByteArray first = existing.open(QIODevice::ReadOnly) ? existing.readLine().trimmed() : QByteArray();
    if (!first.isEmpty() && first.toStdString() != header) {
        ShowInputError("В файле " + fileName + " другие столбцы: выберите другой файл");
        return false;
    }
    Log_.setFileName(fileName);
    if (!Log_.open(QIODevice::WriteOnly | QIODevice::Append) ||
        (first.isEmpty() && Log_.write(QByteArray::fromStdString(header + "\n")) < 0) || !Log_.flush()) {
        Log_.close();
        ShowInputError("Ошибка записи в файл " + fileName);
        return false;
    }
    LogHeader_ = header;
    const QSignalBlocker blocker(LogCheck);
    LogCheck->setChecked(true);
    LogFileLabel->setText(QDir::toNativeSeparators(fileName));
    return true;
}

void TMapPage::StopLog(const QString& why)
{
    const bool open = Log_.isOpen();
    Log_.close();
    const QSignalBlocker blocker(LogCheck);
    LogCheck->setChecked(false);
    LogFileLabel->clear();
    if (open && !why.isEmpty())
        MessageBox(why, ApplicationTitle, MB::Warning);
}

void TMapPage::PointEdited(QTableWidgetItem* item)
{
    const int row = item->row();
    if (row < 0 || size_t(row) >= Map_.Points.size())
        return;
    TMapPoint point = Map_.Points[size_t(row)];
    const QString text = item->text().trimmed();
    QString refused;
    switch (item->column()) {
    case NameColumn:
        // A tick cleared takes the point's line off the plot.
        if (item->checkState() != Qt::Checked)
            Plot_->RemoveLine(LineName(point));
        if (text.toStdString() == point.Name)
            return;
        if (text.isEmpty() || Map_.Find(text.toStdString()))
            refused = "Имя точки пусто или уже есть в карте: " + text;
        point.Name = text.toStdString();
        break;
    case TypeColumn:
        if (const auto type = DataTypeFromName(text.toStdString()))
            point.Type = *type;
        else
            refused = "Тип: " + Choices(DataTypes());
        break;
    case OrderColumn:
        if (const auto order = WordOrderFromName(text.toStdString()))
            point.Order = *order;
        else
            refused = "Порядок: " + Choices(WordOrders());
        break;
    case ScaleColumn:
    case OffsetColumn: {
        const auto number = NumberText(text);
        if (!number || (item->column() == ScaleColumn && *number == 0))
            refused = item->column() == ScaleColumn ? "Масштаб: число, не 0" : "Смещение: число";
        else
            (item->column() == ScaleColumn ? point.Scale : point.Offset) = *number;
        break;
    }
    case UnitsColumn: point.Units = text.toStdString(); break;
    default: return;
    }
    if (!refused.isEmpty()) {
        ShowMap();  // the cell shows the point as it stays
        ShowInputError(refused);
        return;
    }
    // The line of the point as it was ends: its name, or what its values mean, changed.
    Plot_->RemoveLine(LineName(Map_.Points[size_t(row)]));
    Map_.Points[size_t(row)] = std::move(point);
    ShowMap();
    UsePoints();
}

void TMapPage::WriteButtonClick()
{
    const int row = PointsTable->currentRow();
    if (row < 0 || size_t(row) >= Map_.Points.size()) {
        ShowInputError("Выберите точку карты");
        return;
    }
    const TMapPoint& point = Map_.Points[size_t(row)];
    if (!point.Writable) {
        ShowInputError("Точка " + Text(point.Name) + " только для чтения (access r)");
        return;
    }
    const auto raw = RawText(point, WriteEdit->text());
    if (!raw) {
        ShowInputError("Значение \"" + WriteEdit->text().trimmed() + "\" не число");
        return;
    }
    WritePoint_(point, *raw, [this] {
        if (!Poll_.IsRunning())
            Poll_.Start(-1);  // shows what the device holds now
    });
}
