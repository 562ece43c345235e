// What orbabt browse writes after the window: a send vector that unpackage takes at the
// receiving branch (one list per branch when the bills go to several), download requests
// that package takes, and plain words when nothing was chosen.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QTimer>

#include "apps/orbabt/browse_result.h"
#include "apps/orbabt/cmd_browse.h"
#include "exchange/steps.h"
#include "exchange/transport.h"
#include "data/bill_records.h"
#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "facade/browse_entry.h"
#include "host/variant_dictionary.h"
#include "hostkit/database.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "support/branch_env.h"
#include "support/erp_test_db.h"
#include "support/error_of.h"
#include "support/exchange_records.h"
#include "support/qt_app.h"
#include "ui/browse/browse_tools.h"
#include "ui/browse/frm_browse_base.h"

namespace orba::apps {

using namespace orba::exchange;
namespace {

namespace fs = std::filesystem;
using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class BrowseResultTest : public ::testing::Test {
protected:
    BrowseResultTest() {
        testing::RegisterEverything();
        for (auto [file, branch] : {std::pair{"a.db", 1}, std::pair{"b.db", 2}}) {
            hostkit::SampleOptions o;
            o.branch = branch;
            o.orders = 16;
            o.notices = 12;
            o.returns = 8;
            o.lines = 3;
            o.seed = static_cast<uint64_t>(branch);
            hostkit::CreateSampleDatabase((dir_ / file).string(), o);
        }
        hostkit::SetLoginProperties(hostkit::MakeLoginProperties(A()));
    }

    std::string A() const { return (dir_ / "a.db").string(); }
    std::string B() const { return (dir_ / "b.db").string(); }

    // The send vector the window builds for the listed orders addressed to `branch`.
    Ref<VariantVector> SendVector(const std::string& where) {
        hostkit::testing::TestDb db(A());
        std::string ids;
        for (const auto& row : db.Rows("SELECT FInterID FROM POOrder WHERE FStatus=1 AND " + where)) ids += row[0] + ",";
        EXPECT_FALSE(ids.empty());
        ids.pop_back();
        auto trans = MakeRef<facade::BillTrans>();  // the shared connection the extraction uses
        auto package = MakeRef<VariantDictionary>();
        package->Let(data::key::kBillType, Variant(int16_t{501}));
        package->Let(data::key::kBillName, Variant("内部订单"));
        package->Set(data::key::kBillsData, MakeRef<data::DataTrans>()->GetPOOrdVect(ids, false, {}));
        auto list = MakeRef<VariantVector>();
        list->Add(Variant(package));
        return list;
    }

    Outcome Run(const std::string& args, const std::string& env = "") {
        const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "orbabt";
        const std::string command = "cd '" + dir_.Path().string() + "' && " + env + " '" + program.string() + "' " +
                                    args + " </dev/null >out.txt 2>err.txt";
        const int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testing::ReadFile(dir_ / "out.txt"),
                       testing::ReadFile(dir_ / "err.txt")};
    }

    testing::TempDir dir_;
};

TEST_F(BrowseResultTest, ASendVectorIsSavedAtTheBranchItIsAddressedTo) {
    const auto list = SendVector("FRelateBrID=2");
    const std::string file = (dir_ / "send.json").string();
    ASSERT_EQ(WriteBrowseResult(list, false, *hostkit::OpenDatabase(A()), file), 0);
    const ListFile written = ReadListFile(testing::ReadFile(file), file);
    EXPECT_EQ(written.sender.number, "01.001");
    EXPECT_EQ(written.receiver.number, "01.002");

    const Outcome saved = Run("unpackage --db b.db send.json");
    EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
    hostkit::testing::TestDb b(B());
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FSendBrNumber='01.001' AND FTranType=71"),
              platform::ObjectAs<VariantVector>(
                  platform::ObjectAs<VariantDictionary>(list->Item(1))->Value(data::key::kBillsData))
                  ->UpperBound());
}

// A bill whose own type is not its package's is never written under that package's type.
TEST_F(BrowseResultTest, ABillOfAnotherTypeInAPackageWritesNoList) {
    const auto list = SendVector("FRelateBrID=2");
    auto package = platform::ObjectAs<VariantDictionary>(list->Item(1));
    auto bills = platform::ObjectAs<VariantVector>(package->Value(data::key::kBillsData));
    auto bill = platform::ObjectAs<VariantDictionary>(bills->Item(bills->UpperBound()));
    bill->Let(data::key::kBillType, Variant(int16_t{83}));
    const std::string file = (dir_ / "send.json").string();
    const platform::Error e = testing::ErrorOf([&] { WriteBrowseResult(list, false, *hostkit::OpenDatabase(A()), file); });
    EXPECT_NE(std::string(e.what()).find(bill->Value(data::key::kBillID).ToText()), std::string::npos) << e.what();
    EXPECT_FALSE(fs::exists(file));
}

// Bills for two branches make one list for each, beside the file named; each is saved at its
// branch alone, and together they hold every bill chosen.
TEST_F(BrowseResultTest, BillsForSeveralBranchesMakeOneListForEachBranch) {
    const auto chosen = SendVector("FRelateBrID IN (2,3)");
    ASSERT_EQ(WriteBrowseResult(chosen, false, *hostkit::OpenDatabase(A()), (dir_ / "send.json").string()), 0);
    EXPECT_FALSE(fs::exists(dir_ / "send.json"));
    int32_t bills = 0;
    for (const char* branch : {"01.002", "01.003"}) {
        const fs::path file = dir_ / fmt::format("send.{}.json", branch);
        const ListFile written = ReadListFile(testing::ReadFile(file), file.string());
        EXPECT_EQ(written.receiver.number, branch);
        for (const PackageCount& c : CountPackages(*written.list)) bills += c.bills;
    }
    int32_t chosen_bills = 0;
    for (const PackageCount& c : CountPackages(*chosen)) chosen_bills += c.bills;
    EXPECT_EQ(bills, chosen_bills);
    const Outcome saved = Run("unpackage --db b.db send.01.002.json");
    EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
    EXPECT_EQ(ListFileFor("", "01.002"), "send.01.002.json");
    EXPECT_EQ(ListFileFor("out/list", "01.003"), "out/list.01.003.json");
    EXPECT_EQ(ListFileFor("out/list.json.gz", "01.003"), "out/list.01.003.json.gz");
}

TEST_F(BrowseResultTest, DownloadRequestsArePackagedAtTheSupplyingBranch) {
    auto requests = MakeRef<VariantVector>();
    for (int16_t type : {int16_t{501}, int16_t{503}}) {
        auto r = MakeRef<VariantDictionary>();
        r->Let(data::key::kBillType, Variant(type));
        r->Let(data::key::kBillName, Variant("内部订单"));
        r->Set(data::key::kBillsData, Ref<platform::Object>());
        requests->Add(Variant(r));
    }
    ASSERT_EQ(WriteBrowseResult(requests, true, *hostkit::OpenDatabase(B()), (dir_ / "req.json").string()), 0);
    const Outcome packaged =
        Run("package --db a.db --requests req.json --to 01.002 --to-name '苏州锦程精密机械有限公司' -o list.json");
    EXPECT_EQ(packaged.status, 0) << packaged.out << packaged.err;
    const ListFile list = ReadListFile(testing::ReadFile(dir_ / "list.json"), "list.json");
    ASSERT_EQ(list.list->UpperBound(), 2);
}

// The command itself: the window opens over the database, a scripted user chooses, and the
// file holds the choice.
TEST_F(BrowseResultTest, TheCommandWritesWhatWasChosenInTheWindow) {
    testing::TestApplication();
    hostkit::testing::TestDb a(A());
    auto picks = MakeRef<VariantVector>();
    for (const auto& row : a.Rows("SELECT FInterID FROM POOrder WHERE FStatus=1 AND FRelateBrID=2")) {
        auto pick = MakeRef<VariantDictionary>();
        pick->Let("FInterID", Variant(std::stoi(row[0])));
        pick->Let("FTranType", Variant(int32_t{71}));
        picks->Add(Variant(pick));
    }
    auto act = [](std::function<void(ui::FrmBrowseBase&)> user) {
        QTimer::singleShot(0, [user] {
            auto* w = qobject_cast<ui::FrmBrowseBase*>(QApplication::activeModalWidget());
            if (w) user(*w);
            if (QWidget* still = QApplication::activeModalWidget()) still->close();
        });
    };
    act([&](ui::FrmBrowseBase& w) {
        w.SetNodeChecked("POOrd", true);
        w.FillBillGrid(picks);
        w.Bar()->Click(ui::band::kToolBar, ui::tool::kFileSend);
    });
    ASSERT_EQ(RunBrowse(BrowseOptions{A(), "send", (dir_ / "send.json").string(), {}, {}}), 0);
    const ListFile sent = ReadListFile(testing::ReadFile(dir_ / "send.json"), "send.json");
    EXPECT_EQ(sent.receiver.number, "01.002");
    EXPECT_EQ(CountPackages(*sent.list).at(0).bills, picks->UpperBound());
    EXPECT_TRUE(facade::BillsNotFound().empty());

    // A listed bill deleted before the send is not sent, and is named.
    const auto gone = a.Rows("SELECT FInterID, FBillNo FROM POOrder WHERE FStatus=1 AND FRelateBrID=2")[0];
    act([&](ui::FrmBrowseBase& w) {
        w.SetNodeChecked("POOrd", true);
        w.FillBillGrid(picks);
        a.Exec("DELETE FROM POOrderEntry WHERE FInterID=" + gone[0]);
        a.Exec("DELETE FROM POOrder WHERE FInterID=" + gone[0]);
        w.Bar()->Click(ui::band::kToolBar, ui::tool::kFileSend);
    });
    ASSERT_EQ(RunBrowse(BrowseOptions{A(), "send", (dir_ / "send.json").string(), {}, {}}), 0);
    EXPECT_EQ(CountPackages(*ReadListFile(testing::ReadFile(dir_ / "send.json"), "send.json").list).at(0).bills,
              picks->UpperBound() - 1);
    EXPECT_EQ(facade::BillsNotFound(), std::vector<std::string>{"采购订单 " + gone[1]});

    act([](ui::FrmBrowseBase& w) {
        w.SetNodeChecked("POIn", true);
        w.Bar()->Click(ui::band::kToolBar, ui::tool::kFileDownLoad);
    });
    ASSERT_EQ(RunBrowse(BrowseOptions{B(), "download", (dir_ / "req.json").string(), {}, {}}), 0);
    const RequestFile requested = ReadRequestFile(testing::ReadFile(dir_ / "req.json"), "req.json");
    ASSERT_EQ(requested.requests->UpperBound(), 1);

    // Exit, and a send with no type checked (an empty vector), leave nothing to write.
    act([](ui::FrmBrowseBase& w) { w.Bar()->Click(ui::band::kFile, ui::tool::kFileExit); });
    EXPECT_EQ(RunBrowse(BrowseOptions{B(), "download", (dir_ / "none.json").string(), {}, {}}), kNothingChosen);
    act([](ui::FrmBrowseBase& w) { w.Bar()->Click(ui::band::kFile, ui::tool::kFileSend); });
    EXPECT_EQ(RunBrowse(BrowseOptions{A(), "send", (dir_ / "none.json").string(), {}, {}}), kNothingChosen);
    EXPECT_FALSE(fs::exists(dir_ / "none.json"));
}

TEST_F(BrowseResultTest, TheWindowWithoutADisplayIsAClearError) {
    const Outcome o = Run("browse --db a.db --mode send", "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("needs a display"), std::string::npos) << o.err;
    const Outcome bad = Run("browse --db a.db --mode upload");
    EXPECT_NE(bad.status, 0);
}

}  // namespace
}  // namespace orba::apps
