#pragma once
// The exchange monitor's table: one row per record. Records are kept as they come and shown in
// batches, since every insertion the view is told of lays the whole table out again. Only the
// newest are kept: past the capacity the oldest go, a block at a time for the same reason.

#include "ExchangeRecord.h"

#include <QAbstractTableModel>

#include <deque>

class TExchangeTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum TColumn {
        ClockColumn,
        TimeColumn,
        DirectionColumn,
        TransactionColumn,
        UnitColumn,
        FunctionColumn,
        RegistersColumn,
        LengthColumn,
        LatencyColumn,
        MeaningColumn,
        BytesColumn,
        ColumnCount,
    };

    static constexpr int DefaultCapacity = 100000;

    explicit TExchangeTableModel(QObject* parent = nullptr, int capacity = DefaultCapacity);

    // Kept at once, shown with the next ShowNewRows.
    void Append(const TExchangeRecord& record);
    void ShowNewRows();
    void Clear();
    // Every record kept, shown or not yet.
    const std::deque<TExchangeRecord>& Records() const { return Records_; }
    // The most records kept.
    int Capacity() const { return Capacity_; }
    // The record a row shows; null for the row of one dropped since the last batch.
    const TExchangeRecord* RecordAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void DropOldest(int count);

    std::deque<TExchangeRecord> Records_;
    int Capacity_;
    // Rows the view was told of: those of records dropped since, then those of records kept.
    int Shown = 0;
    int Dropped = 0;
};
