#include "data/sql_text.h"

#include <fmt/format.h>

#include <cctype>

#include "platform/error.h"

namespace orba::data {

using platform::Error;
using platform::ErrorCode;

namespace {

// The extraction statements. Blanks at both ends of a fragment belong to it; the
// related-branch, sale-style and settlement joins use the dialect's old outer-join operator.
constexpr std::string_view kPurchaseOrderHead[] = {
    " SELECT v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t8.FName as FSupplyName, ",
    " t8.FNumber as FSupplyNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,",
    " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, ",
    " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, ",
    " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,",
    " (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID') as FBrID, ",
    " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrName, ",
    " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, ",
    " v1.FPoStyle,t3_2.FName as FManagerName , t3_2.FNumber as FManagerNumber, ",
    " u1.FItemID, t4.FName as FItemName,t4.FNumber as FItemNumber,t4.FModel as FItemModel, ",
    " t7.FName as FMeasureUnitName,t7.FNumber as FMeasureUnitNumber, ",
    " ti.FName as FMeasureUnitGroupName,ti.FNumber as FMeasureUnitGroupNumber,",
    " u1.FEntryID, u1.FAuxQty,u1.FQty,u1.FAuxPrice,u1.FPrice,u1.FTaxRate,u1.FCess, ",
    " u1.FAmount,u1.FDate as FFetchDate,u1.FNote, ",
    " tu.FName as FBillerName ",
    " FROM POOrder v1,POOrderEntry u1,t_Supplier t8,t_Department t2,t_SonCompany t10_1, ",
    " t_Currency t12,t_Emp t3_1,t_Emp t3_2,",
    " t_ICItem t4,t_MeasureUnit t7,t_Item ti,t_User tu ",
    kCrLf,
    " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID ",
    " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID ",
    " AND v1.FSupplyID=t8.FItemID AND v1.FDeptID=t2.FItemID ",
    " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID ",
    " AND v1.FEmpID=t3_1.FItemID AND v1.FMangerID=t3_2.FItemID ",
    " AND v1.FBillerID=tu.FUserID ",
};

constexpr std::string_view kNoticeHead[] = {
    " SELECT v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t1.FName as FCustName, ",
    " t1.FNumber as FCustNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,",
    " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, ",
    " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, ",
    " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,",
    " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrName, ",
    " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, ",
    " (SELECT FPOOrdBillNo FROM SEOrder WHERE FInterID=v1.FCnnInterID) as FPOOrdBillNo, ",
    " ts1.FName as FSaleStyleName,ts1.FID as FSaleStyleNumber, ",
    " ts2.FName as FSettleName, ts2.FNumber as FSettleNumber , ",
    " t3_2.FName as FManagerName , t3_2.FNumber as FManagerNumber, ",
    " u1.FItemID, t4.FName as FItemName,t4.FNumber as FItemNumber,t4.FModel as FItemModel, ",
    " t7.FName as FMeasureUnitName,t7.FNumber as FMeasureUnitNumber, ",
    " ti.FName as FMeasureUnitGroupName,ti.FNumber as FMeasureUnitGroupNumber,",
    " u1.FEntryID, u1.FAuxQty,u1.FQty,u1.FAuxPrice,u1.FPrice,u1.FAmount,u1.FNote, ",
    " (SELECT s2.FSourceEntryID FROM SEOrder s1,SEOrderEntry s2 WHERE s1.FInterID=s2.FInterID ",
    " AND s1.FInterID=v1.FInterID AND s2.FEntryID=u1.FSourceEntryID ) as FSourceEntryID, ",
    " tu.FName as FBillerName ",
    " FROM SEOutStock v1,SEOutStockEntry u1,t_Organization t1,t_Department t2,t_SonCompany t10_1, ",
    " t_Currency t12,t_Emp t3_1,t_Emp t3_2,t_SubMessage ts1,t_Settle ts2, ",
    " t_ICItem t4,t_MeasureUnit t7,t_Item ti,t_User tu ",
    kCrLf,
    " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID ",
    " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID ",
    " AND v1.FCustID=t1.FItemID AND v1.FDeptID=t2.FItemID ",
    " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID ",
    " AND v1.FSalType*=ts1.FInterID AND v1.FSettleID*=ts2.FItemID ",
    " AND v1.FEmpID=t3_1.FItemID AND v1.FManagerID=t3_2.FItemID ",
    " AND v1.FBillerID=tu.FUserID ",
};
// The return notice statement is the notice statement without the source-line sub-select.
constexpr size_t kSourceLineFirst = 15;  // 0-based position of the sub-select's first fragment
constexpr size_t kSourceLineCount = 2;

std::string Join(const std::string_view* begin, const std::string_view* end, size_t skip_from = SIZE_MAX,
                 size_t skip_count = 0) {
    std::string text;
    for (const std::string_view* f = begin; f != end; ++f) {
        size_t index = static_cast<size_t>(f - begin);
        if (index >= skip_from && index < skip_from + skip_count) continue;
        text += *f;
    }
    return text;
}

constexpr std::string_view kListSelectionHead = " AND v1.FInterID IN ( ";
constexpr std::string_view kListSelectionTail = ")";
constexpr std::string_view kBranchLookupHead = "SELECT FItemID FROM t_SonCompany WHERE FNumber='";
constexpr std::string_view kBranchLookupName = "' AND FName='";
constexpr std::string_view kDownloadSelectionHead =
    " AND (v1.FTranStatus=0 OR v1.FTranStatus is NULL) and v1.FStatus IN (1,2) AND v1.FRelateBrID=";

constexpr std::string_view kOrderInfoHead =
    "SELECT v1.FTranType,v1.FInterID,v1.FDate,v1.FBillNo,t8.FName as FCompanyName, "
    " t10.FName as FRelateBrName FROM POOrder v1 left join t_Supplier t8 ON v1.FSupplyID=t8.FItemID "
    " Left Join t_SonCompany t10 ON v1.FRelateBrID=t10.FItemID "
    " Where v1.FInterID= ";
constexpr std::string_view kNoticeInfoHead =
    "SELECT v1.FTranType,v1.FInterID,v1.FDate,v1.FBillNo,t1.FName as FCompanyName, "
    " t10.FName as FRelateBrName FROM SEOutStock v1 left join t_Organization t1 ON v1.FCustID=t1.FItemID "
    " Left Join t_SonCompany t10 ON v1.FRelateBrID=t10.FItemID "
    " Where v1.FInterID= ";

constexpr std::string_view kWaitingCountHead = "SELECT count(*) FROM ";
constexpr std::string_view kWaitingCountSelection =
    "(v1.FTranStatus=0 OR v1.FTranStatus IS NULL) AND v1.FStatus IN (1,2) AND v1.FRelateBrID="
    "(SELECT FItemID FROM t_SonCompany WHERE FNumber=?)";

constexpr std::string_view kOrdTranStatusHead = " Update POOrder SET FTranStatus=1 WHERE FInterID In (";
constexpr std::string_view kNoticeTranStatusHead = " Update SEOutStock SET FTranStatus=1 WHERE FInterID In (";
constexpr std::string_view kUnSetOrdTranStatusHead = "Update v1 SET v1.FTranStatus=0 ";
constexpr std::string_view kOrderAffirmHead = "Update v1 SET v1.FOrderAffirm=";
constexpr std::string_view kOrderByBillNo = "FROM POOrder v1 ";
constexpr std::string_view kWhereBillNo = "WHERE v1.FBillNo='";
constexpr std::string_view kAffirmAmount = "UPDATE u1 SET u1.FAmount=ROUND(u1.FAuxPrice*";
constexpr std::string_view kAffirmAmountScale = ",t2.FScale), ";
constexpr std::string_view kAffirmQty = "          u1.FAuxQty = ";
constexpr std::string_view kAffirmFrom = "FROM POOrder v1 INNER JOIN POOrderEntry u1 ON v1.FInterID=u1.FInterID";
constexpr std::string_view kAffirmCurrency = "INNER JOIN t_Currency t2 ON v1.FCurrencyID=t2.FCurrencyID";
constexpr std::string_view kAffirmWhere = "WHERE v1.FBillNo ='";
constexpr std::string_view kAffirmEntry = "' AND u1.FEntryID=";

}  // namespace

const std::string& ExtractionHead(BillKind kind) {
    static const std::string order = Join(std::begin(kPurchaseOrderHead), std::end(kPurchaseOrderHead));
    static const std::string delivery = Join(std::begin(kNoticeHead), std::end(kNoticeHead));
    static const std::string returns =
        Join(std::begin(kNoticeHead), std::end(kNoticeHead), kSourceLineFirst, kSourceLineCount);
    switch (kind) {
        case BillKind::kPurchaseOrder: return order;
        case BillKind::kDeliveryNotice: return delivery;
        case BillKind::kReturnNotice: return returns;
    }
    return order;
}

std::string ListSelection(std::string_view inter_id_list) {
    return fmt::format("{}{}{}", kListSelectionHead, CheckInterIdList(inter_id_list), kListSelectionTail);
}

std::string BranchLookup(std::string_view number, std::string_view name) {
    return fmt::format("{}{}{}{}'", kBranchLookupHead, QuoteText(number), kBranchLookupName, QuoteText(name));
}

std::string DownloadSelection(int32_t branch_id) { return fmt::format("{}{}", kDownloadSelectionHead, branch_id); }

std::optional<std::string> BillInfoStatement(int32_t tran_type, int32_t inter_id) {
    if (tran_type == 71) return fmt::format("{}{}", kOrderInfoHead, inter_id);
    if (tran_type >= 82 && tran_type <= 83) return fmt::format("{}{}", kNoticeInfoHead, inter_id);
    return std::nullopt;
}

std::string WaitingCountStatement(const BillType& type) {
    // A header table that holds other types too is narrowed to the type's own bills.
    const std::string own = type.header_shared ? fmt::format("v1.FTranType={} AND ", type.tran_type) : "";
    return fmt::format("{}{} v1 WHERE {}{}", kWaitingCountHead, type.header_table, own, kWaitingCountSelection);
}

std::string OrdTranStatusStatement(std::string_view inter_id_list) {
    return fmt::format("{}{})", kOrdTranStatusHead, CheckInterIdList(inter_id_list));
}

std::string NoticeTranStatusStatement(std::string_view inter_id_list) {
    return fmt::format("{}{})", kNoticeTranStatusHead, CheckInterIdList(inter_id_list));
}

std::string UnSetOrdTranStatusStatement(std::string_view bill_no) {
    return fmt::format("{}{}{}{}{}{}'", kUnSetOrdTranStatusHead, kCrLf, kOrderByBillNo, kCrLf, kWhereBillNo,
                       QuoteText(bill_no));
}

std::string OrderAffirmStatement(int flag, std::string_view bill_no) {
    return fmt::format("{}{}{}{}{}{}{}'", kOrderAffirmHead, flag, kCrLf, kOrderByBillNo, kCrLf, kWhereBillNo,
                       QuoteText(bill_no));
}

std::string AffirmEntryStatement(std::string_view bill_no, std::string_view entry_id, std::string_view qty) {
    std::string s;
    s.append(kAffirmAmount).append(qty).append(kAffirmAmountScale).append(kCrLf);
    s.append(kAffirmQty).append(qty).append(kCrLf);
    s.append(kAffirmFrom).append(kCrLf);
    s.append(kAffirmCurrency).append(kCrLf);
    s.append(kAffirmWhere).append(QuoteText(bill_no)).append(kAffirmEntry).append(entry_id).append(kCrLf);
    return s;
}

std::string QuoteText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out;
}

std::string_view CheckInterIdList(std::string_view list) {
    auto fail = [&](std::string_view why) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The list of internal numbers '{}' is not valid: {}", list, why));
    };
    if (list.find_first_not_of(" \t") == std::string_view::npos) fail("it is empty");
    size_t i = 0;
    int item = 1;
    for (;;) {
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
        size_t start = i;
        if (i < list.size() && list[i] == '-') ++i;
        size_t digits = 0;
        while (i < list.size() && std::isdigit(static_cast<unsigned char>(list[i]))) ++i, ++digits;
        if (digits == 0 || digits > 10) {
            fail(fmt::format("item {} ('{}') is not a whole number", item,
                             list.substr(start, list.find(',', start) - start)));
        }
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
        if (i == list.size()) return list;
        if (list[i] != ',') {
            fail(fmt::format("item {} is followed by '{}' where a comma should be", item, list[i]));
        }
        ++i;
        ++item;
    }
}

}  // namespace orba::data
