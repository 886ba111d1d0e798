#pragma once
// The exchange monitor's table: one row per record. Records are kept as they come and shown in
// batches, since every insertion the view is told of lays the whole table out again.

#include "ExchangeRecord.h"

#include <QAbstractTableModel>

#include <vector>

class TExchangeTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum TColumn {
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

    explicit TExchangeTableModel(QObject* parent = nullptr);

    // Kept at once, shown with the next ShowNewRows.
    void Append(const TExchangeRecord& record);
    void ShowNewRows();
    void Clear();
    // Every record kept, shown or not yet.
    const std::vector<TExchangeRecord>& Records() const { return Records_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<TExchangeRecord> Records_;
    int Shown = 0;
};
