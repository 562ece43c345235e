// The JSON form of variant trees: every kind survives a round trip, and broken input is
// refused with an Error that says where.
#include "host/variant_json.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/error.h"
#include "tests/support/exchange_records.h"
#include "tests/support/variant_tree.h"

namespace orba::host {
namespace {

using platform::Date;
using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::VarType;
using testing::SameTree;

TEST(VariantJson, EveryPlainKindRoundTrips) {
    const std::vector<Variant> values = {
        Variant(),
        Variant::Null(),
        Variant(true),
        Variant(false),
        Variant(int16_t{501}),
        Variant(int16_t{-32768}),
        Variant(int32_t{0}),
        Variant(int32_t{-2147483647 - 1}),
        Variant(int32_t{2147483647}),
        Variant(2.0),
        Variant(-0.5),
        Variant(1e300),
        Variant(0.1 + 0.2),
        Variant(Decimal::Parse("117.5")),
        Variant(Decimal::Parse("-0.000000000000000000000000000001")),
        Variant(Decimal::Parse("1234567890123456789012345678.901234")),
        Variant(Date::FromParts(2003, 5, 12)),
        Variant(Date::FromParts(2003, 5, 12, 10, 20, 30)),
        Variant(""),
        Variant("say \"hi\"\\ back"),
        Variant("供应商 – Müller"),
        Variant(std::string("tab\there\ncontrol\x01 nul\0 end", 26)),
        Variant::Nothing(),
    };
    for (const Variant& v : values) {
        for (int indent : {2, -1}) {
            const std::string json = ToJson(v, indent);
            EXPECT_TRUE(SameTree(v, FromJson(json))) << json;
        }
    }
}

TEST(VariantJson, WritesTheDocumentedForms) {
    EXPECT_EQ(ToJson(Variant(int16_t{501})), R"({"$int16": 501})");
    EXPECT_EQ(ToJson(Variant(int32_t{501})), "501");
    EXPECT_EQ(ToJson(Variant(2.0)), "2.0");
    EXPECT_EQ(ToJson(Variant(Decimal::Parse("117.50"))), R"({"$decimal": "117.5"})");
    EXPECT_EQ(ToJson(Variant(Date::FromParts(2003, 5, 12))), R"({"$date": "2003-05-12"})");
    EXPECT_EQ(ToJson(Variant(Date::FromParts(2003, 5, 12, 10, 20, 30))),
              R"({"$date": "2003-05-12T10:20:30"})");
    EXPECT_EQ(ToJson(Variant()), R"({"$empty": null})");
    EXPECT_EQ(ToJson(Variant::Nothing()), R"({"$nothing": null})");
    EXPECT_EQ(ToJson(Variant::Null()), "null");
    EXPECT_EQ(ToJson(Variant(std::string("a\"\x01"))), R"("a\"\u0001")");
    EXPECT_EQ(FromJson("2.0").Type(), VarType::kDouble);
    EXPECT_EQ(FromJson("1e2").Type(), VarType::kDouble);
    EXPECT_EQ(FromJson("-7").Type(), VarType::kLong);
}

// A transmission list in miniature: packages holding bills holding entry lines.
Variant SampleTree() {
    auto list = MakeRef<VariantVector>();
    auto package = MakeRef<VariantDictionary>();
    package->Let("BillType", Variant(int16_t{501}));
    package->Let("BillName", Variant("采购订单"));
    auto bills = MakeRef<VariantVector>();
    auto bill = MakeRef<VariantDictionary>();
    bill->Let("Zeta", Variant(int32_t{1}));  // store order, not alphabetical order
    bill->Let("BillInterID", Variant(int32_t{1001}));
    bill->Let("Date", Variant(Date::FromParts(2003, 5, 12)));
    bill->Let("Amount", Variant(Decimal::Parse("117")));
    bill->Let("Note", Variant::Null());
    auto entries = MakeRef<VariantVector>();
    auto entry = MakeRef<VariantDictionary>();
    entry->Let("Qty", Variant(Decimal::Parse("2.5")));
    entries->Add(Variant(entry));
    bill->Set("Entries", entries);
    bill->Set("Empty list", MakeRef<VariantVector>());
    bill->Set("Empty record", MakeRef<VariantDictionary>());
    auto tagged = MakeRef<VariantDictionary>();
    tagged->Let("$int16", Variant("not a tag"));
    bill->Set("Tagged", tagged);
    bills->Add(Variant(bill));
    package->Set("BillsData", bills);
    list->Add(Variant(package));
    return Variant(list);
}

TEST(VariantJson, NestedContainersRoundTripInStoreOrder) {
    const Variant tree = SampleTree();
    for (int indent : {2, 0, -1}) {
        const std::string json = ToJson(tree, indent);
        EXPECT_TRUE(SameTree(tree, FromJson(json))) << json;
    }
    const std::string json = ToJson(tree, -1);
    EXPECT_LT(json.find("\"Zeta\""), json.find("\"BillInterID\"")) << json;
    EXPECT_NE(json.find(R"({"$dict": {"$int16":"not a tag"}})"), std::string::npos) << json;
}

// Which objects are tags and which are plain records, as the reader decides from the keys.
TEST(VariantJson, TagsAreOneKeyObjectsAndEverythingElseIsARecord) {
    const struct {
        const char* json;
        const char* reads_as;  // the value written again, compact
    } cases[] = {
        {R"({})", R"({})"},
        {R"({"a": 1})", R"({"a":1})"},
        {R"([{"$decimal": "1.50"}, {"$empty": null}, {"$int16": -2}])", R"([{"$decimal": "1.5"},{"$empty": null},{"$int16": -2}])"},
        // A "$" key followed by more keys is an ordinary key.
        {R"({"$int16": 5, "x": "y"})", R"({"$int16":5,"x":"y"})"},
        // Inside "$dict" a lone "$" key is a key; where "$dict" is itself an ordinary key, the
        // object under it is read as any other.
        {R"({"$dict": {"$int16": 5}})", R"({"$dict": {"$int16":5}})"},
        {R"({"$dict": {"$int16": 5}, "x": 1})", R"({"$dict":{"$int16": 5},"x":1})"},
        {R"({"k": {"$dict": {}}})", R"({"k":{}})"},
        {R"({"k": {"$nothing": null}, "n": [[], {}]})", R"({"k":{"$nothing": null},"n":[[],{}]})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToJson(FromJson(c.json), -1), c.reads_as) << c.json;
    }
}

TEST(VariantJson, ReadsContainersAsTheHostsClasses) {
    const Variant v = FromJson(R"([{"b": 1, "a": [true]}])");
    auto list = platform::RefCast<VariantVector>(v.AsObject());
    ASSERT_TRUE(list);
    auto record = platform::RefCast<VariantDictionary>(list->Item(1).AsObject());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->KeyAt(0), "b");
    EXPECT_EQ(record->Value("b"), Variant(int32_t{1}));
    EXPECT_EQ(platform::RefCast<VariantVector>(record->Value("a").AsObject())->Item(1),
              Variant(true));
}

TEST(VariantJson, RefusesObjectsItCannotWrite) {
    auto record = MakeRef<VariantDictionary>();
    record->Let("x", Variant(std::nan("")));
    EXPECT_THROW(ToJson(Variant(record)), Error);
}

struct BadInput {
    const char* json;
    const char* where;  // a part of the message that says where the fault is
};

void ExpectRefused(const std::vector<BadInput>& cases) {
    for (const auto& c : cases) {
        const std::string_view shown = std::string_view(c.json).substr(0, 200);  // a long text's start
        try {
            FromJson(c.json);
            ADD_FAILURE() << "accepted " << shown;
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), ErrorCode::kSyntaxError) << shown << ": " << e.Description();
            EXPECT_NE(e.Description().find(c.where), std::string::npos)
                << shown << ": " << e.Description();
        } catch (const std::exception& e) {
            ADD_FAILURE() << shown << " raised a foreign exception: " << e.what();
        }
    }
}

TEST(VariantJson, SyntaxErrorsGiveLineAndColumn) {
    ExpectRefused({
        {"{\n  \"a\": [1,\n  2,, 3]}", "line 3, column 5"},
        {"[1, 2", "line 1, column 6"},
        {"", "line 1, column 1"},
        {"{\"a\" 1}", "line 1, column 6"},
        {"tru", "line 1"},
        {"[1] 2", "line 1, column 5"},
        {"\"\xff\"", "line 1"},
    });
}

TEST(VariantJson, BadTaggedValuesGiveThePath) {
    ExpectRefused({
        {R"([1, {"q": {"$int16": 40000}}])", "/1/q/$int16"},
        {R"({"q": {"$int16": 1.5}})", "/q/$int16"},
        {R"({"q": {"$decimal": 117.5}})", "/q/$decimal"},
        {R"({"q": {"$decimal": "1,5"}})", "/q/$decimal"},
        {R"({"d": {"$date": "2003-02-30"}})", "/d/$date"},
        {R"({"d": {"$date": 37753}})", "/d/$date"},
        {R"({"x": {"$dict": [1]}})", "/x/$dict"},
        {R"({"x": {"$money": 5}})", "$money"},
        {R"([{"$nothin": null}])", "/0"},
    });
}

TEST(VariantJson, WholeNumbersOutsideLongAreRefusedWithThePath) {
    ExpectRefused({
        {R"({"n": 2147483648})", "/n"},
        {R"({"n": -2147483649})", "/n"},
        {R"([0, 18446744073709551615])", "/1"},
        {R"({"big": [100000000000000000000]})", "/big/0"},
        {R"({"neg": -123456789012345678901234567890})", "/neg"},
    });
}

TEST(VariantJson, StringsAndNumbersReadAsJsonDefinesThem) {
    const struct {
        const char* json;
        Variant value;
    } cases[] = {
        {R"("a\"b\\c\/d\b\f\n\r\t")", Variant("a\"b\\c/d\b\f\n\r\t")},
        {R"("\u00e9\u4e0a\ud83d\ude00")", Variant("\u00e9\u4e0a\U0001F600")},
        {"\"\u00e9\u4e0a\U0001F600\"", Variant("\u00e9\u4e0a\U0001F600")},
        {" \t\r\n -0 ", Variant(int32_t{0})},
        {"-2147483648", Variant(int32_t{INT32_MIN})},
        {"2.5e-1", Variant(0.25)},
        {"1E2", Variant(100.0)},
        {"1e-400", Variant(0.0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FromJson(c.json), c.value) << c.json;
    }
    ExpectRefused({
        {R"("\ud800")", "line 1, column 8"},
        {R"("\udc00x")", "line 1"},
        {R"("\x")", "line 1, column 3"},
        {"\"a\tb\"", "line 1, column 3"},
        {"\"\xc0\xaf\"", "line 1, column 2"},
        {"[1,]", "line 1, column 4"},
        {"{\"a\":1,}", "line 1, column 8"},
        {"01", "line 1, column 2"},
        {"1.", "line 1, column 3"},
        {"-", "line 1, column 2"},
        {"nul", "line 1, column 1"},
        {"\"open", "line 1, column 6"},
    });
}

TEST(VariantJson, NumbersBeyondADoubleAreRefused) {
    ExpectRefused({
        {"[1e400]", "line 1"},
        {R"({"x": -1e999})", "line 1"},
    });
}

TEST(VariantJson, DeepNestingIsRefusedNotACrash) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    ExpectRefused({{deep.c_str(), "nested"}});
    const std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(FromJson(fine).IsObject());
}

TEST(VariantJson, ARecordOfManyKeysFindsEachOneAtOnce) {
    // Found by scanning the record, these keys took minutes to read.
    constexpr int kKeys = 200000;
    std::string text = "{";
    for (int i = 0; i < kKeys; ++i) text += fmt::format(R"("k{}":{},)", i, i);
    text += R"("k7":"again"})";  // a key given twice keeps its place and takes the last value
    const auto record = platform::ObjectAs<VariantDictionary>(FromJson(text));
    ASSERT_TRUE(record);
    ASSERT_EQ(record->Size(), size_t{kKeys});
    for (int i = 0; i < kKeys; ++i) {
        const std::string key = fmt::format("k{}", i);
        ASSERT_EQ(record->KeyAt(static_cast<size_t>(i)), key);
        ASSERT_EQ(record->Value(key), i == 7 ? Variant("again") : Variant(int32_t{i}));
    }
    EXPECT_FALSE(record->Exists("k"));
}

TEST(VariantJson, ATextOfMoreValuesThanItsSizeAllowsIsRefusedEarly) {
    // A few bytes each that make containers or record entries of a hundred bytes.
    using Items = std::tuple<const char*, const char*, const char*>;
    for (const auto& [open, item, close] : {Items{"[", "{}", "]"}, {"[", "[]", "]"}, {"{", R"("a":1)", "}"}}) {
        std::string text = open;
        for (int i = 0; i < 500000; ++i) text.append(item).append(",");
        text.back() = *close;
        ExpectRefused({{text.c_str(), "line 1, column"},
                       {text.c_str(), "holds more values than its size allows"}});
    }
    // Bills as branches exchange them, beyond the allowance every text has, read.
    auto bills = MakeRef<VariantVector>();
    for (int32_t b = 0; b < 5000; ++b) {
        auto line = testing::Record({{"EntryID", Variant(b)}, {"Item", Variant(testing::BranchRecord("1.01", "Bolt"))},
                                     {"Qty", Variant(Decimal::Parse("12.5"))}, {"Note", Variant("")}});
        bills->Add(Variant(testing::Record({{"BillID", Variant(fmt::format("PO{:06}", b))}, {"TranStatus", Variant(b)},
                                            {"Date", Variant(Date::Parse("2003-05-12"))},
                                            {"ReqEntry", Variant(testing::List({Variant(line), Variant(line)}))}})));
    }
    const std::string list = ToJson(Variant(bills), -1);
    ASSERT_GT(list.size(), size_t{1} << 20);
    EXPECT_TRUE(SameTree(Variant(bills), FromJson(list)));
}

TEST(VariantJson, ADecimalIsKeptExactlyOrRefusedNamingWhere) {
    auto list_with = [](std::string_view qty) {
        return fmt::format(R"({{"BillsData":[{{"BillID":"PO-1"}},{{"ReqEntry":[{{"Qty":1}},{}]}}]}})",
                           fmt::format(R"({{"Qty":{{"$decimal": "{}"}}}})", qty));
    };
    EXPECT_EQ(ToJson(FromJson(list_with("1.000000000000000000000000000000000000000")), -1), list_with("1"));
    const std::string rounded = list_with("12345678901234567890123456789012345.6");
    ExpectRefused({{rounded.c_str(), "/BillsData/1/ReqEntry/1/Qty/$decimal: expected a decimal number of at most 34"},
                   {rounded.c_str(), "\"12345678901234567890123456789012345.6\" would be rounded"}});
}

TEST(VariantJson, ALoopInATreeIsRefusedNotACrash) {
    auto record = MakeRef<VariantDictionary>();
    record->Set("self", record);
    EXPECT_THROW(ToJson(Variant(record)), Error);
    record->Set("self", Ref<platform::Object>());  // break the loop so the record is freed
}

}  // namespace
}  // namespace orba::host
