// A bill list grid ("ldgBill") with the members the browse window uses, numbered from 1 as
// the window counts them: row 1 is the header row (the fixed row), bill rows follow. A Qt
// table view of the window's chosen bills of one kind: its rows and cells are that list's.
#pragma once

#include <QTableView>

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/browse/chosen_bills.h"

namespace orba::ui {

class ChosenBillsTable;

class BillGrid : public QTableView {
    Q_OBJECT
public:
    // Shows `bills`, which must outlive the grid.
    BillGrid(ChosenBills& bills, QWidget* parent);

    const ChosenBills& Bills() const;

    // Rows including the header row. Lowering it drops bill rows from the end; raising it
    // adds empty ones. At least the fixed rows always stay.
    int32_t MaxRows() const;
    void SetMaxRows(int32_t rows);
    // Columns shown, at most the six a listed bill has; more raise an Error.
    int32_t MaxCols() const;
    void SetMaxCols(int32_t cols);
    int32_t FixedRows() const { return 1; }
    // Only one fixed row (the header) is supported; another count raises an Error.
    void SetFixedRows(int32_t rows);

    // Sets row `row` from one text whose cells are separated by "|", filling columns 1 on;
    // pieces beyond the column count are ignored. Row 1 sets the column captions.
    void SetRowText(int32_t row, std::string_view text);
    // The text of a cell; raises an Error naming a row or column outside the grid.
    std::string CellText(int32_t row, int32_t col) const;

    // The row of the current selection (1 when no bill row is selected).
    int32_t SelectionRow() const;
    // The row value of the last activation.
    int32_t ActivationRow() const { return activation_row_; }
    // Raises the activation event for `row`, as a double click or Enter on a row does.
    void Activate(int32_t row);

    // Display settings made at load: the sheet's colour (0xRRGGBB) and whether a column
    // carries data for the program rather than text for the user (such a column is hidden).
    void SetSheetColor(uint32_t rgb);
    void SetProgramColumn(int32_t col, bool program_only);

signals:
    void Activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CheckCell(int32_t row, int32_t col) const;

    ChosenBillsTable* table_;
    int32_t activation_row_ = 0;
};

}  // namespace orba::ui
