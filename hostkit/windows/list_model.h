// The list control's rows as a Qt table model: the bills one list read, shown in the
// captions' order, amounts right-aligned and sorted by value. Only the cells on screen are
// ever turned into text. Needs no display, so it tests on its own.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/windows/bill_list.h"

namespace orba::hostkit {

class BillListModel : public QAbstractTableModel {
public:
    // The column of the amount, which sorts by its value (Qt::UserRole) rather than its text.
    static constexpr int kAmountColumn = 6;

    // Shows `rows` (shared with the control, never changed here) under `captions`.
    void Reset(std::shared_ptr<const std::vector<BillListRow>> rows, const std::vector<std::string>& captions);
    int32_t InterIdAt(int row) const;

    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Display text (also under Qt::UserRole), alignment, and the amount's value for sorting.
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::shared_ptr<const std::vector<BillListRow>> rows_;
    std::vector<QString> captions_;
};

}  // namespace orba::hostkit
