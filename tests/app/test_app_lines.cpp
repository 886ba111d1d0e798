// "Устройства на линии" driven through the main window against a simulated module with devices on
// its lines: polled values, the search, the gateway's answers told apart, and writes that happen
// only when the operator confirms them.

#include "AppTestSupport.h"

#include "Lines_Win.h"
#include "MapPage.h"
#include "ModbusMaster.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "PollPlot.h"
#include "SimLines.h"
#include "Wait.h"

#include <QPushButton>
#include <QTcpServer>
#include <QTableWidget>

#include <cmath>

namespace {

class LinesTest : public MainWindowFixture {
protected:
    // The module with devices on its lines, given as CH:UNIT with the factory line settings unless
    // serial is given; the window pointed at it and opened.
    TLinesWindow* Open(std::initializer_list<std::pair<int, int>> devices, TSerialSettings serial = Factory)
    {
        for (const auto& [channel, unit] : devices)
            Module->Lines().AddDevice(TSimDevice(channel - 1, uint8_t(unit), serial));
        Module->Lines().FreezeClock(15);
        EXPECT_TRUE(Module->Listen(QHostAddress::LocalHost, 0));
        PointSettingsAt(Module->Port());
        Action("ShowLinesAction")->trigger();
        return Window().findChild<TLinesWindow*>();
    }

    void Configure(const TModuleConfig& config)
    {
        const TConfigImage image = BuildConfigImage(config);
        for (size_t k = 0; k < image.size(); ++k)
            Module->SetRegister(ConfigFirstRegister + int(k), image[k]);
    }

    // Polls once with the choices given and waits for the answer.
    static void PollOnce(TLinesWindow& lines, int unit, int function, int address, int count, const char* type,
                         const char* order = "ABCD")
    {
        lines.UnitEdit->setValue(unit);
        lines.FunctionBox->setCurrentIndex(function - 1);
        lines.AddressEdit->setValue(address);
        lines.CountEdit->setValue(count);
        lines.TypeBox->setCurrentText(type);
        lines.OrderBox->setCurrentText(order);
        lines.RepeatCheck->setChecked(false);
        QTest::mouseClick(lines.PollButton, Qt::LeftButton);
        // Once only: the poll runs from the click until its answer has been told.
        EXPECT_TRUE(WaitUntil([&] { return !lines.Poll().IsRunning(); }));
    }

    static QStringList Column(const QTableWidget& table, int column)
    {
        QStringList texts;
        for (int row = 0; row < table.rowCount(); ++row)
            texts << table.item(row, column)->text();
        return texts;
    }

    // The samples exported into the file named, line by line.
    QList<QByteArray> Exported(TLinesWindow& lines, const char* name)
    {
        Dialogs.FileAnswers.push_back(Path(name));
        QTest::mouseClick(lines.ExportButton, Qt::LeftButton);
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    }

    static void Search(TLinesWindow& lines, int first, int last)
    {
        lines.PageControl1->setCurrentWidget(lines.SearchPage);
        lines.FirstUnitEdit->setValue(first);
        lines.LastUnitEdit->setValue(last);
        QTest::mouseClick(lines.SearchButton, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !lines.Searching(); }, std::chrono::seconds(20)));
    }

    static constexpr TSerialSettings Factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                             FactoryChannelDefaults.StopBits};
    std::unique_ptr<TModuleSimServer> Module = std::make_unique<TModuleSimServer>();
};

}  // namespace

TEST_F(LinesTest, PollShowsTheSimulatorsDocumentedValuesAndExportsThem)
{
    TLinesWindow* lines = Open({{1, 5}});
    ASSERT_NE(lines, nullptr);
    EXPECT_EQ(lines->windowTitle(), "Устройства на линии");
    EXPECT_FALSE(lines->isModal());

    // At t = 15 s: 240 V, 5.5 + 2 sin(pi/3) A, 5001 Wh, status 1, 2.1 degrees, "METER-005", coil 0 set.
    const double current = 5.5 + 2 * std::sin(std::acos(-1.0) / 3);
    struct TCase {
        int Function, Address, Count;
        const char* Type;
        QStringList Addresses, Raw;
        std::vector<double> Values;  // NAN: compared as text below
        QStringList Texts;
        const char* Order = "ABCD";  // left in the box, greyed out where the type has none
    };
    const TCase cases[] = {
        {4, 0, 4, "float32", {"0 (30001)", "2 (30003)"}, {"4370 0000", ""}, {240.0, current}, {}},
        {4, 6, 3, "uint16", {"6 (30007)", "7 (30008)", "8 (30009)"}, {"0000", "1389", "0001"}, {0, 5001, 1}, {}},
        {4, 6, 2, "uint32", {"6 (30007)"}, {"0000 1389"}, {5001}, {}},
        {4, 9, 1, "int16", {"9 (30010)"}, {"0015"}, {21}, {}, "DCBA"},
        {3, 8, 5, "ascii", {"8 (40009)"}, {"4D45 5445 522D 3030 3500"}, {}, {"METER-005"}},
        {3, 8, 5, "ascii", {"8 (40009)"}, {"4D45 5445 522D 3030 3500"}, {}, {"METER-005"}, "DCBA"},
        {1, 0, 2, "uint16", {"0 (00001)", "1 (00002)"}, {"1", "0"}, {}, {"1", "0"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Type) + " at " + std::to_string(c.Address));
        PollOnce(*lines, 5, c.Function, c.Address, c.Count, c.Type, c.Order);
        EXPECT_EQ(Column(*lines->ValuesTable, 0), c.Addresses);
        const QStringList raw = Column(*lines->ValuesTable, 1);
        for (int k = 0; k < c.Raw.size(); ++k)
            if (!c.Raw[k].isEmpty()) {
                EXPECT_EQ(raw.value(k), c.Raw[k]);
            }
        const QStringList values = Column(*lines->ValuesTable, 2);
        for (size_t k = 0; k < c.Values.size(); ++k)
            EXPECT_NEAR(values.value(int(k)).toDouble(), c.Values[k], 1e-5) << values.value(int(k)).toStdString();
        if (!c.Texts.isEmpty()) {
            EXPECT_EQ(values, c.Texts);
        }
    }
    EXPECT_NE(lines->CountersLabel->text().indexOf("запросов 7, ответов 7, нет ответа 0"), -1)
        << lines->CountersLabel->text().toStdString();

    // One register cannot hold a float32: told, not polled into an empty table.
    const uint64_t asked = lines->Poll().Statistics().Requests();
    PollOnce(*lines, 5, 4, 0, 1, "float32");
    EXPECT_EQ(Dialogs.Boxes.back().Text, "Значение типа float32 занимает регистров: 2");
    EXPECT_EQ(lines->Poll().Statistics().Requests(), asked);

    // Every value of every read, the coils last.
    const QList<QByteArray> rows = Exported(*lines, "samples.csv");
    ASSERT_EQ(rows.size(), 13);
    EXPECT_EQ(rows[0], "time,unit,address,raw,value\r");
    EXPECT_TRUE(rows[10].endsWith(",5,0,1,1\r")) << rows[10].toStdString();
    EXPECT_TRUE(rows[10].startsWith(QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate).toUtf8()))
        << rows[10].toStdString();
}

TEST_F(LinesTest, SearchFindsExactlyTheDevicesPresent)
{
    TLinesWindow* lines = Open({{1, 3}, {1, 7}, {2, 12}});
    TModuleConfig config = FactoryDefaults;
    config.Channels[0].Timeout = config.Channels[1].Timeout = 20;
    Configure(config);
    Search(*lines, 1, 14);
    EXPECT_EQ(lines->LastSearch().Found, (std::vector<uint8_t>{3, 7, 12}));
    EXPECT_EQ(lines->ResultsTable->rowCount(), 14);
    EXPECT_EQ(lines->ResultsTable->item(2, 2)->text(), "ответило");
    EXPECT_EQ(lines->ResultsTable->item(3, 2)->text(), "0B устройство на линии не ответило");
    EXPECT_EQ(lines->HintLabel->text(), "Найдены устройства: 3, 7, 12");
    EXPECT_EQ(lines->SearchProgress->value(), 14);
}

// What the gateway says when the device cannot be reached, in the counters and in the search.
TEST_F(LinesTest, WrongSerialSettingsAndASlaveChannelAreToldApart)
{
    struct TCase {
        const char* What;
        TSerialSettings Serial;
        uint16_t SlaveAddress;
        QString Exception;
        QString Role;
    };
    const TCase cases[] = {
        {"the device at 9600 N 1 on a 115200 E 2 line",
         {4, 0, 0},
         0,
         "0B устройство на линии не ответило",
         "Канал 1: Ведущий"},
        {"the device's channel is slave", Factory, 9, "0A нет пути к линии", "Канал 1: Ведомый"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        Module = std::make_unique<TModuleSimServer>();
        TLinesWindow* lines = Open({{1, 5}}, c.Serial);
        TModuleConfig config = FactoryDefaults;
        config.Channels[0].SlaveAddress = c.SlaveAddress;
        config.Channels[1].SlaveAddress = 4;  // no second line to be asked
        config.Channels[0].Timeout = 30;
        Configure(config);

        PollOnce(*lines, 5, 3, 0, 1, "uint16");
        EXPECT_NE(lines->CountersLabel->text().indexOf("исключение " + c.Exception + ": 1"), -1)
            << lines->CountersLabel->text().toStdString();
        // The row read is there, with why it holds no value.
        ASSERT_EQ(lines->ValuesTable->rowCount(), 1);
        EXPECT_EQ(lines->ValuesTable->item(0, 2)->text(), "");
        EXPECT_EQ(lines->ValuesTable->item(0, 3)->text(), c.Exception);

        Search(*lines, 4, 6);
        EXPECT_TRUE(lines->LastSearch().Found.empty());
        EXPECT_EQ(lines->ResultsTable->item(1, 2)->text(), c.Exception);
        const QString hint = lines->HintLabel->text();
        EXPECT_TRUE(hint.startsWith("Ни одно устройство не ответило")) << hint.toStdString();
        EXPECT_NE(hint.indexOf(c.Role), -1) << hint.toStdString();
        EXPECT_NE(hint.indexOf("115200"), -1) << hint.toStdString();
        EXPECT_NE(hint.indexOf("EVEN"), -1) << hint.toStdString();
    }
}

// The module waits 600 ms on its line, longer than the program's 510 ms: a request to an absent unit
// still ends in the module's own 0x0B, with the channels' settings to check, as korvel-cli poll
// tells it.
TEST_F(LinesTest, APollWaitsForTheLinesOwnTimeout)
{
    TLinesWindow* lines = Open({{1, 5}});
    TModuleConfig config = FactoryDefaults;
    config.Channels[0].Timeout = config.Channels[1].Timeout = 600;
    Configure(config);
    const int requestsBefore = Module->RequestCount();
    PollOnce(*lines, 9, 3, 0, 1, "uint16");
    const QString counters = lines->CountersLabel->text();
    EXPECT_NE(counters.indexOf("нет ответа 0"), -1) << counters.toStdString();
    EXPECT_NE(counters.indexOf("исключение 0B устройство на линии не ответило: 1"), -1) << counters.toStdString();
    EXPECT_NE(counters.indexOf("Проверьте настройки линий модуля: Канал 1: Ведущий, Скорость 115200, Паритет EVEN, "
                               "Стоп-биты 2; Канал 2:"),
              -1)
        << counters.toStdString();
    // The module's own registers are asked once a poll: its configuration.
    EXPECT_EQ(Module->RequestCount() - requestsBefore, 1);
}

TEST_F(LinesTest, AWriteHappensOnlyWhenConfirmed)
{
    TLinesWindow* lines = Open({{2, 5}});
    const TSimDevice& device = *Module->Lines().Device(1, 5);
    struct TCase {
        const char* What;
        int Function, Address;
        const char* Type;
        QString Value, Question;
        std::function<bool()> Written;
    };
    const TCase cases[] = {
        {"one register (06)", 3, 20, "uint16", "1234", "устройство 5, адрес 20 (40021) значение 1234?",
         [&] { return device.HoldingRegister(20) == 1234; }},
        {"a float over two registers (16)", 3, 30, "float32", "12.5", "устройство 5, адрес 30 (40031) значение 12.5?",
         [&] { return device.HoldingRegister(30) == 0x4148 && device.HoldingRegister(31) == 0; }},
        {"a coil (05)", 1, 3, "uint16", "1", "устройство 5, адрес 3 (00004) значение 1?",
         [&] { return device.Coil(3); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        const int count = std::string_view(c.Type) == "float32" ? 2 : 1;
        PollOnce(*lines, 5, c.Function, c.Address, count, c.Type);
        lines->ValuesTable->selectRow(0);
        lines->WriteEdit->setText(c.Value);

        Dialogs.BoxAnswers = {ID::No};
        const size_t asked = Dialogs.Boxes.size();
        QTest::mouseClick(lines->WriteButton, Qt::LeftButton);
        ASSERT_EQ(Dialogs.Boxes.size(), asked + 1);
        EXPECT_TRUE(Dialogs.Boxes.back().Text.endsWith(c.Question)) << Dialogs.Boxes.back().Text.toStdString();
        PollOnce(*lines, 5, c.Function, c.Address, count, c.Type);
        EXPECT_FALSE(c.Written()) << "cancelled, yet written";

        // No row chosen: the table's only value is the one written.
        lines->ValuesTable->clearSelection();
        lines->ValuesTable->setCurrentCell(-1, -1);
        Dialogs.BoxAnswers = {ID::Yes};
        QTest::mouseClick(lines->WriteButton, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil(c.Written));
        EXPECT_TRUE(WaitUntil([&] { return Dialogs.Boxes.back().Text.startsWith("Значение записано"); }))
            << Dialogs.Boxes.back().Text.toStdString();
    }
}

// Bits have no type: the type left in the greyed-out box does not move the coil a row writes.
TEST_F(LinesTest, ACoilRowIsWrittenWhereItStandsWhateverTheGreyedType)
{
    TLinesWindow* lines = Open({{1, 5}});
    const TSimDevice& device = *Module->Lines().Device(0, 5);
    for (const auto& [type, row] : {std::pair{"float32", 3}, {"ascii", 2}, {"float64", 1}}) {
        SCOPED_TRACE(type);
        PollOnce(*lines, 5, 1, 0, 8, type);
        lines->ValuesTable->selectRow(row);
        lines->WriteEdit->setText("1");
        Dialogs.BoxAnswers = {ID::Yes};
        QTest::mouseClick(lines->WriteButton, Qt::LeftButton);
        EXPECT_TRUE(Dialogs.Boxes.back().Text.endsWith(QString("адрес %1 (0000%2) значение 1?").arg(row).arg(row + 1)))
            << Dialogs.Boxes.back().Text.toStdString();
        EXPECT_TRUE(WaitUntil([&] { return device.Coil(row); }));
        ASSERT_TRUE(WaitUntil([&] { return Dialogs.Boxes.back().Text.startsWith("Значение записано"); }));
    }
    for (int other = 4; other < TSimDevice::CoilCount; ++other)
        EXPECT_FALSE(device.Coil(other)) << other;
}

// A request that gets no data never leaves the rows looking current: values kept are marked stale
// with their age, and a block never read shows its rows with the reason.
TEST_F(LinesTest, RowsWithoutAFreshAnswerSayWhy)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 refusedPort = closed.serverPort();
    closed.close();
    struct TCase {
        const char* What;
        std::function<void()> Silence;  // after a first good answer; none: never answered
        const char* Reason;
    };
    const TCase cases[] = {
        {"a refused port, read once", nullptr, ""},
        {"the device stops answering",
         [this] {
             TModuleConfig config = FactoryDefaults;
             config.Channels[0].BaudIndex = 4;
             config.Channels[0].Timeout = 30;
             Configure(config);
         },
         "0B устройство на линии не ответило"},
        {"the module stops answering", [this] { Module.reset(); }, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        Module = std::make_unique<TModuleSimServer>();
        TLinesWindow* lines = nullptr;
        if (c.Silence) {
            lines = Open({{1, 5}});
            PollOnce(*lines, 5, 4, 0, 4, "float32");
            ASSERT_EQ(Column(*lines->ValuesTable, 3), QStringList({"ответило", "ответило"}));
            c.Silence();
        } else {
            PointSettingsAt(refusedPort);
            Action("ShowLinesAction")->trigger();
            lines = Window().findChild<TLinesWindow*>();
        }
        PollOnce(*lines, 5, 4, 0, 4, "float32");
        ASSERT_EQ(lines->ValuesTable->rowCount(), 2);
        for (int row = 0; row < 2; ++row) {
            const QString status = lines->ValuesTable->item(row, 3)->text();
            const QString value = lines->ValuesTable->item(row, 2)->text();
            EXPECT_NE(status, "ответило");
            EXPECT_TRUE(status.endsWith(c.Reason)) << status.toStdString();
            // Kept from the first answer and said to be old; never read, nothing to show but why.
            EXPECT_EQ(status.startsWith("устарело на "), c.Silence != nullptr) << status.toStdString();
            EXPECT_EQ(value.isEmpty(), c.Silence == nullptr) << value.toStdString();
            EXPECT_FALSE(status.isEmpty());
        }
    }
}

// Another type or order shows the registers already read in its own way at once, no request asked.
TEST_F(LinesTest, AnotherTypeOrOrderDecodesTheRowsAtOnce)
{
    TLinesWindow* lines = Open({{1, 5}});
    PollOnce(*lines, 5, 4, 0, 4, "float32");
    const uint64_t asked = lines->Poll().Statistics().Requests();
    struct TCase {
        const char* Type;
        const char* Order;
        QStringList Values;  // of the first rows
    };
    const TCase cases[] = {
        {"uint16", "ABCD", {"17264", "0"}}, {"uint32", "ABCD", {"1131413504"}},
        {"uint32", "CDAB", {"17264"}},      {"hex", "CDAB", {"0x4370", "0x0000"}},  // one register: no order
        {"float32", "ABCD", {"240"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Type) + " " + c.Order);
        lines->TypeBox->setCurrentText(c.Type);
        lines->OrderBox->setCurrentText(c.Order);
        EXPECT_EQ(Column(*lines->ValuesTable, 2).mid(0, int(c.Values.size())), c.Values);
    }
    EXPECT_EQ(lines->Poll().Statistics().Requests(), asked);
}

// Exploring block after block keeps what was taken: every sample to export, each device's counters,
// the lines plotted; control bytes of a text go escaped into the export, each row on its line.
TEST_F(LinesTest, ChangingWhatIsReadKeepsTheSamplesAndCounters)
{
    TLinesWindow* lines = Open({{1, 5}, {2, 6}});
    int samples = 0;
    for (int k = 0; k < 21; ++k) {
        PollOnce(*lines, k % 3 == 0 ? 6 : 5, 4, k % 7, 1 + k % 2, k % 2 ? "uint16" : "int16");
        samples += 1 + k % 2;
    }
    EXPECT_NE(lines->CountersLabel->text().indexOf("Устройство 5: запросов 14, ответов 14"), -1)
        << lines->CountersLabel->text().toStdString();
    EXPECT_EQ(lines->Plot().PointCount(), 21u);

    const uint16_t text[] = {0x4100, 0x0A01, 0x2C22};  // A NUL LF SOH , "
    bool written = false;
    WriteDeviceRegisters(*Window().Client, 6, 40, text, [&](const TDeviceReply& reply) {
        EXPECT_TRUE(reply.Result.Ok()) << reply.Result.Text;
        written = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return written; }));
    PollOnce(*lines, 6, 3, 40, 3, "ascii");
    ++samples;

    const QList<QByteArray> rows = Exported(*lines, "explored.csv");
    ASSERT_EQ(rows.size(), 1 + samples + 1);
    EXPECT_TRUE(rows[samples].endsWith(",6,40,4100 0A01 2C22,\"A\\x00\\x0A\\x01,\"\"\"\r"))
        << rows[samples].toStdString();
}

// The lists hold every data type and order, each item carrying its own: an item shown by another
// name (as a translation names it) still polls as its type, and a 64-bit value is shown and plotted.
TEST_F(LinesTest, EveryTypeIsListedByItsOwnItemAndSixtyFourBitsArePlotted)
{
    TLinesWindow* lines = Open({{1, 5}});
    ASSERT_NE(lines, nullptr);
    ASSERT_EQ(lines->TypeBox->count(), int(DataTypes().size()));
    for (const TDataTypeRow& row : DataTypes())
        EXPECT_EQ(lines->TypeBox->findData(int(row.Type)), int(row.Type)) << row.Name;
    ASSERT_EQ(lines->OrderBox->count(), int(WordOrders().size()));

    const QString shownName = "целое без знака, 64 бита";
    lines->TypeBox->setItemText(lines->TypeBox->findData(int(TDataType::UInt64)), shownName);
    lines->OrderBox->setItemText(lines->OrderBox->findData(int(TWordOrder::CDAB)), "младшее слово первым");
    PollOnce(*lines, 5, 3, 30, 4, shownName.toUtf8().constData(), "младшее слово первым");
    EXPECT_EQ(Column(*lines->ValuesTable, 2), QStringList{"0"});

    const TSimDevice& device = *Module->Lines().Device(0, 5);
    lines->WriteEdit->setText("18446744073709551614");
    Dialogs.BoxAnswers = {ID::Yes};
    QTest::mouseClick(lines->WriteButton, Qt::LeftButton);
    // The low word first, as the order chosen lays it out.
    EXPECT_TRUE(
        WaitUntil([&] { return device.HoldingRegister(30) == 0xFFFE && device.HoldingRegister(33) == 0xFFFF; }));
    EXPECT_TRUE(WaitUntil([&] { return Dialogs.Boxes.back().Text.startsWith("Значение записано"); }));

    const size_t plotted = lines->Plot().PointCount();
    PollOnce(*lines, 5, 3, 30, 4, shownName.toUtf8().constData(), "младшее слово первым");
    EXPECT_EQ(Column(*lines->ValuesTable, 2), QStringList{"18446744073709551614"});
    EXPECT_EQ(Column(*lines->ValuesTable, 1), QStringList{"FFFE FFFF FFFF FFFF"});
    EXPECT_EQ(lines->Plot().PointCount(), plotted + 1);
}

// The window asks through a client of its own: new connection settings in the main window leave the
// poll running; closing the main window ends the poll with the client.
TEST_F(LinesTest, APollOutlivesNewSettingsAndEndsWithTheMainWindow)
{
    TLinesWindow* lines = Open({{1, 5}});
    lines->UnitEdit->setValue(5);
    lines->RepeatCheck->setChecked(true);
    lines->PeriodEdit->setValue(50);
    QTest::mouseClick(lines->PollButton, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return lines->Poll().Statistics().Replies() >= 2; }));
    Window().ApplyConnectionSettings();
    const uint64_t replies = lines->Poll().Statistics().Replies();
    EXPECT_TRUE(WaitUntil([&] { return lines->Poll().Statistics().Replies() >= replies + 3; }));
    EXPECT_TRUE(lines->Poll().IsRunning());

    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Window().findChild<TLinesWindow*>(), nullptr) << "its poll would ask through a client that is gone";
}

// An hour of a 50 ms poll of four rows, fed at the poll's pace of simulated time: the plot holds
// no more than its window's points, whatever the hour's length.
TEST(PollPlot, HoldsOnlyItsWindowOfPoints)
{
    TPollPlot plot;
    plot.SetWindowSeconds(60);
    for (int k = 0; k < 72000; ++k)
        for (const char* line : {"0", "2", "4", "6"})
            plot.AddPoint(line, k * 0.05, std::sin(k * 0.01));
    EXPECT_LE(plot.PointCount(), 4u * 1201);
    EXPECT_GE(plot.PointCount(), 4u * 1200);
    plot.SetWindowSeconds(10);
    EXPECT_LE(plot.PointCount(), 4u * 201);
    for (const char* line : {"0", "4", "6"})
        plot.RemoveLine(line);
    EXPECT_LE(plot.PointCount(), 201u);
}

namespace {

// Two meters' points, one of them written as a spreadsheet would keep it.
const char* const MeterMap = "# two meters\n"
                             "name;unit;function;address;type;order;scale;units;access\n"
                             "U1;5;input;0;float32;ABCD;1;V;r\n"
                             "E1;5;input;6;uint32;ABCD;0,001;kWh;r\n"
                             "T1;5;input;9;int16;ABCD;0,1;°C;r\n"
                             "SP;5;holding;1;float32;ABCD;1;;rw\n"
                             "Limit;5;holding;20;uint16;ABCD;0,1;A;rw\n"
                             "U2;6;input;0;float32;ABCD;1;V;r\n";

class MapPageTest : public LinesTest {
protected:
    TMapPage& OpenMap(const char* text = MeterMap)
    {
        TLinesWindow* lines = Open({{1, 5}, {2, 6}});
        QFile file(Path("meters.csv"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        TMapPage& page = lines->MapPage();
        EXPECT_TRUE(page.OpenMap(Path("meters.csv")));
        return page;
    }

    static void PollOnce(TMapPage& page)
    {
        page.RepeatCheck->setChecked(false);
        page.StartPoll();
        EXPECT_TRUE(WaitUntil([&] { return !page.Poll().IsRunning(); }));
    }

    static QString Shown(const TMapPage& page, const char* name, int column)
    {
        for (int row = 0; row < page.PointsTable->rowCount(); ++row)
            if (page.PointsTable->item(row, 0)->text() == name)
                return page.PointsTable->item(row, column)->text();
        return "no point " + QString(name);
    }
};

enum { ValueColumn = 7, StatusColumn = 9 };

}  // namespace

TEST_F(MapPageTest, PointsArePolledTogetherWithTheirUnitsAndGoStaleWithTheirAge)
{
    TMapPage& page = OpenMap();
    const QString log = Path("cycles.csv");
    Dialogs.FileAnswers.push_back(log);
    page.LogCheck->setChecked(true);
    ASSERT_EQ(page.LogFile(), log);
    page.PeriodEdit->setValue(20);
    page.StartPoll();
    const auto lines = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    };
    // Each cycle is in the file as soon as it is told, not when the log ends.
    ASSERT_TRUE(WaitUntil([&] { return lines().size() >= 4; }));
    const std::pair<const char*, QString> values[] = {
        {"U1", "240 V"}, {"E1", "5.001 kWh"}, {"T1", "2.1 °C"}, {"SP", "50"}, {"Limit", "0 A"}, {"U2", "240 V"},
    };
    for (const auto& [name, value] : values) {
        EXPECT_EQ(Shown(page, name, ValueColumn), value) << name;
        EXPECT_EQ(Shown(page, name, StatusColumn), "считано") << name;
    }
    EXPECT_EQ(lines()[0], "time,U1,U1 status,E1,E1 status,T1,T1 status,SP,SP status,Limit,Limit status,U2,U2 status");
    EXPECT_TRUE(lines()[1].endsWith(",240,ok,5.001,ok,2.1,ok,50,ok,0,ok,240,ok")) << lines()[1].toStdString();
    EXPECT_GE(page.Plot().PointCount(), 2u);  // the first point ticked, a point a cycle

    Module.reset();
    ASSERT_TRUE(WaitUntil([&] { return Shown(page, "U2", StatusColumn).startsWith("устарело на "); }));
    for (const auto& [name, value] : values) {
        EXPECT_EQ(Shown(page, name, ValueColumn), value) << name << ": the last good value, kept";
        EXPECT_TRUE(Shown(page, name, StatusColumn).startsWith("устарело на ")) << name;
    }
    ASSERT_TRUE(WaitUntil([&] { return lines().size() >= 2 && lines()[lines().size() - 2].contains("stale"); }));
    EXPECT_TRUE(lines()[lines().size() - 2].endsWith(",,stale (no_answer),,stale (no_answer)"))
        << lines()[lines().size() - 2].toStdString();
    page.StopPoll();
}

// Type, order and scale edited in place decode the registers already read at once; a bad edit is
// refused and the point stays as it was.
TEST_F(MapPageTest, EditsDecodeTheKeptRegistersAtOnce)
{
    TMapPage& page = OpenMap();
    PollOnce(page);
    ASSERT_TRUE(WaitUntil([&] { return Shown(page, "U1", StatusColumn) == "считано"; }));
    struct TCase {
        int Row, Column;
        QString Text, Value, Refusal;
    };
    const TCase cases[] = {
        {0, 3, "uint32", "1131413504 V", ""},
        {0, 4, "CDAB", "17264 V", ""},
        {1, 5, "1", "5001 kWh", ""},
        {1, 6, "-1", "5000 kWh", ""},
        {2, 8, "dC", "2.1 dC", ""},
        {1, 5, "0", "5000 kWh", "Масштаб: число, не 0"},
        {0, 3, "float16", "17264 V", "Тип: int16, uint16, int32, uint32, "},
        {1, 0, "U1", "5000 kWh", "Имя точки пусто или уже есть в карте: U1"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        const size_t boxes = Dialogs.Boxes.size();
        page.PointsTable->item(c.Row, c.Column)->setText(c.Text);
        EXPECT_EQ(page.PointsTable->item(c.Row, ValueColumn)->text(), c.Value);
        EXPECT_EQ(Dialogs.Boxes.size(), boxes + (c.Refusal.isEmpty() ? 0 : 1));
        if (!c.Refusal.isEmpty()) {
            EXPECT_TRUE(Dialogs.Boxes.back().Text.startsWith(c.Refusal)) << Dialogs.Boxes.back().Text.toStdString();
        }
    }
    EXPECT_EQ(Shown(page, "T1", ValueColumn), "2.1 dC");
}

// A point open to writing is written in its engineering units after a question naming it; a point
// only read is not written.
TEST_F(MapPageTest, APointIsWrittenOnlyWhenOpenToItAndConfirmed)
{
    TMapPage& page = OpenMap();
    const TSimDevice& device = *Module->Lines().Device(0, 5);
    struct TCase {
        int Row;
        const char* Typed;
        QString Box;
        std::function<bool()> Written;
    };
    const TCase cases[] = {
        {0, "250", "Точка U1 только для чтения (access r)", nullptr},
        {3, "12.5", "Записать в точку SP, устройство 5, адрес 1 (40002) значение 12.5?",
         [&] { return device.HoldingRegister(1) == 0x4148 && device.HoldingRegister(2) == 0; }},
        {4, "12,5", "Записать в точку Limit, устройство 5, адрес 20 (40021) значение 125?",
         [&] { return device.HoldingRegister(20) == 125; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Typed);
        page.PointsTable->setCurrentCell(c.Row, ValueColumn);
        page.WriteEdit->setText(c.Typed);
        Dialogs.BoxAnswers = {ID::Yes};
        QTest::mouseClick(page.WriteButton, Qt::LeftButton);
        ASSERT_FALSE(Dialogs.Boxes.empty());
        EXPECT_EQ(Dialogs.Boxes.back().Text, c.Box);
        if (!c.Written)
            continue;
        EXPECT_TRUE(WaitUntil(c.Written));
        EXPECT_TRUE(WaitUntil([&] { return Dialogs.Boxes.back().Text.startsWith("Значение записано: точка "); }));
    }
    ASSERT_TRUE(WaitUntil([&] { return Shown(page, "Limit", ValueColumn) == "12.5 A"; }));
}

// A row of the single poll becomes a point of the map, read by the map's poll as it was there.
TEST_F(MapPageTest, ARowOfTheSinglePollIsAddedToTheMap)
{
    TMapPage& page = OpenMap();
    TLinesWindow& lines = *Window().findChild<TLinesWindow*>();
    LinesTest::PollOnce(lines, 6, 4, 6, 2, "uint32");
    lines.ValuesTable->selectRow(0);
    QTest::mouseClick(lines.AddToMapButton, Qt::LeftButton);
    EXPECT_EQ(lines.PageControl1->currentWidget(), &page);
    ASSERT_EQ(page.PointsTable->rowCount(), 7);
    EXPECT_EQ(page.PointsTable->currentRow(), 6);
    EXPECT_EQ(page.PointsTable->item(6, 0)->text(), "u6_30007");
    PollOnce(page);
    EXPECT_TRUE(WaitUntil([&] { return Shown(page, "u6_30007", ValueColumn) == "6001"; }));

    // Kept as the map's last row, the others as they were read.
    ASSERT_TRUE(page.SaveMap(Path("saved.csv")));
    QFile saved(Path("saved.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = saved.readAll().trimmed().split('\n');
    ASSERT_EQ(rows.size(), 9);
    EXPECT_EQ(rows[0], "# two meters");
    EXPECT_TRUE(rows[8].startsWith("u6_30007;6;input;6;uint32")) << rows[8].toStdString();
}

// A map with errors is refused with all of them and their lines; the map shown stays, and the map
// last used is opened again.
TEST_F(MapPageTest, AMapWithErrorsIsRefusedAndTheLastGoodOneComesBack)
{
    TMapPage& page = OpenMap();
    QFile bad(Path("bad.csv"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("name,unit,function,address\nA,5,input,70000\nB,300,input,0\n");
    bad.close();
    EXPECT_FALSE(page.OpenMap(Path("bad.csv")));
    const QString box = Dialogs.Boxes.back().Text;
    EXPECT_TRUE(box.contains("строка 2, address")) << box.toStdString();
    EXPECT_TRUE(box.contains("строка 3, unit")) << box.toStdString();
    EXPECT_EQ(page.PointsTable->rowCount(), 6);
    EXPECT_EQ(page.MapFile(), Path("meters.csv"));

    // The map last used comes back with the program, from its settings file.
    ASSERT_TRUE(CloseWindow());
    Window_.reset();
    Action("ShowLinesAction")->trigger();
    TMapPage& again = Window().findChild<TLinesWindow*>()->MapPage();
    EXPECT_EQ(again.MapFile(), Path("meters.csv"));
    EXPECT_EQ(again.PointsTable->rowCount(), 6);
}
