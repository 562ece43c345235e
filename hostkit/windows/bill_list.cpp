#include "hostkit/windows/bill_list.h"

#include <fmt/format.h>

#include "platform/decimal.h"

namespace orba::hostkit {

using platform::Variant;

const std::vector<BillListKind>& BillListKinds() {
    static const std::vector<BillListKind> kinds = {
        {71, 26, "采购订单", "POOrder", "POOrderEntry", "t_Supplier", "FSupplyID", "供应商"},
        {83, 34, "发货通知单", "SEOutStock", "SEOutStockEntry", "t_Organization", "FCustID", "客户"},
        {82, 33, "退货通知单", "SEOutStock", "SEOutStockEntry", "t_Organization", "FCustID", "客户"},
    };
    return kinds;
}

std::optional<BillListKind> FindBillListKind(int32_t tran_type, int32_t list_id) {
    for (const BillListKind& k : BillListKinds()) {
        if (k.tran_type == tran_type && (list_id == 0 || list_id == k.list_id)) return k;
    }
    return std::nullopt;
}

std::string BillListSql(const BillListKind& kind, std::string_view condition) {
    std::string sql = fmt::format(
        "SELECT v1.FInterID, v1.FTranType, v1.FBillNo, v1.FDate, p.FName AS FCompanyName, "
        "br.FName AS FRelateBrName, v1.FStatus, v1.FTranStatus, "
        "(SELECT ROUND(SUM(e.FAmount), 2) FROM {} e WHERE e.FInterID = v1.FInterID) AS FAmount\r\n"
        "FROM {} v1 LEFT JOIN {} p ON v1.{} = p.FItemID LEFT JOIN t_SonCompany br ON v1.FRelateBrID = br.FItemID\r\n"
        "WHERE v1.FTranType = {}",
        kind.entry_table, kind.main_table, kind.partner_table, kind.partner_column, kind.tran_type);
    if (condition.find_first_not_of(" \t\r\n") != std::string_view::npos) {
        sql += fmt::format(" AND ({})", condition);
    }
    sql += "\r\nORDER BY v1.FDate, v1.FBillNo";
    return sql;
}

std::string BillStatusText(const Variant& status) {
    if (status.IsNull() || status.IsEmpty()) return "";
    switch (status.ToLong()) {
        case 0: return "未审核";
        case 1: return "已审核";
        case 2: return "部分执行";
        case 3: return "已关闭";
        default: return status.ToText();
    }
}

std::string TransmittedText(const Variant& tran_status) {
    const bool sent = !tran_status.IsNull() && !tran_status.IsEmpty() && tran_status.ToLong() == 1;
    return sent ? "已传输" : "未传输";
}

std::string AmountText(const Variant& amount) {
    platform::Decimal value = amount.IsNull() || amount.IsEmpty() ? platform::Decimal(int64_t{0}) : amount.ToDecimal();
    std::string plain = value.Round(2).ToString();
    bool negative = !plain.empty() && plain.front() == '-';
    if (negative) plain.erase(0, 1);
    std::string whole = plain.substr(0, plain.find('.'));
    std::string fraction = plain.find('.') == std::string::npos ? "" : plain.substr(plain.find('.') + 1);
    fraction.resize(2, '0');
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
        grouped += whole[i];
    }
    return fmt::format("{}{}.{}", negative ? "-" : "", grouped, fraction);
}

namespace {

std::string TextOrBlank(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.ToText(); }

std::string DateText(const Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return "";
    platform::Date d = v.ToDate();
    return fmt::format("{:04}-{:02}-{:02}", d.Year(), d.Month(), d.Day());
}

}  // namespace

std::vector<BillListRow> ReadBillListRows(platform::RecordSet& rows) {
    std::vector<BillListRow> out;
    out.reserve(static_cast<size_t>(std::max(rows.RecordCount(), 0)));
    const size_t id = rows.FieldIndex("FInterID"), type = rows.FieldIndex("FTranType"),
                 no = rows.FieldIndex("FBillNo"), date = rows.FieldIndex("FDate"),
                 partner = rows.FieldIndex("FCompanyName"), branch = rows.FieldIndex("FRelateBrName"),
                 status = rows.FieldIndex("FStatus"), sent = rows.FieldIndex("FTranStatus"),
                 amount = rows.FieldIndex("FAmount");
    for (; !rows.Eof(); rows.MoveNext()) {
        BillListRow r;
        r.inter_id = rows.Value(id).ToLong();
        r.tran_type = rows.Value(type).ToLong();
        r.bill_no = TextOrBlank(rows.Value(no));
        r.date = DateText(rows.Value(date));
        r.partner = TextOrBlank(rows.Value(partner));
        r.related_branch = TextOrBlank(rows.Value(branch));
        r.status = BillStatusText(rows.Value(status));
        r.transmitted = TransmittedText(rows.Value(sent));
        const Variant& a = rows.Value(amount);
        r.amount = AmountText(a);
        r.amount_value = a.IsNull() || a.IsEmpty() ? 0.0 : a.ToDouble();
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<std::string> BillListCaptions(const BillListKind& kind) {
    return {"单据编号", "日期", std::string(kind.partner_caption), "关联机构", "状态", "传输", "金额"};
}

}  // namespace orba::hostkit
