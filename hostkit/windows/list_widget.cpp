#include "hostkit/windows/list_widget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace orba::hostkit {

ListControlWidget::ListControlWidget(CommandHandler on_command) : on_command_(std::move(on_command)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    BuildSearchRow(layout);
    BuildTable(layout);
    BuildButtons(layout);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        proxy_.setFilterFixedString(text);
        UpdateState();
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateState(); });
    connect(table_, &QTableView::doubleClicked, this, [this] {
        if (!error_shown_ && HasSelection()) Raise("SelectOK");
    });
    UpdateState();
}

void ListControlWidget::BuildSearchRow(QVBoxLayout* layout) {
    auto* search_row = new QHBoxLayout();
    search_row->addWidget(new QLabel(QStringLiteral("查找：")));
    search_ = new QLineEdit();
    search_->setPlaceholderText(QStringLiteral("单据编号、往来单位或关联机构"));
    search_->setClearButtonEnabled(true);
    search_row->addWidget(search_, 1);
    count_ = new QLabel();
    search_row->addWidget(count_);
    layout->addLayout(search_row);

    error_ = new QLabel();
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #b00020;"));
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    error_->hide();
    layout->addWidget(error_);

    note_ = new QLabel();
    note_->setWordWrap(true);
    note_->setStyleSheet(QStringLiteral("color: #555555;"));
    note_->hide();
    layout->addWidget(note_);
}

void ListControlWidget::BuildTable(QVBoxLayout* layout) {
    proxy_.setSourceModel(&model_);
    proxy_.setFilterKeyColumn(-1);
    proxy_.setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy_.setSortRole(Qt::UserRole);
    table_ = new QTableView();
    table_->setModel(&proxy_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setAlternatingRowColors(true);
    table_->setSortingEnabled(true);
    table_->sortByColumn(-1, Qt::AscendingOrder);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(false);
    layout->addWidget(table_, 1);
}

void ListControlWidget::BuildButtons(QVBoxLayout* layout) {
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("确定"));
    auto* leave = new QPushButton(QStringLiteral("退出"));
    buttons->addWidget(ok_);
    buttons->addWidget(leave);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, [this] { Raise("SelectOK"); });
    connect(leave, &QPushButton::clicked, this, [this] { Raise("Exit"); });
}

void ListControlWidget::Raise(std::string_view command) {
    // A copy: the handler may let the control go, which detaches this widget.
    const CommandHandler handler = on_command_;
    if (handler) handler(command);
}

void ListControlWidget::Show(std::shared_ptr<const std::vector<BillListRow>> rows,
                             const std::vector<std::string>& captions, const std::string& error,
                             const std::string& note, bool multi) {
    model_.Reset(std::move(rows), captions);
    table_->setSelectionMode(multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    error_shown_ = !error.empty();
    error_->setText(QString::fromStdString(error));
    error_->setVisible(error_shown_);
    table_->setEnabled(!error_shown_);
    note_->setText(QString::fromStdString(note));
    note_->setVisible(!note.empty() && !error_shown_);
    FitColumns();
    UpdateState();
}

void ListControlWidget::FitColumns() {
    QHeaderView* header = table_->horizontalHeader();
    // Widths from the captions and the first rows only: measuring 20,000 rows would cost
    // more than listing them.
    header->setResizeContentsPrecision(50);
    header->setSectionResizeMode(QHeaderView::Interactive);
    table_->resizeColumnsToContents();
    // A branch's name longer than twelve characters is cut short with an ellipsis; the
    // partner's name takes what room is left (cut short too when there is too little), so
    // that the status, transmission and amount columns always show.
    const int branch_width = table_->fontMetrics().horizontalAdvance(QStringLiteral("苏州锦程精密机械有限公司")) + 12;
    if (model_.columnCount({}) > 3 && table_->columnWidth(3) > branch_width) table_->setColumnWidth(3, branch_width);
    if (model_.columnCount({}) > 2) header->setSectionResizeMode(2, QHeaderView::Stretch);
}

std::vector<int> ListControlWidget::SelectedSourceRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    for (int& r : rows) r = proxy_.mapToSource(proxy_.index(r, 0)).row();
    return rows;
}

bool ListControlWidget::HasSelection() const { return table_->selectionModel()->hasSelection(); }

void ListControlWidget::Select(const std::vector<int32_t>& ids) {
    const std::set<int32_t> wanted(ids.begin(), ids.end());
    QItemSelection selection;
    for (int r = 0; r < proxy_.rowCount(); ++r) {
        const int32_t id = model_.InterIdAt(proxy_.mapToSource(proxy_.index(r, 0)).row());
        if (wanted.count(id) > 0) selection.select(proxy_.index(r, 0), proxy_.index(r, proxy_.columnCount() - 1));
    }
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ListControlWidget::SetSearch(const QString& text) { search_->setText(text); }

int ListControlWidget::VisibleRows() const { return proxy_.rowCount(); }

void ListControlWidget::UpdateState() {
    const int selected = table_->selectionModel() ? static_cast<int>(table_->selectionModel()->selectedRows().size()) : 0;
    ok_->setEnabled(selected > 0 && !error_->isVisible());
    count_->setText(QStringLiteral("共 %1 张，已选 %2 张").arg(proxy_.rowCount()).arg(selected));
}

}  // namespace orba::hostkit
