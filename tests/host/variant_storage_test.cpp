// How a value keeps its text and its object: short texts inside the value, longer ones in a
// block shared by copies, and every copy, move and assignment leaving each value whole.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {
namespace {

TEST(VariantStorage, TextsOfEveryLengthSurviveCopyMoveAndAssignment) {
    // Around the length kept inside the value, with a zero byte and multi-byte characters.
    const std::vector<std::string> texts = {
        "", "a", std::string(21, 'x'), std::string(22, 'y'), std::string(23, 'z'),
        std::string("nul\0inside", 10), "苏州锦程精密机械有限公司", std::string(5000, 'q')};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        Variant original(text);
        Variant copy(original);
        Variant assigned = Variant(int32_t{7});
        assigned = copy;
        Variant moved(std::move(copy));
        EXPECT_TRUE(copy.IsEmpty());  // NOLINT: a moved-from value is Empty
        original = Variant(int32_t{1});  // the copies keep the text when the first lets go
        EXPECT_EQ(moved.AsString(), text);
        EXPECT_EQ(assigned.AsString(), text);
        EXPECT_EQ(moved, assigned);
        assigned = assigned;  // NOLINT: assigning a value to itself keeps it
        EXPECT_EQ(assigned.ToText(), text);
        std::vector<Variant> grown;
        for (int i = 0; i < 40; ++i) grown.push_back(moved);  // moved as the vector grows
        for (const Variant& v : grown) EXPECT_EQ(v.AsString(), text);
    }
}

TEST(VariantStorage, ValueTakenFromTheObjectItHoldsIsKept) {
    // The record is held only by `holder`; assigning its entry to `holder` lets the record go.
    Variant holder;
    {
        auto record = MakeRef<host::VariantDictionary>();
        record->Put("Key", Variant(std::string(100, 'k')));
        holder = Variant(record);
    }
    Variant entry = ObjectAs<host::VariantDictionary>(holder)->Value("Key");
    holder = std::move(entry);
    EXPECT_EQ(holder.AsString(), std::string(100, 'k'));
    holder = Variant(MakeRef<host::VariantDictionary>());
    auto record = ObjectAs<host::VariantDictionary>(holder);
    record->Put("Self", Variant(Ref<Object>(record)));
    record->Put("Self", Variant());  // breaks the cycle through the held object
    EXPECT_EQ(record->RefCount(), 2);
}

TEST(VariantStorage, ARecordGrowsBeyondTheRoomItWasMadeWith) {
    for (size_t room : {size_t{0}, size_t{1}, size_t{3}}) {
        SCOPED_TRACE(room);
        auto record = host::VariantDictionary::WithRoom(room);
        for (int i = 0; i < 40; ++i) record->Put("K" + std::to_string(i), Variant(std::string(i, 'v')));
        record->Put("K2", Variant(int32_t{2}));  // replaced in place, not added
        ASSERT_EQ(record->Size(), 40u);
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(record->KeyAt(static_cast<size_t>(i)), "K" + std::to_string(i));
            if (i != 2) {
                EXPECT_EQ(record->Value("K" + std::to_string(i)).AsString(), std::string(i, 'v'));
            }
        }
        EXPECT_EQ(record->Value("K2"), Variant(int32_t{2}));
        EXPECT_THROW((void)record->KeyAt(40), std::out_of_range);
    }
}

TEST(VariantStorage, ReadingAnotherKindRaisesATypeMismatch) {
    try {
        (void)Variant(int32_t{5}).AsString();
        FAIL() << "a Long was read as text";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kTypeMismatch);
        EXPECT_NE(e.Description().find("Long"), std::string::npos) << e.Description();
    }
    EXPECT_THROW((void)Variant("text").AsDecimal(), Error);
    EXPECT_THROW((void)Variant::Null().AsObject(), Error);
}

}  // namespace
}  // namespace orba::platform
