#include "data/data_fixtures.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "host/login_props.h"
#include "host/variant_json.h"
#include "host/shared_connection.h"
#include "platform/dispatch.h"
#include "platform/error.h"

namespace orba::data {

void PrintTo(BillKind kind, std::ostream* os) {
    switch (kind) {
        case BillKind::kPurchaseOrder: *os << "PurchaseOrders"; return;
        case BillKind::kDeliveryNotice: *os << "DeliveryNotices"; return;
        case BillKind::kReturnNotice: *os << "ReturnNotices"; return;
    }
}

}  // namespace orba::data

namespace orba::data::testing {

using host::VariantDictionary;
using host::VariantVector;
using platform::CallKind;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Object;

namespace {

constexpr std::string_view kMasterData = R"sql(
INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', '1');
INSERT INTO t_SonCompany VALUES (1, 'BR01', 'Branch One'), (2, 'BR02', 'Branch Two'),
    (3, 'BR''03', 'O''Brien Trading'), (4, 'BR04', 'North  Side');
INSERT INTO t_Currency VALUES (1, 'RMB', 'Yuan', 2, 1), (2, 'JPY', 'Yen', 0, 1), (3, 'KWD', 'Dinar', 3, 1);
INSERT INTO t_Department VALUES (1, 'D01', 'Purchasing');
INSERT INTO t_Emp VALUES (1, 'E01', 'Clerk', 1), (2, 'E02', 'Manager', 1);
INSERT INTO t_User VALUES (1, 'Li', 1, NULL);
INSERT INTO t_Supplier VALUES (1, 'S01', 'Supplier One'), (2, 'S02', 'Supplier Two');
INSERT INTO t_Organization VALUES (1, 'C01', 'Customer One');
INSERT INTO t_Item VALUES (1, 7, 'G01', 'Count');
INSERT INTO t_MeasureUnit VALUES (1, 1, 'PCS', 'Piece', 1, 1);
INSERT INTO t_ICItem VALUES (1, 'I01', 'Bolt', 'M8', 1, 1), (2, 'I02', 'Nut', NULL, 1, 1);
INSERT INTO t_SubMessage VALUES (1, 101, 'SS1', 'Cash sale');
INSERT INTO t_Settle VALUES (1, 'ST1', 'Cash');
)sql";

// An object that hands every member access to one function: the shape of any outside
// component a test stands in for.
class ScriptedObject : public Object {
public:
    using Handler = std::function<Variant(std::string_view, CallKind, std::span<Variant>)>;
    ScriptedObject(std::string class_name, Handler handler)
        : class_name_(std::move(class_name)), handler_(std::move(handler)) {}
    Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
        return handler_(name, kind, args);
    }
    std::string_view ClassName() const override { return class_name_; }

private:
    std::string class_name_;
    Handler handler_;
};

bool Is(std::string_view a, std::string_view b) { return platform::EqualsIgnoreCase(a, b); }

Ref<Object> NewRecordingConnection(const std::shared_ptr<ExecuteLog>& log) {
    const int id = ++log->instances;
    return Ref<Object>(MakeRef<ScriptedObject>(
        "RecordingConnection", [log, id](std::string_view name, CallKind, std::span<Variant> args) -> Variant {
            if (!Is(name, "Execute") || args.size() != 1) platform::ThrowMemberNotFound("RecordingConnection", name);
            const std::string sql = args[0].ToText();
            log->calls.push_back({id, sql});
            if (!log->failure.empty()) throw Error(ErrorCode::kDatabaseError, log->failure);
            if (log->answer) return Variant(log->answer(sql));
            return Variant(MakeRef<platform::RecordSet>());
        }));
}

}  // namespace

std::string Quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out + "'";
}

void AddMasterData(hostkit::testing::TestDb& db) { db.Exec(std::string(kMasterData)); }

void AddOrder(hostkit::testing::TestDb& db, const OrderRow& r) {
    db.Exec(fmt::format(
        "INSERT INTO POOrder (FInterID, FBillNo, FTranType, FDate, FSupplyID, FDeptID, FEmpID, FMangerID, "
        "FBillerID, FCurrencyID, FExchangeRate, FRelateBrID, FStatus, FTranStatus) "
        "VALUES ({}, {}, 71, {}, {}, 1, 1, 2, 1, {}, {}, {}, {}, {})",
        r.inter_id, Quoted(r.bill_no), r.date, r.supplier, r.currency, r.exchange_rate, r.relate_br, r.status,
        r.tran_status));
}

void AddOrderLine(hostkit::testing::TestDb& db, const OrderLineRow& r) {
    db.Exec(fmt::format(
        "INSERT INTO POOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FQty, FAuxPrice, FPrice, FCess, "
        "FTaxRate, FAmount, FDate, FNote) VALUES ({}, {}, {}, 1, {}, {}, {}, {}, {}, {}, {}, {}, {})",
        r.inter_id, r.entry_id, r.item, r.aux_qty, r.qty, r.aux_price, r.aux_price, r.cess, r.tax_rate, r.amount,
        r.date, r.note));
}

void AddNotice(hostkit::testing::TestDb& db, const NoticeRow& r) {
    db.Exec(fmt::format(
        "INSERT INTO SEOutStock (FInterID, FBillNo, FTranType, FDate, FCustID, FDeptID, FEmpID, FManagerID, "
        "FBillerID, FCurrencyID, FExchangeRate, FSalType, FSettleID, FCnnInterID, FRelateBrID, FStatus, FTranStatus) "
        "VALUES ({}, {}, {}, {}, 1, 1, 1, 2, 1, 1, {}, {}, {}, {}, {}, {}, {})",
        r.inter_id, Quoted(r.bill_no), r.tran_type, r.date, r.exchange_rate, r.sale_style, r.settle, r.cnn_inter_id,
        r.relate_br, r.status, r.tran_status));
}

void AddNoticeLine(hostkit::testing::TestDb& db, const NoticeLineRow& r) {
    db.Exec(fmt::format(
        "INSERT INTO SEOutStockEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FQty, FAuxPrice, FPrice, "
        "FAmount, FSourceEntryID, FNote) VALUES ({}, {}, 1, 1, {}, {}, {}, {}, {}, {}, {})",
        r.inter_id, r.entry_id, r.aux_qty, r.qty, r.aux_price, r.aux_price, r.amount, r.source_entry_id, r.note));
}

void AddSalesOrder(hostkit::testing::TestDb& db, int inter_id, std::string_view po_bill_no) {
    db.Exec(fmt::format(
        "INSERT INTO SEOrder (FInterID, FBillNo, FDate, FCustID, FDeptID, FEmpID, FManagerID, FBillerID, "
        "FCurrencyID, FPOOrdBillNo) VALUES ({}, 'SO-{}', '2024-03-01', 1, 1, 1, 2, 1, 1, {})",
        inter_id, inter_id, po_bill_no));
}

void AddSalesOrderLine(hostkit::testing::TestDb& db, int inter_id, int entry_id, std::string_view source_entry_id) {
    db.Exec(fmt::format("INSERT INTO SEOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FSourceEntryID) "
                        "VALUES ({}, {}, 1, 1, {})",
                        inter_id, entry_id, source_entry_id));
}

void SetSystemOption(hostkit::testing::TestDb& db, std::string_view category, std::string_view key,
                     std::string_view value) {
    // A delete and an insert rather than an upsert, which every backend words differently.
    db.Exec(fmt::format("DELETE FROM t_Systemprofile WHERE FCategory={0} AND FKey={1}; "
                        "INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ({0}, {1}, {2})",
                        Quoted(category), Quoted(key), Quoted(value)));
}

std::string Snapshot(hostkit::testing::TestDb& db, const IgnoredColumns& ignored) {
    std::string out;
    // Names as each backend lists them; a server database's are in lower case, so the
    // ignored columns are matched without regard to case.
    const bool server = db.OnServer();
    const std::string tables = server ? "SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname=current_schema() "
                                        "ORDER BY tablename"
                                      : "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name";
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    IgnoredColumns folded;
    for (const auto& [table, columns] : ignored) {
        for (const auto& c : columns) folded[server ? lower(table) : table].push_back(server ? lower(c) : c);
    }
    for (const auto& table : db.Rows(tables)) {
        std::string columns;
        auto skip = folded.find(table[0]);
        const std::string column_query =
            server ? "SELECT column_name FROM information_schema.columns WHERE table_schema=current_schema() AND "
                     "table_name='" + table[0] + "' ORDER BY ordinal_position"
                   : "SELECT name FROM pragma_table_info('" + table[0] + "')";
        for (const auto& column : db.Rows(column_query)) {
            if (skip != folded.end() &&
                std::find(skip->second.begin(), skip->second.end(), column[0]) != skip->second.end()) {
                continue;
            }
            columns += (columns.empty() ? "" : ",") + column[0];
        }
        out += "## " + table[0] + "\n";
        // A server table has no insertion order to go by; its rows are ordered by every column.
        std::string order = "rowid";
        if (server) {
            order.clear();
            for (size_t c = 1; c <= static_cast<size_t>(std::count(columns.begin(), columns.end(), ',')) + 1; ++c) {
                order += (c > 1 ? "," : "") + std::to_string(c);
            }
        }
        for (const auto& row : db.Rows("SELECT " + columns + " FROM " + table[0] + " ORDER BY " + order)) {
            for (const auto& cell : row) out += cell + "|";
            out += "\n";
        }
    }
    return out;
}

DataEnv::DataEnv() {
    // Rows are arranged one statement at a time; waiting for the disk after each one
    // would only slow the tests. The product's own connection is not affected.
    env_.Db().Exec("PRAGMA synchronous=OFF");
    AddMasterData(env_.Db());
    env_.OpenSharedConnection();
}

Ref<VariantVector> Extract(DataTrans& data, BillKind kind, const std::string& ids, bool for_download,
                           const Ref<Object>& branch) {
    switch (kind) {
        case BillKind::kPurchaseOrder: return data.GetPOOrdVect(ids, for_download, branch);
        case BillKind::kDeliveryNotice: return data.GetSEOutVect(ids, for_download, branch);
        case BillKind::kReturnNotice: return data.GetSEInVect(ids, for_download, branch);
    }
    return {};
}

std::string Json(const Variant& value) { return host::ToJson(value, -1); }

VariantDictionary& Dict(const Variant& value) {
    auto* d = dynamic_cast<VariantDictionary*>(value.ToObject().Get());
    if (!d) throw Error(ErrorCode::kTypeMismatch, "not a VariantDictionary");
    return *d;
}

VariantVector& List(const Variant& value) {
    auto* v = dynamic_cast<VariantVector*>(value.ToObject().Get());
    if (!v) throw Error(ErrorCode::kTypeMismatch, "not a VariantVector");
    return *v;
}

VariantDictionary& BillAt(const Ref<VariantVector>& bills, int32_t index) {
    if (!bills) throw Error(ErrorCode::kObjectRequired, "the extraction returned Nothing");
    return Dict(bills->Item(index));
}

VariantVector& EntriesOf(VariantDictionary& bill) {
    if (const Variant* v = bill.Find("ReqEntry")) return List(*v);
    return List(bill.Value("NoticeEntry"));
}

std::vector<std::string> KeysOf(const VariantDictionary& record) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < record.Size(); ++i) keys.push_back(record.KeyAt(i));
    return keys;
}

std::vector<int32_t> InterIds(const Ref<VariantVector>& bills) {
    std::vector<int32_t> ids;
    if (!bills) return ids;
    for (int32_t i = 1; i <= bills->UpperBound(); ++i) ids.push_back(Dict(bills->Item(i)).Value("BillInterID").ToLong());
    return ids;
}

Ref<VariantDictionary> MakeDict(std::initializer_list<std::pair<std::string, Variant>> entries) {
    auto d = MakeRef<VariantDictionary>();
    for (const auto& [key, value] : entries) d->Put(key, value);
    return d;
}

Ref<VariantVector> MakeList(std::initializer_list<Variant> items) {
    auto v = MakeRef<VariantVector>();
    for (const Variant& item : items) v->Add(item);
    return v;
}

Ref<Object> Branch(std::string_view number, std::string_view name) {
    return MakeDict({{"Number", Variant(number)}, {"Name", Variant(name)}});
}

Variant Dec(std::string_view text) { return Variant(platform::Decimal::Parse(text)); }

RecordingConnection::RecordingConnection()
    : log_(std::make_shared<ExecuteLog>()),
      registration_(host::kAppConnectionProgId, [log = log_] { return NewRecordingConnection(log); }) {
    host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId));
}

RecordingConnection::~RecordingConnection() { host::SetSharedConnection({}); }

std::vector<std::string> RecordingConnection::Texts() const {
    std::vector<std::string> texts;
    for (const auto& call : log_->calls) texts.push_back(call.sql);
    return texts;
}

const std::vector<std::string>& ExtractionColumns(BillKind kind) {
    static const std::vector<std::string> order = {
        "FTranType", "FTranStatus", "FInterID", "FDate", "FBillNo", "FExchangeRate", "FSupplyName", "FSupplyNumber",
        "FDeptName", "FDeptNumber", "FRelateBrName", "FRelateBrNumber", "FCurrencyName", "FCurrencyNumber",
        "FEmpName", "FEmpNumber", "FBrID", "FBrName", "FBrNumber", "FPoStyle", "FManagerName", "FManagerNumber",
        "FItemID", "FItemName", "FItemNumber", "FItemModel", "FMeasureUnitName", "FMeasureUnitNumber",
        "FMeasureUnitGroupName", "FMeasureUnitGroupNumber", "FEntryID", "FAuxQty", "FQty", "FAuxPrice", "FPrice",
        "FTaxRate", "FCess", "FAmount", "FFetchDate", "FNote", "FBillerName"};
    static const std::vector<std::string> delivery = {
        "FTranType", "FTranStatus", "FInterID", "FDate", "FBillNo", "FExchangeRate", "FCustName", "FCustNumber",
        "FDeptName", "FDeptNumber", "FRelateBrName", "FRelateBrNumber", "FCurrencyName", "FCurrencyNumber",
        "FEmpName", "FEmpNumber", "FBrName", "FBrNumber", "FPOOrdBillNo", "FSaleStyleName", "FSaleStyleNumber",
        "FSettleName", "FSettleNumber", "FManagerName", "FManagerNumber", "FItemID", "FItemName", "FItemNumber",
        "FItemModel", "FMeasureUnitName", "FMeasureUnitNumber", "FMeasureUnitGroupName", "FMeasureUnitGroupNumber",
        "FEntryID", "FAuxQty", "FQty", "FAuxPrice", "FPrice", "FAmount", "FNote", "FSourceEntryID", "FBillerName"};
    static const std::vector<std::string> returns = [] {
        std::vector<std::string> c = delivery;
        std::erase(c, "FSourceEntryID");
        return c;
    }();
    switch (kind) {
        case BillKind::kPurchaseOrder: return order;
        case BillKind::kDeliveryNotice: return delivery;
        case BillKind::kReturnNotice: return returns;
    }
    return order;
}

Ref<platform::RecordSet> MakeRows(const std::vector<std::string>& columns,
                                  const std::vector<std::vector<std::pair<std::string, Variant>>>& rows) {
    std::vector<platform::FieldInfo> fields;
    for (const auto& c : columns) fields.push_back(platform::FieldInfo{c});
    std::vector<Variant> values;
    for (const auto& row : rows) {
        std::vector<Variant> line(columns.size(), Variant::Null());
        for (const auto& [name, value] : row) {
            auto at = std::find(columns.begin(), columns.end(), name);
            if (at == columns.end()) throw Error(ErrorCode::kItemNotFound, "no column " + name);
            line[static_cast<size_t>(at - columns.begin())] = value;
        }
        values.insert(values.end(), line.begin(), line.end());
    }
    return MakeRef<platform::RecordSet>(std::move(fields), std::move(values));
}

Ref<Object> MakeScriptedObject(std::string class_name, MemberHandler handler) {
    return Ref<Object>(MakeRef<ScriptedObject>(std::move(class_name), std::move(handler)));
}

FakeSysInfo::FakeSysInfo()
    : script_(std::make_shared<SysInfoScript>()),
      registration_(host::kSysInfoProgId, [s = script_] {
          ++s->created;
          return Ref<Object>(MakeRef<ScriptedObject>(
              "FakeSysInfo", [s](std::string_view name, CallKind, std::span<Variant> args) -> Variant {
                  if (Is(name, "GetSysValue") && args.size() == 3) {
                      if (s->option_fails) throw Error(ErrorCode::kNotFound, "no such option here");
                      return Variant(s->option);
                  }
                  if (Is(name, "GetPeriodFromDate") && args.size() == 3) {
                      if (s->period_fails) throw Error(ErrorCode::kBadInput, "the accounting calendar is closed");
                      s->years_passed_in.push_back(args[2]);
                      s->dates_passed_in.push_back(args[1]);
                      const int call = static_cast<int>(s->years_passed_in.size());
                      if (auto year = s->next_year(call)) args[2] = Variant(*year);
                      return Variant(int32_t{call});
                  }
                  platform::ThrowMemberNotFound("FakeSysInfo", name);
              }));
      }) {}

Ref<Object> MakeHostRecordSet(platform::RecordSet& src) {
    // A copy of the rows, so the stand-in shares nothing with the runtime's record set.
    struct Table {
        std::vector<std::string> names;
        std::vector<std::vector<Variant>> rows;
        size_t position = 0;
    };
    auto table = std::make_shared<Table>();
    for (size_t c = 0; c < src.FieldCount(); ++c) table->names.push_back(src.Field(c).name);
    for (src.MoveFirst(); !src.Eof(); src.MoveNext()) {
        std::vector<Variant> row;
        for (size_t c = 0; c < src.FieldCount(); ++c) row.push_back(src.Value(c));
        table->rows.push_back(std::move(row));
    }
    src.MoveFirst();
    return Ref<Object>(MakeRef<ScriptedObject>(
        "HostRecordset", [table](std::string_view name, CallKind, std::span<Variant> args) -> Variant {
            if (Is(name, "EOF")) return Variant(table->position >= table->rows.size());
            if (Is(name, "RecordCount")) return Variant(static_cast<int32_t>(table->rows.size()));
            if (Is(name, "MoveNext")) {
                ++table->position;
                return Variant();
            }
            if (Is(name, "Fields") && args.size() == 1) {
                const std::string wanted = args[0].ToText();
                for (size_t c = 0; c < table->names.size(); ++c) {
                    if (!Is(table->names[c], wanted)) continue;
                    return Variant(Ref<Object>(MakeRef<ScriptedObject>(
                        "HostField", [table, c](std::string_view member, CallKind, std::span<Variant>) -> Variant {
                            if (!Is(member, "Value")) platform::ThrowMemberNotFound("HostField", member);
                            if (table->position >= table->rows.size()) {
                                throw Error(ErrorCode::kNoCurrentRecord, "no current record");
                            }
                            return table->rows[table->position][c];
                        })));
                }
                throw Error(ErrorCode::kItemNotFound, "no field " + wanted);
            }
            platform::ThrowMemberNotFound("HostRecordset", name);
        }));
}

}  // namespace orba::data::testing
