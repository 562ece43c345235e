#include "hostkit/bill_viewer.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "hostkit/app_connection.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::Variant;

namespace {

std::string Text(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.ToText(); }

// Quantities and prices without trailing zeros; amounts with two places.
std::string Number(const Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return "";
    return v.ToDecimal().ToString();
}

}  // namespace

BillDocument ReadBillDocument(AppConnection& connection, int32_t tran_type, int32_t inter_id) {
    std::optional<BillListKind> kind = FindBillListKind(tran_type, 0);
    if (!kind) throw Error(ErrorCode::kBadInput, fmt::format("No bill kind has transaction type {}", tran_type));
    BillDocument doc;
    doc.kind_name = kind->name;
    doc.partner_caption = kind->partner_caption;
    Ref<platform::RecordSet> head = connection.Execute(BillListSql(*kind, fmt::format("v1.FInterID = {}", inter_id)));
    std::vector<BillListRow> rows = ReadBillListRows(*head);
    if (rows.empty()) {
        throw Error(ErrorCode::kNotFound, fmt::format("{} {} is no longer in the database", kind->name, inter_id));
    }
    doc.header = std::move(rows.front());
    Ref<platform::RecordSet> note =
        connection.Execute(fmt::format("SELECT FExplanation FROM {} WHERE FInterID = {}", kind->main_table, inter_id));
    if (!note->Eof()) doc.explanation = Text(note->Value("FExplanation"));
    Ref<platform::RecordSet> lines = connection.Execute(fmt::format(
        "SELECT e.FEntryID, i.FNumber, i.FName, u.FName AS FUnitName, e.FAuxQty, e.FAuxPrice, e.FAmount\r\n"
        "FROM {} e LEFT JOIN t_ICItem i ON e.FItemID = i.FItemID LEFT JOIN t_MeasureUnit u ON e.FUnitID = u.FItemID\r\n"
        "WHERE e.FInterID = {} ORDER BY e.FEntryID",
        kind->entry_table, inter_id));
    for (; !lines->Eof(); lines->MoveNext()) {
        doc.lines.push_back(BillLine{Text(lines->Value("FEntryID")), Text(lines->Value("FNumber")),
                                     Text(lines->Value("FName")), Text(lines->Value("FUnitName")),
                                     Number(lines->Value("FAuxQty")), Number(lines->Value("FAuxPrice")),
                                     AmountText(lines->Value("FAmount"))});
    }
    return doc;
}

std::vector<ListedBill> ListedBills(platform::RecordSet& rows, size_t& current) {
    std::vector<ListedBill> bills;
    current = 0;
    if (rows.RecordCount() < 1) return bills;
    const bool on_record = !rows.Eof() && !rows.Bof();
    const int32_t position = on_record ? rows.AbsolutePosition() : 1;
    for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
        bills.push_back(ListedBill{rows.Value("FInterID").ToLong(), rows.Value("FTranType").ToLong()});
    }
    current = static_cast<size_t>(position - 1);
    rows.MoveFirst();
    rows.Move(position - 1);
    return bills;
}

BillViewerDialog::BillViewerDialog(std::vector<ListedBill> bills, size_t current,
                                   std::function<BillDocument(const ListedBill&)> read, QWidget* parent)
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
    lines_ = new QTableWidget(0, 7);
    lines_->setHorizontalHeaderLabels({QStringLiteral("行号"), QStringLiteral("物料代码"), QStringLiteral("物料名称"),
                                       QStringLiteral("单位"), QStringLiteral("数量"), QStringLiteral("单价"),
                                       QStringLiteral("金额")});
    lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lines_->verticalHeader()->hide();
    lines_->verticalHeader()->setDefaultSectionSize(lines_->fontMetrics().height() + 8);
    lines_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);  // the item name takes the room
    layout->addWidget(lines_, 1);
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
    ShowBill(std::min(current, bills_.empty() ? size_t{0} : bills_.size() - 1));
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
        const BillListRow& h = shown_->header;
        title_->setText(QString::fromStdString(shown_->kind_name));
        setWindowTitle(QString::fromStdString(fmt::format("{} - {}", shown_->kind_name, h.bill_no)));
        header_->setText(QString::fromStdString(fmt::format(
            "单据编号：{}    日期：{}    {}：{}\n关联机构：{}    状态：{}    传输：{}    金额：{}\n摘要：{}", h.bill_no, h.date,
            shown_->partner_caption, h.partner, h.related_branch, h.status, h.transmitted, h.amount,
            shown_->explanation)));
        lines_->setRowCount(static_cast<int>(shown_->lines.size()));
        int row = 0;
        for (const BillLine& l : shown_->lines) {
            const std::string cells[] = {l.entry, l.item_number, l.item_name, l.unit, l.qty, l.price, l.amount};
            for (int c = 0; c < 7; ++c) {
                auto* item = new QTableWidgetItem(QString::fromStdString(cells[c]));
                if (c >= 4) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                lines_->setItem(row, c, item);
            }
            ++row;
        }
        lines_->resizeColumnsToContents();
    } else {
        title_->clear();
        header_->clear();
    }
    position_->setText(bills_.empty() ? QString()
                                      : QStringLiteral("第 %1 / %2 张").arg(current_ + 1).arg(bills_.size()));
    previous_->setEnabled(current_ > 0);
    next_->setEnabled(current_ + 1 < bills_.size());
}

void BillViewer::Show() {
    Ref<platform::RecordSet> rows = platform::RefCast<platform::RecordSet>(list_);
    if (!rows) throw Error(ErrorCode::kObjectRequired, "The bill viewer was given no list record set");
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        throw Error(ErrorCode::kInvalidProcedureCall, "The bill viewer needs a window application to show bills");
    }
    size_t current = 0;
    std::vector<ListedBill> bills = ListedBills(*rows, current);
    if (bills.empty()) return;
    auto connection = platform::MakeRef<AppConnection>();
    BillViewerDialog dialog(std::move(bills), current, [connection](const ListedBill& b) {
        return ReadBillDocument(*connection, b.tran_type, b.inter_id);
    });
    dialog.exec();
}

const platform::MemberTable<BillViewer>& BillViewer::Members() {
    static const platform::MemberTable<BillViewer> table = [] {
        platform::MemberTable<BillViewer> t("Bills");
        auto text_prop = [&t](std::string_view name, std::string BillViewer::*field) {
            t.Let(name, 0, 0, [field](BillViewer& v, CallArgs& a) {
                v.*field = a.Assigned().ToText();
                return Variant();
            });
            t.Get(name, 0, 0, [field](BillViewer& v, CallArgs&) { return Variant(v.*field); });
        };
        auto int_prop = [&t](std::string_view name, int16_t BillViewer::*field) {
            t.Let(name, 0, 0, [field](BillViewer& v, CallArgs& a) {
                v.*field = a.Assigned().ToInteger();
                return Variant();
            });
            t.Get(name, 0, 0, [field](BillViewer& v, CallArgs&) { return Variant(v.*field); });
        };
        auto object_prop = [&t](std::string_view name, Ref<platform::Object> BillViewer::*field) {
            t.Set(name, 0, 0, [field](BillViewer& v, CallArgs& a) {
                v.*field = a.Assigned().ToObject();
                return Variant();
            });
            t.Get(name, 0, 0, [field](BillViewer& v, CallArgs&) { return Variant(v.*field); });
        };
        text_prop("LocalCnn", &BillViewer::local_cnn_);
        object_prop("ListRecordset", &BillViewer::list_);
        text_prop("NewBillTransType", &BillViewer::tran_type_text_);
        text_prop("SystemName", &BillViewer::system_name_);
        object_prop("ListRSFieldVect", &BillViewer::field_vector_);
        int_prop("ShowForModeExt", &BillViewer::show_mode_ext_);
        t.Method("SetOpt", 2, 2, [](BillViewer& v, CallArgs& a) {
            v.user_id_ = a.Integer(0);
            v.user_name_ = a.Text(1);
            return Variant();
        });
        int_prop("TheSaleMode", &BillViewer::sale_mode_);
        t.Method("Show", 2, 2, [](BillViewer& v, CallArgs& a) {
            a.Integer(0);  // the show code and mode are checked as numbers; the viewer has one look
            a.Integer(1);
            v.Show();
            return Variant();
        });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
