#include "hostkit/windows/bill_viewer_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fmt/format.h>

#include <algorithm>

namespace orba::hostkit {

BillViewerDialog::BillViewerDialog(std::vector<ListedBill> bills, size_t current, Reader read, QWidget* parent)
    : QDialog(parent), bills_(std::move(bills)), read_(std::move(read)) {
    setModal(true);
    resize(760, 460);
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel();
    QFont big = title_->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title_->setFont(big);
    title_->setAlignment(Qt::AlignCenter);
    layout->addWidget(title_);
    header_ = new QLabel();
    header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(header_);
    error_ = new QLabel();
    error_->setStyleSheet(QStringLiteral("color: #b00020;"));
    error_->setWordWrap(true);
    layout->addWidget(error_);
    BuildLines(layout);
    BuildButtons(layout);
    ShowBill(std::min(current, bills_.empty() ? size_t{0} : bills_.size() - 1));
}

void BillViewerDialog::BuildLines(QVBoxLayout* layout) {
    lines_ = new QTableWidget(0, 7);
    lines_->setHorizontalHeaderLabels({QStringLiteral("行号"), QStringLiteral("物料代码"), QStringLiteral("物料名称"),
                                       QStringLiteral("单位"), QStringLiteral("数量"), QStringLiteral("单价"),
                                       QStringLiteral("金额")});
    lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lines_->verticalHeader()->hide();
    lines_->verticalHeader()->setDefaultSectionSize(lines_->fontMetrics().height() + 8);
    // Every column as wide as its text, and the item name the rest: the table fills its width
    // on every bill.
    lines_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lines_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    layout->addWidget(lines_, 1);
}

void BillViewerDialog::BuildButtons(QVBoxLayout* layout) {
    auto* buttons = new QHBoxLayout();
    position_ = new QLabel();
    buttons->addWidget(position_);
    buttons->addStretch(1);
    previous_ = new QPushButton(QStringLiteral("上一张"));
    next_ = new QPushButton(QStringLiteral("下一张"));
    auto* close = new QPushButton(QStringLiteral("关闭"));
    buttons->addWidget(previous_);
    buttons->addWidget(next_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(previous_, &QPushButton::clicked, this, [this] {
        if (current_ > 0) ShowBill(current_ - 1);
    });
    connect(next_, &QPushButton::clicked, this, [this] {
        if (current_ + 1 < bills_.size()) ShowBill(current_ + 1);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void BillViewerDialog::ShowBill(size_t index) {
    current_ = index;
    shown_.reset();
    error_->clear();
    error_->hide();
    lines_->setRowCount(0);
    if (index < bills_.size()) {
        try {
            shown_ = read_(bills_[index]);
        } catch (const std::exception& e) {
            // One bill that cannot be read must not close the others: say so and go on.
            error_->setText(QString::fromStdString(e.what()));
            error_->show();
        }
    }
    if (shown_) {
        ShowDocument(*shown_);
    } else {
        // The title follows the bill asked for, even one that cannot be shown.
        const std::string number = index < bills_.size() ? bills_[index].bill_no : std::string();
        title_->setText(QString::fromStdString(number));
        setWindowTitle(QString::fromStdString(number));
        header_->clear();
    }
    position_->setText(bills_.empty() ? QString()
                                      : QStringLiteral("第 %1 / %2 张").arg(current_ + 1).arg(bills_.size()));
    previous_->setEnabled(current_ > 0);
    next_->setEnabled(current_ + 1 < bills_.size());
}

void BillViewerDialog::ShowDocument(const BillDocument& doc) {
    const BillListRow& h = doc.header;
    title_->setText(QString::fromStdString(doc.kind_name));
    setWindowTitle(QString::fromStdString(fmt::format("{} - {}", doc.kind_name, h.bill_no)));
    header_->setText(QString::fromStdString(fmt::format(
        "单据编号：{}    日期：{}    {}：{}\n关联机构：{}    状态：{}    传输：{}    金额：{}\n摘要：{}", h.bill_no, h.date,
        doc.partner_caption, h.partner, h.related_branch, h.status, h.transmitted, h.amount, doc.explanation)));
    lines_->setRowCount(static_cast<int>(doc.lines.size()));
    int row = 0;
    for (const BillLine& l : doc.lines) {
        const std::string cells[] = {l.entry, l.item_number, l.item_name, l.unit, l.qty, l.price, l.amount};
        for (int c = 0; c < 7; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(cells[c]));
            if (c >= 4) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            lines_->setItem(row, c, item);
        }
        ++row;
    }
}

}  // namespace orba::hostkit
