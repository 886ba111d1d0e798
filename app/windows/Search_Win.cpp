#include "Search_Win.h"

#include "Dialogs.h"
#include "FleetRunner.h"
#include "IPAddressText.h"
#include "ModuleAddress.h"
#include "ModbusMaster.h"
#include "ModuleInfo.h"
#include "RConvert.h"
#include "modbus.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHeaderView>

#include <utility>

namespace {
// Enough at once for a /24 to take about one time-out.
constexpr int SearchJobs = 256;
constexpr int AddressColumn = 0;

std::string WithoutBlanks(const QString& text)
{
    std::string address = text.toStdString();
    RemoveChars(address, IPBlankChars);
    return address;
}

// The listed addresses are plain dotted ones, as the range gives them.
quint32 AddressValue(const QString& text)
{
    return QHostAddress(text).toIPv4Address();
}

// Whether an address accepted the connection: one that did and then did not answer in time may be a
// slow module, which a longer time-out would find.
class TConnectionSeen : public TModbusTraceSink {
public:
    void Trace(TModbusTraceEvent event, const uint8_t*, int, uint8_t) override
    {
        Seen = Seen || event == TModbusTraceEvent::Connected;
    }
    bool Seen = false;
};
}  // namespace

TSearchWindow::TSearchWindow(const std::string& address, int32_t port, int timeoutMs, TShowHelpTopic showHelpTopic,
                             QWidget* parent)
    : TForm(parent)
    , TimeoutMs(timeoutMs)
{
    setupUi(this);
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Settings.htm#search"));
    TIPAddress subnet{};
    if (StrToIP(address, subnet)) {
        subnet[3] = 1;
        MaskEdit1->setText(QString::fromStdString(IPToStr(subnet)));
        subnet[3] = 254;
        MaskEdit2->setText(QString::fromStdString(IPToStr(subnet)));
    }
    SpinEdit1->SetValue(port);
    // The first address has the focus as the window opens: selected, typed digits replace it
    // rather than being refused after the full mask.
    MaskEdit1->selectAll();
    TableWidget1->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TableWidget1->horizontalHeader()->setStretchLastSection(true);
    connect(Button1, &QPushButton::clicked, this, &TSearchWindow::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TSearchWindow::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TSearchWindow::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TSearchWindow::reject);
    connect(TableWidget1, &QTableWidget::itemDoubleClicked, this, &TSearchWindow::TableWidget1DoubleClick);
    connect(TableWidget1, &QTableWidget::itemSelectionChanged, this,
            [this] { Button3->setEnabled(!Runner && !TableWidget1->selectedItems().isEmpty()); });
}

void TSearchWindow::Button1Click()
{
    const std::string first = WithoutBlanks(MaskEdit1->Text());
    const std::string last = WithoutBlanks(MaskEdit2->Text());
    TIPAddress parsed{};
    if (!StrToIP(first, parsed) || !StrToIP(last, parsed)) {
        ShowInputError(tr("Недопустимое значение IP адреса !"));
        return;
    }
    if (!CheckTextInRange(*SpinEdit1, tr("Недопустимое значение TCP порта !. Интервал допустимых значений %1")))
        return;
    std::vector<TModuleAddress> addresses;
    std::string error;
    if (!ParseAddressRange(first + "-" + last, uint16_t(SpinEdit1->Value()), addresses, error)) {
        ShowInputError(tr("Недопустимый диапазон адресов: %1").arg(QString::fromStdString(error)));
        return;
    }

    TableWidget1->setRowCount(0);
    ProgressBar1->setRange(0, int(addresses.size()));
    ProgressBar1->setValue(0);
    // One transmission per address: a silent one costs one time-out.
    TModuleClientOptions options;
    options.TimeoutMs = TimeoutMs;
    options.Transmissions = 1;
    TFleetRunner runner(addresses, options, SearchJobs);
    Runner = &runner;
    SetSearching(true);
    QElapsedTimer clock;
    clock.start();
    int asked = 0;
    int silent = 0;
    std::vector<TConnectionSeen> connections(addresses.size());
    runner.Run(
        [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
            client.Master().TraceSink = &connections[index];
            client.ReadInfo([&, index, finish](const TModuleResult& result, const TModuleInfo& info) {
                client.Master().TraceSink = nullptr;
                const TModuleAddress& module = addresses[index];
                if (result.Ok()) {
                    AddModule(module.Address, module.Port,
                              {QString::fromStdString(FirmwareText(info)), QString::fromStdString(MacText(info)),
                               JumperFitted(info) ? tr("Установлена") : tr("Не установлена")});
                } else if (result.Status == StatusNoReply && connections[index].Seen) {
                    AddModule(module.Address, module.Port, {tr("нет ответа за %1 мс").arg(TimeoutMs), {}, {}});
                    ++silent;
                }
                finish();
            });
        },
        [this, &asked](size_t, double) { ProgressBar1->setValue(++asked); });
    Runner = nullptr;
    SetSearching(false);
    QString summary = tr("Опрошено адресов: %1 из %2, найдено модулей: %3, %4 с")
                          .arg(asked)
                          .arg(addresses.size())
                          .arg(TableWidget1->rowCount() - silent)
                          .arg(double(clock.elapsed()) / 1000, 0, 'f', 1);
    if (silent > 0)
        summary += tr("; приняли соединение, но не ответили за %1 мс: %2").arg(TimeoutMs).arg(silent);
    Label4->setText(summary);
    if (CloseWhenStopped) {
        CloseWhenStopped = false;
        reject();
    }
}

void TSearchWindow::Button2Click()
{
    if (Runner)
        Runner->Stop();
}

void TSearchWindow::reject()
{
    // The search runs in a loop of its own inside Button1Click, below which the dialogs that opened
    // this window wait: it closes once the addresses already asked have answered or timed out.
    if (Runner) {
        Runner->Stop();
        CloseWhenStopped = true;
        return;
    }
    TForm::reject();
}

void TSearchWindow::SetSearching(bool searching)
{
    for (QWidget* control : std::initializer_list<QWidget*>{MaskEdit1, MaskEdit2, SpinEdit1, Button1})
        control->setEnabled(!searching);
    Button2->setEnabled(searching);
    Button3->setEnabled(!searching && !TableWidget1->selectedItems().isEmpty());
    if (searching)
        Label4->setText(tr("Поиск..."));
}

void TSearchWindow::AddModule(const std::string& address, uint16_t port, const QStringList& texts)
{
    // In address order, whatever order the answers come in.
    const quint32 value = AddressValue(QString::fromStdString(address));
    int row = 0;
    while (row < TableWidget1->rowCount() && AddressValue(TableWidget1->item(row, AddressColumn)->text()) < value)
        ++row;
    TableWidget1->insertRow(row);
    const QStringList cells = QStringList{QString::fromStdString(address), QString::number(port)} + texts;
    for (int column = 0; column < cells.size(); ++column)
        TableWidget1->setItem(row, column, new QTableWidgetItem(cells[column]));
}

void TSearchWindow::Button3Click()
{
    const QList<QTableWidgetItem*> selected = TableWidget1->selectedItems();
    if (Runner || selected.isEmpty())
        return;
    const int row = selected.first()->row();
    ChosenAddress = TableWidget1->item(row, AddressColumn)->text().toStdString();
    ChosenPort = TableWidget1->item(row, AddressColumn + 1)->text().toInt();
    accept();
}

void TSearchWindow::TableWidget1DoubleClick()
{
    Button3Click();
}

bool SearchModules(std::string& address, int32_t& port, int timeoutMs, const TShowHelpTopic& showHelpTopic)
{
    TSearchWindow window(address, port, timeoutMs, showHelpTopic);
    if (window.exec() != QDialog::Accepted)
        return false;
    address = window.ChosenAddress;
    port = window.ChosenPort;
    return true;
}
