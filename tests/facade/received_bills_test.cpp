// The real saving component behind UnPackageBills: bills packaged at one sample branch are
// saved at another. A bill is saved once, a malformed record is refused whole with an error
// that names it, and each notice is kept only from the package of its own type.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/bill_records.h"
#include "facade/bill_trans.h"
#include "hostkit/app_connection.h"
#include "hostkit/login_string.h"
#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/save_data.h"
#include "hostkit/schema.h"
#include "platform/registry.h"
#include "support/backend_branch.h"
#include "support/branch_env.h"
#include "support/erp_test_db.h"
#include "support/exchange_records.h"

namespace orba::facade {
namespace {

namespace fs = std::filesystem;
using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
using testing::BillsOf;
using testing::BranchEnv;
using testing::BranchRecord;
using testing::Package;
using testing::Record;
using testing::Requests;
namespace key = data::key;

constexpr std::string_view kBranchBNumber = "01.002";
constexpr std::string_view kBranchBName = "苏州锦程精密机械有限公司";

hostkit::SampleOptions Sample(int branch) {
    hostkit::SampleOptions o;
    o.branch = branch;
    o.orders = 24;
    o.notices = 12;
    o.returns = 16;
    o.lines = 4;
    o.seed = static_cast<uint64_t>(branch);
    return o;
}

Ref<VariantDictionary> AsRecord(const Variant& v) { return platform::RefCast<VariantDictionary>(v.AsObject()); }

// A copy of `record` without `drop`.
Ref<VariantDictionary> Without(const Ref<VariantDictionary>& record, std::string_view drop) {
    auto copy = MakeRef<VariantDictionary>();
    for (size_t i = 0; i < record->Size(); ++i) {
        if (record->KeyAt(i) != drop) copy->Put(record->KeyAt(i), record->ValueAt(i));
    }
    return copy;
}

// A copy of `list` with item `index` replaced.
Ref<VariantVector> WithItem(const Ref<VariantVector>& list, int32_t index, Variant item) {
    auto copy = MakeRef<VariantVector>();
    for (int32_t i = 1; i <= list->UpperBound(); ++i) copy->Add(i == index ? item : list->Item(i));
    return copy;
}

int Count(const std::string& text, std::string_view part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class ReceivedBillsTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const fs::path& p : logs_) fs::remove(p);
    }

    Ref<VariantVector> PackageAtA(const Ref<VariantVector>& requests) {
        a_.Activate();
        auto trans = MakeRef<BillTrans>();
        Ref<VariantVector> list = trans->PackageBills(requests, BranchRecord(kBranchBNumber, kBranchBName));
        EXPECT_TRUE(list);
        return list;
    }

    std::string UnpackageAtB(const Ref<VariantVector>& list) {
        b_.Activate();
        auto trans = MakeRef<BillTrans>();
        Ref<VariantDictionary> result = trans->UnPackageBills(list);
        if (!trans->LastLogFile().empty()) logs_.push_back(trans->LastLogFile());
        return result ? result->Value(kReturnMessageKey).ToText() : std::string();
    }

    // UnpackageAtB, with the outcomes the saving component told while it ran.
    std::string UnpackageAtB(const Ref<VariantVector>& list, std::vector<hostkit::SaveOutcome>& heard) {
        hostkit::SaveSession session;
        session.outcomes = [&](const hostkit::SaveOutcome& o) { heard.push_back(o); };
        return UnpackageAtB(list);
    }

    // Bill numbers saved at B, of one transaction type, in order.
    std::vector<std::string> SavedAtB(int tran_type) {
        std::vector<std::string> numbers;
        for (const auto& row : b_.Db().Rows("SELECT FBillNo FROM t_RcvBill WHERE FTranType=" +
                                            std::to_string(tran_type) + " ORDER BY FBillNo")) {
            numbers.push_back(row[0]);
        }
        return numbers;
    }

    // Bills at A addressed to B and not yet sent, of one transaction type.
    std::vector<std::string> AwaitingAtA(std::string_view table, int tran_type) {
        std::vector<std::string> numbers;
        for (const auto& row : a_.Db().Rows("SELECT FBillNo FROM " + std::string(table) + " WHERE FTranType=" +
                                            std::to_string(tran_type) +
                                            " AND FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) "
                                            "AND FStatus IN (1,2) ORDER BY FBillNo")) {
            numbers.push_back(row[0]);
        }
        return numbers;
    }

    void ForgetReceived() { b_.Db().Exec("DROP TABLE IF EXISTS t_RcvBillEntry; DROP TABLE IF EXISTS t_RcvBill"); }
    // Makes the received tables at B from a script written for SQLite files.
    void MakeReceivedTables(std::string_view script) {
        b_.Db().Exec(b_.Db().OnServer() ? hostkit::ReceivedSchemaForServer(script) : std::string(script));
    }

    hostkit::SampleOptions a_options_ = Sample(1);
    hostkit::SampleOptions b_options_ = Sample(2);
    BranchEnv a_{&a_options_, "branch-a.db"};
    BranchEnv b_{&b_options_, "branch-b.db"};
    std::shared_ptr<platform::RecordingUiService> ui_ = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_guard_{ui_};
    std::vector<fs::path> logs_;
};

TEST_F(ReceivedBillsTest, ASecondUnpackagingSavesNothingNew) {
    Ref<VariantVector> list = PackageAtA(Requests({501, 502, 503}));
    const std::string first = UnpackageAtB(list);
    const size_t own_bills =
        AwaitingAtA("POOrder", 71).size() + AwaitingAtA("SEOutStock", 83).size() + AwaitingAtA("SEOutStock", 82).size();
    ASSERT_GT(own_bills, 0u);
    EXPECT_EQ(Count(first, ": saved\r\n"), static_cast<int>(own_bills)) << first;
    const std::string saved = b_.Db().Dump();

    const std::string second = UnpackageAtB(list);
    EXPECT_EQ(Count(second, ": saved\r\n"), 0) << second;
    EXPECT_EQ(Count(second, "already held (identical), not saved again\r\n"), static_cast<int>(own_bills)) << second;
    EXPECT_EQ(b_.Db().Dump(), saved);
    EXPECT_TRUE(ui_->Messages().empty());
}

TEST_F(ReceivedBillsTest, EachNoticeIsSavedFromThePackageOfItsOwnType) {
    const std::vector<std::string> deliveries = AwaitingAtA("SEOutStock", 83);
    const std::vector<std::string> returns = AwaitingAtA("SEOutStock", 82);
    ASSERT_FALSE(deliveries.empty());
    ASSERT_FALSE(returns.empty());
    struct Case {
        std::vector<int> requested;
        bool deliveries_saved;
        bool returns_saved;
    };
    const Case cases[] = {
        {{502}, true, false},
        {{503}, false, true},
        {{502, 503}, true, true},
        {{503, 502}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.requested));
        ForgetReceived();
        auto requests = MakeRef<VariantVector>();
        for (int type : c.requested) requests->Add(Variant(Record({{key::kBillType, Variant(type)}})));
        const std::string message = UnpackageAtB(PackageAtA(requests));

        EXPECT_EQ(SavedAtB(83), c.deliveries_saved ? deliveries : std::vector<std::string>{}) << message;
        EXPECT_EQ(SavedAtB(82), c.returns_saved ? returns : std::vector<std::string>{}) << message;
        // Return notices arrive with their quantities negated; delivery notices as stored.
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry e JOIN t_RcvBill b ON b.FRcvID=e.FRcvID "
                              "WHERE (b.FTranType=82 AND CAST(e.FQty AS REAL) >= 0) "
                              "OR (b.FTranType=83 AND CAST(e.FQty AS REAL) <= 0)"),
                  0);
        if (!c.deliveries_saved) {
            EXPECT_EQ(Count(message, "came in the return-notice form, not saved from it"),
                      static_cast<int>(deliveries.size()));
        }
        EXPECT_TRUE(ui_->Messages().empty());
    }
}

TEST_F(ReceivedBillsTest, AMalformedRecordIsRefusedWholeAndNamed) {
    using Mutation = std::function<Variant(const Ref<VariantDictionary>& bill)>;
    auto set_line = [](std::string_view line_key, int32_t line, std::function<Variant(Ref<VariantDictionary>)> change) {
        return [=](const Ref<VariantDictionary>& bill) {
            Ref<VariantVector> lines = platform::RefCast<VariantVector>(bill->Value(line_key).AsObject());
            auto changed = Without(bill, "");
            changed->Put(std::string(line_key), Variant(WithItem(lines, line, change(AsRecord(lines->Item(line))))));
            return Variant(changed);
        };
    };
    struct Case {
        const char* name;
        Mutation mutate;
        std::string_view named_key;
        std::string_view named_line;
    };
    const Case cases[] = {
        {"a header key missing", [](const auto& b) { return Variant(Without(b, key::kBillInterID)); }, "\"BillInterID\"", ""},
        {"a date that is text",
         [](const auto& b) {
             auto c = Without(b, "");
             c->Put("Date", Variant("yesterday"));
             return Variant(c);
         },
         "\"Date\"", ""},
        {"a reference without its number",
         [](const auto& b) {
             auto c = Without(b, "");
             c->Put("Dept", Variant(Record({{key::kName, Variant("Purchasing")}})));
             return Variant(c);
         },
         "\"Dept\"", ""},
        {"the entry list is text",
         [](const auto& b) {
             auto c = Without(b, "");
             c->Put(std::string(key::kReqEntry), Variant("none"));
             return Variant(c);
         },
         "\"ReqEntry\"", ""},
        {"a line without its quantity",
         set_line(key::kReqEntry, 2, [](Ref<VariantDictionary> l) { return Variant(Without(l, key::kQty)); }), "\"Qty\"",
         "line 2"},
        {"a line number that is text",
         set_line(key::kReqEntry, 1,
                  [](Ref<VariantDictionary> l) {
                      auto c = Without(l, "");
                      c->Put("EntryID", Variant("one"));
                      return Variant(c);
                  }),
         "\"EntryID\"", "line 1"},
        {"a bill that is no record", [](const auto&) { return Variant(42); }, "not a bill record", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetReceived();
        ui_->Clear();
        Ref<VariantVector> list = PackageAtA(Requests({501}));
        Ref<VariantVector> bills = BillsOf(list->Item(1));
        // The broken bill: the first after the first one that has two lines.
        int32_t broken_at = 2;
        auto lines_of = [&](int32_t i) {
            return platform::RefCast<VariantVector>(AsRecord(bills->Item(i))->Value(key::kReqEntry).AsObject())->UpperBound();
        };
        while (broken_at < bills->UpperBound() && lines_of(broken_at) < 2) ++broken_at;
        ASSERT_LT(broken_at, bills->UpperBound()) << "the sample needs a bill with two lines that is neither first nor last";
        ASSERT_GE(lines_of(broken_at), 2);
        auto broken_bill = AsRecord(bills->Item(broken_at));
        std::vector<std::string> kept;
        for (int32_t i = 1; i < broken_at; ++i) kept.push_back(AsRecord(bills->Item(i))->Value(key::kBillID).ToText());
        std::sort(kept.begin(), kept.end());
        const std::string broken_no = broken_bill->Value(key::kBillID).ToText();
        auto broken = testing::List({Variant(Package(501, Variant(WithItem(bills, broken_at, c.mutate(broken_bill))))),
                                     Variant(Package(502, BillsOf(PackageAtA(Requests({502}))->Item(1))))});

        const std::string message = UnpackageAtB(broken);

        const auto shown = ui_->Messages();
        ASSERT_EQ(shown.size(), 1u);
        const std::string& text = shown[0].text;
        EXPECT_EQ(text.rfind(kUnpackageFailed, 0), 0u) << text;
        EXPECT_NE(text.find("bill " + std::to_string(broken_at)), std::string::npos) << text;
        EXPECT_NE(text.find(c.named_key), std::string::npos) << text;
        EXPECT_NE(text.find(c.named_line), std::string::npos) << text;
        if (std::string_view(c.name) != "a bill that is no record") {
            EXPECT_NE(text.find(broken_no), std::string::npos) << text;
        }
        // The bills before it stay saved, nothing of the broken one or those after it is,
        // and the notices after it are not processed.
        EXPECT_EQ(SavedAtB(71), kept);
        EXPECT_EQ(SavedAtB(83), std::vector<std::string>{});
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry"),
                  b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry e JOIN t_RcvBill b ON b.FRcvID=e.FRcvID "
                              "WHERE b.FBillNo<>'" + broken_no + "'"));
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill WHERE FBillNo='" + broken_no + "'"), 0);
        for (const std::string& no : kept) {
            EXPECT_NE(message.find(no + " from branch 01.001: saved"), std::string::npos) << message;
        }
    }
}

// A package is saved in one transaction with a savepoint per bill. A bill the database
// refuses halfway leaves nothing of itself; a commit that fails loses the whole run, and then
// no bill of it may be reported saved.
TEST_F(ReceivedBillsTest, ABillRefusedHalfwayLeavesNothingAndAFailedCommitReportsNothingSaved) {
    Ref<VariantVector> list = PackageAtA(Requests({501}));
    Ref<VariantVector> bills = BillsOf(list->Item(1));
    int32_t broken_at = 2;
    auto lines_of = [&](int32_t i) {
        return platform::RefCast<VariantVector>(AsRecord(bills->Item(i))->Value(key::kReqEntry).AsObject())->UpperBound();
    };
    while (broken_at < bills->UpperBound() && lines_of(broken_at) < 2) ++broken_at;
    ASSERT_LT(broken_at, bills->UpperBound()) << "the sample needs a bill with two lines that is neither first nor last";
    const std::string first_no = AsRecord(bills->Item(1))->Value(key::kBillID).ToText();
    const std::string broken_no = AsRecord(bills->Item(broken_at))->Value(key::kBillID).ToText();
    const std::string last_no = AsRecord(bills->Item(bills->UpperBound()))->Value(key::kBillID).ToText();
    struct Case {
        const char* name;
        std::string trap;   // SQL that makes the database refuse
        int kept;           // bills saved at B afterwards
        std::string_view says;
    };
    // The same traps in the server's trigger language.
    const bool server = b_.Db().OnServer();
    const std::string server_trigger =
        "CREATE FUNCTION trap() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF {when} THEN {then}; END IF; "
        "RETURN NEW; END $$; CREATE TRIGGER trap {event} FOR EACH ROW EXECUTE FUNCTION trap();";
    auto trigger = [&](std::string event, std::string when, std::string then) {
        std::string sql = server_trigger;
        for (auto [name, text] : {std::pair{"{when}", when}, {"{then}", then}, {"{event}", event}}) {
            sql.replace(sql.find(name), std::string_view(name).size(), text);
        }
        return sql;
    };
    const Case server_cases[] = {
        {"a line refused",
         trigger("BEFORE INSERT ON t_RcvBillEntry",
                 "NEW.FIndex=2 AND (SELECT FBillNo FROM t_RcvBill WHERE FRcvID=NEW.FRcvID)='" + broken_no + "'",
                 "RAISE EXCEPTION 'line refused'"),
         broken_at - 1, "line refused"},
        {"the commit refused",
         "CREATE TABLE t_Nowhere (id INTEGER PRIMARY KEY);"
         "CREATE TABLE t_Audit (id INTEGER REFERENCES t_Nowhere(id) DEFERRABLE INITIALLY DEFERRED);" +
             trigger("AFTER INSERT ON t_RcvBill", "NEW.FBillNo='" + last_no + "'", "INSERT INTO t_Audit VALUES (-1)"),
         0, "could not be committed"},
    };
    const Case file_cases[] = {
        {"a line refused",
         "CREATE TRIGGER trap BEFORE INSERT ON t_RcvBillEntry WHEN NEW.FIndex=2 AND (SELECT FBillNo FROM t_RcvBill "
         "WHERE FRcvID=NEW.FRcvID)='" + broken_no + "' BEGIN SELECT RAISE(ABORT, 'line refused'); END",
         broken_at - 1, "line refused"},
        {"the commit refused",
         "CREATE TABLE t_Nowhere (id INTEGER PRIMARY KEY);"
         "CREATE TABLE t_Audit (id INTEGER REFERENCES t_Nowhere(id) DEFERRABLE INITIALLY DEFERRED);"
         "CREATE TRIGGER trap AFTER INSERT ON t_RcvBill WHEN NEW.FBillNo='" + last_no +
             "' BEGIN INSERT INTO t_Audit VALUES (-1); END",
         0, "could not be committed"},
    };
    for (const Case& c : server ? server_cases : file_cases) {
        SCOPED_TRACE(c.name);
        ForgetReceived();
        b_.Db().Exec(std::string(server ? "DROP FUNCTION IF EXISTS trap CASCADE;" : "DROP TRIGGER IF EXISTS trap;") +
                     "DROP TABLE IF EXISTS t_Audit; DROP TABLE IF EXISTS t_Nowhere;");
        MakeReceivedTables(hostkit::kReceivedSchema);
        b_.Db().Exec(c.trap);
        ui_->Clear();

        const std::string message = UnpackageAtB(list);

        ASSERT_EQ(ui_->Messages().size(), 1u);
        EXPECT_NE(ui_->Messages()[0].text.find(c.says), std::string::npos) << ui_->Messages()[0].text;
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill"), c.kept);
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry WHERE FRcvID NOT IN (SELECT FRcvID FROM t_RcvBill)"), 0);
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill WHERE FBillNo='" + broken_no + "'"), 0);
        EXPECT_EQ(Count(message, ": saved\r\n"), c.kept) << message;
        EXPECT_NE(message.find(first_no + " from branch 01.001: " + (c.kept ? "saved" : "not saved")), std::string::npos)
            << message;
    }
}

TEST_F(ReceivedBillsTest, CalledByNameTheComponentKeepsItsLinesWhenItFails) {
    Ref<VariantVector> bills = BillsOf(PackageAtA(Requests({501}))->Item(1));
    ASSERT_GE(bills->UpperBound(), 2);
    b_.Activate();
    Ref<platform::Object> saver = platform::CreateObject(hostkit::kSaveDataProgId);
    const std::string props = hostkit::CurrentLoginProperties();

    // The sender found nothing: the text stays as it was.
    std::vector<Variant> args{Variant(props), Variant::Nothing(), Variant("earlier\r\n")};
    platform::CallByName(saver, "UnPackageOrd", platform::CallKind::kMethod, args);
    EXPECT_EQ(args[2].ToText(), "earlier\r\n");

    args = {Variant(props), Variant(WithItem(bills, 2, Variant("broken"))), Variant("earlier\r\n")};
    try {
        platform::CallByName(saver, "UnPackageOrd", platform::CallKind::kMethod, args);
        FAIL() << "a broken bill was accepted";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.Code(), platform::ErrorCode::kBadInput);
        EXPECT_NE(e.Description().find("bill 2"), std::string::npos) << e.Description();
    }
    const std::string first_no = AsRecord(bills->Item(1))->Value(key::kBillID).ToText();
    EXPECT_EQ(args[2].ToText(), "earlier\r\nPurchase order " + first_no + " from branch 01.001: saved\r\n");

    args = {Variant(props), Variant("not a list"), Variant("")};
    EXPECT_THROW(platform::CallByName(saver, "UnPackageNotice", platform::CallKind::kMethod, args), platform::Error);
}

// A sender cannot forge lines of the message or drive the terminal: control characters of
// a bill number are shown escaped, on the one line of that bill.
TEST_F(ReceivedBillsTest, ControlCharactersOfABillNumberAreEscapedInItsMessageLine) {
    Ref<VariantVector> bills = BillsOf(PackageAtA(Requests({501}))->Item(1));
    ASSERT_GE(bills->UpperBound(), 1);
    auto forged = AsRecord(bills->Item(1));
    forged->Let(key::kBillID, Variant("PO-9\r\nPurchase order PO-1 from branch 01.001: saved\x1b[2K"));
    b_.Activate();
    Ref<platform::Object> saver = platform::CreateObject(hostkit::kSaveDataProgId);
    std::vector<Variant> args{Variant(hostkit::CurrentLoginProperties()), Variant(WithItem(bills, 1, Variant(forged))),
                              Variant("")};
    platform::CallByName(saver, "UnPackageOrd", platform::CallKind::kMethod, args);
    const std::string messages = args[2].ToText();
    EXPECT_EQ(Count(messages, "\r\n"), bills->UpperBound()) << "one line per bill";
    EXPECT_EQ(Count(messages, "\x1b"), 0);
    EXPECT_NE(messages.find("Purchase order PO-9\\x0D\\x0APurchase order PO-1 from branch 01.001: saved\\x1B[2K from "
                            "branch 01.001: saved\r\n"),
              std::string::npos)
        << messages;
}

// Received bills go only into a branch's account database: an empty file or another
// program's database is refused and left exactly as it was; the statements that are run
// appear in the SQL trace.
TEST_F(ReceivedBillsTest, OnlyABranchDatabaseTakesReceivedBillsAndItsStatementsAreTraced) {
    Ref<VariantVector> bills = BillsOf(PackageAtA(Requests({501}))->Item(1));
    Ref<platform::Object> saver = platform::CreateObject(hostkit::kSaveDataProgId);
    testing::TempDir dir;
    {
        std::ofstream(dir / "empty.db");
        hostkit::testing::TestDb other((dir / "other.db").string());
        other.Exec("CREATE TABLE notes (x TEXT)");
    }
    for (const char* name : {"empty.db", "other.db"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        const auto size = fs::file_size(path);
        std::vector<Variant> args{Variant(hostkit::MakeLoginProperties(path.string())), Variant(bills), Variant("")};
        try {
            platform::CallByName(saver, "UnPackageOrd", platform::CallKind::kMethod, args);
            ADD_FAILURE() << "bills were saved into " << name;
        } catch (const platform::Error& e) {
            EXPECT_NE(e.Description().find("is not a branch account database"), std::string::npos) << e.Description();
        }
        EXPECT_EQ(fs::file_size(path), size);
        EXPECT_EQ(args[2].ToText(), "");
    }

    hostkit::SetSqlTraceFile((dir / "trace.sql").string());
    b_.Activate();
    std::vector<Variant> args{Variant(hostkit::CurrentLoginProperties()), Variant(bills), Variant("")};
    platform::CallByName(saver, "UnPackageOrd", platform::CallKind::kMethod, args);
    hostkit::SetSqlTraceFile("");
    const std::string trace = testing::ReadFile(dir / "trace.sql");
    // A server takes its values as $1, $2 ...
    const std::string mark = b_.Db().OnServer() ? "$1" : "?";
    for (const std::string& statement : std::vector<std::string>{"CREATE TABLE IF NOT EXISTS t_RcvBill",
                                        "SELECT FRcvID, FBillNo, FRevision, FFingerprint, CASE WHEN FListCreated > " + mark,
                                        "INSERT INTO t_RcvBill (", "INSERT INTO t_RcvBillEntry ("}) {
        EXPECT_NE(trace.find(statement), std::string::npos) << statement;
    }
}

}  // namespace
}  // namespace orba::facade

namespace orba::facade {
namespace {

// A purchase-order bill list of one bill: `bill` as packaged, or changed by `change`.
Ref<VariantVector> OneOrder(const Ref<VariantDictionary>& bill) {
    return testing::List({Variant(Package(501, Variant(testing::List({Variant(bill)}))))});
}

Ref<VariantDictionary> WithKey(const Ref<VariantDictionary>& record, std::string_view key, Variant value) {
    auto copy = Without(record, "");
    copy->Put(std::string(key), std::move(value));
    return copy;
}

TEST_F(ReceivedBillsTest, AReSentBillIsHeldWhenIdenticalReplacedWhenChangedAndNeverTakesAnotherBillsPlace) {
    Ref<VariantVector> bills = BillsOf(PackageAtA(Requests({501}))->Item(1));
    auto lines_of = [](const Ref<VariantDictionary>& b) {
        return platform::RefCast<VariantVector>(b->Value(key::kReqEntry).AsObject());
    };
    Ref<VariantDictionary> original;
    for (int32_t i = 1; i <= bills->UpperBound() && !original; ++i) {
        if (lines_of(AsRecord(bills->Item(i)))->UpperBound() >= 2) original = AsRecord(bills->Item(i));
    }
    ASSERT_TRUE(original) << "the sample needs an order with two lines";
    const std::string bill_no = original->Value(key::kBillID).ToText();
    const int32_t lines = lines_of(original)->UpperBound();
    const std::string first_qty = AsRecord(lines_of(original)->Item(1))->Value(key::kQty).ToDecimal().ToString();
    auto with_line = [&](int32_t line, std::string_view k, Variant v) {
        Ref<VariantVector> changed = WithItem(lines_of(original), line, Variant(WithKey(AsRecord(lines_of(original)->Item(line)), k, v)));
        return WithKey(original, key::kReqEntry, Variant(changed));
    };
    auto one_line_less = [&] {
        auto fewer = MakeRef<VariantVector>();
        for (int32_t l = 1; l < lines; ++l) fewer->Add(lines_of(original)->Item(l));
        return WithKey(original, key::kReqEntry, Variant(fewer));
    };
    using Kind = hostkit::SaveOutcomeKind;
    struct Case {
        const char* name;
        Ref<VariantDictionary> resent;
        Kind outcome;
        int revision;
        std::string first_qty;
        int lines;
        int32_t held_inter_id;
        std::string says;
    };
    const int32_t inter_id = original->Value(key::kBillInterID).ToLong();
    std::string other_letters = bill_no;
    for (char& ch : other_letters) ch = static_cast<char>(std::islower(static_cast<unsigned char>(ch)) ? std::toupper(ch) : std::tolower(ch));
    ASSERT_NE(other_letters, bill_no);
    const Case cases[] = {
        {"identical", original, Kind::kAlreadyHeld, 1, first_qty, lines, inter_id,
         ": already held (identical), not saved again\r\n"},
        {"a corrected quantity", with_line(1, key::kQty, Variant(platform::Decimal::Parse("987.125"))), Kind::kUpdated, 2,
         "987.125", lines, inter_id, ": updated, the received copy replaced (revision 2)\r\n"},
        {"a line taken away", one_line_less(), Kind::kUpdated, 2, first_qty, lines - 1, inter_id, ": updated"},
        {"another preparer", WithKey(original, "Preparer", Variant("Someone else")), Kind::kUpdated, 2, first_qty, lines,
         inter_id, ": updated"},
        // The copy is compared by its fingerprint, which takes texts as they are: a number
        // written in other letters is the same bill (one row), renumbered.
        {"its number in other letters", WithKey(original, key::kBillID, Variant(other_letters)), Kind::kUpdated, 2,
         first_qty, lines, inter_id, "(revision 2; it was held as " + bill_no + " before)"},
        {"only its transmission flag changed", WithKey(original, "TranStatus", Variant(int16_t{1})), Kind::kAlreadyHeld,
         1, first_qty, lines, inter_id, ": already held (identical)"},
        {"another bill with the same number", WithKey(original, key::kBillInterID, Variant(inter_id + 100000)),
         Kind::kNotSaved, 1, first_qty, lines, inter_id, "another bill of branch 01.001 with this number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetReceived();
        UnpackageAtB(OneOrder(original));
        std::vector<hostkit::SaveOutcome> heard;
        Ref<VariantVector> resent = OneOrder(c.resent);
        const std::string message = UnpackageAtB(resent, heard);

        ASSERT_EQ(heard.size(), 1u) << message;
        EXPECT_EQ(heard[0].kind, c.outcome) << heard[0].reason;
        EXPECT_EQ(heard[0].bills, BillsOf(resent->Item(1)).Get());
        EXPECT_EQ(heard[0].index, 1);
        EXPECT_EQ(heard[0].bill_no, c.resent->Value(key::kBillID).ToText());
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        const auto held = b_.Db().Rows("SELECT FRcvID, FRevision, FBillInterID FROM t_RcvBill WHERE FBillNo='" + bill_no + "'");
        ASSERT_EQ(held.size(), 1u);
        EXPECT_EQ(held[0][1], std::to_string(c.revision));
        EXPECT_EQ(held[0][2], std::to_string(c.held_inter_id));
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBillEntry WHERE FRcvID=" + held[0][0]), c.lines);
        EXPECT_EQ(platform::Decimal::Parse(
                      b_.Db().Text("SELECT FQty FROM t_RcvBillEntry WHERE FIndex=1 AND FRcvID=" + held[0][0]).value_or("?"))
                      .ToString(),
                  c.first_qty);
        EXPECT_TRUE(ui_->Messages().empty());
    }
}

// A record that is not the bill its package, list and branch say it is would be held beside
// the real bill, or under another branch's name: it is not saved, and says why.
// A copy kept before internal numbers were kept is found by its bill number, and one kept
// with its number by that; either way the bill sent again is held once.
TEST_F(ReceivedBillsTest, AHeldCopyIsFoundByItsInternalNumberOrWithoutOneByItsBillNumber) {
    Ref<VariantVector> list = PackageAtA(Requests({501}));
    ASSERT_GE(BillsOf(list->Item(1))->UpperBound(), 2);
    const std::string kept_without = AsRecord(BillsOf(list->Item(1))->Item(2))->Value(key::kBillID).ToText();
    UnpackageAtB(list);
    const long long held = b_.Db().Int("SELECT count(*) FROM t_RcvBill");
    b_.Db().Exec("UPDATE t_RcvBill SET FBillInterID=NULL WHERE FBillNo='" + kept_without + "'");
    const std::string again = UnpackageAtB(list);
    EXPECT_NE(again.find(kept_without + " from branch 01.001: already held (identical)"), std::string::npos) << again;
    EXPECT_EQ(again.find(": not saved:"), std::string::npos) << again;
    EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill"), held);
}

TEST_F(ReceivedBillsTest, ARecordThatContradictsItsPackageOrListIsNotSaved) {
    const Ref<VariantDictionary> original = AsRecord(BillsOf(PackageAtA(Requests({501}))->Item(1))->Item(1));
    const std::string bill_no = original->Value(key::kBillID).ToText();
    auto branch = [](Variant number) { return Variant(Record({{"Name", Variant("分公司")}, {"Number", number}})); };
    struct Case {
        const char* name;
        Ref<VariantDictionary> record;
        std::string_view says;
    };
    const Case cases[] = {
        {"another type than its package's", WithKey(original, key::kBillType, Variant(int16_t{72})),
         "its own bill type 72 is not that of a purchase order (71)"},
        {"another sender than its list's", WithKey(original, "BrID", branch(Variant("01.003"))),
         "names branch 01.003 as its own (BrID), but the list was sent by branch 01.001"},
        {"addressed to another branch", WithKey(original, "BrIDRsv", branch(Variant("01.004"))),
         "addressed to branch 01.004 (BrIDRsv), not to this branch 01.002"},
        {"addressed to no branch", WithKey(original, "BrIDRsv", branch(Variant::Null())),
         "addressed to no branch (BrIDRsv)"},
    };
    hostkit::SaveSession session;
    session.received = hostkit::ReceivedList{"01.001", platform::Date::Now()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetReceived();
        UnpackageAtB(OneOrder(original));
        std::vector<hostkit::SaveOutcome> heard;
        const std::string message = UnpackageAtB(OneOrder(c.record), heard);
        ASSERT_EQ(heard.size(), 1u) << message;
        EXPECT_EQ(heard[0].kind, hostkit::SaveOutcomeKind::kNotSaved);
        EXPECT_NE(heard[0].reason.find(c.says), std::string::npos) << heard[0].reason;
        EXPECT_NE(message.find(std::string(c.says)), std::string::npos) << message;
        EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill"), 1);
        EXPECT_EQ(b_.Db().Int("SELECT FRevision FROM t_RcvBill WHERE FBillNo='" + bill_no + "'"), 1);
    }
}

// B keeps the newest copy of a bill: a copy from an older list never replaces it, whatever
// order the lists are saved in, and a renumbered bill is still one bill.
TEST_F(ReceivedBillsTest, OnlyANewerListReplacesACopyAndARenumberedBillStaysOneBill) {
    const Ref<VariantDictionary> original = AsRecord(BillsOf(PackageAtA(Requests({501}))->Item(1))->Item(1));
    const int32_t inter_id = original->Value(key::kBillInterID).ToLong();
    const Ref<VariantDictionary> changed = WithKey(original, "Preparer", Variant("Someone else"));
    const Ref<VariantDictionary> renumbered = WithKey(original, key::kBillID, Variant("POOR01-RENUMBERED"));
    using Kind = hostkit::SaveOutcomeKind;
    struct Step {
        const char* name;
        Ref<VariantDictionary> record;
        int list_day;  // the day of December the list was made
        Kind outcome;
        std::string says;
        std::string preparer_held;
    };
    const std::string preparer = original->Value("Preparer").ToText();
    const Step steps[] = {
        {"the newer list first", changed, 20, Kind::kSaved, ": saved", "Someone else"},
        {"an older list with another copy", original, 10, Kind::kNotSaved, "a newer copy of this bill", "Someone else"},
        {"an older list with the same copy", changed, 10, Kind::kAlreadyHeld, "already held", "Someone else"},
        {"a newer list with another copy", original, 21, Kind::kUpdated, "(revision 2)", preparer},
        {"the list of the 20th again, older now", changed, 20, Kind::kNotSaved, "a newer copy", preparer},
        {"renumbered in a newer list", renumbered, 22, Kind::kUpdated,
         "it was held as " + original->Value(key::kBillID).ToText() + " before", preparer},
    };
    ForgetReceived();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        std::vector<hostkit::SaveOutcome> heard;
        std::string message;
        {
            hostkit::SaveSession session;
            session.received = hostkit::ReceivedList{"01.001", platform::Date::FromParts(2026, 12, step.list_day)};
            message = UnpackageAtB(OneOrder(step.record), heard);
        }
        ASSERT_EQ(heard.size(), 1u) << message;
        EXPECT_EQ(heard[0].kind, step.outcome) << heard[0].reason;
        EXPECT_NE(message.find(step.says), std::string::npos) << message;
        const auto held = b_.Db().Rows("SELECT FPreparer, FBillNo FROM t_RcvBill WHERE FBillInterID=" +
                                       std::to_string(inter_id));
        ASSERT_EQ(held.size(), 1u);
        EXPECT_EQ(held[0][0], step.preparer_held);
        EXPECT_EQ(held[0][1], step.record->Value(key::kBillID).ToText() == "POOR01-RENUMBERED"
                                  ? "POOR01-RENUMBERED"
                                  : original->Value(key::kBillID).ToText());
    }
}

TEST_F(ReceivedBillsTest, TablesOfAnEarlierVersionGainTheRevisionAndKeepTheirBills) {
    std::string old_schema(hostkit::kReceivedSchema);
    for (std::string_view column : {"    FRevision         INTEGER NOT NULL DEFAULT 1,\n",
                                    "    FRevisedAt        DATETIME,\n"}) {
        const size_t at = old_schema.find(column);
        ASSERT_NE(at, std::string::npos) << column;
        old_schema.erase(at, column.size());
    }
    MakeReceivedTables(old_schema);
    Ref<VariantVector> list = PackageAtA(Requests({501}));
    const std::string first = UnpackageAtB(list);
    ASSERT_GT(Count(first, ": saved\r\n"), 0) << first;
    EXPECT_EQ(b_.Db().Int("SELECT count(*) FROM t_RcvBill WHERE FRevision<>1"), 0);
    EXPECT_EQ(Count(UnpackageAtB(list), "already held (identical)"), Count(first, ": saved\r\n"));
}

}  // namespace
}  // namespace orba::facade

namespace orba::facade {
namespace {

// A database administrator may make the tables of received bills and let the clerks' account
// only read and write them: the saving component then saves into them without creating any.
TEST(ReceivedBillsOnServer, AnAccountThatMayNotCreateTablesSavesIntoTablesMadeForIt) {
    const hostkit::SampleOptions a_options = Sample(1);
    const hostkit::SampleOptions b_options = Sample(2);
    testing::BackendBranch a(testing::Backend::kPostgres, &a_options);
    testing::BackendBranch b(testing::Backend::kPostgres, &b_options);
    const std::string& admin_uri = b.Location();
    const std::string schema = admin_uri.substr(admin_uri.rfind("%3D") + 3);
    const std::string clerk = "clerk_" + schema;
    {
        hostkit::PgDatabase admin(admin_uri);
        admin.Exec(hostkit::ReceivedSchemaForServer(hostkit::kReceivedSchema));
        admin.Exec(fmt::format("CREATE ROLE {0} LOGIN; GRANT USAGE ON SCHEMA {1} TO {0}; "
                               "GRANT SELECT ON ALL TABLES IN SCHEMA {1} TO {0}; "
                               "GRANT INSERT, UPDATE, DELETE ON t_RcvBill, t_RcvBillEntry TO {0}; "
                               "GRANT USAGE ON ALL SEQUENCES IN SCHEMA {1} TO {0}",
                               clerk, schema));
    }
    std::string clerk_uri = admin_uri;
    clerk_uri.replace(clerk_uri.find("user=postgres"), 13, "user=" + clerk);

    a.Activate();
    Ref<VariantVector> list =
        MakeRef<BillTrans>()->PackageBills(Requests({501}), BranchRecord(kBranchBNumber, kBranchBName));
    ASSERT_TRUE(list);
    const Ref<VariantVector> bills = BillsOf(list->Item(1));
    ASSERT_GT(bills->UpperBound(), 0);
    std::string messages;
    hostkit::SaveData::Save(hostkit::MakeLoginProperties(clerk_uri), Variant(bills), hostkit::ReceivedKind::kOrder,
                            messages);
    EXPECT_EQ(Count(messages, ": saved\r\n"), bills->UpperBound()) << messages;
    EXPECT_EQ(b.Rows("SELECT count(*) FROM t_RcvBill"), fmt::format("{}\n", bills->UpperBound()));
    // The clerk indeed may not create tables.
    hostkit::PgDatabase as_clerk(clerk_uri);
    EXPECT_THROW(as_clerk.Exec("CREATE TABLE t_Other (x INTEGER)"), platform::Error);
}

}  // namespace
}  // namespace orba::facade
