#include "data/data_trans.h"

#include <fmt/format.h>

#include <cmath>
#include <map>
#include <memory>
#include <utility>

#include "data/bill_records.h"
#include "data/row_source.h"
#include "data/sql_text.h"
#include "host/login_props.h"
#include "host/shared_connection.h"
#include "host/user_messages.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace orba::data {

using host::VariantVector;
using platform::CallArgs;
using platform::CallKind;
using platform::Error;
using platform::ErrorCode;
using platform::Object;
using platform::Ref;
using platform::Variant;

namespace {

constexpr std::string_view kPubFuncProgId = "Varnick.PubFunc";
constexpr std::string_view kTaxInPriceCategory = "IC";
constexpr std::string_view kTaxInPriceKey = "POOrderTaxInPrice";

Ref<Object> Execute(const Ref<Object>& connection, std::string sql) {
    std::vector<Variant> args{Variant(std::move(sql))};
    Variant result = platform::CallByName(connection, "Execute", CallKind::kMethod, args);
    return result.IsObject() ? result.AsObject() : Ref<Object>();
}

// Runs a query whose rows are read once, in order. A connection that can hand the rows over
// as its statement is stepped (the host kit's) does so, and no whole record set is built;
// any other connection runs the query as usual.
Ref<Object> ExecuteForReading(const Ref<Object>& connection, std::string sql) {
    std::vector<Variant> args{Variant(sql)};
    try {
        Variant result = platform::CallByName(connection, "ExecuteForward", CallKind::kMethod, args);
        return result.IsObject() ? result.AsObject() : Ref<Object>();
    } catch (const platform::Error& e) {
        if (e.Code() != platform::ErrorCode::kMemberNotFound) throw;
    }
    return Execute(connection, std::move(sql));
}

// Runs a status batch on a connection of its own, made for this one call.
void ExecuteOnFreshConnection(std::string sql) {
    Ref<Object> connection = platform::CreateObject(host::kAppConnectionProgId);
    Execute(connection, std::move(sql));
}

// The general function library's object, made on first use and kept while the library is
// loaded.
Ref<Object>& FunctionLibrary() {
    static Ref<Object> library;
    if (!library) library = platform::CreateObject(kPubFuncProgId);
    return library;
}

int32_t PeriodOf(const Variant& bill_date, int32_t& year) {
    Ref<Object> info = platform::CreateObject(host::kSysInfoProgId);
    std::vector<Variant> args{Variant(host::GetPropsString()), bill_date, Variant(year)};
    Variant period = platform::CallByName(info, "GetPeriodFromDate", CallKind::kMethod, args);
    year = args[2].ToLong();
    return period.ToLong();
}

// The period look-up of one extraction. The rows of one statement share few bill dates, and
// the host's answer for a date (and the year handed in) does not change while the statement
// is read, so each is asked once: on a server database every question is a round trip.
BillServices::PeriodOf PeriodsOfOneExtraction() {
    auto answers = std::make_shared<std::map<std::pair<platform::Date, int32_t>, std::pair<int32_t, int32_t>>>();
    return [answers](const Variant& bill_date, int32_t& year) {
        if (bill_date.Type() != platform::VarType::kDate) return PeriodOf(bill_date, year);
        const auto key = std::pair{bill_date.AsDate(), year};
        auto at = answers->find(key);
        if (at == answers->end()) {
            int32_t answered_year = year;
            const int32_t period = PeriodOf(bill_date, answered_year);
            at = answers->emplace(key, std::pair{period, answered_year}).first;
        }
        year = at->second.second;
        return at->second.first;
    };
}

Variant NullTo(const Variant& value, const Variant& fallback) {
    std::vector<Variant> args{value, fallback};
    return platform::CallByName(FunctionLibrary(), "IsNull", CallKind::kMethod, args);
}

// A value read by name from a caller's dictionary.
Variant ValueOf(const Ref<Object>& record, std::string_view name) {
    return platform::GetProperty(record, "Value", {Variant(name)});
}

// A bill number as it joins into a statement: a Null joins as nothing, so its statement
// matches no bill and the other bills of the batch are still updated.
std::string BillNumberText(const Ref<Object>& record) {
    const Variant v = ValueOf(record, key::kBillID).Resolved();
    return v.IsNull() ? std::string() : v.ToText();
}

std::string TrimmedText(const Variant& v) {
    if (v.IsNull()) return {};  // Null joins to text as nothing
    return std::string(platform::Trim(v.ToText(), " "));
}

// The applying branch's internal id in this database, looked up by its number and name.
int32_t BranchId(const Ref<Object>& connection, const Ref<Object>& apply_br_id) {
    if (!apply_br_id) {
        throw Error(ErrorCode::kObjectRequired,
                    "Object required: bills for download need the applying branch (\"Number\" and \"Name\")");
    }
    const std::string number = TrimmedText(ValueOf(apply_br_id, "Number"));
    const std::string name = TrimmedText(ValueOf(apply_br_id, "Name"));
    auto rows = MakeRowSource(Execute(connection, BranchLookup(number, name)));
    if (rows->Eof()) {
        throw Error(ErrorCode::kNotFound,
                    fmt::format("The applying branch with number '{}' and name '{}' is not one of this "
                                "database's related branches",
                                number, name));
    }
    return rows->Get(rows->Column("FItemID")).ToLong();
}

// The rows of an extraction statement, stepped as they are read.
struct Extraction {
    std::unique_ptr<RowSource> rows;
    bool tax_in_price = false;
};

Extraction OpenExtraction(BillKind kind, const std::string& bill_inter_ids, bool for_download,
                          const Ref<Object>& apply_br_id) {
    Extraction e;
    if (kind == BillKind::kPurchaseOrder) {
        e.tax_in_price =
            Variant(host::GetSysOption(kTaxInPriceCategory, kTaxInPriceKey, Variant(false).ToText())).ToBoolean();
    }
    Ref<Object> connection = host::RequireSharedConnection();
    std::string sql = ExtractionHead(kind);
    if (for_download) {
        sql += DownloadSelection(BranchId(connection, apply_br_id));
    } else {
        sql += ListSelection(bill_inter_ids);
    }
    sql += kExtractionOrder;
    e.rows = MakeRowSource(ExecuteForReading(connection, std::move(sql)));
    return e;
}

Ref<VariantVector> Extract(BillKind kind, const std::string& bill_inter_ids, bool for_download,
                           const Ref<Object>& apply_br_id) {
    Extraction e = OpenExtraction(kind, bill_inter_ids, for_download, apply_br_id);
    return GroupBills(*e.rows, kind, e.tax_in_price, BillServices{PeriodsOfOneExtraction(), NullTo});
}

// Runs a status update inside its own error trap: a failure is shown, never raised.
template <class Body>
void Trapped(std::string_view failure_message, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        host::ReportFailure(failure_message, e);
    }
}

// Joins one statement per item of a caller's vector; `statement` builds it from the item.
template <class Build>
std::string BatchOf(const Ref<Object>& vector, Build&& statement) {
    std::string text;
    const int32_t lower = platform::GetProperty(vector, "LowerBound").ToLong();
    const int32_t upper = platform::GetProperty(vector, "UpperBound").ToLong();
    for (int32_t i = lower; i <= upper; ++i) {
        text += statement(platform::GetProperty(vector, "Item", {Variant(i)}).ToObject());
    }
    return text;
}

// A quantity or line number in plain decimal form; anything but a number is refused.
std::string NumberText(const Variant& value, std::string_view name) {
    Variant v = value.Resolved();
    std::optional<platform::Decimal> d;
    if (v.IsNumeric()) {
        d = v.ToDecimal();
    } else if (v.IsString()) {
        d = platform::Decimal::TryParse(v.AsString());
    }
    if (!d) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("\"{}\" must be a number, not {}", name,
                                v.IsString() ? fmt::format("'{}'", v.AsString()) : std::string(v.TypeName())));
    }
    // The database keeps these as binary floating point; a number beyond its range would be
    // written as infinity into the order line.
    if (!std::isfinite(d->ToDouble())) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("\"{}\" is beyond the range of numbers the database can store", name));
    }
    return d->ToString();
}

}  // namespace

Ref<Object> DataTrans::GetBillInfo(int32_t bill_tran_type, int32_t bill_inter_id) {
    auto sql = BillInfoStatement(bill_tran_type, bill_inter_id);
    if (!sql) return {};
    std::vector<Variant> args{Variant(std::move(*sql))};
    Variant result = platform::CallByName(host::RequireSharedConnection(), "Execute", CallKind::kMethod, args);
    // The caller reads rows from what comes back; anything but a record set is a fault of
    // the connection, not "no such bill".
    if (!result.IsObject() || !result.AsObject()) {
        throw Error(ErrorCode::kObjectRequired,
                    fmt::format("Object required: the database connection returned {} instead of a record set for "
                                "the summary of bill {} (transaction type {})",
                                result.IsObject() ? std::string("Nothing") : std::string(result.TypeName()),
                                bill_inter_id, bill_tran_type));
    }
    return result.AsObject();
}

BillStream::BillStream(std::unique_ptr<BillReader> reader, Ref<host::VariantDictionary> first)
    : reader_(std::move(reader)), next_(std::move(first)) {}

BillStream::~BillStream() = default;

bool BillStream::Next(Variant& item) {
    if (!next_) return false;
    item = Variant(std::move(next_));
    next_ = reader_->Next();
    return true;
}

Ref<BillStream> DataTrans::StreamBills(BillKind kind, const std::string& bill_inter_ids, bool for_download,
                                       const Ref<Object>& apply_br_id) {
    Extraction e = OpenExtraction(kind, bill_inter_ids, for_download, apply_br_id);
    auto reader = std::make_unique<BillReader>(std::move(e.rows), kind, e.tax_in_price,
                                               BillServices{PeriodsOfOneExtraction(), NullTo});
    Ref<host::VariantDictionary> first = reader->Next();
    if (!first) return {};
    return platform::MakeRef<BillStream>(std::move(reader), std::move(first));
}

Ref<VariantVector> DataTrans::GetPOOrdVect(const std::string& ids, bool for_download, const Ref<Object>& branch) {
    return Extract(BillKind::kPurchaseOrder, ids, for_download, branch);
}

Ref<VariantVector> DataTrans::GetSEOutVect(const std::string& ids, bool for_download, const Ref<Object>& branch) {
    return Extract(BillKind::kDeliveryNotice, ids, for_download, branch);
}

Ref<VariantVector> DataTrans::GetSEInVect(const std::string& ids, bool for_download, const Ref<Object>& branch) {
    return Extract(BillKind::kReturnNotice, ids, for_download, branch);
}

void DataTrans::SetOrdTranStatus(const std::string& inter_ids) {
    Trapped(kOrdTranStatusFailed,
            [&] { Execute(host::RequireSharedConnection(), OrdTranStatusStatement(inter_ids)); });
}

void DataTrans::SetNoticeTranStatus(const std::string& inter_ids) {
    Trapped(kNoticeTranStatusFailed,
            [&] { Execute(host::RequireSharedConnection(), NoticeTranStatusStatement(inter_ids)); });
}

void DataTrans::UnSetOrdTranStatus(const Ref<Object>& orders) {
    Trapped(kOrdTranStatusFailed, [&] {
        std::string sql = BatchOf(orders, [](const Ref<Object>& order) {
            return UnSetOrdTranStatusStatement(BillNumberText(order));
        });
        if (!sql.empty()) ExecuteOnFreshConnection(std::move(sql));
    });
}

void DataTrans::SetOrderAffirmStatus(const Ref<Object>& orders, int32_t status) {
    Trapped(kOrderAffirmFailed, [&] {
        const int flag = status != 0 ? 1 : 2;
        std::string sql = BatchOf(orders, [flag](const Ref<Object>& order) {
            return OrderAffirmStatement(flag, BillNumberText(order));
        });
        if (!sql.empty()) ExecuteOnFreshConnection(std::move(sql));
    });
}

void DataTrans::AffirmPurchaseOrder(const Ref<Object>& entries) {
    Trapped(kAffirmQtyFailed, [&] {
        std::string sql = BatchOf(entries, [](const Ref<Object>& line) {
            return AffirmEntryStatement(ValueOf(line, key::kBillID).ToText(),
                                        NumberText(ValueOf(line, key::kEntryID), key::kEntryID),
                                        NumberText(ValueOf(line, key::kQty), key::kQty));
        });
        if (!sql.empty()) ExecuteOnFreshConnection(std::move(sql));
    });
}

const platform::MemberTable<DataTrans>& DataTrans::Members() {
    static const platform::MemberTable<DataTrans> table = [] {
        platform::MemberTable<DataTrans> t("DataTrans");
        // The three extractions share their optional arguments: list, for-download, branch.
        auto extraction = [](Ref<VariantVector> (DataTrans::*method)(const std::string&, bool, const Ref<Object>&)) {
            return [method](DataTrans& d, CallArgs& a) {
                std::string ids = a.Has(0) ? a.Text(0) : std::string();
                bool for_download = a.Has(1) ? a.Boolean(1) : false;
                Ref<Object> branch = a.Has(2) ? a.Obj(2) : Ref<Object>();
                return Variant((d.*method)(ids, for_download, branch));
            };
        };
        auto status = [](void (DataTrans::*method)(const std::string&)) {
            return [method](DataTrans& d, CallArgs& a) {
                (d.*method)(a.Text(0));
                return Variant();
            };
        };
        auto vector_status = [](void (DataTrans::*method)(const Ref<Object>&)) {
            return [method](DataTrans& d, CallArgs& a) {
                (d.*method)(a.Obj(0));
                return Variant();
            };
        };
        t.Method("GetBillInfo", 2, 2,
                 [](DataTrans& d, CallArgs& a) { return Variant(d.GetBillInfo(a.Long(0), a.Long(1))); })
            .Method("GetPOOrdVect", 0, 3, extraction(&DataTrans::GetPOOrdVect))
            .Method("GetSEOutVect", 0, 3, extraction(&DataTrans::GetSEOutVect))
            .Method("GetSEInVect", 0, 3, extraction(&DataTrans::GetSEInVect))
            .Method("SetOrdTranStatus", 1, 1, status(&DataTrans::SetOrdTranStatus))
            .Method("UnSetOrdTranStatus", 1, 1, vector_status(&DataTrans::UnSetOrdTranStatus))
            .Method("AffirmPurchaseOrder", 1, 1, vector_status(&DataTrans::AffirmPurchaseOrder))
            .Method("SetNoticeTranStatus", 1, 1, status(&DataTrans::SetNoticeTranStatus))
            .Method("SetOrderAffirmStatus", 2, 2, [](DataTrans& d, CallArgs& a) {
                d.SetOrderAffirmStatus(a.Obj(0), a.Long(1));
                return Variant();
            });
        return t;
    }();
    return table;
}

}  // namespace orba::data
