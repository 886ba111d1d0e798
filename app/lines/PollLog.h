#pragma once
// The samples a poll has taken, for export: one row per value, the newest kept up to a bound so
// that a poll left running does not grow without end.

#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>

struct TPollLogRow {
    std::chrono::system_clock::time_point Time;
    uint8_t Unit = 0;
    uint32_t Address = 0;
    QString Raw;    // the value's registers in hex, or the bit
    QString Value;  // as the table shows it
};

class TPollLog {
public:
    static constexpr size_t DefaultCapacity = 100000;

    explicit TPollLog(size_t capacity = DefaultCapacity) : Capacity_(capacity) {}
    void Add(TPollLogRow row);
    void Clear() { Rows_.clear(); }
    size_t Size() const { return Rows_.size(); }

    // time,unit,address,raw,value with a header line, CR LF line ends; the time as ISO 8601 in UTC
    // with milliseconds, texts as CsvField writes them.
    QByteArray CsvText() const;

private:
    size_t Capacity_;
    std::deque<TPollLogRow> Rows_;
};
