#include "PollLog.h"

#include "SampleTime.h"

namespace {

QByteArray CsvField(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

}  // namespace

void TPollLog::Add(TPollLogRow row)
{
    if (Rows_.size() >= Capacity_)
        Rows_.pop_front();
    Rows_.push_back(std::move(row));
}

QByteArray TPollLog::CsvText() const
{
    QByteArray text = "time,unit,address,raw,value\r\n";
    TSampleTimeText timeText;
    for (const TPollLogRow& row : Rows_) {
        text += QByteArray::fromStdString(timeText(row.Time)) + ',' + QByteArray::number(row.Unit) + ',' +
                QByteArray::number(row.Address) + ',' + CsvField(row.Raw) + ',' + CsvField(row.Value) + "\r\n";
    }
    return text;
}
