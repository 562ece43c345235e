#include "hostkit/windows/bill_reader.h"

#include <fmt/format.h>

#include <optional>

#include "hostkit/app_connection.h"
#include "platform/error.h"

namespace orba::hostkit {

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

BillDocument ReadBillDocument(AppConnection& connection, int32_t tran_type, int32_t inter_id,
                              const std::string& bill_no) {
    std::optional<BillListKind> kind = FindBillListKind(tran_type, 0);
    if (!kind) throw Error(ErrorCode::kBadInput, fmt::format("No bill kind has transaction type {}", tran_type));
    BillDocument doc;
    doc.kind_name = kind->name;
    doc.partner_caption = kind->partner_caption;
    Ref<platform::RecordSet> head = connection.Execute(BillListSql(*kind, fmt::format("v1.FInterID = {}", inter_id)));
    std::vector<BillListRow> rows = ReadBillListRows(*head);
    if (rows.empty()) {
        throw Error(ErrorCode::kNotFound,
                    bill_no.empty()
                        ? fmt::format("{}（内码 {}）已不在账套数据库中，可能已被删除。", kind->name, inter_id)
                        : fmt::format("{} {} 已不在账套数据库中，可能已被删除。", kind->name, bill_no));
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
    const std::optional<size_t> number = rows.FindField("FBillNo");
    for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
        const platform::Variant& no = number ? rows.Value(*number) : platform::Variant::Null();
        bills.push_back(ListedBill{rows.Value("FInterID").ToLong(), rows.Value("FTranType").ToLong(),
                                   no.IsNull() || no.IsEmpty() ? std::string() : no.ToText()});
    }
    current = static_cast<size_t>(position - 1);
    rows.MoveFirst();
    rows.Move(position - 1);
    return bills;
}

}  // namespace orba::hostkit
