// What the browse window cuts out of the login property string for the list dialog, and how
// keys lead to bill kinds and tab captions.
#include <gtest/gtest.h>

#include "ui/browse/bill_kinds.h"

namespace orba::ui {
namespace {

TEST(BillKinds, ListLoginIsCutFromThePropertyString) {
    struct Case {
        const char* props;
        const char* base_info;
    };
    const Case cases[] = {
        {"AcctDB={Data Source=a.db};UserName=李明;UserID=0012;", "Data Source=a.db|12|李明"},
        {"acctdb={x};userid=7.5kg;username=Wang;", "x|8|Wang"},  // names in any case; leading number, rounded
        {"AcctDB={x};UserID=8.5;", "x|8|"},                      // half to even; no name
        {"UserID=abc;UserName=Li", "|0|Li"},                     // no braces; no number; name to the end
        {"A={open;UserID=3", "|3|"},                              // an unclosed brace gives no base text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.props);
        EXPECT_EQ(BaseInfoText(CutListLogin(c.props)), c.base_info);
    }
}

TEST(BillKinds, EitherKeyOfAPairLeadsToItsKindAndCaption) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"POOrd", 0, "采购订单"}, {"SEOrd", 0, "销售订单"},   {"SEOut", 1, "发货通知单"}, {"POIn", 1, "收料通知单"},
        {"SEIn", 2, "退货通知单"}, {"POOut", 2, "退料通知单"}, {"poord", -1, ""},          {"", -1, ""},
    };
    for (const auto& [key, kind, caption] : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(KindOfKey(key), kind);
        EXPECT_EQ(TabCaption(key), caption);
    }
}

}  // namespace
}  // namespace orba::ui
