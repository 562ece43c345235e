// The statements the bill data layer sends to a branch database, word for word, so tests
// can check that the ERP schema carries every table and column they read or write.
#pragma once

#include <string>
#include <vector>

namespace orba::hostkit::testing {

inline const std::string kPurchaseOrderHead =
    " SELECT v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t8.FName as FSupplyName, "
    " t8.FNumber as FSupplyNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,"
    " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, "
    " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, "
    " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,"
    " (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID') as FBrID, "
    " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrName, "
    " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, "
    " v1.FPoStyle,t3_2.FName as FManagerName , t3_2.FNumber as FManagerNumber, "
    " u1.FItemID, t4.FName as FItemName,t4.FNumber as FItemNumber,t4.FModel as FItemModel, "
    " t7.FName as FMeasureUnitName,t7.FNumber as FMeasureUnitNumber, "
    " ti.FName as FMeasureUnitGroupName,ti.FNumber as FMeasureUnitGroupNumber,"
    " u1.FEntryID, u1.FAuxQty,u1.FQty,u1.FAuxPrice,u1.FPrice,u1.FTaxRate,u1.FCess, "
    " u1.FAmount,u1.FDate as FFetchDate,u1.FNote, "
    " tu.FName as FBillerName "
    " FROM POOrder v1,POOrderEntry u1,t_Supplier t8,t_Department t2,t_SonCompany t10_1, "
    " t_Currency t12,t_Emp t3_1,t_Emp t3_2,"
    " t_ICItem t4,t_MeasureUnit t7,t_Item ti,t_User tu "
    "\r\n"
    " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID "
    " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID "
    " AND v1.FSupplyID=t8.FItemID AND v1.FDeptID=t2.FItemID "
    " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID "
    " AND v1.FEmpID=t3_1.FItemID AND v1.FMangerID=t3_2.FItemID "
    " AND v1.FBillerID=tu.FUserID ";

inline const std::string kNoticeSelectStart =
    " SELECT v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t1.FName as FCustName, "
    " t1.FNumber as FCustNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,"
    " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, "
    " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, "
    " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,"
    " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrName, "
    " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, "
    " (SELECT FPOOrdBillNo FROM SEOrder WHERE FInterID=v1.FCnnInterID) as FPOOrdBillNo, "
    " ts1.FName as FSaleStyleName,ts1.FID as FSaleStyleNumber, "
    " ts2.FName as FSettleName, ts2.FNumber as FSettleNumber , "
    " t3_2.FName as FManagerName , t3_2.FNumber as FManagerNumber, "
    " u1.FItemID, t4.FName as FItemName,t4.FNumber as FItemNumber,t4.FModel as FItemModel, "
    " t7.FName as FMeasureUnitName,t7.FNumber as FMeasureUnitNumber, "
    " ti.FName as FMeasureUnitGroupName,ti.FNumber as FMeasureUnitGroupNumber,"
    " u1.FEntryID, u1.FAuxQty,u1.FQty,u1.FAuxPrice,u1.FPrice,u1.FAmount,u1.FNote, ";

inline const std::string kNoticeSourceLine =
    " (SELECT s2.FSourceEntryID FROM SEOrder s1,SEOrderEntry s2 WHERE s1.FInterID=s2.FInterID "
    " AND s1.FInterID=v1.FInterID AND s2.FEntryID=u1.FSourceEntryID ) as FSourceEntryID, ";

inline const std::string kNoticeSelectEnd =
    " tu.FName as FBillerName "
    " FROM SEOutStock v1,SEOutStockEntry u1,t_Organization t1,t_Department t2,t_SonCompany t10_1, "
    " t_Currency t12,t_Emp t3_1,t_Emp t3_2,t_SubMessage ts1,t_Settle ts2, "
    " t_ICItem t4,t_MeasureUnit t7,t_Item ti,t_User tu "
    "\r\n"
    " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID "
    " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID "
    " AND v1.FCustID=t1.FItemID AND v1.FDeptID=t2.FItemID "
    " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID "
    " AND v1.FSalType*=ts1.FInterID AND v1.FSettleID*=ts2.FItemID "
    " AND v1.FEmpID=t3_1.FItemID AND v1.FManagerID=t3_2.FItemID "
    " AND v1.FBillerID=tu.FUserID ";

inline const std::string kDeliveryNoticeHead = kNoticeSelectStart + kNoticeSourceLine + kNoticeSelectEnd;
inline const std::string kReturnNoticeHead = kNoticeSelectStart + kNoticeSelectEnd;

inline const std::string kDownloadSelection =
    " AND (v1.FTranStatus=0 OR v1.FTranStatus is NULL) and v1.FStatus IN (1,2) AND v1.FRelateBrID=";
inline const std::string kListSelection = " AND v1.FInterID IN ( ";
inline const std::string kBillOrder = " Order by v1.FInterID,u1.FEntryID ";
inline const std::string kBranchLookup = "SELECT FItemID FROM t_SonCompany WHERE FNumber='";

inline const std::string kOrderSummary =
    "SELECT v1.FTranType,v1.FInterID,v1.FDate,v1.FBillNo,t8.FName as FCompanyName, "
    " t10.FName as FRelateBrName FROM POOrder v1 left join t_Supplier t8 ON v1.FSupplyID=t8.FItemID "
    " Left Join t_SonCompany t10 ON v1.FRelateBrID=t10.FItemID "
    " Where v1.FInterID= ";
inline const std::string kNoticeSummary =
    "SELECT v1.FTranType,v1.FInterID,v1.FDate,v1.FBillNo,t1.FName as FCompanyName, "
    " t10.FName as FRelateBrName FROM SEOutStock v1 left join t_Organization t1 ON v1.FCustID=t1.FItemID "
    " Left Join t_SonCompany t10 ON v1.FRelateBrID=t10.FItemID "
    " Where v1.FInterID= ";

// The status updates; those written as UPDATE alias ... FROM are given in the form SQLite
// takes, with the same tables and columns.
inline const std::string kOrderTransmitted = " Update POOrder SET FTranStatus=1 WHERE FInterID In (1,2)";
inline const std::string kNoticeTransmitted = " Update SEOutStock SET FTranStatus=1 WHERE FInterID In (1,2)";
inline const std::string kOrderNotTransmitted =
    "UPDATE POOrder AS v1 SET FTranStatus=0 WHERE v1.FBillNo='POOR01-000001'";
inline const std::string kOrderAffirmed =
    "UPDATE POOrder AS v1 SET FOrderAffirm=1 WHERE v1.FBillNo='POOR01-000001'";
inline const std::string kOrderLineAffirmed =
    "UPDATE POOrderEntry AS u1 SET FAmount=ROUND(u1.FAuxPrice*3,t2.FScale), FAuxQty = 3 "
    "FROM POOrder v1 INNER JOIN t_Currency t2 ON v1.FCurrencyID=t2.FCurrencyID "
    "WHERE v1.FInterID=u1.FInterID AND v1.FBillNo ='POOR01-000001' AND u1.FEntryID=1";

// The old outer-join operator as a plain join: enough for SQLite to check every name, and
// the same rows wherever the outer-joined column is not null.
inline std::string PlainJoins(std::string sql) {
    for (size_t at = sql.find("*="); at != std::string::npos; at = sql.find("*=", at)) {
        sql.erase(at, 1);
    }
    return sql;
}

inline std::string PurchaseOrderHead() { return kPurchaseOrderHead; }
inline std::string DeliveryNoticeHead() { return kDeliveryNoticeHead; }

inline const char* const kSelectFirstTwo = " AND v1.FInterID IN ( 1,2)";
inline const char* const kOrderByBillAndLine = " Order by v1.FInterID,u1.FEntryID ";

// Clears the transmitted flag of orders, one statement per order with nothing between them.
inline std::string UnSetOrdTranStatusBatch(const std::vector<std::string>& bill_numbers) {
    std::string out;
    for (const std::string& no : bill_numbers) {
        out += "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='" + no + "'";
    }
    return out;
}

struct ConfirmedLine {
    std::string bill_no;
    std::string entry_id;
    std::string qty;
};

// Writes confirmed quantities onto order lines, the amount rounded to the currency's decimals.
inline std::string AffirmPurchaseOrderBatch(const std::vector<ConfirmedLine>& lines) {
    std::string out;
    for (const ConfirmedLine& l : lines) {
        out += "UPDATE u1 SET u1.FAmount=ROUND(u1.FAuxPrice*" + l.qty + ",t2.FScale), \r\n";
        out += "          u1.FAuxQty = " + l.qty + "\r\n";
        out += "FROM POOrder v1 INNER JOIN POOrderEntry u1 ON v1.FInterID=u1.FInterID\r\n";
        out += "INNER JOIN t_Currency t2 ON v1.FCurrencyID=t2.FCurrencyID\r\n";
        out += "WHERE v1.FBillNo ='" + l.bill_no + "' AND u1.FEntryID=" + l.entry_id + "\r\n";
    }
    return out;
}

}  // namespace orba::hostkit::testing
