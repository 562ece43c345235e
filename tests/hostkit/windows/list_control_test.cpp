// The host kit's list control on a generated branch database: which bills each condition
// lists, the selection it hands back, search, and a condition the database refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "hostkit/hostkit.h"
#include "hostkit/sample_data.h"
#include "hostkit/windows/bill_list.h"
#include "hostkit/windows/list_control.h"
#include "platform/dispatch.h"
#include "platform/registry.h"
#include "support/erp_test_db.h"
#include "support/qt_app.h"

namespace orba::hostkit {
namespace {

namespace fs = std::filesystem;
using platform::Call;
using platform::GetProperty;
using platform::LetProperty;
using platform::Ref;
using platform::Variant;

class ListControlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        orba::testing::TestApplication();
        RegisterHostKit();
        path_ = (fs::temp_directory_path() / ("orba_list_" + std::to_string(::getpid()) + ".db")).string();
        fs::remove(path_);
        SampleOptions options;
        options.orders = 60;
        options.notices = 60;
        options.returns = 30;
        CreateSampleDatabase(path_, options);
    }
    static void TearDownTestSuite() { fs::remove(path_); }

    // A control set up as the browse window sets up the dialog.
    static Ref<platform::Object> MakeControl(int32_t list_id, int32_t tran_type, const std::string& filter) {
        Ref<platform::Object> c = platform::CreateObject(kListControlProgId);
        LetProperty(c, "BaseInfo", {}, Variant("Data Source=" + path_ + "|1|李明"));
        LetProperty(c, "ListID", {}, Variant(list_id));
        LetProperty(c, "TranType", {}, Variant(tran_type));
        LetProperty(c, "ListShowStatus", {}, Variant(int32_t{2}));
        LetProperty(c, "Filter", {}, Variant(filter));
        LetProperty(c, "MultiSelect", {}, Variant(int32_t{-1}));
        LetProperty(c, "CanSelectMultiRow", {}, Variant(true));
        return c;
    }
    static ListControl& Of(const Ref<platform::Object>& c) { return *platform::RefCast<ListControl>(c); }

    static std::vector<int32_t> IdsOf(const std::vector<BillListRow>& rows) {
        std::vector<int32_t> ids;
        for (const auto& r : rows) ids.push_back(r.inter_id);
        return ids;
    }

    static inline std::string path_;
};

TEST_F(ListControlTest, EachBillKindListsExactlyWhatItsConditionSelects) {
    struct Case {
        int32_t list_id, tran_type;
        const char* filter;
        const char* reference;  // the same bills read straight from the database
        const char* name;
    };
    const Case cases[] = {
        {26, 71, "v1.FStatus IN (1) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
         "SELECT FInterID FROM POOrder WHERE FStatus IN (1) AND FRelateBrID<>0 AND FRelateBrID IS NOT NULL "
         "ORDER BY FDate, FBillNo", "采购订单"},
        {34, 83, "v1.FStatus IN (1,2) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
         "SELECT FInterID FROM SEOutStock WHERE FTranType=83 AND FStatus IN (1,2) AND FRelateBrID<>0 AND "
         "FRelateBrID IS NOT NULL ORDER BY FDate, FBillNo", "发货通知单"},
        {33, 82, "v1.FStatus IN (1,2) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
         "SELECT FInterID FROM SEOutStock WHERE FTranType=82 AND FStatus IN (1,2) AND FRelateBrID<>0 AND "
         "FRelateBrID IS NOT NULL ORDER BY FDate, FBillNo", "退货通知单"},
    };
    testing::TestDb db(path_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int32_t> expected;
        for (const auto& row : db.Rows(c.reference)) expected.push_back(std::stoi(row[0]));
        const auto all = db.Rows(std::string("SELECT count(*) FROM ") + (c.tran_type == 71 ? "POOrder" : "SEOutStock WHERE FTranType=" + std::to_string(c.tran_type)));
        ASSERT_GT(expected.size(), 1u) << "the sample has bills the condition selects";
        ASSERT_LT(expected.size(), std::stoul(all[0][0])) << "and bills it leaves out";

        Ref<platform::Object> control = MakeControl(c.list_id, c.tran_type, c.filter);
        ASSERT_TRUE(Call(control, "PrepareList").ToBoolean()) << Of(control).ErrorText();
        ASSERT_TRUE(Call(control, "LoadList").ToBoolean()) << Of(control).ErrorText();
        EXPECT_EQ(IdsOf(Of(control).Rows()), expected) << Of(control).ErrorText();
        for (const auto& r : Of(control).Rows()) EXPECT_EQ(r.tran_type, c.tran_type);

        Ref<platform::Object> info = GetProperty(control, "ListInfo").ToObject();
        Ref<platform::Object> first = GetProperty(info, "Item", {Variant(int16_t{1})}).ToObject();
        EXPECT_EQ(GetProperty(first, "Value", {Variant("FName")}).ToText(), c.name);

        // Choosing two bills: confirmable, and handed back as records in list order.
        Of(control).Widget();
        EXPECT_FALSE(GetProperty(control, "CanConfirm").ToBoolean());
        Of(control).SelectBills({expected.back(), expected.front()});
        EXPECT_TRUE(GetProperty(control, "CanConfirm").ToBoolean());
        Ref<platform::Object> chosen = Call(control, "GetSelected").ToObject();
        ASSERT_EQ(GetProperty(chosen, "UpperBound").ToLong(), 2);
        Ref<platform::Object> one = GetProperty(chosen, "Item", {Variant(int32_t{1})}).ToObject();
        Ref<platform::Object> two = GetProperty(chosen, "Item", {Variant(int32_t{2})}).ToObject();
        EXPECT_EQ(GetProperty(one, "Value", {Variant("FInterID")}), Variant(expected.front()));
        EXPECT_EQ(GetProperty(two, "Value", {Variant("FInterID")}), Variant(expected.back()));
        EXPECT_EQ(GetProperty(two, "Value", {Variant("FTranType")}), Variant(c.tran_type));
    }
}

TEST_F(ListControlTest, SearchNarrowsTheListToMatchingBills) {
    Ref<platform::Object> control = MakeControl(26, 71, "");
    ASSERT_TRUE(Call(control, "PrepareList").ToBoolean());
    ASSERT_TRUE(Call(control, "LoadList").ToBoolean());
    const auto& rows = Of(control).Rows();
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(Of(control).Search(rows[1].bill_no), 1);
    EXPECT_EQ(Of(control).Search(""), static_cast<int>(rows.size()));
    // A selection made under a search gives the bills shown, not rows of the full list.
    Of(control).Search(rows[2].bill_no);
    Of(control).SelectBills({rows[2].inter_id});
    Ref<platform::Object> chosen = Call(control, "GetSelected").ToObject();
    ASSERT_EQ(GetProperty(chosen, "UpperBound").ToLong(), 1);
    Ref<platform::Object> one = GetProperty(chosen, "Item", {Variant(int32_t{1})}).ToObject();
    EXPECT_EQ(GetProperty(one, "Value", {Variant("FBillNo")}).ToText(), rows[2].bill_no);
}

TEST_F(ListControlTest, RefusedConditionShowsItsErrorAndNothingIsSelectable) {
    testing::TestDb db(path_);
    const std::string count_before = db.Rows("SELECT count(*) FROM POOrder")[0][0];
    struct Case {
        const char* filter;
        const char* names;  // what the shown error mentions
    };
    const Case cases[] = {
        {"v1.FNoSuchColumn = 1", "FNoSuchColumn"},
        {"v1.FStatus IN (1", ""},
        {"1=1) ; DELETE FROM POOrder WHERE (1=1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        Ref<platform::Object> control = MakeControl(26, 71, c.filter);
        Of(control).Widget();
        ASSERT_TRUE(Call(control, "PrepareList").ToBoolean());
        EXPECT_TRUE(Call(control, "LoadList").ToBoolean()) << "the dialog stays up so the error can be read";
        EXPECT_EQ(Of(control).ErrorText().rfind(std::string(kListErrorHead), 0), 0u) << Of(control).ErrorText();
        EXPECT_NE(Of(control).ErrorText().find(c.names), std::string::npos);
        EXPECT_TRUE(Of(control).Rows().empty());
        EXPECT_FALSE(GetProperty(control, "CanConfirm").ToBoolean());
        EXPECT_EQ(GetProperty(Call(control, "GetSelected").ToObject(), "UpperBound").ToLong(), 0);
    }
    EXPECT_EQ(db.Rows("SELECT count(*) FROM POOrder")[0][0], count_before);
}

TEST_F(ListControlTest, NotReadyOrNothingToShow) {
    Ref<platform::Object> unknown = MakeControl(26, 83, "");  // list ID of another kind
    EXPECT_FALSE(Call(unknown, "PrepareList").ToBoolean());
    // No bill: the dialog still opens, and says there is none.
    Ref<platform::Object> empty = MakeControl(26, 71, "1=0");
    ASSERT_TRUE(Call(empty, "PrepareList").ToBoolean());
    EXPECT_TRUE(Call(empty, "LoadList").ToBoolean());
    EXPECT_TRUE(Of(empty).ErrorText().empty());
    EXPECT_EQ(Of(empty).NoteText(), "没有符合条件的采购订单。");
    Ref<platform::Object> missing = platform::CreateObject(kListControlProgId);
    LetProperty(missing, "BaseInfo", {}, Variant("Data Source=/no/such/branch.db|1|x"));
    LetProperty(missing, "TranType", {}, Variant(int32_t{71}));
    EXPECT_FALSE(Call(missing, "PrepareList").ToBoolean());
    EXPECT_NE(Of(missing).ErrorText().find("/no/such/branch.db"), std::string::npos);
}

// A form that lets the control go while it handles the control's own button click.
class ReleasingSink : public platform::Object {
public:
    explicit ReleasingSink(Ref<platform::Object>* held) : held_(held) {}
    Variant Invoke(std::string_view, platform::CallKind, std::span<Variant> args) override {
        commands.push_back(args[0].ToText());
        held_->Reset();
        return {};
    }
    std::string_view ClassName() const override { return "ReleasingSink"; }
    std::vector<std::string> commands;

private:
    Ref<platform::Object>* held_;
};

TEST_F(ListControlTest, ReleasedWhileHandlingItsOwnButton) {
    Ref<platform::Object> control = MakeControl(26, 71, "");
    QWidget* widget = Of(control).Widget();
    auto sink = platform::MakeRef<ReleasingSink>(&control);
    Of(control).Advise(Ref<platform::Object>(sink));
    QPushButton* leave = nullptr;
    for (QPushButton* b : widget->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("退出")) leave = b;
    }
    ASSERT_NE(leave, nullptr);
    // Sizes beyond any screen are taken without overflow.
    platform::LetProperty(control, "Height", {}, Variant(int32_t{2147483647}));
    platform::LetProperty(control, "Width", {}, Variant(int32_t{-5}));
    QPointer<QWidget> watch(widget);
    leave->click();
    EXPECT_FALSE(control);
    EXPECT_EQ(sink->commands, std::vector<std::string>{"Exit"});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.isNull()) << "the widget goes with its control";
}

TEST(BillListText, AmountsStatusesAndBaseInfo) {
    struct Case {
        Variant amount;
        const char* text;
    };
    const Case cases[] = {
        {Variant(platform::Decimal::Parse("1234567.5")), "1,234,567.50"},
        {Variant(platform::Decimal::Parse("-1234.005")), "-1,234.01"},
        {Variant(platform::Decimal::Parse("999")), "999.00"},
        {Variant(platform::Decimal::Parse("0.005")), "0.01"},
        {Variant::Null(), "0.00"},
    };
    for (const Case& c : cases) EXPECT_EQ(AmountText(c.amount), c.text);
    EXPECT_EQ(BillStatusText(Variant(int32_t{1})), "已审核");
    EXPECT_EQ(BillStatusText(Variant::Null()), "");
    EXPECT_EQ(TransmittedText(Variant::Null()), "未传输");
    EXPECT_EQ(TransmittedText(Variant(int32_t{1})), "已传输");
    EXPECT_EQ(DatabaseFromBaseInfo("Data Source=/a/b.db|12|李明"), "/a/b.db");
    EXPECT_EQ(DatabaseFromBaseInfo("Server=x|12|李明"), "");
    EXPECT_EQ(DatabaseFromBaseInfo("garbage|1|x"), "");
    EXPECT_EQ(BillListSql(*FindBillListKind(71, 0), "  ").find("AND ("), std::string::npos);
}

}  // namespace
}  // namespace orba::hostkit

namespace orba::hostkit {
namespace {

// A host that sends to one branch has every list show only the bills addressed to it, and
// say so; a file that is no branch database is named in one line, without the statement.
TEST_F(ListControlTest, AChosenReceiverNarrowsEveryListAndAnUnreadableDatabaseIsNamed) {
    testing::TestDb db(path_);
    const auto expected = db.Rows("SELECT v.FInterID FROM POOrder v JOIN t_SonCompany b ON v.FRelateBrID=b.FItemID "
                                  "WHERE b.FNumber='01.002' AND v.FStatus IN (1) ORDER BY v.FDate, v.FBillNo");
    ASSERT_FALSE(expected.empty());
    SetListReceiver({"01.002", "苏州锦程精密机械有限公司"});
    Ref<platform::Object> control = MakeControl(26, 71, "v1.FStatus IN (1)");
    ASSERT_TRUE(Call(control, "PrepareList").ToBoolean());
    ASSERT_TRUE(Call(control, "LoadList").ToBoolean());
    SetListReceiver({});
    EXPECT_EQ(Of(control).Rows().size(), expected.size()) << Of(control).ErrorText();
    EXPECT_EQ(Of(control).NoteText(), "只列出发往 01.002 苏州锦程精密机械有限公司 的单据。");

    const std::string empty_file = path_ + ".empty";
    { std::FILE* f = std::fopen(empty_file.c_str(), "w"); std::fclose(f); }
    Ref<platform::Object> unreadable = platform::CreateObject(kListControlProgId);
    LetProperty(unreadable, "BaseInfo", {}, Variant("Data Source=" + empty_file + "|1|x"));
    LetProperty(unreadable, "TranType", {}, Variant(int32_t{71}));
    LetProperty(unreadable, "ListID", {}, Variant(int32_t{26}));
    ASSERT_TRUE(Call(unreadable, "PrepareList").ToBoolean()) << Of(unreadable).ErrorText();
    EXPECT_TRUE(Call(unreadable, "LoadList").ToBoolean());
    const std::string error = Of(unreadable).ErrorText();
    fs::remove(empty_file);
    EXPECT_EQ(error.rfind("账套数据库 ", 0), 0u) << error;
    EXPECT_NE(error.find(empty_file), std::string::npos) << error;
    EXPECT_EQ(error.find("SELECT"), std::string::npos) << error;
}

}  // namespace
}  // namespace orba::hostkit
