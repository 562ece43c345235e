#include "ui/browse/bill_grid.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <fmt/format.h>

#include "platform/error.h"
#include "ui/browse/chosen_bills_table.h"
#include "ui/qt_text.h"

namespace orba::ui {
namespace {
constexpr int32_t kHeaderRow = 1;
}

BillGrid::BillGrid(ChosenBills& bills, QWidget* parent) : QTableView(parent), table_(new ChosenBillsTable(bills, this)) {
    setModel(table_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setAlternatingRowColors(true);
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) Activate(index.row() + kHeaderRow + 1);
    });
}

const ChosenBills& BillGrid::Bills() const { return table_->Bills(); }

int32_t BillGrid::MaxRows() const { return static_cast<int32_t>(Bills().Count()) + kHeaderRow; }

void BillGrid::SetMaxRows(int32_t rows) {
    if (rows < kHeaderRow) {
        throw platform::Error(platform::ErrorCode::kInvalidProcedureCall,
                              fmt::format("A grid keeps its header row; {} rows are too few", rows));
    }
    table_->Bills().Resize(static_cast<size_t>(rows - kHeaderRow));
}

int32_t BillGrid::MaxCols() const { return table_->columnCount({}); }

void BillGrid::SetMaxCols(int32_t cols) {
    if (cols < 0 || cols > kChosenBillColumns) {
        throw platform::Error(platform::ErrorCode::kInvalidProcedureCall,
                              fmt::format("A bill grid shows 0 to {} columns, not {}", kChosenBillColumns, cols));
    }
    table_->SetColumnCount(cols);
}

void BillGrid::SetFixedRows(int32_t rows) {
    if (rows != kHeaderRow) {
        throw platform::Error(platform::ErrorCode::kInvalidProcedureCall,
                              fmt::format("A bill grid has exactly one fixed row, not {}", rows));
    }
}

void BillGrid::CheckCell(int32_t row, int32_t col) const {
    if (row < 1 || row > MaxRows() || col < 1 || col > MaxCols()) {
        throw platform::Error(platform::ErrorCode::kSubscriptOutOfRange,
                              fmt::format("The grid has no cell at row {}, column {} ({} rows, {} columns)", row, col,
                                          MaxRows(), MaxCols()));
    }
}

void BillGrid::SetRowText(int32_t row, std::string_view text) {
    CheckCell(row, 1);
    const QStringList cells = Q(text).split('|');
    const int32_t n = std::min<int32_t>(MaxCols(), static_cast<int32_t>(cells.size()));
    ChosenBills& bills = table_->Bills();
    if (row == kHeaderRow) {
        std::vector<std::string> captions = bills.Captions();
        captions.resize(std::max(captions.size(), static_cast<size_t>(n)));
        for (int32_t c = 0; c < n; ++c) captions[static_cast<size_t>(c)] = cells[c].toStdString();
        bills.SetCaptions(std::move(captions));
        return;
    }
    const size_t index = static_cast<size_t>(row - kHeaderRow - 1);
    ChosenBill bill = bills.At(index);
    for (int32_t c = 0; c < n; ++c) CellOf(bill, c) = cells[c].toStdString();
    bills.Replace(index, std::move(bill));
}

std::string BillGrid::CellText(int32_t row, int32_t col) const {
    CheckCell(row, col);
    if (row == kHeaderRow) {
        const auto& captions = Bills().Captions();
        return static_cast<size_t>(col) <= captions.size() ? captions[static_cast<size_t>(col - 1)] : std::string();
    }
    return CellOf(Bills().At(static_cast<size_t>(row - kHeaderRow - 1)), col - 1);
}

int32_t BillGrid::SelectionRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + kHeaderRow + 1 : kHeaderRow;
}

void BillGrid::Activate(int32_t row) {
    activation_row_ = row;
    emit Activated();
}

void BillGrid::SetSheetColor(uint32_t rgb) {
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor::fromRgb(rgb));
    setPalette(p);
}

void BillGrid::SetProgramColumn(int32_t col, bool program_only) { setColumnHidden(col - 1, program_only); }

void BillGrid::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        Activate(SelectionRow());
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace orba::ui
