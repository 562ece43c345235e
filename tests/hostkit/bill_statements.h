// The statement texts the bill data access layer sends to the host connection, rebuilt here
// from the same fragments so the dialect tests run exactly what the library will send.
#pragma once

#include <string>
#include <vector>

namespace orba::hostkit::testing {

inline std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += p;
    return out;
}

// Purchase orders with their lines; the related branch is outer-joined.
inline std::string PurchaseOrderHead() {
    return Join({
        " SELECT "
        "v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t8.FName as "
        "FSupplyName, ",
        " t8.FNumber as FSupplyNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,",
        " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, ",
        " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, ",
        " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,",
        " (SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID') as FBrID, ",
        " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE "
        "FCategory='IC' AND FKey='BrID'))as FBrName, ",
        " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile "
        "WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, ",
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
        "\r\n",
        " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID ",
        " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID ",
        " AND v1.FSupplyID=t8.FItemID AND v1.FDeptID=t2.FItemID ",
        " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID ",
        " AND v1.FEmpID=t3_1.FItemID AND v1.FMangerID=t3_2.FItemID ",
        " AND v1.FBillerID=tu.FUserID ",
    });
}

// Delivery notices with their lines: related branch, sale style and settlement are
// outer-joined, and a correlated sub-select finds each line's source line.
inline std::string DeliveryNoticeHead() {
    return Join({
        " SELECT "
        "v1.FTranType,v1.FTranStatus,v1.FInterID,v1.FDate,v1.FBillNo,v1.FExchangeRate,t1.FName as "
        "FCustName, ",
        " t1.FNumber as FCustNumber,t2.FName as FDeptName,t2.FNumber as FDeptNumber ,",
        " t10_1.FName as FRelateBrName, t10_1.FNumber as FRelateBrNumber, ",
        " t12.FName as FCurrencyName, t12.FNumber as FCurrencyNumber, ",
        " t3_1.FName as FEmpName, t3_1.FNumber as FEmpNumber,",
        " (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile WHERE "
        "FCategory='IC' AND FKey='BrID'))as FBrName, ",
        " (SELECT FNumber FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile "
        "WHERE FCategory='IC' AND FKey='BrID'))as FBrNumber, ",
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
        " FROM SEOutStock v1,SEOutStockEntry u1,t_Organization t1,t_Department t2,t_SonCompany "
        "t10_1, ",
        " t_Currency t12,t_Emp t3_1,t_Emp t3_2,t_SubMessage ts1,t_Settle ts2, ",
        " t_ICItem t4,t_MeasureUnit t7,t_Item ti,t_User tu ",
        "\r\n",
        " WHERE v1.FInterID=u1.FInterID and u1.FItemID=t4.FItemID ",
        " AND u1.FUnitID=t7.FItemID AND t7.FUnitGroupID=ti.FItemID ",
        " AND v1.FCustID=t1.FItemID AND v1.FDeptID=t2.FItemID ",
        " AND v1.FRelateBrID*=t10_1.FItemID AND v1.FCurrencyID=t12.FCurrencyID ",
        " AND v1.FSalType*=ts1.FInterID AND v1.FSettleID*=ts2.FItemID ",
        " AND v1.FEmpID=t3_1.FItemID AND v1.FManagerID=t3_2.FItemID ",
        " AND v1.FBillerID=tu.FUserID ",
    });
}

inline const char* const kSelectFirstTwo = " AND v1.FInterID IN ( 1,2)";
inline const char* const kOrderByBillAndLine = " Order by v1.FInterID,u1.FEntryID ";

// Clears the transmitted flag of orders, one statement per order with nothing between them.
inline std::string UnSetOrdTranStatusBatch(const std::vector<std::string>& bill_numbers) {
    std::string out;
    for (const std::string& no : bill_numbers) {
        out +=
            "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='" + no + "'";
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
