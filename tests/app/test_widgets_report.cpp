// The commissioning report: what its PDF says of a configuration, of the module and of the file,
// the files it is kept in, and its preview's PDF command.

#include "ConfigVerdict.h"
#include "PdfText.h"
#include "ReportFile.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "SampleConfig.h"
#include "Wait.h"
#include "WidgetsTestSupport.h"

#include <QFile>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

const QDateTime Made(QDate(2026, 12, 7), QTime(9, 30, 15));
const QDateTime Checked(QDate(2026, 12, 7), QTime(9, 29, 0));

TModuleInfo SampleInfo()
{
    return {0x0103, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {}, FactoryJumperFlag, 0};
}

class ReportTest : public ::testing::Test {
protected:
    // The report's PDF as a reader selecting its text gets it.
    QString Text(const TCommissioningReport& report)
    {
        const QString fileName = Folder.filePath("report.pdf");
        QString error;
        EXPECT_TRUE(SaveReport(report, fileName, error)) << error.toStdString();
        return PdfText(fileName);
    }
    // A part of the report as one line, wrapped values joined again.
    static QString Part(const QString& text, const QString& heading)
    {
        return ReportSections(text)[heading].join(u' ').simplified();
    }

    QTemporaryDir Folder;
};

TEST_F(ReportTest, EveryFieldIsShownWithTheWindowsLabelInItsChannelsRole)
{
    TModuleConfig slaveFirst = DistinctConfig();
    slaveFirst.Channels[0].SlaveAddress = 3;
    slaveFirst.Channels[1].SlaveAddress = 0;
    for (const TModuleConfig& config : {DistinctConfig(), slaveFirst}) {
        TCommissioningReport report;
        report.Config = config;
        report.FileName = QStringLiteral("/srv/шкаф 3/cabinet.ini");
        report.Made = Made;
        const QString text = Text(report);
        ASSERT_FALSE(text.isEmpty());
        const QStringList lines = text.split(u'\n');
        EXPECT_TRUE(text.contains("Отчёт о настройке модуля"));
        EXPECT_TRUE(HasRow(lines, "Файл конфигурации", "/srv/шкаф 3/cabinet.ini")) << text.toStdString();
        EXPECT_TRUE(HasRow(lines, "Дата и время", "07.12.2026 09:30:15"));
        EXPECT_TRUE(HasRow(lines, "Соединение", "не использовалось"));
        EXPECT_TRUE(text.contains("Настройку выполнил:"));
        ExpectEveryFieldInItsRole(text, config);
    }
}

// What the module said is told only for the configuration it was said of.
TEST_F(ReportTest, TheModulePartTellsWhatWasReadAndForWhichValues)
{
    TModuleConfig edited = DistinctConfig();
    edited.TCPPort = 1503;
    const QString connection = ReportConnectionText("127.0.0.1", 1502, 510, 3);
    const struct {
        const char* Name;
        TReportModule Module;
        TModuleConfig Shown;
        QStringList Told;
    } cases[] = {
        {"nothing read",
         {},
         DistinctConfig(),
         {"Информация о модуле: не считывалась", "Проверка: конфигурация не записывалась и не считывалась"}},
        {"written and verified",
         {connection, SampleInfo(), TReportVerdict::Verified, DistinctConfig(), Checked},
         DistinctConfig(),
         {"Версия программного обеспечения: 1.3", "MAC адрес: 12-34-56-78-9A-BC",
          "Перемычка активизации заводской конфигурации: Установлена",
          "Проверка: конфигурация записана в модуль и проверена (07.12.2026 09:29:00)"}},
        {"verified, then edited",
         {connection, SampleInfo(), TReportVerdict::Verified, DistinctConfig(), Checked},
         edited,
         {"Проверка: конфигурация записана в модуль и проверена (07.12.2026 09:29:00); после этого изменено: "
          "TCP/IP: TCP порт"}},
        {"read with a wrong checksum",
         {connection, std::nullopt, TReportVerdict::ReadDamaged, DistinctConfig(), Checked},
         DistinctConfig(),
         {"Информация о модуле: не считывалась", "Проверка: " + QString::fromUtf8(DamagedConfigText)}},
        {"written, the module holds another",
         {connection, std::nullopt, TReportVerdict::NotKept, DistinctConfig(), Checked},
         DistinctConfig(),
         {"Проверка: модуль подтвердил запись, но хранит другую конфигурацию"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCommissioningReport report;
        report.Config = c.Shown;
        report.Made = Made;
        report.Module = c.Module;
        const QString text = Text(report);
        const QString module = Part(text, "Модуль");
        for (const QString& told : c.Told)
            EXPECT_TRUE(module.contains(told)) << module.toStdString();
        EXPECT_TRUE(text.simplified().contains(
            "Соединение: " + (c.Module.Connection.isEmpty() ? QStringLiteral("не использовалось") : connection)))
            << text.toStdString();
    }
}

TEST_F(ReportTest, TheFilesFormatIsItsExtensionAndAFailureIsTold)
{
    TCommissioningReport report;
    report.Config = DistinctConfig();
    // A name is text in the page, never markup.
    report.FileName = QStringLiteral("/tmp/<b>a&b</b>.ini");
    report.Made = Made;
    const struct {
        const char* Name;
        bool Saved;
        QByteArray Start;  // of the file written
        QString Error;     // %1: the file's name
    } cases[] = {
        {"report.pdf", true, "%PDF-", {}},
        {"REPORT.HTML", true, "<html>", {}},
        {"report.htm", true, "<html>", {}},
        {"report.txt", false, {}, "Неизвестный формат отчёта %1: допускаются .pdf и .html"},
        {"no-such-folder/report.pdf", false, {}, "Ошибка записи в файл %1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString fileName = Folder.filePath(c.Name);
        QString error;
        EXPECT_EQ(SaveReport(report, fileName, error), c.Saved);
        EXPECT_EQ(error, c.Error.isEmpty() ? QString() : c.Error.arg(fileName));
        QFile file(fileName);
        EXPECT_EQ(file.exists(), c.Saved);
        if (!c.Saved || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        EXPECT_TRUE(content.startsWith(c.Start));
        if (c.Start == "<html>") {
            EXPECT_TRUE(content.contains("/tmp/&lt;b&gt;a&amp;b&lt;/b&gt;.ini"));
            EXPECT_FALSE(content.contains("<b>a"));
        }
    }
}

TEST_F(ReportTest, ThePreviewShowsThePagesAndSavesThePdf)
{
    TCommissioningReport report;
    report.Config = DistinctConfig();
    report.Made = Made;
    TReportPreview preview(report, nullptr);
    preview.setAttribute(Qt::WA_DeleteOnClose, false);
    const QToolBar* tools = preview.findChild<QToolBar*>();
    ASSERT_NE(tools, nullptr);
    EXPECT_TRUE(tools->actions().contains(preview.SavePdfAction));
    preview.show();
    // Not behind the tool bar's overflow arrow, whatever the screen.
    ASSERT_TRUE(WaitUntil([&] { return tools->widgetForAction(preview.SavePdfAction)->isVisible(); }));
    const QPrintPreviewWidget* pages = preview.findChild<QPrintPreviewWidget*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_GE(pages->pageCount(), 1);

    const QString fileName = Folder.filePath("from-preview.pdf");
    DialogsTestHook::OnFileDialog = [&](TFileDialog& dialog) {
        EXPECT_EQ(dialog.Filter, "Файлы PDF (*.pdf)|*.pdf");
        dialog.FileName = fileName;
        return true;
    };
    preview.SavePdfAction->trigger();
    DialogsTestHook::OnFileDialog = nullptr;
    ExpectEveryFieldInItsRole(PdfText(fileName), report.Config);
}

}  // namespace
