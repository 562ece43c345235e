// Helpers for the bill data access tests: a branch database filled from a few fields per bill,
// a connection that records every statement it is given, stand-ins for the system
// information component and for a host's own record set, and short readers for records.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_trans.h"
#include "data/sql_text.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/recordset.h"
#include "platform/registry.h"
#include "support/error_of.h"
#include "support/branch_env.h"

namespace orba::data {
// Test names and failure reports show the kind by name.
void PrintTo(BillKind kind, std::ostream* os);
}  // namespace orba::data

namespace orba::data::testing {

using platform::Ref;
using platform::Variant;

// --- Rows of a branch database ----------------------------------------------------------
//
// Every field is an SQL literal, so a test can write NULL or a quoted text where it needs to.
// This branch is BR01 (FItemID 1); BR02 "Branch Two" (2) is the usual related branch;
// BR'03 "O'Brien Trading" (3) carries quotes; BR04 "North  Side" (4) has two blanks inside.

struct OrderRow {
    int inter_id = 0;
    std::string bill_no;  // plain text, quoted on insert
    std::string tran_status = "0";
    std::string status = "1";
    std::string relate_br = "2";
    std::string exchange_rate = "1";
    std::string date = "'2024-03-05'";
    int currency = 1;
    int supplier = 1;
};

struct OrderLineRow {
    int inter_id = 0;
    int entry_id = 0;
    std::string aux_qty = "1";
    std::string qty = "1";
    std::string aux_price = "10";
    std::string cess = "0";
    std::string tax_rate = "0";
    std::string amount = "10";
    std::string date = "'2024-04-01'";
    std::string note = "NULL";
    int item = 1;
};

struct NoticeRow {
    int inter_id = 0;
    std::string bill_no;
    int tran_type = 83;
    std::string tran_status = "0";
    std::string status = "1";
    std::string relate_br = "2";
    std::string exchange_rate = "1";
    std::string date = "'2024-03-05'";
    std::string cnn_inter_id = "0";
    std::string sale_style = "1";
    std::string settle = "1";
};

struct NoticeLineRow {
    int inter_id = 0;
    int entry_id = 0;
    std::string aux_qty = "1";
    std::string qty = "1";
    std::string aux_price = "10";
    std::string amount = "10";
    std::string source_entry_id = "0";
    std::string note = "NULL";
};

// A text as an SQL literal, quotes doubled.
std::string Quoted(std::string_view text);

// The master data above; the tax-in-price option is left unset (it then reads as false).
void AddMasterData(hostkit::testing::TestDb& db);
void AddOrder(hostkit::testing::TestDb& db, const OrderRow& row);
void AddOrderLine(hostkit::testing::TestDb& db, const OrderLineRow& row);
void AddNotice(hostkit::testing::TestDb& db, const NoticeRow& row);
void AddNoticeLine(hostkit::testing::TestDb& db, const NoticeLineRow& row);
// A sales order (with its purchase-order number as an SQL literal) and one of its lines.
void AddSalesOrder(hostkit::testing::TestDb& db, int inter_id, std::string_view po_bill_no);
void AddSalesOrderLine(hostkit::testing::TestDb& db, int inter_id, int entry_id, std::string_view source_entry_id);
void SetSystemOption(hostkit::testing::TestDb& db, std::string_view category, std::string_view key,
                     std::string_view value);

// Every row of every table, leaving out the named columns of the named tables: equal
// snapshots mean that nothing else changed.
using IgnoredColumns = std::map<std::string, std::vector<std::string>>;
std::string Snapshot(hostkit::testing::TestDb& db, const IgnoredColumns& ignored = {});

// A branch database with the schema and the master data, the shared connection open on it.
class DataEnv {
public:
    DataEnv();
    hostkit::testing::TestDb& Db() { return env_.Db(); }
    platform::RecordingUiService& Ui() { return env_.Ui(); }
    const std::string& DbPath() const { return env_.DbPath(); }
    orba::testing::BranchEnv& Branch() { return env_; }

private:
    orba::testing::BranchEnv env_;
};

// --- Calls -------------------------------------------------------------------------------

// The extraction of one bill kind.
Ref<host::VariantVector> Extract(DataTrans& data, BillKind kind, const std::string& ids, bool for_download = false,
                                 const Ref<platform::Object>& branch = {});
using orba::testing::ErrorOf;
// A value in the runtime's JSON form on one line, for comparisons that show what differs.
std::string Json(const Variant& value);

// --- Records -----------------------------------------------------------------------------

host::VariantDictionary& Dict(const Variant& value);
host::VariantVector& List(const Variant& value);
// The bill at a 1-based position of an extraction result.
host::VariantDictionary& BillAt(const Ref<host::VariantVector>& bills, int32_t index);
// The result must outlive the reference: a temporary one would take the bill with it.
host::VariantDictionary& BillAt(Ref<host::VariantVector>&& bills, int32_t index) = delete;
// The entry list of a bill record, whichever key holds it.
host::VariantVector& EntriesOf(host::VariantDictionary& bill);
std::vector<std::string> KeysOf(const host::VariantDictionary& record);
// The BillInterID of each bill of a result; empty for Nothing.
std::vector<int32_t> InterIds(const Ref<host::VariantVector>& bills);
// A dictionary or vector made from plain values, as a caller builds one.
Ref<host::VariantDictionary> MakeDict(std::initializer_list<std::pair<std::string, Variant>> entries);
Ref<host::VariantVector> MakeList(std::initializer_list<Variant> items);
// An applying branch as callers pass it.
Ref<platform::Object> Branch(std::string_view number, std::string_view name);
Variant Dec(std::string_view text);

// --- Recording connection ------------------------------------------------------------------

// What the connections made during one test were asked to run.
struct ExecuteLog {
    struct Call {
        int instance;  // 1 for the first connection made, 2 for the next, ...
        std::string sql;
    };
    std::vector<Call> calls;
    int instances = 0;
    // The record set handed back for a text; an empty closed set when not given.
    std::function<Ref<platform::Object>(const std::string& sql)> answer;
    // When set, Execute raises an Error with this description instead of answering.
    std::string failure;
};

// Puts the recording connection behind "OrbaConnection.AppConnection" and makes one instance
// the shared connection (instance 1), as a BillTrans object would. Undone at the end of scope.
class RecordingConnection {
public:
    RecordingConnection();
    ~RecordingConnection();
    RecordingConnection(const RecordingConnection&) = delete;
    RecordingConnection& operator=(const RecordingConnection&) = delete;

    ExecuteLog& Log() { return *log_; }
    std::vector<std::string> Texts() const;

private:
    std::shared_ptr<ExecuteLog> log_;
    platform::ScopedClassRegistration registration_;
};

// The columns an extraction statement yields for each bill kind, in statement order.
const std::vector<std::string>& ExtractionColumns(BillKind kind);
// An in-memory record set over `columns`; each row gives values by column name, the others Null.
Ref<platform::RecordSet> MakeRows(const std::vector<std::string>& columns,
                                  const std::vector<std::vector<std::pair<std::string, Variant>>>& rows);

// --- System information stand-in ----------------------------------------------------------

// Answers GetSysValue and GetPeriodFromDate as configured, and keeps what it was given.
struct SysInfoScript {
    // GetSysValue: this text, or an Error when `option_fails`.
    std::string option = "False";
    bool option_fails = false;
    // GetPeriodFromDate: an Error when set; otherwise writes `next_year(call)` to the year
    // argument (unless it returns nullopt) and returns `call` as the period.
    bool period_fails = false;
    std::function<std::optional<int32_t>(int call)> next_year = [](int call) { return 2000 + call; };

    int created = 0;
    std::vector<Variant> years_passed_in;
    std::vector<Variant> dates_passed_in;
};

// Registers the stand-in as "Varnick.SysInfo" for the scope.
class FakeSysInfo {
public:
    FakeSysInfo();
    SysInfoScript& Script() { return *script_; }

private:
    std::shared_ptr<SysInfoScript> script_;
    platform::ScopedClassRegistration registration_;
};

// --- Outside objects ------------------------------------------------------------------------

// Any outside object: every member access goes to `handler`.
using MemberHandler = std::function<Variant(std::string_view name, platform::CallKind, std::span<Variant> args)>;
Ref<platform::Object> MakeScriptedObject(std::string class_name, MemberHandler handler);


// A record set that is not this runtime's RecordSet: it answers only EOF, MoveNext,
// RecordCount and Fields(name).Value, by name, as a host's data-access objects do.
Ref<platform::Object> MakeHostRecordSet(platform::RecordSet& copy_of);

}  // namespace orba::data::testing
