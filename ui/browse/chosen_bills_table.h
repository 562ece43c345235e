// The chosen bills of one kind as a Qt table model, so the bill grid shows the window's own
// list: it reads the cells from it and follows its changes. Row 0 is the first bill (the
// grid's header row is the view's column header).
#pragma once

#include <QAbstractTableModel>

#include "ui/browse/chosen_bills.h"

namespace orba::ui {

class ChosenBillsTable : public QAbstractTableModel, private ChosenBills::Listener {
public:
    ChosenBillsTable(ChosenBills& bills, QObject* parent);
    ~ChosenBillsTable() override;

    ChosenBills& Bills() const { return bills_; }
    // How many of the bill's columns are shown (at most kChosenBillColumns).
    void SetColumnCount(int columns);

    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void BeginInsert(size_t first, size_t last) override;
    void EndInsert() override;
    void BeginRemove(size_t first, size_t last) override;
    void EndRemove() override;
    void RowChanged(size_t row) override;
    void CaptionsChanged() override;

    ChosenBills& bills_;
    int columns_ = 0;
};

}  // namespace orba::ui
