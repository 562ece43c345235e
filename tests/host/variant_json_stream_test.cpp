// Reading JSON in pieces gives what reading the whole text gives: the same tree, or the same
// error at the same line and column, whatever the size of the pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string_view>
#include <string>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "platform/containers.h"
#include "platform/decimal.h"
#include "platform/error.h"
#include "tests/support/variant_tree.h"

namespace orba::host {
namespace {

using platform::Error;
using platform::Ref;
using platform::Variant;
using platform::WriteJson;

// The tree made from `text`, or the error's description.
struct Outcome {
    Variant tree;
    std::string error;
};

Outcome Whole(const std::string& text) {
    try {
        return {FromJson(std::string_view(text)), {}};
    } catch (const Error& e) {
        return {{}, e.Description()};
    }
}

Outcome InPieces(const std::string& text, size_t piece) {
    size_t at = 0;
    platform::JsonSource read = [&](char* buffer, size_t size) {
        const size_t n = std::min({size, piece, text.size() - at});
        std::copy_n(text.data() + at, n, buffer);
        at += n;
        return n;
    };
    try {
        return {FromJson(read), {}};
    } catch (const Error& e) {
        return {{}, e.Description()};
    }
}

// "[\n{},\n{}, ...]": each line one record.
std::string EmptyRecords(int n) {
    std::string text = "[";
    for (int i = 0; i < n; ++i) text += "\n{},";
    text.back() = ']';
    return text;
}

TEST(VariantJsonInPieces, GivesTheSameTreeOrTheSameError) {
    std::string large = "[\n";
    for (int i = 0; i < 3000; ++i) {
        large += R"({"BillID": "PO-)" + std::to_string(i) + R"(", "Name": "苏州锦程 \"精密\"\n\u00e9\ud83d\ude00",)" +
                 R"( "Qty": {"$decimal": "12.5"}, "Rate": 1.25e-3, "Big": -123456789, "Date": {"$date": "2026-12-08"},)" +
                 R"( "Flags": [true, false, null, {"$int16": 501}, {"$empty": null}, {"$nothing": null}]},)" + "\n";
    }
    large += "{}]";
    const std::vector<std::string> texts = {
        large,
        large.substr(0, large.size() / 2),                          // cut off inside
        large.substr(0, 40000) + "\x01" + large.substr(40000),      // a fault far into the text
        "{\n  \"a\": [1,\n  2,, 3]}", "[1, 2", "", "{\"a\" 1}", "tru", "[1] 2", "\"\xff\"",
        R"("\ud800")", R"("\udc00x")", R"("\x")", "\"\xc0\xaf\"", "[1,]", "01", "1.", "-", "nul", "\"open",
        "[1e400]", "  12345678901234567890 ", R"({"k": "\u0041\u00e9\u4e2d"})", "[\"\xe4\xb8\xad\xe6\x96\x87\"]",
        EmptyRecords(100000),  // refused for holding more values than its size allows
    };
    for (const std::string& text : texts) {
        const Outcome whole = Whole(text);
        // Pieces of one byte upwards for the short texts; the long ones cut at odd places.
        const std::vector<size_t> pieces =
            text.size() < 1000 ? std::vector<size_t>{1, 2, 3, 7} : std::vector<size_t>{4093, 65536, 1 << 20};
        for (size_t piece : pieces) {
            SCOPED_TRACE(::testing::Message() << "piece " << piece << ", text of " << text.size() << " bytes: "
                                            << text.substr(0, 40));
            const Outcome pieces = InPieces(text, piece);
            EXPECT_EQ(pieces.error, whole.error);
            if (whole.error.empty()) {
                EXPECT_TRUE(testing::SameTree(whole.tree, pieces.tree));
            }
        }
    }
    EXPECT_TRUE(Whole(large).error.empty());
    const std::string refused = Whole(EmptyRecords(100000)).error;
    EXPECT_NE(refused.find("holds more values than its size allows"), std::string::npos) << refused;
    const std::string far = Whole(large.substr(0, 40000) + "\x01" + large.substr(40000)).error;
    EXPECT_EQ(far.find("line 1,"), std::string::npos) << far;  // the fault is on a later line
}

// A list whose items are made as they are read, from a vector.
class VectorStream : public platform::ListStream {
public:
    explicit VectorStream(std::vector<Variant> items) : items_(std::move(items)) {}
    bool Next(Variant& item) override {
        if (at_ == items_.size()) return false;
        item = items_[at_++];
        return true;
    }

private:
    std::vector<Variant> items_;
    size_t at_ = 0;
};

// A list that keeps nothing and notes each item's place as it arrives.
class Recorder : public platform::ListContainer {
public:
    Recorder(std::string path, std::vector<std::string>& events) : path_(std::move(path)), events_(events) {}
    int32_t Count() const override { return 0; }
    const Variant& At(int32_t) const override { throw Error(platform::ErrorCode::kInvalidProcedureCall, "none"); }
    void Append(Variant value) override { events_.push_back(path_ + " <- " + WriteJson(value, -1)); }
    Variant Invoke(std::string_view, platform::CallKind, std::span<Variant>) override { return {}; }
    std::string_view ClassName() const override { return "Recorder"; }

private:
    std::string path_;
    std::vector<std::string>& events_;
};

TEST(VariantJsonInPieces, AListStreamIsWrittenAsTheListOfTheSameItems) {
    auto record = platform::MakeRef<VariantDictionary>();
    record->Let("Qty", Variant(platform::Decimal::Parse("12.50")));
    record->Set("Lines", platform::MakeRef<VariantVector>());
    const std::vector<std::vector<Variant>> cases = {
        {}, {Variant(int32_t{1})}, {Variant(record), Variant::Null(), Variant(std::string("苏州")), Variant(record)}};
    for (const auto& items : cases) {
        auto list = platform::MakeRef<VariantVector>();
        for (const Variant& v : items) list->Add(v);
        for (int indent : {-1, 2}) {
            EXPECT_EQ(WriteJson(Variant(platform::MakeRef<VectorStream>(items)), indent), WriteJson(Variant(list), indent))
                << items.size() << " items, indent " << indent;
        }
    }
}

// A reader puts a list of its own where it wants each item as soon as it is read: lists no
// deeper than it asks are offered by their path, deeper ones are made as usual.
TEST(VariantJsonInPieces, ListsAtAChosenPathTakeTheirItemsAsTheyAreRead) {
    std::vector<std::string> events;
    platform::ContainerFactory factory = HostContainers();
    factory.path_depth = 3;
    factory.make_list_at = [&](std::string_view path) -> Ref<platform::ListContainer> {
        events.push_back(std::string("open ") + std::string(path));
        if (!path.ends_with("/BillsData")) return {};
        return platform::MakeRef<Recorder>(std::string(path), events);
    };
    const Variant tree = platform::ReadJson(
        R"({"list": [{"BillType": 501, "BillsData": [{"Lines": [[1]]}, 2]}, {"BillsData": []}], "x": [[[[5]]]]})",
        factory);
    EXPECT_EQ(events, (std::vector<std::string>{"open /list", "open /list/0/BillsData",
                                                "/list/0/BillsData <- {\"Lines\":[[1]]}", "/list/0/BillsData <- 2",
                                                "open /list/1/BillsData", "open /x", "open /x/0", "open /x/0/0"}));
    // The lists offered and declined are the usual ones.
    EXPECT_EQ(WriteJson(tree, -1), R"({"list":[{"BillType":501,"BillsData":[]},{"BillsData":[]}],"x":[[[[5]]]]})");
}

}  // namespace
}  // namespace orba::host
