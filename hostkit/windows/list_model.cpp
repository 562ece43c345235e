#include "hostkit/windows/list_model.h"

#include <QColor>

namespace orba::hostkit {

void BillListModel::Reset(std::shared_ptr<const std::vector<BillListRow>> rows, const std::vector<std::string>& captions) {
    beginResetModel();
    rows_ = std::move(rows);
    captions_.clear();
    for (const std::string& c : captions) captions_.push_back(QString::fromStdString(c));
    endResetModel();
}

int32_t BillListModel::InterIdAt(int row) const { return rows_->at(static_cast<size_t>(row)).inter_id; }

int BillListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !rows_ ? 0 : static_cast<int>(rows_->size());
}

int BillListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QVariant BillListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < static_cast<int>(captions_.size())) {
        return captions_[static_cast<size_t>(section)];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

QVariant BillListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !rows_ || index.row() >= static_cast<int>(rows_->size())) return {};
    const BillListRow& r = (*rows_)[static_cast<size_t>(index.row())];
    if (role == Qt::TextAlignmentRole) {
        return index.column() == kAmountColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role == Qt::UserRole && index.column() == kAmountColumn) return r.amount_value;
    // A bill sent already is greyed, so that it stands out from those still to send.
    if (role == Qt::ForegroundRole) return r.transmitted == "已传输" ? QVariant(QColor(0x80, 0x80, 0x80)) : QVariant();
    if (role == Qt::ToolTipRole) role = Qt::DisplayRole;  // the whole text of a cell cut short
    if (role != Qt::DisplayRole && role != Qt::UserRole) return {};
    switch (index.column()) {
        case 0: return QString::fromStdString(r.bill_no);
        case 1: return QString::fromStdString(r.date);
        case 2: return QString::fromStdString(r.partner);
        case 3: return QString::fromStdString(r.related_branch);
        case 4: return QString::fromStdString(r.status);
        case 5: return QString::fromStdString(r.transmitted);
        case kAmountColumn: return QString::fromStdString(r.amount);
        default: return {};
    }
}

}  // namespace orba::hostkit
