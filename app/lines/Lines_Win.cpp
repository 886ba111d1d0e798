#include "Lines_Win.h"

#include "Dialogs.h"
#include "MapPage.h"
#include "PollPlot.h"
#include "TableCell.h"
#include "WholeFile.h"
#include "modbus.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

const char* const LinesHelpTopic = "KorvelService_Lines.htm";

// The plot's windows in the order of the list, in seconds.
constexpr double PlotWindows[] = {10, 60, 300, 900, 3600};

enum : int { AddressColumn, RawColumn, ValueColumn, StatusColumn };
enum : int { UnitColumn, MsColumn, OutcomeColumn };

uint8_t FunctionOf(int index)
{
    return uint8_t(index + 1);  // the lists hold 01..04 in order
}

// The conventional 1-based notation: the table's digit, then the address counted from 1.
QString ConventionalAddress(uint8_t function, uint32_t address)
{
    static const int prefixes[] = {0, 0, 1, 4, 3};  // by function code
    const int prefix = prefixes[function];
    const uint32_t number = address + 1;
    return number <= 9999 ? QString("%1%2").arg(prefix).arg(number, 4, 10, QChar('0'))
                          : QString("%1%2").arg(prefix).arg(number, 5, 10, QChar('0'));
}

QString ExceptionText(uint8_t code)
{
    return QString("%1 %2").arg(code, 2, 16, QChar('0')).toUpper().arg(QString::fromStdString(LineExceptionName(code)));
}

// Why a request got no data, in the words of the line's side.
QString ReasonText(const TModuleResult& result)
{
    return result.Status == StatusException ? ExceptionText(result.Exception) : QString::fromStdString(result.Text);
}

// For the module's answer that the line failed, the channels' settings to check first; empty otherwise.
QString LineHint(const TModuleResult& result, const std::optional<TModuleConfig>& config)
{
    return IsLineFailure(result) && config
               ? "Проверьте настройки линий модуля: " + QString::fromStdString(LinesSettingsText(*config))
               : QString();
}

// A row's line on the plot: its address, and the device, as the device read may change under it.
QString LineName(uint8_t unit, const QString& address)
{
    return QString("%1: %2").arg(unit).arg(address);
}

QString MsText(double ms)
{
    return QString::number(ms, 'f', 1);
}

QString WordsText(std::span<const uint16_t> words)
{
    QStringList texts;
    for (const uint16_t word : words)
        texts << QString("%1").arg(word, 4, 16, QChar('0')).toUpper();
    return texts.join(' ');
}

QString OutcomeText(const TUnitResult& result)
{
    switch (result.Outcome) {
    case TUnitOutcome::Answered: return "ответило";
    case TUnitOutcome::DeviceException: return "ответило исключением " + ExceptionText(result.Result.Exception);
    case TUnitOutcome::TargetFailed:
    case TUnitOutcome::PathUnavailable: return ExceptionText(result.Result.Exception);
    case TUnitOutcome::NoModuleAnswer: return "модуль не ответил: " + QString::fromStdString(result.Result.Text);
    }
    return {};
}

}  // namespace

TLinesWindow::TLinesWindow(TModuleClient& client, TNewSearch newSearch, TShowHelpTopic showHelpTopic, QWidget* parent)
    : TForm(parent)
    , MainClient_(client)
    , Client_(client.Address(), client.Port(), client.Options())
    , FollowedOptions_(client.Options())
    , Poll_(Client_)
    , Plot_(new TPollPlot)
    , MapPage_(new TMapPage(Client_,
                            [this](const TMapPoint& point, const QString& rawText, std::function<void()> reread) {
                                WriteValue(point.Read(), point.Type, point.Order, rawText,
                                           QString::fromStdString(point.Name), std::move(reread));
                            }))
    , NewSearch_(std::move(newSearch))
{
    setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    for (const TDataTypeRow& row : DataTypes())
        TypeBox->addItem(QString::fromLatin1(row.Name), int(row.Type));
    for (const TWordOrderRow& row : WordOrders())
        OrderBox->addItem(QString::fromLatin1(row.Name), int(row.Order));
    SetHelpTopic(std::move(showHelpTopic), LinesHelpTopic);
    PageControl1->insertTab(1, MapPage_, "Карта");
    auto* plotLayout = new QVBoxLayout(PlotPlace);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->addWidget(Plot_);
    Plot_->SetWindowSeconds(PlotWindows[PlotWindowBox->currentIndex()]);
    ResultsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ValuesTable->horizontalHeader()->setStretchLastSection(true);
    ResultsTable->horizontalHeader()->setStretchLastSection(true);
    StopPollButton->setEnabled(false);
    StopSearchButton->setEnabled(false);

    connect(PollButton, &QPushButton::clicked, this, &TLinesWindow::PollButtonClick);
    connect(StopPollButton, &QPushButton::clicked, this, &TLinesWindow::StopPollButtonClick);
    connect(WriteButton, &QPushButton::clicked, this, &TLinesWindow::WriteButtonClick);
    connect(AddToMapButton, &QPushButton::clicked, this, &TLinesWindow::AddToMapButtonClick);
    connect(ExportButton, &QPushButton::clicked, this, &TLinesWindow::ExportButtonClick);
    connect(SearchButton, &QPushButton::clicked, this, &TLinesWindow::SearchButtonClick);
    connect(StopSearchButton, &QPushButton::clicked, this, &TLinesWindow::StopSearchButtonClick);
    connect(AddressEdit, &QSpinBox::valueChanged, this, [this] { ShowAddressNotation(); });
    connect(FunctionBox, &QComboBox::currentIndexChanged, this, [this] {
        ShowAddressNotation();
        ShowFormatChoice();
    });
    connect(TypeBox, &QComboBox::currentIndexChanged, this, [this] {
        ShowFormatChoice();
        DecodeAgain();
    });
    connect(OrderBox, &QComboBox::currentIndexChanged, this, [this] { DecodeAgain(); });
    connect(RepeatCheck, &QCheckBox::toggled, PeriodEdit, &QWidget::setEnabled);
    connect(PlotWindowBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { Plot_->SetWindowSeconds(PlotWindows[index]); });
    connect(PauseCheck, &QCheckBox::toggled, this, [this](bool paused) { Plot_->SetPaused(paused); });
    // Lines of earlier reads stay on the plot; a row cleared takes its own off.
    connect(ValuesTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == AddressColumn && item->checkState() != Qt::Checked)
            Plot_->RemoveLine(item->data(Qt::UserRole).toString());
    });
    Poll_.OnSample = [this](const TDeviceSample& sample) { TakeSample(sample); };
    Client_.OnCancelled = [this] { ResumeAfterCancel(); };
    FollowMainClient();
    ShowAddressNotation();
    ShowFormatChoice();
}

TLinesWindow::~TLinesWindow()
{
    Client_.OnCancelled = nullptr;
}

void TLinesWindow::FollowMainClient()
{
    Client_.Master().TraceSink = MainClient_.Master().TraceSink;
    const TModuleClientOptions& options = MainClient_.Options();
    if (Client_.Address() == MainClient_.Address() && Client_.Port() == MainClient_.Port() &&
        FollowedOptions_.TimeoutMs == options.TimeoutMs && FollowedOptions_.Transmissions == options.Transmissions)
        return;
    FollowedOptions_ = options;
    // Drops what waits; OnCancelled asks it again.
    Client_.Configure(MainClient_.Address(), MainClient_.Port(), options);
}

void TLinesWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FollowMainClient();
    TForm::changeEvent(event);
}

void TLinesWindow::ResumeAfterCancel()
{
    if (Poll_.IsRunning())
        Poll_.Start(Polled_, PollPeriodMs_);
    MapPage_->ResumeAfterCancel();
    if (WriteInFlight_.isEmpty())
        return;
    const QString where = std::exchange(WriteInFlight_, QString());
    MessageBox("Запись прервана: " + where + ". Приняло ли её устройство, покажет опрос", ApplicationTitle,
               MB::Warning);
}

void TLinesWindow::closeEvent(QCloseEvent* event)
{
    // Closed, it asks the line nothing more: a poll left running behind a hidden window would keep
    // the line busy unseen.
    StopPollButtonClick();
    MapPage_->StopPoll();
    StopSearchButtonClick();
    event->accept();
}

bool TLinesWindow::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    if (key == Qt::Key_Space && shift == Qt::NoModifier && ValuesTable->hasFocus() && ValuesTable->currentRow() >= 0) {
        if (QTableWidgetItem* item = ValuesTable->item(ValuesTable->currentRow(), AddressColumn))
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }
    if (key == Qt::Key_Space && shift == Qt::NoModifier && MapPage_->PointsTable->hasFocus() &&
        MapPage_->PointsTable->currentRow() >= 0) {
        if (QTableWidgetItem* item = MapPage_->PointsTable->item(MapPage_->PointsTable->currentRow(), 0))
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }
    return TForm::FormKeyDown(key, shift);
}

void TLinesWindow::ShowAddressNotation()
{
    AddressNotation->setText("(" + ConventionalAddress(FunctionOf(FunctionBox->currentIndex()), AddressEdit->value()) +
                             ")");
}

// The lists hold each type and order with its enumerator as the item's data, whatever its text.
TDataType TLinesWindow::ChosenType() const
{
    return TDataType(TypeBox->currentData().toInt());
}

TWordOrder TLinesWindow::ChosenOrder() const
{
    // An order greyed out is not the operator's: a value of one register, or a text, has none.
    if (!IsMultiRegisterType(ChosenType()))
        return TWordOrder::ABCD;
    return TWordOrder(OrderBox->currentData().toInt());
}

void TLinesWindow::ShowFormatChoice()
{
    const bool registers = !IsBitFunction(FunctionOf(FunctionBox->currentIndex()));
    TypeBox->setEnabled(registers);
    OrderBox->setEnabled(registers && IsMultiRegisterType(ChosenType()));
    CountEdit->setMaximum(MaxReadCount(FunctionOf(FunctionBox->currentIndex())));
}

void TLinesWindow::SetPollRunning(bool running)
{
    StopPollButton->setEnabled(running);
    PollButton->setText(running ? "&Опросить заново" : "&Опросить");
}

void TLinesWindow::PollButtonClick()
{
    const TDeviceRead read{uint8_t(UnitEdit->value()), FunctionOf(FunctionBox->currentIndex()),
                           uint16_t(AddressEdit->value()), uint16_t(CountEdit->value())};
    if (uint32_t(read.Address) + read.Count > 0x10000) {
        ShowInputError("Адрес и количество выходят за 65535");
        return;
    }
    const TDataType type = ChosenType();
    const TWordOrder order = ChosenOrder();
    // Fewer registers than one value takes would poll and show nothing.
    if (!IsBitFunction(read.Function) && read.Count < RegistersPerValue(type)) {
        ShowInputError(QString("Значение типа %1 занимает регистров: %2")
                           .arg(TypeBox->currentText())
                           .arg(RegistersPerValue(type)));
        return;
    }
    const bool sameRows = read.Unit == Polled_.Unit && read.Function == Polled_.Function &&
                          read.Address == Polled_.Address && read.Count == Polled_.Count && type == PolledType_ &&
                          order == PolledOrder_ && ValuesTable->rowCount() > 0;
    Polled_ = read;
    PolledType_ = type;
    PolledOrder_ = order;
    // Another block gets its own rows; the samples taken, the plot and the counters go on.
    if (!sameRows) {
        ValuesTable->setRowCount(0);
        ShownRaw_.clear();
        Failure_.clear();
    }
    if (!PollClock_.isValid())
        PollClock_.start();
    PollPeriodMs_ = RepeatCheck->isChecked() ? PeriodEdit->value() : -1;
    FollowMainClient();
    Poll_.Start(read, PollPeriodMs_);
    SetPollRunning(Poll_.IsRunning());
    ShowCounters();
}

void TLinesWindow::StopPollButtonClick()
{
    Poll_.Stop();
    SetPollRunning(false);
}

int TLinesWindow::RowWidth() const
{
    if (IsBitFunction(Polled_.Function))
        return 1;
    return DataTypeRow(PolledType_).Text ? std::max<int>(1, Polled_.Count) : RegistersPerValue(PolledType_);
}

std::vector<TDeviceValue> TLinesWindow::ShownValues() const
{
    if (!IsBitFunction(Polled_.Function))
        return DecodeRegisters(ShownRaw_, PolledType_, PolledOrder_);
    std::vector<TDeviceValue> bits;
    for (const uint16_t bit : ShownRaw_)
        bits.emplace_back(bit != 0);
    return bits;
}

void TLinesWindow::TakeSample(const TDeviceSample& sample)
{
    Counters_[sample.Read.Unit].Count(sample.Reply);
    LineHint_ = LineHint(sample.Reply.Result, Poll_.ModuleConfig());
    SetPollRunning(Poll_.IsRunning());
    ShowCounters();
    if (!sample.Reply.Result.Ok()) {
        Failure_ = ReasonText(sample.Reply.Result);
        FailureTime_ = sample.Time;
        ShowRows(ShownValues());
        return;
    }
    ShownRaw_ = sample.Reply.Raw;
    ShownTime_ = sample.Time;
    Failure_.clear();
    const std::vector<TDeviceValue> values = ShownValues();
    ShowRows(values);
    const double seconds = double(PollClock_.nsecsElapsed()) / 1e9;
    for (int row = 0; row < int(values.size()) && row < ValuesTable->rowCount(); ++row) {
        const QTableWidgetItem* addressItem = ValuesTable->item(row, AddressColumn);
        Log_.Add({sample.Time, sample.Read.Unit, sample.Read.Address + uint32_t(row * RowWidth()),
                  ValuesTable->item(row, RawColumn)->text(), ValuesTable->item(row, ValueColumn)->text()});
        if (const auto number = DeviceValueNumber(values[size_t(row)]);
            number && addressItem->checkState() == Qt::Checked)
            Plot_->AddPoint(addressItem->data(Qt::UserRole).toString(), seconds, *number);
    }
}

void TLinesWindow::ShowRows(const std::vector<TDeviceValue>& values)
{
    const bool bits = IsBitFunction(Polled_.Function);
    const int width = RowWidth();
    const int rows = bits ? Polled_.Count : Polled_.Count / width;
    const bool fresh = ValuesTable->rowCount() == 0;
    // The first values of rows laid out without any: the columns are fitted to them.
    const bool firstValues = !fresh && !values.empty() && ValuesTable->item(0, ValueColumn) &&
                             ValuesTable->item(0, ValueColumn)->text().isEmpty();
    // Values kept past a request that got none are the last good ones, not the device's now.
    const bool stale = !Failure_.isEmpty() && !values.empty();
    const QString status = Failure_.isEmpty() ? QString("ответило")
                           : stale
                               ? QString("устарело на %1 с: %2")
                                     .arg(std::chrono::duration<double>(FailureTime_ - ShownTime_).count(), 0, 'f', 1)
                                     .arg(Failure_)
                               : Failure_;
    const QBrush ink = palette().brush(stale ? QPalette::Disabled : QPalette::Active, QPalette::Text);
    const QSignalBlocker blocker(ValuesTable);  // a tick set here is no choice of the operator's
    ValuesTable->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        QTableWidgetItem* addressItem = Cell(ValuesTable, row, AddressColumn);
        if (fresh) {
            const uint32_t address = Polled_.Address + uint32_t(row * width);
            addressItem->setText(QString("%1 (%2)").arg(address).arg(ConventionalAddress(Polled_.Function, address)));
            addressItem->setData(Qt::UserRole, LineName(Polled_.Unit, addressItem->text()));
            addressItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            addressItem->setCheckState(row == 0 && !values.empty() && DeviceValueNumber(values[0]) ? Qt::Checked
                                                                                                   : Qt::Unchecked);
        }
        const bool shown = size_t(row) < values.size();
        const std::span<const uint16_t> words(ShownRaw_.data() + row * width, shown ? size_t(width) : 0);
        Cell(ValuesTable, row, RawColumn)
            ->setText(!shown ? QString()
                      : bits ? QString::number(ShownRaw_[size_t(row)])
                             : WordsText(words));
        Cell(ValuesTable, row, ValueColumn)
            ->setText(shown ? QString::fromStdString(DeviceValueText(values[size_t(row)])) : QString());
        Cell(ValuesTable, row, StatusColumn)->setText(status);
        for (const int column : {RawColumn, ValueColumn})
            ValuesTable->item(row, column)->setForeground(ink);
    }
    // Fitted once a block's rows are laid out, not on every sample: a header resizing to its
    // contents lays out every cell's text again on each change.
    if (fresh || firstValues)
        ValuesTable->resizeColumnsToContents();
}

void TLinesWindow::DecodeAgain()
{
    const TDataType type = ChosenType();
    if (IsBitFunction(Polled_.Function) || ShownRaw_.empty() || int(ShownRaw_.size()) < RegistersPerValue(type) ||
        (type == PolledType_ && ChosenOrder() == PolledOrder_))
        return;
    PolledType_ = type;
    PolledOrder_ = ChosenOrder();
    ValuesTable->setRowCount(0);
    ShowRows(ShownValues());
}

void TLinesWindow::ShowCounters()
{
    const TPollStatistics& statistics = Counters_[Polled_.Unit];
    QString text = QString("Устройство %1: запросов %2, ответов %3, нет ответа %4, ошибок %5")
                       .arg(Polled_.Unit)
                       .arg(statistics.Requests())
                       .arg(statistics.Replies())
                       .arg(statistics.Timeouts())
                       .arg(statistics.Failures());
    for (const auto& [code, count] : statistics.Exceptions())
        text += QString(", исключение %1: %2").arg(ExceptionText(code)).arg(count);
    text += QString(". Время ответа, мс: последнее %1, медиана %2, худшее %3")
                .arg(MsText(statistics.LastMs()), MsText(statistics.MedianMs()), MsText(statistics.WorstMs()));
    if (!LineHint_.isEmpty())
        text += ". " + LineHint_;
    CountersLabel->setText(text);
}

void TLinesWindow::WriteButtonClick()
{
    // A single value leaves nothing to choose: it is the one written.
    const int row = ValuesTable->rowCount() == 1 ? 0 : ValuesTable->currentRow();
    if (row < 0 || Polled_.Function == FunctionReadDiscreteInputs || Polled_.Function == FunctionReadInputRegisters) {
        ShowInputError("Выберите строку катушки или регистра хранения");
        return;
    }
    const auto address = uint16_t(Polled_.Address + row * RowWidth());
    WriteValue({Polled_.Unit, Polled_.Function, address, 1}, PolledType_, PolledOrder_, WriteEdit->text().trimmed(), {},
               [this] {
                   if (!Poll_.IsRunning() && ValuesTable->rowCount() > 0)
                       Poll_.Start(Polled_, -1);  // shows what the device holds now
               });
}

void TLinesWindow::WriteValue(const TDeviceRead& at, TDataType type, TWordOrder order, const QString& text,
                              const QString& point, std::function<void()> reread)
{
    QString where = QString("устройство %1, адрес %2 (%3)")
                        .arg(at.Unit)
                        .arg(at.Address)
                        .arg(ConventionalAddress(at.Function, at.Address));
    const QString question = "Записать в " + (point.isEmpty() ? QString() : "точку " + point + ", ") + where;
    if (!point.isEmpty())
        where = "точка " + point + ", " + where;
    const auto confirmed = [&](const QString& value) {
        return MessageBox(question + " значение " + value + "?", ApplicationTitle, MB::YesNoQuestion) == ID::Yes;
    };
    // The module's channels are read first, so that the write waits as long as the line may take.
    const auto send = [this, where, reread](std::function<void(TDeviceDone)> write) {
        FollowMainClient();
        WriteInFlight_ = where;
        PrepareForLines(Client_,
                        [this, where, reread, write](const TModuleResult& result, const TModuleConfig* config) {
                            const std::optional<TModuleConfig> lines = config ? std::optional(*config) : std::nullopt;
                            const auto done = [this, where, reread, lines](const TDeviceReply& reply) {
                                WriteInFlight_.clear();
                                // Told once the client is free again: a poll goes on, and its latency stays the
                                // exchange's own, while the box is read.
                                QTimer::singleShot(0, this, [this, reply, where, reread, lines] {
                                    ShowWritten(reply, where, LineHint(reply.Result, lines), reread);
                                });
                            };
                            if (!result.Ok() && result.Status != StatusException)
                                done({result, {}, 0});  // the module itself did not answer: nothing was sent
                            else
                                write(done);
                        });
    };
    if (at.Function == FunctionReadCoils) {
        const QString lower = text.toLower();
        const bool on = lower == "1" || lower == "вкл";
        if (!on && lower != "0" && lower != "выкл") {
            ShowInputError("Значение катушки: 1 или 0");
            return;
        }
        if (confirmed(on ? "1" : "0"))
            send([this, at, on](TDeviceDone done) { WriteDeviceCoil(Client_, at.Unit, at.Address, on, done); });
        return;
    }
    const std::vector<uint16_t> registers = EncodeValue(text.toStdString(), type, order);
    if (registers.empty()) {
        ShowInputError("Значение \"" + text + "\" не подходит для типа " +
                       QString::fromUtf8(DataTypeName(type).data(), qsizetype(DataTypeName(type).size())));
        return;
    }
    if (confirmed(text))
        send([this, at, registers](TDeviceDone done) {
            WriteDeviceRegisters(Client_, at.Unit, at.Address, registers, done);
        });
}

void TLinesWindow::ShowWritten(const TDeviceReply& reply, const QString& where, const QString& hint,
                               const std::function<void()>& reread)
{
    if (reply.Result.Ok()) {
        MessageBox("Значение записано: " + where, ApplicationTitle, MB::Information);
        reread();
        return;
    }
    MessageBox("Ошибка записи (" + ReasonText(reply.Result) + "): " + where + (hint.isEmpty() ? "" : ". " + hint),
               ApplicationTitle, MB::IconError);
}

void TLinesWindow::AddToMapButtonClick()
{
    const int row = ValuesTable->rowCount() == 1 ? 0 : ValuesTable->currentRow();
    if (row < 0 || ShownRaw_.empty()) {
        ShowInputError("Выберите строку с прочитанным значением");
        return;
    }
    TMapPoint point;
    point.Unit = Polled_.Unit;
    point.Function = Polled_.Function;
    point.Address = uint16_t(Polled_.Address + row * RowWidth());
    point.Type = PolledType_;
    point.Order = PolledOrder_;
    point.Count = PolledType_ == TDataType::Ascii ? Polled_.Count : 1;
    point.Name =
        "u" + std::to_string(point.Unit) + "_" + ConventionalAddress(point.Function, point.Address).toStdString();
    MapPage_->AddPoint(std::move(point));
    PageControl1->setCurrentWidget(MapPage_);
    MapPage_->PointsTable->setFocus();
}

void TLinesWindow::ExportButtonClick()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = "CSV-файлы (*.csv)|*.csv";
    dialog.DefaultExt = "csv";
    if (!dialog.Execute())
        return;
    const QByteArray text = Log_.CsvText();
    if (WriteWholeFile(dialog.FileName.toStdString(), std::string_view(text.data(), size_t(text.size()))) !=
        TFileWriteResult::Written)
        ShowInputError("Ошибка записи в файл " + dialog.FileName);
}

void TLinesWindow::SearchButtonClick()
{
    if (Searching())
        return;
    if (FirstUnitEdit->value() > LastUnitEdit->value()) {
        ShowInputError("Начало диапазона больше его конца");
        return;
    }
    Search_ = NewSearch_();
    SearchRange_ = QString("%1-%2").arg(FirstUnitEdit->value()).arg(LastUnitEdit->value());
    ResultsTable->setRowCount(0);
    HintLabel->clear();
    TimeLeftLabel->clear();
    SearchProgress->setRange(0, LastUnitEdit->value() - FirstUnitEdit->value() + 1);
    SearchProgress->setValue(0);
    Search_->OnUnit = [this](const TUnitResult& result) { ShowUnitResult(result); };
    Search_->OnProgress = [this](size_t done, size_t total, std::chrono::milliseconds left) {
        ShowSearchProgress(done, total, left);
    };
    Search_->OnFinished = [this](const TUnitSearchSummary& summary) { FinishSearch(summary); };
    SearchButton->setEnabled(false);
    StopSearchButton->setEnabled(true);
    Search_->Start(uint8_t(FirstUnitEdit->value()), uint8_t(LastUnitEdit->value()),
                   {FunctionOf(ProbeFunctionBox->currentIndex()), uint16_t(ProbeAddressEdit->value())});
}

void TLinesWindow::StopSearchButtonClick()
{
    if (Search_)
        Search_->Stop();
}

void TLinesWindow::ShowSearchProgress(size_t done, size_t total, std::chrono::milliseconds left)
{
    SearchProgress->setMaximum(int(total));
    SearchProgress->setValue(int(done));
    TimeLeftLabel->setText(QString("осталось около %1 с").arg(std::ceil(double(left.count()) / 1000)));
}

void TLinesWindow::ShowUnitResult(const TUnitResult& result)
{
    const int row = ResultsTable->rowCount();
    ResultsTable->insertRow(row);
    Cell(ResultsTable, row, UnitColumn)->setText(QString::number(result.Unit));
    Cell(ResultsTable, row, MsColumn)->setText(MsText(result.Ms));
    Cell(ResultsTable, row, OutcomeColumn)->setText(OutcomeText(result));
    if (result.Found())
        ResultsTable->item(row, UnitColumn)->setFont([&] {
            QFont font = ResultsTable->font();
            font.setBold(true);
            return font;
        }());
    ResultsTable->scrollToBottom();
}

void TLinesWindow::FinishSearch(const TUnitSearchSummary& summary)
{
    LastSearch_ = summary;
    SearchedRange_ = SearchRange_;
    SearchButton->setEnabled(true);
    StopSearchButton->setEnabled(false);
    TimeLeftLabel->setText(summary.Stopped ? "остановлено" : "готово");
    QStringList found;
    for (const uint8_t unit : summary.Found)
        found << QString::number(unit);
    if (!found.isEmpty())
        HintLabel->setText("Найдены устройства: " + found.join(", "));
    else if (!summary.Hint.empty())
        HintLabel->setText("Ни одно устройство не ответило. Проверьте настройки линий модуля: " +
                           QString::fromStdString(summary.Hint));
    else
        HintLabel->setText("Ни одно устройство не ответило");
    // The search is let go from the loop, not from inside its own handler.
    Search_.release()->deleteLater();
}

std::optional<TReportDevices> TLinesWindow::ReportDevices() const
{
    const TMapPoll& poll = MapPage_->Poll();
    const bool polled = std::any_of(poll.States().begin(), poll.States().end(),
                                    [](const TPointState& state) { return state.Status != TPointStatus::Waiting; });
    if (SearchedRange_.isEmpty() && !polled)
        return std::nullopt;
    TReportDevices devices;
    if (!SearchedRange_.isEmpty()) {
        devices.FoundUnits = LastSearch_.Found;
        devices.SearchRange = SearchedRange_;
    }
    if (polled) {
        devices.MapFile = QFileInfo(MapPage_->MapFile()).absoluteFilePath();
        devices.Points = poll.Points();
        devices.States = poll.States();
    }
    devices.At = std::chrono::steady_clock::now();
    return devices;
}
