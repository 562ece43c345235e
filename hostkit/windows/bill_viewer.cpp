#include "hostkit/windows/bill_viewer.h"

#include <QApplication>

#include "hostkit/app_connection.h"
#include "hostkit/windows/bill_reader.h"
#include "hostkit/windows/bill_viewer_dialog.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::Variant;

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
        return ReadBillDocument(*connection, b.tran_type, b.inter_id, b.bill_no);
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
