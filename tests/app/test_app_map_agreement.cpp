// The window's Карта page and the real korvel-cli poll the shipped register map through the same
// simulated module with three meters (its clock held still): every point has the same value, units
// and status in both; once the module is gone, every point is stale with its age in both. Their
// commissioning reports tell the devices on the lines alike.

#include "AppTestSupport.h"

#include "CommissioningReport.h"
#include "Lines_Win.h"
#include "MapPage.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "SimLines.h"
#include "Wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

const QString ShippedMap = KORVEL_SOURCE_DIR "/maps/module-sim-meters.csv";

// A point as shown: its value as a number where it is one (the page writes a type's shortest
// text, the JSON a number), its units and its status.
struct TShown {
    QString Value;
    QString Units;
    QString Status;
    bool operator==(const TShown&) const = default;
};

QString Normal(const QString& value)
{
    bool number = false;
    const double real = value.toDouble(&number);
    return number ? QString::number(real, 'g', 7) : value;
}

class MapAgreementTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        TModuleConfig config = FactoryDefaults;
        for (TChannelConfig& channel : config.Channels)
            channel.Timeout = 5;
        const TConfigImage image = BuildConfigImage(config);
        for (size_t k = 0; k < image.size(); ++k)
            Module->SetRegister(ConfigFirstRegister + int(k), image[k]);
        const TSerialSettings factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                      FactoryChannelDefaults.StopBits};
        for (const auto& [channel, unit] : {std::pair{0, 5}, {0, 17}, {1, 30}})
            ASSERT_TRUE(Module->Lines().AddDevice(TSimDevice(channel, uint8_t(unit), factory)));
        Module->Lines().FreezeClock(15);
        Module->Lines().SetLineTimeFactor(0);
        ASSERT_TRUE(Module->Listen(QHostAddress::LocalHost, 0));
        PointSettingsAt(Module->Port());
        Action("ShowLinesAction")->trigger();
        Page = &Window().findChild<TLinesWindow*>()->MapPage();
        ASSERT_TRUE(Page->OpenMap(ShippedMap));
    }

    std::map<QString, TShown> PollPage()
    {
        Page->RepeatCheck->setChecked(false);
        Page->StartPoll();
        EXPECT_TRUE(WaitUntil([&] { return !Page->Poll().IsRunning(); }));
        std::map<QString, TShown> shown;
        for (int row = 0; row < Page->PointsTable->rowCount(); ++row) {
            const QString units = Page->PointsTable->item(row, 8)->text();
            QString value = Page->PointsTable->item(row, 7)->text();
            value.chop(units.isEmpty() ? 0 : units.size() + 1);
            const std::string_view status = PointStatusKey(Page->Poll().States()[size_t(row)].Status);
            shown[Page->PointsTable->item(row, 0)->text()] = {
                Normal(value), units, QString::fromUtf8(status.data(), qsizetype(status.size()))};
        }
        return shown;
    }

    static std::map<QString, TShown> CliShown(const QJsonObject& cycle)
    {
        std::map<QString, TShown> shown;
        for (const QJsonValue& entry : cycle["points"].toArray()) {
            const QJsonObject point = entry.toObject();
            const QJsonValue value = point["value"];
            shown[point["name"].toString()] = {value.isString() ? Normal(value.toString())
                                                                : Normal(QString::number(value.toDouble(), 'g', 17)),
                                               point["units"].toString(), point["status"].toString()};
        }
        return shown;
    }

    std::unique_ptr<TModuleSimServer> Module = std::make_unique<TModuleSimServer>();
    TMapPage* Page = nullptr;
};

}  // namespace

TEST_F(MapAgreementTest, TheWindowAndKorvelCliShowTheSameAndBothGoStale)
{
    const auto page = PollPage();
    ASSERT_EQ(page.at("m30_name").Value, "METER-030");

    QProcess cli;
    cli.start(KORVEL_CLI, {"poll", QString("127.0.0.1:%1").arg(Module->Port()), "--map", ShippedMap, "--json",
                           "--interval", "200", "--samples", "5", "--timeout", "300", "--retries", "0"});
    QList<QJsonObject> cycles;
    const auto read = [&] {
        while (cli.canReadLine())
            if (const QJsonObject line = QJsonDocument::fromJson(cli.readLine()).object(); line.contains("points"))
                cycles << line;  // a cycle; the run's summary closes it
        return !cycles.isEmpty();
    };
    ASSERT_TRUE(WaitUntil(read, std::chrono::seconds(20))) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(CliShown(cycles.front()), page);

    // The module gone: what was read stays, never as current, in both.
    Module.reset();
    ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    read();
    const auto stale = PollPage();
    EXPECT_EQ(CliShown(cycles.back()), stale);
    for (const auto& [name, shown] : stale)
        EXPECT_EQ(shown, (TShown{page.at(name).Value, page.at(name).Units, "stale"})) << name.toStdString();
    for (const QJsonValue& point : cycles.back()["points"].toArray())
        EXPECT_GT(point.toObject()["age_ms"].toInteger(), 0) << point.toObject()["name"].toString().toStdString();
    for (int row = 0; row < Page->PointsTable->rowCount(); ++row)
        EXPECT_TRUE(Page->PointsTable->item(row, 9)->text().startsWith("устарело на "))
            << Page->PointsTable->item(row, 9)->text().toStdString();
}

TEST_F(MapAgreementTest, TheReportsTellTheDevicesOnTheLinesAlike)
{
    TLinesWindow& lines = *Window().findChild<TLinesWindow*>();
    lines.FirstUnitEdit->setValue(1);
    lines.LastUnitEdit->setValue(31);
    lines.SearchButtonClick();
    ASSERT_TRUE(WaitUntil([&] { return !lines.Searching(); }, std::chrono::seconds(20)));
    PollPage();
    // The section, up to the lines to sign.
    const auto devices = [](const QString& html) {
        const qsizetype from = html.indexOf("Устройства на линии");
        return from < 0 ? QString() : html.mid(from, html.indexOf("______", from) - from);
    };
    const QString window = devices(ReportHtml(Window().CommissioningReport()));
    EXPECT_TRUE(window.contains("5, 17, 30 (опрошены адреса 1-31)")) << window.toStdString();
    EXPECT_TRUE(window.contains("METER-017")) << window.toStdString();

    QProcess cli;
    cli.start(KORVEL_CLI, {"report", QString("127.0.0.1:%1").arg(Module->Port()), "--map", ShippedMap, "--units",
                           "1-31", "-o", Path("cli.html")});
    ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    QFile html(Path("cli.html"));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    EXPECT_EQ(devices(QString::fromUtf8(html.readAll())), window);
}
