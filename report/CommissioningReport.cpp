#include "CommissioningReport.h"

#include "ConfigFields.h"
#include "ConfigVerdict.h"

#include <QCoreApplication>
#include <QStringList>

#include <string>
#include <utility>
#include <vector>

namespace {

const QString TimeFormat = QStringLiteral("dd.MM.yyyy hh:mm:ss");

QString Text(const char* source)
{
    return QCoreApplication::translate("TCommissioningReport", source);
}

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// A table of "label: value" rows; every text is escaped, since file names and the module's words
// may hold anything.
class TRows {
public:
    void Add(const QString& label, const QString& value)
    {
        Html += QStringLiteral("<tr><td width=\"45%\" style=\"white-space:nowrap\">%1:</td><td>%2</td></tr>")
                    .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    }
    QString Table() const
    {
        return QStringLiteral("<table width=\"100%\" cellpadding=\"2\" cellspacing=\"0\">") + Html +
               QStringLiteral("</table>");
    }

private:
    QString Html;
};

QString Heading(const QString& text)
{
    return QStringLiteral("<h3>%1</h3>").arg(text.toHtmlEscaped());
}

bool IsSlave(const TModuleConfig& config, int channel)
{
    // The window shows a channel as a slave whenever it has a network address.
    return config.Channels[size_t(channel)].SlaveAddress != 0;
}

// The fields of a page as the window shows them: a channel's in its role only.
QString PageTable(const TModuleConfig& config, const QString& page, int channel)
{
    TRows rows;
    if (channel >= 0)
        rows.Add(Text("Режим"), IsSlave(config, channel) ? Text("Ведомый") : Text("Ведущий"));
    for (const TConfigField& field : ConfigFields()) {
        if (field.Channel != channel || Utf8(field.Page) != page)
            continue;
        const TFieldRole role = channel < 0 || !IsSlave(config, channel) ? TFieldRole::Master : TFieldRole::Slave;
        if (field.Role != TFieldRole::Always && field.Role != role)
            continue;
        rows.Add(Utf8(field.Label), Utf8(FieldDisplayText(config, field)));
    }
    return Heading(page) + rows.Table();
}

QString VerdictText(TReportVerdict verdict)
{
    switch (verdict) {
    case TReportVerdict::None: break;
    case TReportVerdict::Verified: return Text("конфигурация записана в модуль и проверена");
    case TReportVerdict::WrittenUnchecked: return Text("конфигурация записана в модуль без проверки");
    case TReportVerdict::WrittenNotVerified: return Text("конфигурация записана в модуль, но не проверена");
    case TReportVerdict::NotKept: return Text("модуль подтвердил запись, но хранит другую конфигурацию");
    case TReportVerdict::ReadValid: return Text("конфигурация считана из модуля, контрольная сумма верна");
    case TReportVerdict::ReadDamaged: return QString::fromUtf8(DamagedConfigText);
    }
    return Text("конфигурация не записывалась и не считывалась");
}

QString ModuleTable(const TCommissioningReport& report)
{
    const TReportModule& module = report.Module;
    TRows rows;
    if (module.Info) {
        rows.Add(Text("Версия программного обеспечения"), Utf8(FirmwareText(*module.Info)));
        rows.Add(Text("MAC адрес"), Utf8(MacText(*module.Info)));
        rows.Add(Text("Перемычка активизации заводской конфигурации"),
                 JumperFitted(*module.Info) ? Text("Установлена") : Text("Не установлена"));
    } else {
        rows.Add(Text("Информация о модуле"), Text("не считывалась"));
    }
    QString verdict = VerdictText(module.Verdict);
    if (module.Verdict != TReportVerdict::None) {
        verdict += QStringLiteral(" (%1)").arg(module.CheckedAt.toString(TimeFormat));
        // A verdict on other values would vouch for what the module was never shown.
        const std::vector<const TConfigField*> changed = DifferingFields(module.Checked, report.Config);
        if (!changed.empty()) {
            QStringList labels;
            for (const TConfigField* field : changed)
                labels << Utf8(field->Page + ": " + field->Label);
            verdict += Text("; после этого изменено: %1").arg(labels.join(QStringLiteral(", ")));
        }
    }
    rows.Add(Text("Проверка"), verdict);
    return Heading(Text("Модуль")) + rows.Table();
}

QString DevicesSection(const TReportDevices& devices)
{
    TRows rows;
    QString found = Text("поиск не выполнялся");
    if (devices.FoundUnits) {
        QStringList units;
        for (uint8_t unit : *devices.FoundUnits)
            units << QString::number(unit);
        found = units.isEmpty() ? Text("не найдено ни одного") : units.join(QStringLiteral(", "));
        if (!devices.SearchRange.isEmpty())
            found += Text(" (опрошены адреса %1)").arg(devices.SearchRange);
    }
    rows.Add(Text("Найденные устройства"), found);
    rows.Add(Text("Карта регистров"), devices.MapFile.isEmpty() ? Text("не опрашивалась") : devices.MapFile);
    QString html = Heading(Text("Устройства на линии")) + rows.Table();
    if (devices.Points.empty())
        return html;
    html += QStringLiteral("<table width=\"100%\" cellpadding=\"2\" cellspacing=\"0\" border=\"1\"><tr>");
    for (const char* title : {"Точка", "Устройство", "Значение", "Единицы", "Состояние"})
        html += QStringLiteral("<th align=\"left\">%1</th>").arg(Text(title).toHtmlEscaped());
    html += QStringLiteral("</tr>");
    for (size_t i = 0; i < devices.Points.size() && i < devices.States.size(); ++i) {
        const TMapPoint& point = devices.Points[i];
        const TPointState& state = devices.States[i];
        const QString cells[] = {Utf8(point.Name), QString::number(point.Unit),
                                 state.Value ? Utf8(DeviceValueText(*state.Value)) : QString(), Utf8(point.Units),
                                 Utf8(PointStatusText(state, devices.At))};
        html += QStringLiteral("<tr>");
        for (const QString& cell : cells)
            html += QStringLiteral("<td>%1</td>").arg(cell.toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString SignatureTable()
{
    const QString line = QStringLiteral("______________________");
    return QStringLiteral("<p>&nbsp;</p><table width=\"100%\" cellpadding=\"2\" cellspacing=\"0\">"
                          "<tr><td>%1:</td><td align=\"center\">%2</td><td align=\"center\">%2</td></tr>"
                          "<tr><td></td><td align=\"center\"><small>%3</small></td>"
                          "<td align=\"center\"><small>%4</small></td></tr>"
                          "<tr><td>&nbsp;</td></tr>"
                          "<tr><td>%5:</td><td align=\"center\">%2</td><td></td></tr></table>")
        .arg(Text("Настройку выполнил").toHtmlEscaped(), line, Text("подпись").toHtmlEscaped(),
             Text("фамилия, инициалы").toHtmlEscaped(), Text("Дата").toHtmlEscaped());
}

}  // namespace

QString ReportTitle()
{
    return Text("Отчёт о настройке модуля");
}

QString ReportConnectionText(const QString& address, int port, int timeoutMs, int transmissions)
{
    return Text("%1:%2, ожидание ответа %3 мс, передач запроса %4")
        .arg(address)
        .arg(port)
        .arg(timeoutMs)
        .arg(transmissions);
}

QString ReportHtml(const TCommissioningReport& report)
{
    TRows header;
    header.Add(Text("Файл конфигурации"), report.FileName.isEmpty() ? Text("не сохранена в файле") : report.FileName);
    header.Add(Text("Дата и время"), report.Made.toString(TimeFormat));
    header.Add(Text("Соединение"),
               report.Module.Connection.isEmpty() ? Text("не использовалось") : report.Module.Connection);
    QString html = QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title></head><body>"
                                  "<h2>%1</h2>")
                       .arg(ReportTitle().toHtmlEscaped()) +
                   header.Table();
    // The pages in the window's order: TCP/IP, then each channel.
    std::vector<std::pair<std::string, int>> pages;
    for (const TConfigField& field : ConfigFields())
        if (pages.empty() || pages.back().first != field.Page)
            pages.emplace_back(field.Page, field.Channel);
    for (const auto& [page, channel] : pages)
        html += PageTable(report.Config, Utf8(page), channel);
    html += ModuleTable(report);
    if (report.Devices)
        html += DevicesSection(*report.Devices);
    return html + SignatureTable() + QStringLiteral("</body></html>");
}
