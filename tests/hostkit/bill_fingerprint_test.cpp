// The fingerprint decides whether the sending branch may mark a bill: it must change with
// anything that makes another bill, and must not change with what does not.
#include <gtest/gtest.h>

#include "hostkit/bill_fingerprint.h"
#include "platform/date.h"
#include "platform/decimal.h"
#include "support/exchange_records.h"

namespace orba::hostkit {
namespace {

using platform::Decimal;
using platform::Variant;
using orba::testing::List;
using orba::testing::Record;

Variant Bill(Variant tran_status, Variant qty, bool keys_reversed = false, std::string_view note = "箱装") {
    auto line = keys_reversed ? Record({{"Note", Variant(note)}, {"Qty", qty}})
                              : Record({{"Qty", qty}, {"Note", Variant(note)}});
    auto lines = List({Variant(line)});
    if (keys_reversed) {
        return Variant(Record({{"ReqEntry", Variant(lines)}, {"TranStatus", tran_status}, {"BillID", Variant("PO-1")}}));
    }
    return Variant(Record({{"BillID", Variant("PO-1")}, {"TranStatus", tran_status}, {"ReqEntry", Variant(lines)}}));
}

TEST(BillFingerprint, ChangesWithTheBillAndNotWithItsTransmissionFlagOrForm) {
    const std::string base = BillFingerprint(Bill(Variant(int16_t{0}), Variant(Decimal::Parse("5"))));
    EXPECT_EQ(base.size(), 64u);
    struct Case {
        const char* name;
        Variant bill;
        bool same;
    };
    const Case cases[] = {
        {"marked transmitted since", Bill(Variant(int16_t{1}), Variant(Decimal::Parse("5"))), true},
        {"a null transmission flag", Bill(Variant::Null(), Variant(Decimal::Parse("5"))), true},
        {"keys in another order", Bill(Variant(int16_t{0}), Variant(Decimal::Parse("5")), true), true},
        {"the same number as a Long", Bill(Variant(int16_t{0}), Variant(int32_t{5})), true},
        {"the same number with trailing zeros", Bill(Variant(int16_t{0}), Variant(Decimal::Parse("5.000"))), true},
        {"another quantity", Bill(Variant(int16_t{0}), Variant(Decimal::Parse("5.001"))), false},
        {"a null quantity", Bill(Variant(int16_t{0}), Variant::Null()), false},
        {"the quantity as text", Bill(Variant(int16_t{0}), Variant("5")), false},
        {"another note", Bill(Variant(int16_t{0}), Variant(Decimal::Parse("5")), false, "箱装 "), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BillFingerprint(c.bill) == base, c.same) << CanonicalBillText(c.bill);
    }
    // Only the bill's own flag is left out: a line's key of that name is part of the bill.
    auto line_flag = [](int flag) {
        return Variant(Record({{"ReqEntry", Variant(List({Variant(Record({{"TranStatus", Variant(flag)}}))}))}}));
    };
    EXPECT_NE(BillFingerprint(line_flag(0)), BillFingerprint(line_flag(1)));
    EXPECT_EQ(CanonicalBillText(Variant(Record({{"Date", Variant(platform::Date::FromParts(2003, 5, 12))},
                                                {"Nothing", Variant(platform::Ref<platform::Object>())}}))),
              R"({"Date":{"$date":"2003-05-12"},"Nothing":{"$nothing":null}})");
}

}  // namespace
}  // namespace orba::hostkit
