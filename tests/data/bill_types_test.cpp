// The table of bill types: each look-up leads back to the same row, a code outside the table
// finds none, and the texts made from the table are the ones messages and status counts use.
#include <gtest/gtest.h>

#include "data/bill_types.h"
#include "data/sql_text.h"

namespace orba::data {
namespace {

TEST(BillTypes, EveryLookUpLeadsBackToItsRow) {
    for (const BillType& type : kBillTypes) {
        SCOPED_TRACE(type.code);
        EXPECT_EQ(FindBillType(type.code), &type);
        EXPECT_EQ(&BillTypeOf(type.kind), &type);
        EXPECT_EQ(FindBillTypeByTranType(type.tran_type), &type);
    }
    for (int32_t other : {0, 71, 500, 504, -501}) {
        EXPECT_EQ(FindBillType(other), nullptr) << other;
    }
    EXPECT_EQ(FindBillTypeByTranType(501), nullptr);
    EXPECT_EQ(AllBillTypeCodes(), (std::vector<int32_t>{501, 502, 503}));
    EXPECT_EQ(BillTypeCodesText(), "501, 502, 503");
}

TEST(BillTypes, WaitingCountsSelectEachTypesOwnBills) {
    const std::string tail =
        "(v1.FTranStatus=0 OR v1.FTranStatus IS NULL) AND v1.FStatus IN (1,2) AND v1.FRelateBrID="
        "(SELECT FItemID FROM t_SonCompany WHERE FNumber=?)";
    EXPECT_EQ(WaitingCountStatement(BillTypeOf(BillKind::kPurchaseOrder)),
              "SELECT count(*) FROM POOrder v1 WHERE " + tail);
    EXPECT_EQ(WaitingCountStatement(BillTypeOf(BillKind::kDeliveryNotice)),
              "SELECT count(*) FROM SEOutStock v1 WHERE v1.FTranType=83 AND " + tail);
    EXPECT_EQ(WaitingCountStatement(BillTypeOf(BillKind::kReturnNotice)),
              "SELECT count(*) FROM SEOutStock v1 WHERE v1.FTranType=82 AND " + tail);
}

}  // namespace
}  // namespace orba::data
