// A whole exchange between two sample branches, in one process: B's request travels to A as
// a file, A packages, the list travels back as a file, B saves it and A marks what it sent.
// Every line packaged at A must arrive at B with the same exact numbers, every packaged
// bill must be marked at A, and a second exchange must move nothing.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "exchange/steps.h"
#include "exchange/library.h"
#include "exchange/mark.h"
#include "exchange/transport.h"
#include "hostkit/database.h"
#include "data/bill_records.h"
#include "facade/bill_trans.h"
#include "host/login_props.h"
#include "host/shared_connection.h"
#include "hostkit/save_data.h"
#include "platform/decimal.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"

namespace orba::apps {

using namespace orba::exchange;
namespace {

namespace fs = std::filesystem;
using facade::BillTrans;
using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
using testing::BillsOf;
using testing::BranchEnv;
namespace key = data::key;

hostkit::SampleOptions Sample(int branch) {
    hostkit::SampleOptions o;
    o.branch = branch;
    o.orders = 30;
    o.notices = 24;
    o.returns = 16;
    o.lines = 4;
    o.seed = static_cast<uint64_t>(branch) * 7;
    return o;
}

Ref<VariantDictionary> AsRecord(const Variant& v) { return platform::RefCast<VariantDictionary>(v.AsObject()); }
Ref<VariantVector> AsList(const Variant& v) { return platform::RefCast<VariantVector>(v.AsObject()); }

int32_t TranTypeOf(int32_t bill_type) { return bill_type == 501 ? 71 : bill_type == 502 ? 83 : 82; }

// A number as the saving side keeps it: exact decimal text, or "NULL".
std::string DecimalText(const Variant& v) { return v.IsNull() ? "NULL" : v.ToDecimal().ToString(); }
std::string DecimalText(const std::string& stored) {
    return stored == "NULL" ? stored : platform::Decimal::Parse(stored).ToString();
}

const std::vector<std::string_view> kOrderNumbers = {"Qty",  "QtyBase",     "Price",    "TaxRate",        "TaxPrice",
                                                     "DiscountRate", "AmtFor", "Amt",   "TaxFor",         "Tax",
                                                     "AmtTotalFor",  "AmtTotal", "AmtDiscountFor", "AmtDiscount"};
const std::vector<std::string_view> kNoticeNumbers = {"Qty", "QtyBase", "PriceRef", "AmtRef"};

class ExchangeTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const fs::path& p : logs_) fs::remove(p);
    }

    Branch OwnBranch(BranchEnv& env) {
        auto rows = env.Db().Rows(
            "SELECT FNumber, FName FROM t_SonCompany WHERE FItemID=(SELECT FValue FROM t_Systemprofile "
            "WHERE FCategory='IC' AND FKey='BrID')");
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? Branch{} : Branch{rows[0][0], rows[0][1]};
    }

    // One exchange as the two hosts drive it, files between them. Returns the list A packaged.
    Ref<VariantVector> Exchange(std::string* message = nullptr) {
        const Branch sender = OwnBranch(a_);
        const Branch receiver = OwnBranch(b_);
        const fs::path request_file = dir_ / "requests.json";
        WriteTextFile(request_file,
                      WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests({501, 502, 503})}));

        a_.Activate();
        RequestFile request = ReadRequestFile(ReadTextFile(request_file), request_file.string());
        Ref<VariantVector> packaged;
        {
            auto trans = MakeRef<BillTrans>();
            packaged = trans->PackageBills(request.requests, testing::BranchRecord(receiver.number, receiver.name));
        }
        EXPECT_TRUE(packaged);
        if (!packaged) return {};
        const fs::path list_file = dir_ / "list.json";
        WriteTextFile(list_file, WriteListFile(ListFile{sender, receiver, platform::Date::Now(), packaged}));

        b_.Activate();
        ListFile arrived = ReadListFile(ReadTextFile(list_file), list_file.string());
        {
            auto trans = MakeRef<BillTrans>();
            Ref<VariantDictionary> result = trans->UnPackageBills(arrived.list);
            if (!trans->LastLogFile().empty()) logs_.push_back(trans->LastLogFile());
            if (message && result) *message = result->Value(facade::kReturnMessageKey).ToText();
        }

        a_.Activate();
        {
            auto trans = MakeRef<BillTrans>();
            trans->SetTranStatus(arrived.list);
        }
        return packaged;
    }

    // One sending of A's purchase orders for B as the program makes it: packaged to `list_file`
    // (the sending recorded at A), saved at B from that file, and B's receipt for it.
    ReceiptFile SendOrdersToB(const fs::path& list_file) {
        const Branch sender = OwnBranch(a_);
        const Branch receiver = OwnBranch(b_);
        PackageToFile(*hostkit::OpenDatabase(a_.DbPath()), MakeRequests({501}),
                      ListFile{sender, receiver, platform::Date::Now(), {}}, list_file);
        ListFileReader reader(list_file);
        const UnpackageResult saved = Unpackage(*hostkit::OpenDatabase(b_.DbPath()), reader);
        if (!saved.log.empty()) logs_.push_back(saved.log);
        return ReceiptFile{receiver, sender, platform::Date::Now(), sender, reader.Header().created, reader.Sha256(),
                           saved.packages};
    }
    MarkResult MarkAtA(const ReceiptFile& receipt, const std::function<void()>& before_marking = {}) {
        return MarkAcknowledged(*hostkit::OpenDatabase(a_.DbPath()), receipt, "the receipt", OwnBranch(a_),
                                before_marking);
    }
    // A clerk's change to one line of order `id` at A, saved through a connection of its own
    // that waits at most a moment for another's lock; false when it could not be saved.
    bool EditOrderAtA(int32_t id, int delta) {
        const std::string edit = fmt::format("UPDATE POOrderEntry SET FQty=FQty+({}) WHERE FInterID={} AND FEntryID=1",
                                             delta, id);
        if (!a_.Db().OnServer()) return a_.Db().Runs(edit);
        const bool saved = a_.Db().Runs("SET lock_timeout='300ms'; " + edit);
        a_.Db().Exec("SET lock_timeout=0");
        return saved;
    }
    long long TranStatusAtA(int32_t id) {
        return a_.Db().Int(fmt::format("SELECT FTranStatus FROM POOrder WHERE FInterID={}", id));
    }

    hostkit::SampleOptions a_options_ = Sample(1);
    hostkit::SampleOptions b_options_ = Sample(2);
    BranchEnv a_{&a_options_, "branch-a.db"};
    BranchEnv b_{&b_options_, "branch-b.db"};
    std::shared_ptr<platform::RecordingUiService> ui_ = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_guard_{ui_};
    testing::TempDir dir_;
    std::vector<fs::path> logs_;
};

TEST_F(ExchangeTest, EveryPackagedLineArrivesExactlyAndEveryPackagedBillIsMarked) {
    const std::string sender_number = OwnBranch(a_).number;
    const long long marked_before = a_.Db().Int("SELECT count(*) FROM POOrder WHERE FTranStatus=1") +
                                    a_.Db().Int("SELECT count(*) FROM SEOutStock WHERE FTranStatus=1");
    std::string message;
    Ref<VariantVector> packaged = Exchange(&message);
    ASSERT_TRUE(packaged);
    ASSERT_EQ(packaged->UpperBound(), 3);
    EXPECT_TRUE(ui_->Messages().empty()) << ui_->Messages()[0].text;

    int own_bills = 0;
    int own_lines = 0;
    std::set<std::pair<std::string, int>> packaged_ids;  // (table, FInterID)
    for (int32_t p = 1; p <= 3; ++p) {
        const int32_t bill_type = AsRecord(packaged->Item(p))->Value(key::kBillType).ToLong();
        SCOPED_TRACE(bill_type);
        Ref<VariantVector> bills = BillsOf(packaged->Item(p));
        ASSERT_TRUE(bills) << "the sample has bills of every type for branch B";
        const std::string table = bill_type == 501 ? "POOrder" : "SEOutStock";
        const std::string source_lines = bill_type == 501 ? "POOrderEntry" : "SEOutStockEntry";
        for (int32_t b = 1; b <= bills->UpperBound(); ++b) {
            auto bill = AsRecord(bills->Item(b));
            const int inter_id = bill->Value(key::kBillInterID).ToLong();
            packaged_ids.insert({table, inter_id});
            if (bill->Value(key::kBillType).ToLong() != TranTypeOf(bill_type)) continue;  // saved from its own package
            ++own_bills;
            const std::string bill_no = bill->Value(key::kBillID).ToText();
            SCOPED_TRACE(bill_no);
            const auto rcv = b_.Db().Rows("SELECT FRcvID FROM t_RcvBill WHERE FSendBrNumber='" + sender_number +
                                          "' AND FTranType=" + std::to_string(TranTypeOf(bill_type)) +
                                          " AND FBillNo='" + bill_no + "'");
            ASSERT_EQ(rcv.size(), 1u);
            Ref<VariantVector> lines = AsList(bill->Value(bill_type == 501 ? key::kReqEntry : key::kNoticeEntry));
            EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry WHERE FRcvID=" + rcv[0][0]), lines->UpperBound());
            for (int32_t l = 1; l <= lines->UpperBound(); ++l) {
                ++own_lines;
                auto line = AsRecord(lines->Item(l));
                const std::string entry_id = line->Value(key::kEntryID).ToText();
                const auto& names = bill_type == 501 ? kOrderNumbers : kNoticeNumbers;
                std::string columns;
                for (std::string_view name : names) columns += std::string(columns.empty() ? "" : ",") + "F" + std::string(name);
                const auto saved = b_.Db().Rows("SELECT " + columns + " FROM t_RcvBillEntry WHERE FRcvID=" + rcv[0][0] +
                                                " AND FIndex=" + std::to_string(l) + " AND FEntryID=" + entry_id);
                ASSERT_EQ(saved.size(), 1u) << "line " << entry_id;
                for (size_t k = 0; k < names.size(); ++k) {
                    EXPECT_EQ(saved[0][k], DecimalText(line->Value(names[k])))
                        << names[k] << " of line " << entry_id;
                }
                // And the quantity is the one stored at A (negated for a return notice).
                const auto stored = a_.Db().Rows("SELECT FAuxQty FROM " + source_lines + " WHERE FInterID=" +
                                                 std::to_string(inter_id) + " AND FEntryID=" + entry_id);
                ASSERT_EQ(stored.size(), 1u);
                const std::string source_qty = DecimalText(stored[0][0]);
                EXPECT_EQ(saved[0][0], bill_type == 503 ? platform::Decimal::Parse("-" + source_qty).ToString()
                                                        : source_qty);
            }
        }
    }
    EXPECT_GT(own_lines, own_bills);
    EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill"), own_bills);
    EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry"), own_lines);

    // Everything packaged is marked at A, and nothing else.
    for (const auto& [table, id] : packaged_ids) {
        EXPECT_EQ(a_.Db().Int("SELECT FTranStatus FROM " + table + " WHERE FInterID=" + std::to_string(id)), 1)
            << table << " " << id;
    }
    EXPECT_EQ(a_.Db().Int("SELECT count(*) FROM POOrder WHERE FTranStatus=1") +
                  a_.Db().Int("SELECT count(*) FROM SEOutStock WHERE FTranStatus=1"),
              marked_before + static_cast<long long>(packaged_ids.size()));
    EXPECT_FALSE(message.empty());
    ASSERT_EQ(logs_.size(), 1u);
}

// The three steps through their entries, each under its own exchange settings: the first
// exchange's progress listener hears only its own steps, nothing a step put in place (login,
// connection, save session) is left set when it returns, and a "service" packaging at B on one
// thread beside a "command" marking at A on another each work on their own database.
TEST_F(ExchangeTest, StepsLeaveNoStateAndTwoThreadsExchangeApart) {
    const std::string props_before = host::GetPropsString();
    const auto no_state_left = [&] {
        EXPECT_EQ(host::GetPropsString(), props_before);
        EXPECT_FALSE(host::SharedConnection());
        EXPECT_EQ(hostkit::SaveSession::Current(), nullptr);
    };
    const auto listener = [](std::vector<std::string>& heard) {
        return ProgressListener{[&heard](std::string_view what, int, int) {
                                    if (heard.empty() || heard.back() != what) heard.emplace_back(what);
                                },
                                {}};
    };
    const Branch a = OwnBranch(a_);
    const Branch b = OwnBranch(b_);
    const auto a_db = hostkit::OpenDatabase(a_.DbPath());
    const auto b_db = hostkit::OpenDatabase(b_.DbPath());
    const fs::path list_file = dir_ / "list.json";
    std::vector<std::string> first_heard;
    std::optional<Accepted> accepted;
    {
        const ExchangeScope first({.progress = listener(first_heard)});
        PackageForBranch(*a_db, MakeRequests({501, 502, 503}), ListFile{a, b, platform::Date::Now(), {}}, list_file);
        no_state_left();
        ListFileReader reader(list_file);
        accepted = AcceptList(*b_db, b, reader, "the list");
        if (!accepted->saved.log.empty()) logs_.push_back(accepted->saved.log);
        no_state_left();
    }
    EXPECT_EQ(first_heard, (std::vector<std::string>{"Packaging", "Saving bills"}));
    ASSERT_FALSE(accepted->saved.failed) << accepted->saved.message;

    std::vector<std::string> command_heard, service_heard;
    MarkResult marked;
    Packaged packaged_at_b;
    std::thread command([&] {
        const ExchangeScope scope({.progress = listener(command_heard)});
        marked = AcceptReceipt(*a_db, a, accepted->receipt, "the receipt");
        no_state_left();
    });
    std::thread service([&] {
        const ExchangeScope scope({.progress = listener(service_heard)});
        const auto db = hostkit::OpenDatabase(b_.DbPath());
        packaged_at_b = PackageForBranch(*db, MakeRequests({501}), ListFile{b, a, platform::Date::Now(), {}},
                                         dir_ / "back.json");
        no_state_left();
    });
    command.join();
    service.join();
    no_state_left();
    EXPECT_TRUE(first_heard.size() == 2 && command_heard.empty());
    EXPECT_EQ(service_heard, std::vector<std::string>{"Packaging"});
    EXPECT_TRUE(marked.ok);
    int acknowledged = 0;
    for (const ReceiptPackage& p : accepted->receipt.packages) {
        for (const ReceiptBill& bill : p.bills) acknowledged += bill.Acknowledged() ? 1 : 0;
    }
    int marked_bills = 0;
    for (const auto& [type, count] : marked.marked) marked_bills += count;
    EXPECT_GT(acknowledged, 0);
    EXPECT_EQ(marked_bills, acknowledged);
    // B's orders for A, read from B's own database.
    ASSERT_EQ(packaged_at_b.counts.size(), 1u);
    EXPECT_GT(packaged_at_b.counts[0].own_bills, 0);
    for (const std::string& bill_no : packaged_at_b.counts[0].bill_numbers) {
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM POOrder WHERE FBillNo='" + bill_no + "'"), 1) << bill_no;
    }
    EXPECT_TRUE(ui_->Messages().empty());
}

TEST_F(ExchangeTest, ASecondExchangeMovesNothing) {
    ASSERT_TRUE(Exchange());
    const std::string a_after_first = a_.Db().Dump();
    const std::string b_after_first = b_.Db().Dump();

    std::string message;
    Ref<VariantVector> second = Exchange(&message);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->UpperBound(), 3);
    for (int32_t p = 1; p <= 3; ++p) {
        EXPECT_TRUE(AsRecord(second->Item(p))->Value(key::kBillsData).IsNothing()) << p;
    }
    EXPECT_EQ(message, "\r\n");
    EXPECT_EQ(logs_.size(), 1u);  // only the first exchange wrote a log
    EXPECT_EQ(a_.Db().Dump(), a_after_first);
    EXPECT_EQ(b_.Db().Dump(), b_after_first);
    EXPECT_TRUE(ui_->Messages().empty());
}

// The command-line host writes a list as its bills are extracted and saves a list file a
// batch of bills at a time. Both must give exactly what the whole list gives: the same bytes
// and counts, the same answers and messages, also when a bill in the middle is refused.
TEST_F(ExchangeTest, ListsWrittenAndSavedInPiecesAreThoseOfTheWholeList) {
    const Branch sender = OwnBranch(a_);
    const Branch receiver = OwnBranch(b_);
    const platform::Date created = platform::Date::FromParts(2026, 12, 8);
    const auto at_a = hostkit::OpenDatabase(a_.DbPath());
    const Ref<VariantVector> requests = MakeRequests({501, 502, 503, 999});
    for (bool pretty : {false, true}) {
        const Ref<VariantVector> list = Package(*at_a, *requests, receiver);
        SaveListFile(dir_ / "whole.json", ListFile{sender, receiver, created, list}, pretty);
        const std::vector<PackageCount> counts =
            PackageToFile(*at_a, requests, ListFile{sender, receiver, created, {}}, dir_ / "streamed.json", pretty);
        EXPECT_EQ(testing::ReadFile(dir_ / "streamed.json"), testing::ReadFile(dir_ / "whole.json")) << pretty;
        const std::vector<PackageCount> expected = CountPackages(*list);
        ASSERT_EQ(counts.size(), expected.size());
        for (size_t i = 0; i < counts.size(); ++i) {
            EXPECT_EQ(counts[i].bills, expected[i].bills);
            EXPECT_EQ(counts[i].lines, expected[i].lines);
            EXPECT_EQ(counts[i].bill_numbers, expected[i].bill_numbers);
        }
    }

    const std::string text = testing::ReadFile(dir_ / "whole.json");
    std::string broken = text;
    size_t at = 0;
    for (int i = 0; i < 9; ++i) at = broken.find("\"BillInterID\": ", at + 1);
    ASSERT_NE(at, std::string::npos);
    broken.insert(at + 15, "\"x\", \"Was\": ");
    const auto receipt = [&](const UnpackageResult& r) {
        return WriteReceiptFile(ReceiptFile{receiver, sender, created, sender, created, "", r.packages});
    };
    for (const auto& [name, list_text] : {std::pair{"as packaged", text}, std::pair{"bill 9 refused", broken}}) {
        SCOPED_TRACE(name);
        BranchEnv whole_b(&b_options_, "whole-b.db");
        BranchEnv pieces_b(&b_options_, "pieces-b.db");
        WriteTextFile(dir_ / "list.json", list_text);
        const UnpackageResult whole =
            Unpackage(*hostkit::OpenDatabase(whole_b.DbPath()), ReadListFile(list_text, "list.json"));
        ListFileReader reader(dir_ / "list.json");
        EXPECT_EQ(reader.Sha256(), Sha256Hex(list_text));
        const UnpackageResult pieces = Unpackage(*hostkit::OpenDatabase(pieces_b.DbPath()), reader, 4);
        for (const auto* r : {&whole, &pieces}) {
            if (!r->log.empty()) logs_.push_back(r->log);
        }
        EXPECT_EQ(pieces.failed, whole.failed);
        EXPECT_EQ(pieces.message, whole.message);
        EXPECT_EQ(receipt(pieces), receipt(whole));
        EXPECT_EQ(pieces_b.Db().Int("SELECT count(*) FROM t_RcvBillEntry"),
                  whole_b.Db().Int("SELECT count(*) FROM t_RcvBillEntry"));
    }
}

// A clerk saving a change to an acknowledged bill while A marks from B's receipt: the change
// waits until the marking is done, so the bill is marked as the copy B holds, never after the
// change slipped in between the comparison and the marking.
TEST_F(ExchangeTest, AnEditWhileMarkingWaitsSoNoEditedBillIsMarked) {
    const ReceiptFile receipt = SendOrdersToB(dir_ / "list.json");
    ASSERT_FALSE(receipt.packages.empty());
    ASSERT_FALSE(receipt.packages[0].bills.empty());
    const int32_t order = *receipt.packages[0].bills[0].bill_inter_id;
    std::optional<bool> edited;
    const MarkResult result = MarkAtA(receipt, [&] { edited = EditOrderAtA(order, 1); });
    ASSERT_TRUE(edited.has_value());
    EXPECT_FALSE(*edited) << "an edit was saved between the comparison and the marking";
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(TranStatusAtA(order), 1);
    EXPECT_TRUE(EditOrderAtA(order, 1)) << "the edit goes through once the marking is done";
}

// Sent as v1, edited to v2 and sent again, edited back to v1: the first receipt still proves
// v1, but the bill went again since, so only the latest list's receipt may mark it.
TEST_F(ExchangeTest, OnlyTheReceiptOfABillsLatestListMarksIt) {
    const ReceiptFile first = SendOrdersToB(dir_ / "v1.json");
    ASSERT_FALSE(first.packages.empty());
    ASSERT_FALSE(first.packages[0].bills.empty());
    const int32_t order = *first.packages[0].bills[0].bill_inter_id;
    ASSERT_TRUE(EditOrderAtA(order, 1));
    const ReceiptFile second = SendOrdersToB(dir_ / "v2.json");
    ASSERT_EQ(second.packages[0].bills[0].outcome, hostkit::SaveOutcomeKind::kUpdated);
    ASSERT_TRUE(EditOrderAtA(order, -1));

    const MarkResult replayed = MarkAtA(first);
    EXPECT_TRUE(replayed.ok);
    EXPECT_EQ(replayed.superseded, static_cast<int>(first.packages[0].bills.size()));
    EXPECT_EQ(TranStatusAtA(order), 0) << "B holds v2; the receipt of v1's list marked the bill";
    const MarkResult changed = MarkAtA(second);
    EXPECT_EQ(changed.changed, 1);
    EXPECT_EQ(TranStatusAtA(order), 0);

    // The next sending carries the bill as it stands; its receipt marks it.
    const ReceiptFile third = SendOrdersToB(dir_ / "v3.json");
    EXPECT_EQ(MarkAtA(third).superseded, 0);
    EXPECT_EQ(TranStatusAtA(order), 1);
}

}  // namespace
}  // namespace orba::apps
