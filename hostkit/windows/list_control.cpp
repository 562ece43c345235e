#include "hostkit/windows/list_control.h"

#include <QApplication>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iostream>

#include "hostkit/app_connection.h"
#include "hostkit/dialect/sql_dialect.h"
#include "hostkit/list_receiver.h"
#include "hostkit/login_string.h"
#include "hostkit/windows/list_widget.h"
#include "platform/db_connection.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

namespace {

// A text as a quoted SQL literal.
std::string Quoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// What a failed read of the list tells the user, in one line: the database's own reason
// without the statement (which goes to standard error for whoever looks into it). A database
// without the bill tables, or no database at all, is named as such.
std::string ListReadError(const std::string& what, const std::string& database) {
    std::cerr << platform::ForTerminal("The bill list could not be read: " + what + "\n");
    std::string reason = what.substr(0, what.find(" in: "));
    if (reason.find("no such table") != std::string::npos || reason.find("not a database") != std::string::npos ||
        reason.find("does not exist") != std::string::npos) {
        return fmt::format("账套数据库 {} 无法读取单据列表：它不是分支机构的账套数据库（{}）", database, reason);
    }
    return fmt::format("{}{}", kListErrorHead, reason);
}

// Any 32-bit twips value a caller assigns maps to a pixel count Qt accepts.
int TwipsToPixels(int twips, int dpi) {
    return std::clamp(platform::TwipsToPixels(twips, dpi), 0, QWIDGETSIZE_MAX);
}

}  // namespace

std::string DatabaseFromBaseInfo(std::string_view base_info) {
    std::string_view base = base_info.substr(0, base_info.find('|'));
    try {
        return platform::ConnectionProperties::Parse(base).Get("Data Source");
    } catch (const Error&) {
        return {};
    }
}

ListControl::ListControl() : rows_(std::make_shared<std::vector<BillListRow>>()) {}

ListControl::~ListControl() {
    if (!widget_) return;
    widget_->Detach();
    // The control can end inside one of its widget's own button handlers (a form that
    // releases it on a command): the widget goes once control is back in the event loop.
    widget_->hide();
    widget_->setParent(nullptr);
    widget_->deleteLater();
}

QWidget* ListControl::Widget() {
    if (!widget_) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            throw Error(ErrorCode::kInvalidProcedureCall, "The list control needs a window application to show");
        }
        widget_ = new ListControlWidget([this](std::string_view command) { RaiseCommand(command); });
        ApplyGeometry();
        Refresh();
    }
    return widget_;
}

void ListControl::ApplyGeometry() {
    if (!widget_) return;
    const int dpi = widget_->logicalDpiY() > 0 ? widget_->logicalDpiY() : 96;
    QRect g = widget_->geometry();
    if (geometry_.left) g.moveLeft(TwipsToPixels(*geometry_.left, dpi));
    if (geometry_.top) g.moveTop(TwipsToPixels(*geometry_.top, dpi));
    if (geometry_.width) g.setWidth(TwipsToPixels(*geometry_.width, dpi));
    if (geometry_.height) g.setHeight(TwipsToPixels(*geometry_.height, dpi));
    widget_->setGeometry(g);
}

void ListControl::Refresh() {
    if (!widget_) return;
    widget_->Show(rows_, kind_ ? BillListCaptions(*kind_) : std::vector<std::string>{}, error_, note_,
                  multi_select_ && multi_row_);
}

bool ListControl::PrepareList() {
    error_.clear();
    kind_ = FindBillListKind(tran_type_, list_id_);
    if (!kind_) {
        error_ = fmt::format("没有事务类型为 {}、列表号为 {} 的单据列表", tran_type_, list_id_);
        Refresh();
        return false;
    }
    const std::string path = DatabaseFromBaseInfo(base_info_);
    connection_ = path.empty() ? MakeRef<AppConnection>() : MakeRef<AppConnection>(path);
    try {
        connection_->DatabasePath();  // opens it: a missing database is found now
    } catch (const std::exception& e) {
        error_ = e.what();
        connection_.Reset();
        Refresh();
        return false;
    }
    Refresh();
    return true;
}

bool ListControl::LoadList() {
    if (!kind_ || !connection_) throw Error(ErrorCode::kInvalidProcedureCall, "The list is loaded before it is prepared");
    auto rows = std::make_shared<std::vector<BillListRow>>();
    error_.clear();
    note_.clear();
    const ListReceiver receiver = GetListReceiver();
    try {
        std::string condition = filter_;
        if (!receiver.number.empty()) {
            condition = fmt::format("{}v1.FRelateBrID IN (SELECT FItemID FROM t_SonCompany WHERE FNumber={})",
                                    condition.find_first_not_of(" \t\r\n") == std::string::npos
                                        ? std::string()
                                        : "(" + condition + ") AND ",
                                    Quoted(receiver.number));
        }
        const std::string sql = BillListSql(*kind_, condition);
        // The condition comes from the caller: it may narrow the one query, never add a
        // statement of its own.
        std::vector<TranslatedStatement> statements = TranslateBatch(sql);
        if (statements.size() != 1 || !statements.front().is_query) {
            throw Error(ErrorCode::kBadInput, fmt::format("The condition '{}' is not a single condition", filter_));
        }
        Ref<platform::RecordSet> result = connection_->Execute(sql);
        *rows = ReadBillListRows(*result);
    } catch (const std::exception& e) {
        rows->clear();
        error_ = ListReadError(e.what(), connection_->DatabasePath());
    }
    if (error_.empty()) {
        if (!receiver.number.empty()) {
            note_ = fmt::format("只列出发往 {} {} 的单据。", receiver.number, receiver.name);
        }
        if (rows->empty()) note_ += fmt::format("没有符合条件的{}。", kind_->name);
    }
    rows_ = std::move(rows);
    Refresh();
    return true;
}

Ref<KitList> ListControl::ListInfo() const {
    auto record = MakeRef<KitRecord>();
    Variant name = Variant::Null();
    if (kind_) name = Variant(std::string(kind_->name));
    record->Put("FName", std::move(name));
    record->Put("FListID", Variant(kind_ ? kind_->list_id : list_id_));
    record->Put("FTranType", Variant(tran_type_));
    auto list = MakeRef<KitList>();
    list->Append(Variant(Ref<platform::Object>(record)));
    return list;
}

Ref<KitList> ListControl::GetSelected() const {
    auto list = MakeRef<KitList>();
    if (!widget_ || !error_.empty()) return list;
    for (int row : widget_->SelectedSourceRows()) {
        const BillListRow& r = (*rows_)[static_cast<size_t>(row)];
        auto record = MakeRef<KitRecord>();
        record->Put("FInterID", Variant(r.inter_id));
        record->Put("FTranType", Variant(r.tran_type));
        record->Put("FBillNo", Variant(r.bill_no));
        list->Append(Variant(Ref<platform::Object>(record)));
    }
    return list;
}

bool ListControl::CanConfirm() const { return error_.empty() && widget_ && widget_->HasSelection(); }

void ListControl::ReleaseList() {
    rows_ = std::make_shared<std::vector<BillListRow>>();
    connection_.Reset();
    sink_.Reset();
    Refresh();
}

void ListControl::SelectBills(const std::vector<int32_t>& inter_ids) {
    Widget();
    widget_->Select(inter_ids);
}

int ListControl::Search(const std::string& text) {
    Widget();
    widget_->SetSearch(QString::fromStdString(text));
    return widget_->VisibleRows();
}

void ListControl::RaiseCommand(std::string_view command) {
    if (!sink_) return;
    Ref<platform::Object> sink = sink_;  // the form may disconnect while it handles the event
    Ref<ListControl> self(this);         // and release the control
    std::array<Variant, 2> args{Variant(command), Variant()};
    platform::CallByName(sink, "Command", platform::CallKind::kMethod, args);
}

const platform::MemberTable<ListControl>& ListControl::Members() {
    static const platform::MemberTable<ListControl> table = [] {
        platform::MemberTable<ListControl> t("Rilvo");
        auto long_prop = [&t](std::string_view name, int32_t ListControl::*field) {
            t.Let(name, 0, 0, [field](ListControl& c, CallArgs& a) {
                c.*field = a.Assigned().ToLong();
                return Variant();
            });
            t.Get(name, 0, 0, [field](ListControl& c, CallArgs&) { return Variant(c.*field); });
        };
        auto text_prop = [&t](std::string_view name, std::string ListControl::*field) {
            t.Let(name, 0, 0, [field](ListControl& c, CallArgs& a) {
                c.*field = a.Assigned().ToText();
                return Variant();
            });
            t.Get(name, 0, 0, [field](ListControl& c, CallArgs&) { return Variant(c.*field); });
        };
        auto bool_prop = [&t](std::string_view name, bool ListControl::*field) {
            t.Let(name, 0, 0, [field](ListControl& c, CallArgs& a) {
                c.*field = a.Assigned().ToBoolean();
                if (c.widget_) c.Refresh();
                return Variant();
            });
            t.Get(name, 0, 0, [field](ListControl& c, CallArgs&) { return Variant(c.*field); });
        };
        auto geometry_prop = [&t](std::string_view name, std::optional<int> Geometry::*field) {
            t.Let(name, 0, 0, [field](ListControl& c, CallArgs& a) {
                c.geometry_.*field = a.Assigned().ToLong();
                c.ApplyGeometry();
                return Variant();
            });
            t.Get(name, 0, 0, [field](ListControl& c, CallArgs&) { return Variant(int32_t{(c.geometry_.*field).value_or(0)}); });
        };
        long_prop("ListShowStatus", &ListControl::list_show_status_);
        long_prop("ListID", &ListControl::list_id_);
        long_prop("TranType", &ListControl::tran_type_);
        long_prop("SelectFlag", &ListControl::select_flag_);
        text_prop("DestBillTransType", &ListControl::dest_type_);
        text_prop("BaseInfo", &ListControl::base_info_);
        text_prop("Filter", &ListControl::filter_);
        text_prop("LocalCnn", &ListControl::local_cnn_);
        text_prop("SystemName", &ListControl::system_name_);
        bool_prop("MultiSelect", &ListControl::multi_select_);
        bool_prop("CanSelectMultiRow", &ListControl::multi_row_);
        bool_prop("StartUp", &ListControl::start_up_);
        geometry_prop("Left", &Geometry::left);
        geometry_prop("Top", &Geometry::top);
        geometry_prop("Width", &Geometry::width);
        geometry_prop("Height", &Geometry::height);
        t.Method("PrepareList", 0, 0, [](ListControl& c, CallArgs&) { return Variant(c.PrepareList()); });
        t.Method("LoadList", 0, 0, [](ListControl& c, CallArgs&) { return Variant(c.LoadList()); });
        t.Get("ListInfo", 0, 0, [](ListControl& c, CallArgs&) { return Variant(c.ListInfo()); });
        t.Method("GetSelected", 0, 0, [](ListControl& c, CallArgs&) { return Variant(c.GetSelected()); });
        t.Get("CanConfirm", 0, 0, [](ListControl& c, CallArgs&) { return Variant(c.CanConfirm()); });
        t.Method("Release", 0, 0, [](ListControl& c, CallArgs&) {
            c.ReleaseList();
            return Variant();
        });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
