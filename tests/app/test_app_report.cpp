// The commissioning report through the window (Файл → Отчёт..., its preview's PDF) and through the
// real korvel-cli, given the same file or the same simulated module: the same text.

#include "AppTestSupport.h"

#include "ConfigFile.h"
#include "ModuleSimServer.h"
#include "PdfText.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "SampleConfig.h"
#include "Wait.h"
#include "WidgetsTestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

const QString WrittenText = QStringLiteral("Конфигурация успешно загружена");

class ReportTest : public MainWindowFixture {
protected:
    // The report the window's Отчёт... shows, saved from its preview as PDF: its text.
    QString WindowReport(const char* name)
    {
        Action("ReportAction")->trigger();
        auto* preview = Window().findChild<TReportPreview*>();
        EXPECT_NE(preview, nullptr);
        if (!preview)
            return {};
        Dialogs.FileAnswers = {Path(name)};
        preview->SavePdfAction->trigger();
        preview->close();
        return PdfText(Path(name));
    }

    // korvel-cli report with these arguments: its text, once it ended well.
    QString CliReport(const QStringList& arguments, const char* name)
    {
        QProcess cli;
        // No display: the report needs none.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        cli.setProcessEnvironment(environment);
        cli.start(KORVEL_CLI, QStringList{"report"} + arguments + QStringList{"-o", Path(name)});
        EXPECT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(20)));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return PdfText(Path(name));
    }

    // The text without the line of the time it was made, which is all two reports of the same
    // input may differ in.
    static QString Timeless(const QString& text)
    {
        return QString(text).remove(QRegularExpression("Дата и время:[^\\n]*\\n"));
    }
};

TEST_F(ReportTest, TheWindowAndKorvelCliReportAFileAlike)
{
    const TModuleConfig config = DistinctConfig();
    SaveConfigToFile(Path("cabinet.ini").toStdString(), config);
    Window().OpenFileAtStart(Path("cabinet.ini"));
    ASSERT_TRUE(Dialogs.Boxes.empty());

    const QString window = WindowReport("window.pdf");
    ExpectEveryFieldInItsRole(window, config);
    EXPECT_TRUE(HasRow(window.split(u'\n'), "Файл конфигурации", Path("cabinet.ini")));
    EXPECT_TRUE(window.simplified().contains("Соединение: не использовалось"));

    const QString cli = CliReport({Path("cabinet.ini")}, "cli.pdf");
    EXPECT_EQ(Timeless(cli), Timeless(window));
}

// A value the window refuses is told, and no report is made of it.
TEST_F(ReportTest, TheWindowReportsNoValueItRefuses)
{
    AddressEdit(1)->setText("300.1.1.1");
    Action("ReportAction")->trigger();
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_TRUE(Dialogs.Boxes[0].Text.startsWith("Недопустимое значение IP адреса"))
        << Dialogs.Boxes[0].Text.toStdString();
    EXPECT_EQ(Window().findChild<TReportPreview*>(), nullptr);
}

// After a verified write the window's report vouches for the module; korvel-cli reading the same
// module reports the same values and information. An edit after the write is named.
TEST_F(ReportTest, TheWindowTellsWhatTheModuleSaidAndKorvelCliReadsTheSame)
{
    TModuleSimServer module;
    module.SetVersion(2, 7);
    module.SetMac({0x00, 0x1A, 0x4B, 0x00, 0x00, 0x09});
    module.SetJumperFitted(true);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    TModuleConfig config = DistinctConfig();
    SaveConfigToFile(Path("cabinet.ini").toStdString(), config);
    Window().OpenFileAtStart(Path("cabinet.ini"));

    WhenModalShown([](QWidget* info) { info->close(); });
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !Window().RequestPending(); }));
    Action("WriteConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); }, std::chrono::seconds(10)));
    ASSERT_EQ(Dialogs.Boxes[0].Text, WrittenText);

    const QString window = WindowReport("window.pdf");
    const QString connection =
        "Соединение: 127.0.0.1:" + QString::number(module.Port()) + ", ожидание ответа 510 мс, передач запроса 3";
    EXPECT_TRUE(window.simplified().contains(connection)) << window.toStdString();
    const QString windowModule = ReportSections(window)["Модуль"].join(u' ').simplified();
    EXPECT_TRUE(windowModule.contains("Версия программного обеспечения: 2.7 MAC адрес: 00-1A-4B-00-00-09 "
                                      "Перемычка активизации заводской конфигурации: Установлена"))
        << windowModule.toStdString();
    EXPECT_TRUE(windowModule.contains("Проверка: конфигурация записана в модуль и проверена"));

    const QString cli = CliReport({"127.0.0.1:" + QString::number(module.Port())}, "cli.pdf");
    EXPECT_TRUE(cli.simplified().contains(connection));
    const auto windowParts = ReportSections(window);
    const auto cliParts = ReportSections(cli);
    for (const char* page : {"TCP/IP", "RS-485 Канал 1", "RS-485 Канал 2"})
        EXPECT_EQ(cliParts.at(page), windowParts.at(page)) << page;
    EXPECT_TRUE(ReportSections(cli)["Модуль"].join(u' ').simplified().contains(
        "Проверка: конфигурация считана из модуля, контрольная сумма верна"));

    PortEdit()->SetValue(1503);
    const QString edited = WindowReport("edited.pdf");
    EXPECT_TRUE(
        ReportSections(edited)["Модуль"].join(u' ').simplified().contains("; после этого изменено: TCP/IP: TCP порт"));
}

// korvel-cli refuses what it cannot report and leaves no report file behind.
TEST_F(ReportTest, KorvelCliRefusesWhatItCannotReport)
{
    SaveConfigToFile(Path("cabinet.ini").toStdString(), DistinctConfig());
    const QString closedPort = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return "127.0.0.1:" + QString::number(probe.serverPort());
    }();
    const struct {
        const char* Name;
        QStringList Arguments;
        int Status;
        QString Told;
    } cases[] = {
        {"no source", {"-o", Path("r.pdf")}, 2, "report ожидает один модуль или один файл конфигурации"},
        {"two sources", {Path("cabinet.ini"), Path("cabinet.ini"), "-o", Path("r.pdf")}, 2, "report ожидает один"},
        {"no report file", {Path("cabinet.ini")}, 2, "не задан файл отчёта"},
        {"unknown format", {Path("cabinet.ini"), "-o", Path("r.txt")}, 2, "расширением файла -o: .pdf или .html"},
        {"missing file", {Path("missing.ini"), "-o", Path("r.pdf")}, 4, Path("missing.ini")},
        {"silent module", {"--timeout", "100", closedPort, "-o", Path("r.pdf")}, 3, "ошибка: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QProcess cli;
        cli.start(KORVEL_CLI, QStringList{"report"} + c.Arguments);
        ASSERT_TRUE(cli.waitForFinished(20000));
        EXPECT_EQ(cli.exitCode(), c.Status);
        const QString told = QString::fromUtf8(cli.readAllStandardError() + cli.readAllStandardOutput());
        EXPECT_TRUE(told.contains(c.Told)) << told.toStdString();
        EXPECT_FALSE(QFile::exists(Path("r.pdf")));
        EXPECT_FALSE(QFile::exists(Path("r.txt")));
    }
}

}  // namespace
