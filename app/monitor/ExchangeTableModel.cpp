#include "ExchangeTableModel.h"

#include <QBrush>
#include <QColor>

namespace {

// Translated where they are shown.
const char* const Headers[TExchangeTableModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Время, мс"),   "",
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Транзакция"),  QT_TRANSLATE_NOOP("TExchangeTableModel", "Устройство"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Функция"),     QT_TRANSLATE_NOOP("TExchangeTableModel", "Регистры"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Длина"),       QT_TRANSLATE_NOOP("TExchangeTableModel", "Задержка, мс"),
    QT_TRANSLATE_NOOP("TExchangeTableModel", "Расшифровка"), QT_TRANSLATE_NOOP("TExchangeTableModel", "Байты"),
};

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

TExchangeTableModel::TExchangeTableModel(QObject* parent) : QAbstractTableModel(parent)
{}

void TExchangeTableModel::Append(const TExchangeRecord& record)
{
    Records_.push_back(record);
}

void TExchangeTableModel::ShowNewRows()
{
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
    endResetModel();
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
    if (!index.isValid() || index.row() >= Shown)
        return {};
    const TExchangeRecord& record = Records_[size_t(index.row())];
    if (role == Qt::BackgroundRole) {
        if (record.IsException)
            return QBrush(ExceptionColour);
        if (record.Direction == TExchangeDirection::Event)
            return QBrush(EventColour);
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
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
