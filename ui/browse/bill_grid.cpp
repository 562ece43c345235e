#include "ui/browse/bill_grid.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <fmt/format.h>

#include "platform/error.h"

namespace orba::ui {
namespace {
constexpr int32_t kHeaderRow = 1;
}

BillGrid::BillGrid(QWidget* parent) : QTableView(parent), model_(new QStandardItemModel(0, 0, this)) {
    setModel(model_);
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

int32_t BillGrid::MaxRows() const { return model_->rowCount() + kHeaderRow; }

void BillGrid::SetMaxRows(int32_t rows) {
    if (rows < kHeaderRow) {
        throw platform::Error(platform::ErrorCode::kInvalidProcedureCall,
                              fmt::format("A grid keeps its header row; {} rows are too few", rows));
    }
    model_->setRowCount(rows - kHeaderRow);
}

int32_t BillGrid::MaxCols() const { return model_->columnCount(); }

void BillGrid::SetMaxCols(int32_t cols) {
    if (cols < 0) {
        throw platform::Error(platform::ErrorCode::kInvalidProcedureCall, fmt::format("{} columns are not possible", cols));
    }
    model_->setColumnCount(cols);
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
    const QStringList cells = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).split('|');
    const int32_t n = std::min<int32_t>(MaxCols(), static_cast<int32_t>(cells.size()));
    for (int32_t c = 0; c < n; ++c) {
        if (row == kHeaderRow) {
            model_->setHorizontalHeaderItem(c, new QStandardItem(cells[c]));
        } else {
            model_->setItem(row - kHeaderRow - 1, c, new QStandardItem(cells[c]));
        }
    }
}

std::string BillGrid::CellText(int32_t row, int32_t col) const {
    CheckCell(row, col);
    const QStandardItem* item = row == kHeaderRow ? model_->horizontalHeaderItem(col - 1)
                                                  : model_->item(row - kHeaderRow - 1, col - 1);
    return item ? item->text().toStdString() : std::string();
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
