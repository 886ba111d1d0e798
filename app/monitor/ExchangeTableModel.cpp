#include "ExchangeTableModel.h"

#include "ExchangeHeader.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace {

// Translated where they are shown.
const char* const Headers[TExchangeTableModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Дата и время"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Время, мс"),
    "",
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Транзакция"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Устройство"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Функция"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Регистры"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Длина"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Задержка, мс"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Расшифровка"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Байты"),
};

// The share of the capacity dropped at once.
constexpr int DropBlocksPerCapacity = 100;

const QColor EventColour(255, 240, 200);
const QColor ExceptionColour(255, 221, 221);

QString NumberOrBlank(int value)
{
    return value >= 0 ? QString::number(value) : QString();
}

QString MsText(double ms)
{
    return ms >= 0 ? QString::number(ms, 'f', 1) : QString();
}

}  // namespace

TExchangeTableModel::TExchangeTableModel(QObject* parent, int capacity)
    : QAbstractTableModel(parent)
    , Capacity_(std::max(capacity, 1))
{}

void TExchangeTableModel::Append(const TExchangeRecord& record)
{
    if (int(Records_.size()) >= Capacity_)
        DropOldest(std::max(Capacity_ / DropBlocksPerCapacity, 1));
    Records_.push_back(record);
}

void TExchangeTableModel::DropOldest(int count)
{
    count = std::min(count, int(Records_.size()));
    // The records go at once; the view hears of their rows with the next batch, once for all the
    // blocks dropped meanwhile, as a removal costs it as much as an insertion. Rows it was never
    // shown it never hears of.
    Dropped += std::min(count, Shown - Dropped);
    Records_.erase(Records_.begin(), Records_.begin() + count);
}

void TExchangeTableModel::ShowNewRows()
{
    if (Dropped > 0) {
        beginRemoveRows({}, 0, Dropped - 1);
        Shown -= Dropped;
        Dropped = 0;
        endRemoveRows();
    }
    const int kept = int(Records_.size());
    if (Shown == kept)
        return;
    beginInsertRows({}, Shown, kept - 1);
    Shown = kept;
    endInsertRows();
}

void TExchangeTableModel::Clear()
{
    beginResetModel();
    Records_.clear();
    Shown = 0;
    Dropped = 0;
    endResetModel();
}

const TExchangeRecord* TExchangeTableModel::RecordAt(int row) const
{
    return row < Dropped || row >= Shown ? nullptr : &Records_[size_t(row - Dropped)];
}

int TExchangeTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Shown;
}

int TExchangeTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TExchangeTableModel::data(const QModelIndex& index, int role) const
{
    // The rows of records dropped since the last batch are blank until it comes.
    const TExchangeRecord* shown = index.isValid() ? RecordAt(index.row()) : nullptr;
    if (!shown)
        return {};
    const TExchangeRecord& record = *shown;
    if (role == Qt::BackgroundRole) {
        if (record.IsException || record.IsMalformed)
            return QBrush(ExceptionColour);
        if (record.Direction == TExchangeDirection::Event)
            return QBrush(EventColour);
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ClockColumn: return ExchangeClockText(record.WallMs);
    case TimeColumn: return MsText(record.TimeMs);
    case DirectionColumn: return DirectionArrow(record.Direction);
    case TransactionColumn: return NumberOrBlank(record.TransactionId);
    case UnitColumn: return NumberOrBlank(record.Unit);
    case FunctionColumn: return NumberOrBlank(record.Function);
    case RegistersColumn: return RegistersText(record);
    case LengthColumn: return record.Bytes.isEmpty() ? QString() : QString::number(record.Bytes.size());
    case LatencyColumn: return MsText(record.LatencyMs);
    case MeaningColumn: return record.Meaning;
    case BytesColumn: return HexText(record.Bytes);
    default: return {};
    }
}

QVariant TExchangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return tr(Headers[section]);
}
