#include "PollLog.h"

#include "CsvField.h"
#include "SampleTime.h"

namespace {

QByteArray CsvBytes(const QString& text)
{
    return QByteArray::fromStdString(CsvField(text.toStdString()));
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
                QByteArray::number(row.Address) + ',' + CsvBytes(row.Raw) + ',' + CsvBytes(row.Value) + "\r\n";
    }
    return text;
}
