#include "ConfigComparison.h"

#include "ConfigFields.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstring>

namespace {

const QString Arrow = QStringLiteral(" → ");

const uint8_t* Bytes(const TModuleConfig& config)
{
    return reinterpret_cast<const uint8_t*>(&config);
}

QString HexBytes(const uint8_t* bytes, size_t count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count)).toHex(' ').toUpper();
}

QString ChecksumText(uint16_t crc)
{
    return QStringLiteral("%1").arg(crc, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

std::vector<TFieldComparison> CompareConfigs(const TModuleConfig& ours, const TModuleConfig& theirs)
{
    std::vector<TFieldComparison> rows;
    for (const TConfigField& field : ConfigFields())
        rows.push_back({QString::fromStdString(field.Page + ", " + field.Label),
                        QString::fromStdString(FieldDisplayText(ours, field)),
                        QString::fromStdString(FieldDisplayText(theirs, field)), !FieldEquals(ours, theirs, field)});
    return rows;
}

bool SameConfigBlock(const TModuleConfig& a, const TModuleConfig& b)
{
    return std::memcmp(&a, &b, sizeof(TModuleConfig)) == 0;
}

QStringList ConfigDifferenceLines(const TModuleConfig& sent, const TModuleConfig& held)
{
    QStringList lines;
    for (const TFieldComparison& row : CompareConfigs(sent, held))
        if (row.Differs)
            lines << row.Label + ": " + row.Ours + Arrow + row.Theirs;
    for (const TByteRange& range : ReservedRanges()) {
        const uint8_t* a = Bytes(sent) + range.Offset;
        const uint8_t* b = Bytes(held) + range.Offset;
        if (std::memcmp(a, b, range.Size) != 0)
            lines << QCoreApplication::translate("TConfigComparison", "Резерв, байты %1..%2")
                             .arg(range.Offset)
                             .arg(range.Offset + range.Size - 1) +
                         ": " + HexBytes(a, range.Size) + Arrow + HexBytes(b, range.Size);
    }
    if (sent.CRC != held.CRC)
        lines << QCoreApplication::translate("TConfigComparison", "Контрольная сумма") + ": " + ChecksumText(sent.CRC) +
                     Arrow + ChecksumText(held.CRC);
    return lines;
}
