#pragma once
// Checks on the commissioning report's text, as pdftotext gives it: each field of the configuration
// on a line of its own page's part, label and value together.

#include "ConfigFields.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <map>
#include <set>

// The report's lines under each page heading, the module's part included.
inline std::map<QString, QStringList> ReportSections(const QString& text)
{
    std::set<QString> headings{QStringLiteral("Модуль")};
    for (const TConfigField& field : ConfigFields())
        headings.insert(QString::fromStdString(field.Page));
    std::map<QString, QStringList> sections;
    QString current;
    for (const QString& line : text.split(u'\n')) {
        if (headings.count(line.trimmed()))
            current = line.trimmed();
        else if (!current.isEmpty())
            sections[current] << line;
    }
    return sections;
}

inline bool HasRow(const QStringList& lines, const QString& label, const QString& value)
{
    const QRegularExpression row("^\\s*" + QRegularExpression::escape(label) + ":\\s+" +
                                 QRegularExpression::escape(value) + "\\s*$");
    return !lines.filter(row).isEmpty();
}

// A channel with a network address works as a slave: its master fields are not its settings, and
// the other way round.
inline void ExpectEveryFieldInItsRole(const QString& text, const TModuleConfig& config)
{
    const std::map<QString, QStringList> sections = ReportSections(text);
    for (const TConfigField& field : ConfigFields()) {
        const QString page = QString::fromStdString(field.Page);
        const QString label = QString::fromStdString(field.Label);
        const QString value = QString::fromStdString(FieldDisplayText(config, field));
        SCOPED_TRACE(field.Section + "/" + field.Key);
        ASSERT_TRUE(sections.count(page)) << text.toStdString();
        const bool slave = field.Channel >= 0 && config.Channels[size_t(field.Channel)].SlaveAddress != 0;
        const bool shown = field.Role == TFieldRole::Always || (field.Role == TFieldRole::Slave) == slave;
        const QStringList& lines = sections.at(page);
        if (shown) {
            EXPECT_TRUE(HasRow(lines, label, value)) << lines.join('\n').toStdString();
        } else {
            EXPECT_TRUE(lines.filter(QRegularExpression("^\\s*" + QRegularExpression::escape(label) + ":")).isEmpty())
                << lines.join('\n').toStdString();
        }
        if (field.Channel >= 0) {
            EXPECT_TRUE(HasRow(lines, "Режим", slave ? "Ведомый" : "Ведущий"));
        }
    }
}
