#pragma once
// The exchange monitor's table: one row per record, appended as the exchange goes.

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

    void Append(const TExchangeRecord& record);
    void Clear();
    const std::vector<TExchangeRecord>& Records() const { return Records_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<TExchangeRecord> Records_;
};
