// The transport files of the command-line host: a request and a transmission list survive
// the file exactly, and a file of another format, version or shape is refused with its name.
#include "exchange/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <filesystem>
#include <string>

#include "data/bill_records.h"
#include "exchange/steps.h"
#include "host/variant_json.h"
#include "platform/decimal.h"
#include "platform/error.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"

namespace orba::apps {

using namespace orba::exchange;
namespace {

using host::VariantDictionary;
using host::VariantVector;
using platform::Date;
using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::Variant;
using platform::VarType;
using testing::List;
using testing::Package;
using testing::Record;
namespace key = data::key;

// A package with one bill whose values need every tagged form of the JSON codec.
Ref<VariantVector> SampleList() {
    auto line = Record({{key::kBillID, Variant("PO-1")},
                        {key::kEntryID, Variant(int32_t{1})},
                        {key::kQty, Variant(Decimal::Parse("0.3333333333"))},
                        {"AmtFor", Variant(Decimal::Parse("-12345678901234.56"))},
                        {"Price", Variant(0.1)},
                        {"Note", Variant::Null()}});
    auto bill = Record({{key::kBillType, Variant(int16_t{71})},
                        {"TranStatus", Variant::Null()},
                        {key::kBillInterID, Variant(int32_t{12})},
                        {"Date", Variant(Date::FromParts(2003, 5, 12))},
                        {key::kBillID, Variant("PO-1 ")},
                        {"SaleType", Variant(Record({{key::kName, Variant("零售")}, {"ClassID", Variant(int16_t{0})}}))},
                        {key::kReqEntry, Variant(List({Variant(line)}))}});
    return List({Variant(Package(int16_t{501}, Variant(List({Variant(bill)})))),
                 Variant(Package(502, Variant::Nothing())),
                 Variant(Record({{key::kBillType, Variant(504)}}))});
}

TEST(TransportTest, AListFileReadsBackAsWritten) {
    const ListFile sent{{"01.001", "上海"}, {"01.002", "苏州"}, Date::FromParts(2026, 3, 4, 5, 6, 7), SampleList()};
    const std::string text = WriteListFile(sent);
    const ListFile read = ReadListFile(text, "list.json");
    EXPECT_EQ(read.sender.number, "01.001");
    EXPECT_EQ(read.sender.name, "上海");
    EXPECT_EQ(read.receiver.number, "01.002");
    EXPECT_EQ(read.receiver.name, "苏州");
    EXPECT_EQ(read.created.ToString(), sent.created.ToString());
    // Every value keeps its kind and digits: written again, the file is the same.
    EXPECT_EQ(host::ToJson(Variant(read.list)), host::ToJson(Variant(sent.list)));
    EXPECT_EQ(WriteListFile(read), text);

    auto bill = platform::RefCast<VariantDictionary>(testing::BillsOf(read.list->Item(1))->Item(1).AsObject());
    auto line = platform::RefCast<VariantDictionary>(
        platform::RefCast<VariantVector>(bill->Value(key::kReqEntry).AsObject())->Item(1).AsObject());
    EXPECT_EQ(line->Value(key::kQty).Type(), VarType::kDecimal);
    EXPECT_EQ(line->Value("AmtFor").ToDecimal().ToString(), "-12345678901234.56");
    EXPECT_EQ(bill->Value(key::kBillType).Type(), VarType::kInteger);
    EXPECT_TRUE(bill->Value("TranStatus").IsNull());
    EXPECT_EQ(bill->Value(key::kBillID).ToText(), "PO-1 ");
    auto nothing = platform::RefCast<VariantDictionary>(read.list->Item(2).AsObject());
    EXPECT_TRUE(nothing->Value(key::kBillsData).IsNothing());
    EXPECT_FALSE(platform::RefCast<VariantDictionary>(read.list->Item(3).AsObject())->Exists(key::kBillsData));
}

TEST(TransportTest, ARequestFileHoldsSixteenBitCodesInOrder) {
    const RequestFile sent{Date::FromParts(2026, 1, 2), MakeRequests({503, 501, 502})};
    const RequestFile read = ReadRequestFile(WriteRequestFile(sent), "requests.json");
    ASSERT_EQ(read.requests->UpperBound(), 3);
    const int codes[] = {503, 501, 502};
    for (int32_t i = 1; i <= 3; ++i) {
        auto item = platform::RefCast<VariantDictionary>(read.requests->Item(i).AsObject());
        EXPECT_EQ(item->Value(key::kBillType).Type(), VarType::kInteger);
        EXPECT_EQ(item->Value(key::kBillType).ToLong(), codes[i - 1]);
    }
}

TEST(TransportTest, AnUnusableFileIsRefusedWithItsName) {
    const std::string good = WriteListFile(ListFile{{"01.001", "A"}, {"01.002", "B"}, Date::FromParts(2026, 1, 2), SampleList()}, /*pretty=*/true);
    auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
        std::string_view says;
    };
    const Case cases[] = {
        {"broken JSON", good.substr(0, good.size() / 2), "line"},
        {"not an object", "[1, 2]", "JSON object"},
        {"another format", replaced("OrbaBillTransmit.TransmissionList", "OrbaBillTransmit.DownloadRequest"), "\"format\""},
        {"another version", replaced("\"version\": 1", "\"version\": 2"), "\"version\""},
        {"a version as text", replaced("\"version\": 1", "\"version\": \"1\""), "\"version\""},
        {"no sender", replaced("\"sender\"", "\"sendr\""), "\"sender\""},
        {"a package without a type",
         WriteListFile(ListFile{{"01.001", "A"}, {"01.002", "B"}, Date::FromParts(2026, 1, 2),
                                List({Variant(Package(501, Variant::Nothing())), Variant(Record({{"Type", Variant(502)}}))})}),
         "item 2"},
        {"no creation time", replaced("\"created\"", "\"made\""), "\"created\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ReadListFile(c.text, "incoming/list-7.json");
            FAIL() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), ErrorCode::kBadInput);
            EXPECT_NE(e.Description().find("'incoming/list-7.json'"), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
        }
    }
    // A request file is not a transmission list, nor the other way round.
    EXPECT_THROW(ReadRequestFile(good, "list.json"), Error);
    EXPECT_THROW(ReadListFile(WriteRequestFile(RequestFile{Date::FromParts(2026, 1, 2), MakeRequests({501})}), "r.json"),
                 Error);
}

TEST(TransportTest, ListFilesAreCompactUnlessForPeopleAndReadBackEitherWay) {
    testing::TempDir dir;
    const ListFile sent{{"01.001", "上海"}, {"01.002", "苏州"}, Date::FromParts(2026, 3, 4, 5, 6, 7), SampleList()};
    const std::string compact = WriteListFile(sent);
    for (bool pretty : {false, true}) {
        SCOPED_TRACE(pretty ? "pretty" : "compact");
        const std::string text = WriteListFile(sent, pretty);
        const auto line_breaks = std::count(text.begin(), text.end(), '\n');
        EXPECT_EQ(line_breaks == 1, !pretty);
        // Either form reads back to the same list, and the file saved as it is produced holds
        // the very same text.
        EXPECT_EQ(WriteListFile(ReadListFile(text, "list.json")), compact);
        const auto path = dir / (pretty ? "pretty.json" : "compact.json");
        SaveListFile(path, sent, pretty);
        EXPECT_EQ(ReadTextFile(path), text);
    }
    // A list that cannot be written leaves neither the file nor a partial one behind.
    auto bad = platform::MakeRef<VariantVector>();
    bad->Add(Variant(std::nan("")));
    const auto path = dir / "bad.json";
    EXPECT_THROW(SaveListFile(path, ListFile{{"01.001", "A"}, {"01.002", "B"}, Date::FromParts(2026, 1, 2), bad}), Error);
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find("bad.json"), std::string::npos) << entry.path();
    }
}

TEST(TransportTest, FilesAreWrittenWholeAndAMissingOneIsNamed) {
    testing::TempDir dir;
    const std::filesystem::path path = dir / "list.json";
    WriteTextFile(path, "first");
    WriteTextFile(path, "second");
    EXPECT_EQ(ReadTextFile(path), "second");
    EXPECT_FALSE(std::filesystem::exists(dir / "list.json.part"));
    try {
        ReadTextFile(dir / "absent.json");
        FAIL() << "a missing file was read";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kFileNotFound);
        EXPECT_NE(e.Description().find("absent.json"), std::string::npos) << e.Description();
    }
    EXPECT_THROW(WriteTextFile(dir / "no-such-folder" / "x.json", "x"), Error);
}


ReceiptFile SampleReceipt() {
    using hostkit::SaveOutcomeKind;
    return ReceiptFile{{"01.002", "苏州"},
                       {"01.001", "上海"},
                       Date::FromParts(2026, 3, 4, 6, 0, 0),
                       {"01.001", "上海"},
                       Date::FromParts(2026, 3, 4, 5, 6, 7),
                       Sha256Hex("abc"),
                       {{501,
                         {{12, "PO-1", SaveOutcomeKind::kSaved, "", std::string(64, 'a')},
                          {15, "PO-2", SaveOutcomeKind::kUpdated, "it was held as PO-0 before", std::string(64, 'b')},
                          {20, "PO-3", SaveOutcomeKind::kAlreadyHeld, "", std::string(64, 'c')}}},
                        {502,
                         {{std::nullopt, "SO-9", SaveOutcomeKind::kNotSaved, "no key \"BillInterID\"", ""},
                          {31, "SE-4", SaveOutcomeKind::kInOtherPackage, "came in the delivery-notice form", ""}}},
                        {503, {}}}};
}

TEST(TransportTest, AReceiptReadsBackAsWrittenAndAcknowledgesWhatWasHeld) {
    // The digest of the list's bytes is the standard one (FIPS 180-2 test vector).
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const ReceiptFile sent = SampleReceipt();
    const ReceiptFile read = ReadReceiptFile(WriteReceiptFile(sent), "receipt.json");
    // Written again, what was read gives the same text: every field survived.
    EXPECT_EQ(WriteReceiptFile(read), WriteReceiptFile(sent));
    EXPECT_FALSE(read.packages[1].bills[0].bill_inter_id);
    EXPECT_TRUE(read.packages[0].bills[2].Acknowledged());
    EXPECT_FALSE(read.packages[1].bills[0].Acknowledged());
    // A notice in the other package is acknowledged by its own type's package alone.
    EXPECT_EQ(AcknowledgedList(read)->UpperBound(), 1);
    EXPECT_EQ(FormatOf(WriteReceiptFile(sent)), kReceiptFormat);
}

TEST(TransportTest, AnUnusableReceiptIsRefusedWithItsName) {
    const std::string good = WriteReceiptFile(SampleReceipt());
    auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
        std::string_view says;
    };
    const Case cases[] = {
        {"a transmission list", WriteListFile(ListFile{{"01.001", "A"}, {"01.002", "B"}, Date::FromParts(2026, 1, 2),
                                                       SampleList()}),
         "\"format\""},
        {"no answered list", replaced("\"answers\"", "\"answered\""), "\"answers\""},
        {"an unknown outcome", replaced("\"already held\"", "\"kept\""), "bill 3 of package 1"},
        {"an acknowledged bill without its number", replaced("\"BillInterID\": 15", "\"BillInterID\": null"),
         "bill 2 of package 1 is acknowledged but has no"},
        {"a fractional internal number", replaced("\"BillInterID\": 12", "\"BillInterID\": 12.5"), "not a whole number"},
        {"bills that are no list", replaced("\"Bills\": []", "\"Bills\": {}"), "package 3 has no list"},
        {"a fingerprint cut short", replaced(std::string(64, 'b'), "bbbb"), "bill 2 of package 1 has a \"Fingerprint\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ReadReceiptFile(c.text, "back/receipt-7.json");
            FAIL() << "accepted";
        } catch (const Error& e) {
            EXPECT_NE(e.Description().find("'back/receipt-7.json'"), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
        }
    }
}

}  // namespace
}  // namespace orba::apps
