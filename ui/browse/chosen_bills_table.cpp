#include "ui/browse/chosen_bills_table.h"

#include "ui/qt_text.h"

namespace orba::ui {

ChosenBillsTable::ChosenBillsTable(ChosenBills& bills, QObject* parent) : QAbstractTableModel(parent), bills_(bills) {
    bills_.SetListener(this);
}

ChosenBillsTable::~ChosenBillsTable() { bills_.SetListener(nullptr); }

void ChosenBillsTable::SetColumnCount(int columns) {
    if (columns > columns_) {
        beginInsertColumns(QModelIndex(), columns_, columns - 1);
        columns_ = columns;
        endInsertColumns();
    } else if (columns < columns_) {
        beginRemoveColumns(QModelIndex(), columns, columns_ - 1);
        columns_ = columns;
        endRemoveColumns();
    }
}

int ChosenBillsTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(bills_.Count());
}

int ChosenBillsTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ChosenBillsTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount({}) || index.column() >= columns_) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return Q(CellOf(bills_.At(static_cast<size_t>(index.row())), index.column()));
}

QVariant ChosenBillsTable::headerData(int section, Qt::Orientation orientation, int role) const {
    const auto& captions = bills_.Captions();
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(captions.size())) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return Q(captions[static_cast<size_t>(section)]);
}

void ChosenBillsTable::BeginInsert(size_t first, size_t last) {
    beginInsertRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
}
void ChosenBillsTable::EndInsert() { endInsertRows(); }

void ChosenBillsTable::BeginRemove(size_t first, size_t last) {
    beginRemoveRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
}
void ChosenBillsTable::EndRemove() { endRemoveRows(); }

void ChosenBillsTable::RowChanged(size_t row) {
    if (columns_ > 0) emit dataChanged(index(static_cast<int>(row), 0), index(static_cast<int>(row), columns_ - 1));
}

void ChosenBillsTable::CaptionsChanged() {
    if (columns_ > 0) emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
}

}  // namespace orba::ui
