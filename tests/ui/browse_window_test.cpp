// The browse window on a generated branch database: what it shows per mode, how the tree,
// tabs and frames follow the user, every message of its commands, the send packages and
// download requests it leaves, and how chosen bills fill a grid.
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <fmt/format.h>

#include <functional>

#include "browse_window_fixture.h"
#include "ui/browse/browse_tools.h"

namespace orba::ui {
namespace {

using namespace browse_test;

TEST_F(BrowseWindowTest, CaptionToolsAndTreeFollowTheMode) {
    struct Case {
        int32_t mode;
        const char* caption;
        bool send, download, filter;
        std::vector<std::pair<std::string, std::string>> nodes;
    };
    const Case cases[] = {
        {0, "发送单据", true, false, true, {{"POOrd", "采购订单"}, {"SEOut", "发货通知单"}, {"SEIn", "退货通知单"}}},
        {1, "下载单据", false, true, false, {{"SEOrd", "销售订单"}, {"POIn", "收料通知单"}, {"POOut", "退料通知单"}}},
        {2, "下载单据", false, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        auto w = Open(c.mode);
        EXPECT_EQ(w->windowTitle().toStdString(), c.caption);
        for (std::string_view b : {band::kFile, band::kToolBar}) {
            EXPECT_EQ(w->Bar()->ToolEnabled(b, tool::kFileSend), c.send);
            EXPECT_EQ(w->Bar()->ToolEnabled(b, tool::kFileDownLoad), c.download);
            EXPECT_EQ(w->Bar()->ToolEnabled(b, tool::kFileFilter), c.filter);
            EXPECT_TRUE(w->Bar()->ToolEnabled(b, tool::kFileExit));
        }
        ASSERT_EQ(w->tvwBase()->topLevelItemCount(), static_cast<int>(c.nodes.size()));
        for (size_t i = 0; i < c.nodes.size(); ++i) {
            QTreeWidgetItem* node = w->tvwBase()->topLevelItem(static_cast<int>(i));
            EXPECT_EQ(node->text(0).toStdString(), c.nodes[i].second);
            EXPECT_EQ(w->Node(c.nodes[i].first), node);
            EXPECT_EQ(node->checkState(0), Qt::Unchecked);
        }
    }
}

// Every tool of the menu bar and the toolbar as the user reads it: caption, category, help
// text and check mark; and the caption of each band. A typo in any of them fails here.
TEST_F(BrowseWindowTest, EveryToolAndBandReadsAsWritten) {
    struct Case {
        std::string_view band, name;
        const char *caption, *category, *help;
        bool checked;
    };
    const Case cases[] = {
        {band::kMain, "mnuFile", "文件(&F)", "文件", "", false},
        {band::kMain, "mnuView", "视图(&V)", "视图", "", false},
        {band::kMain, "mnuHelp", "帮助(&H)", "帮助", "", false},
        {band::kFile, tool::kFileSend, "发送(&S)", "文件", "发送", false},
        {band::kFile, tool::kFileDownLoad, "下载", "文件", "下载", false},
        {band::kFile, tool::kFileFilter, "过滤传输单据(&L)", "文件", "过滤单据", false},
        {band::kFile, tool::kFileExit, "退出(&E)", "文件", "退出", false},
        {band::kView, "mnuViewStatusbar", "状态条(&S)", "视图", "", true},
        {band::kView, "mnuViewToolBar", "工具条(&T)", "视图", "", true},
        {band::kView, "mnuToolbarLabel", "工具条标签(&L)", "视图", "", true},
        {band::kHelp, "mnuHelpContents", "目录(&C)", "帮助", "", false},
        {band::kHelp, "mnuHelpSearchForHelpOn", "搜索帮助主题(&S)...", "帮助", "", false},
        {band::kToolBar, tool::kFileSend, "发送", "文件", "发送", false},
        {band::kToolBar, tool::kFileDownLoad, "下载", "文件", "下载", false},
        {band::kToolBar, tool::kFileFilter, "过滤", "文件", "过滤单据", false},
        {band::kToolBar, tool::kFileExit, "退出", "文件", "退出", false},
    };
    auto w = Open(0);
    ASSERT_EQ(BrowseTools().size(), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.band) + "/" + std::string(c.name));
        const QAction* action = w->Bar()->Tool(c.band, c.name);
        EXPECT_EQ(action->text().toStdString(), c.caption);
        EXPECT_EQ(action->property("category").toString().toStdString(), c.category);
        if (*c.help) {
            EXPECT_EQ(action->toolTip().toStdString(), c.help);
        }
        EXPECT_EQ(action->statusTip().toStdString(), c.help);
        EXPECT_EQ(action->isChecked(), c.checked);
    }
    const std::pair<std::string_view, const char*> bands[] = {
        {band::kMain, "主菜单"}, {band::kFile, "文件"}, {band::kView, "视图"}, {band::kHelp, "帮助"}, {band::kToolBar, "工具栏"}};
    ASSERT_EQ(BrowseBands().size(), std::size(bands));
    for (size_t i = 0; i < std::size(bands); ++i) {
        EXPECT_EQ(BrowseBands()[i].name, bands[i].first);
        EXPECT_EQ(BrowseBands()[i].caption, bands[i].second);
    }
}

TEST_F(BrowseWindowTest, GridsHoldOnlyTheirHeaderRowAtLoadAndTheTabsAreHidden) {
    auto w = Open(0);
    const std::vector<std::string> supplier{"事务类型", "内码", "单据编号", "日期", "供货机构", "供应商"};
    const std::vector<std::string> buyer{"事务类型", "内码", "单据编号", "日期", "订货机构", "购货单位"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        BillGrid* g = w->ldgBill(i);
        EXPECT_EQ(g->objectName().toStdString(), "ldgBill" + std::to_string(i));
        EXPECT_EQ(g->MaxRows(), 1);
        EXPECT_EQ(g->FixedRows(), 1);
        ASSERT_EQ(g->MaxCols(), 6);
        for (int c = 1; c <= 6; ++c) EXPECT_EQ(g->CellText(1, c), (i == 0 ? supplier : buyer)[c - 1]);
        EXPECT_TRUE(g->isColumnHidden(0) && g->isColumnHidden(1)) << "type and internal number are not for the user";
        EXPECT_TRUE(w->picFrame(i)->isHidden());
    }
    EXPECT_TRUE(w->TabStrip()->isHidden());
    EXPECT_EQ(w->TabStrip()->Count(), 0);
    for (const char* name : {"Bar", "tvwBase", "TabStrip", "sbStatusBar", "imgSplitVer", "picSplitVer",
                             "SSPTitleClass", "SSPTitleItem", "Line10", "Line11", "Line30", "Line31"}) {
        EXPECT_NE(w->findChild<QObject*>(name), nullptr) << name;
    }
}

TEST_F(BrowseWindowTest, TabsFollowTheCheckBoxesInOrderAndFramesFollowTheSelectedTab) {
    auto w = Open(0);
    auto visible_frames = [&] {
        std::string s;
        for (int i = 0; i < 3; ++i) s += w->picFrame(i)->isHidden() ? '-' : char('0' + i);
        return s;
    };
    w->SetNodeChecked("SEOut", true);
    w->SetNodeChecked("POOrd", true);
    ASSERT_EQ(w->TabStrip()->Count(), 2);
    EXPECT_EQ(w->TabStrip()->CaptionAt(0), "发货通知单");
    EXPECT_EQ(w->TabStrip()->CaptionAt(1), "采购订单");
    EXPECT_FALSE(w->TabStrip()->isHidden());
    EXPECT_EQ(visible_frames(), "-1-") << "the first tab stays selected";

    // A click on the second tab shows its frame.
    const QRect second = w->TabStrip()->Bar()->tabRect(1);
    w->show();
    QTest::mouseClick(w->TabStrip()->Bar(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(w->TabStrip()->SelectedKey(), "POOrd");
    EXPECT_EQ(visible_frames(), "0--");

    w->SetNodeChecked("SEIn", true);
    EXPECT_EQ(w->TabStrip()->KeyAt(2), "SEIn");
    w->SetNodeChecked("POOrd", false);
    EXPECT_EQ(w->TabStrip()->Count(), 2);
    EXPECT_EQ(visible_frames().find_first_not_of('-') != std::string::npos, true);
    w->SetNodeChecked("SEOut", false);
    w->SetNodeChecked("SEIn", false);
    EXPECT_TRUE(w->TabStrip()->isHidden());
    EXPECT_EQ(visible_frames(), "---");

    // In download mode the check boxes only record the choice.
    auto d = Open(1);
    d->SetNodeChecked("POIn", true);
    EXPECT_EQ(d->TabStrip()->Count(), 0);
    EXPECT_TRUE(d->TabStrip()->isHidden());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(d->picFrame(i)->isHidden());
}

TEST_F(BrowseWindowTest, EachCommandMessageAndOnlyTheFirstFailingSendKind) {
    const auto po = Bills(71, 1);
    const auto out = Bills(83, 1);
    const auto ret = Bills(82, 1);
    struct Case {
        const char* name;
        int32_t mode;
        std::function<void(BrowseWindowTest&, FrmBrowseBase&)> arrange;
        std::string_view tool;
        std::vector<std::string> messages;
        bool result_set;
    };
    const Case cases[] = {
        {"filter with no type checked", 0, [](auto&, auto&) {}, tool::kFileFilter, {"请选择要发送的单据类型。"}, false},
        {"download with nothing checked", 1, [](auto&, auto&) {}, tool::kFileDownLoad, {"请选择要下载的单据。"}, false},
        {"download in a mode without a tree", 2, [](auto&, auto&) {}, tool::kFileDownLoad, {"请选择要下载的单据。"}, false},
        {"orders checked but empty, notices filled", 0,
         [&](BrowseWindowTest& t, FrmBrowseBase& w) {
             t.Load(w, 1, out);
             t.Load(w, 2, ret);
             w.SetNodeChecked("POOrd", true);
         },
         tool::kFileSend, {"请选择要发送的采购订单。"}, false},
        {"delivery and return notices checked, both empty", 0,
         [](auto&, FrmBrowseBase& w) {
             w.SetNodeChecked("SEOut", true);
             w.SetNodeChecked("SEIn", true);
         },
         tool::kFileSend, {"请选择要发送的发货通知单。"}, false},
        {"return notices checked and empty", 0, [](auto&, FrmBrowseBase& w) { w.SetNodeChecked("SEIn", true); },
         tool::kFileSend, {"请选择要发送的退货通知单。"}, false},
        {"orders unchecked and empty, delivery notices filled", 0,
         [&](BrowseWindowTest& t, FrmBrowseBase& w) { t.Load(w, 1, out); }, tool::kFileSend, {}, true},
        {"orders filled then unchecked", 0,
         [&](BrowseWindowTest& t, FrmBrowseBase& w) {
             t.Load(w, 0, po);
             w.SetNodeChecked("POOrd", false);
         },
         tool::kFileSend, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto w = Open(c.mode);
        c.arrange(*this, *w);
        env_.Ui().Clear();
        w->OnToolClick(c.tool);
        EXPECT_EQ(Messages(env_.Ui()), c.messages);
        for (const auto& m : env_.Ui().Messages()) {
            EXPECT_EQ(m.title, "Zelto提示");
            EXPECT_EQ(m.icon, platform::MessageIcon::kInformation);
        }
        EXPECT_EQ(static_cast<bool>(facade::SelectionResult()), c.result_set);
        facade::SetSelectionResult({});
    }
    // The tools of the View and Help menus change nothing.
    auto w = Open(0);
    for (const char* name : {"mnuViewStatusbar", "mnuViewToolBar", "mnuToolbarLabel", "mnuHelpContents",
                             "mnuHelpSearchForHelpOn", "mnuFile"}) {
        w->OnToolClick(name);
    }
    EXPECT_TRUE(env_.Ui().Messages().empty());
    EXPECT_TRUE(w->Bar()->Tool(band::kView, "mnuViewStatusbar")->isChecked());
}

TEST_F(BrowseWindowTest, SendBuildsOnePackagePerCheckedFilledGridFromTheBillsListed) {
    const auto po = Bills(71, 3);
    const auto out = Bills(83, 2);
    const auto ret = Bills(82, 2);
    auto w = Open(0);
    Load(*w, 2, ret);
    Load(*w, 0, {po[2], po[0], po[1]});
    Load(*w, 1, out);
    w->SetNodeChecked("SEOut", false);  // listed but not checked: not sent

    w->Bar()->Click(band::kToolBar, tool::kFileSend);
    Ref<VariantVector> result = facade::SelectionResult();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->UpperBound(), 2);
    struct Expect {
        int16_t type;
        const char* name;
        std::vector<int32_t> ids;
    };
    const Expect expected[] = {{501, "内部订单", po}, {503, "退货通知单", ret}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto package = platform::ObjectAs<VariantDictionary>(result->Item(i + 1));
        ASSERT_TRUE(package);
        ASSERT_EQ(package->Size(), 3u);
        EXPECT_EQ(package->KeyAt(0), "BillType");
        EXPECT_EQ(package->KeyAt(1), "BillName");
        EXPECT_EQ(package->KeyAt(2), "BillsData");
        EXPECT_EQ(package->Value(key::kBillType).Type(), VarType::kInteger);
        EXPECT_EQ(package->Value(key::kBillType), Variant(expected[i].type));
        EXPECT_EQ(package->Value(key::kBillName), Variant(expected[i].name));
        // The extraction returns the listed bills in internal-number order.
        EXPECT_EQ(BillIdsOf(package->Value(key::kBillsData)), expected[i].ids);
    }
    EXPECT_EQ(w->result(), QDialog::Accepted);
}

TEST_F(BrowseWindowTest, DownloadLeavesOneRequestPerCheckedTypeWithoutBills) {
    auto w = Open(1);
    w->SetNodeChecked("POOut", true);
    w->SetNodeChecked("SEOrd", true);
    w->SetNodeChecked("POIn", true);
    w->Bar()->Click(band::kFile, tool::kFileDownLoad);
    Ref<VariantVector> result = facade::SelectionResult();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->UpperBound(), 3);
    const std::pair<int16_t, const char*> expected[] = {{501, "内部订单"}, {502, "发货通知单"}, {503, "退货通知单"}};
    for (int i = 0; i < 3; ++i) {
        auto package = platform::ObjectAs<VariantDictionary>(result->Item(i + 1));
        EXPECT_EQ(package->Value(key::kBillType), Variant(expected[i].first));
        EXPECT_EQ(package->Value(key::kBillName), Variant(expected[i].second));
        EXPECT_TRUE(package->Value(key::kBillsData).IsNothing());
    }
}

TEST_F(BrowseWindowTest, AFailingSendReportsItKeepsTheWindowOpenAndClearsTheResult) {
    auto w = Open(0);
    Load(*w, 0, Bills(71, 1));
    w->ldgBill(0)->SetRowText(2, "71|1 OR 1=1|x|2003-01-01|||");  // not an internal number
    facade::SetSelectionResult(MakeRef<VariantVector>());
    w->show();
    w->OnToolClick(tool::kFileSend);
    EXPECT_FALSE(facade::SelectionResult());
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(env_.Ui().Messages().size(), 1u);
    EXPECT_EQ(env_.Ui().Messages()[0].text.rfind("数据读取错误。", 0), 0u) << env_.Ui().Messages()[0].text;
}

// A bill of another kind (internal numbers of orders and notices overlap) is left out of a list
// and named; one put in a grid all the same stops the send and is named.
TEST_F(BrowseWindowTest, ABillOfAnotherKindIsLeftOutOfAListAndStopsTheSend) {
    for (const auto& [kind, other_type] : {std::pair{0, 83}, {1, 82}, {2, 71}}) {
        const BillKind& k = kBillKinds[static_cast<size_t>(kind)];
        SCOPED_TRACE(k.send_text);
        const int32_t own = Bills(k.tran_type, 1)[0], other = Bills(other_type, 1)[0];
        const std::string other_no = env_.Db().Rows(fmt::format(
            "SELECT FBillNo FROM {} WHERE FInterID={}", other_type == 71 ? "POOrder" : "SEOutStock", other))[0][0];
        auto w = Open(0);
        w->show();
        Load(*w, kind, {});
        for (bool send : {false, true}) {
            env_.Ui().Clear();
            if (send) {
                w->ldgBill(kind)->SetMaxRows(3);
                w->ldgBill(kind)->SetRowText(3, fmt::format("{}|{}|{}|||", other_type, other, other_no));
                w->OnToolClick(tool::kFileSend);
            } else {
                w->FillBillGrid(Selection({{own, k.tran_type}, {other, other_type}}));
                EXPECT_EQ(w->ldgBill(kind)->MaxRows(), 2);
            }
            const auto messages = Messages(env_.Ui());
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(other_no), std::string::npos) << messages[0];
        }
        EXPECT_FALSE(facade::SelectionResult());
        EXPECT_TRUE(w->isVisible());
    }
}

TEST_F(BrowseWindowTest, FillBillGridWritesOneRowPerBillRunAndReplacesTheRows) {
    auto po = Bills(71, 2);
    // A purchase order without a related branch or supplier still gets its six cells.
    env_.Db().Exec("UPDATE POOrder SET FRelateBrID=NULL, FSupplyID=-1, FDate='2003-05-07' WHERE FInterID=" +
                   std::to_string(po[1]));
    auto w = Open(0);
    Load(*w, 0, {po[0]});
    w->FillBillGrid(Selection({{po[0], 71}, {po[0], 71}, {po[1], 71}, {po[0], 71}}));
    BillGrid* g = w->ldgBill(0);
    ASSERT_EQ(g->MaxRows(), 4) << "a new choice replaces the rows; a bill's run of records gives one row";
    EXPECT_EQ(g->CellText(2, 2), std::to_string(po[0]));
    EXPECT_EQ(g->CellText(3, 2), std::to_string(po[1]));
    EXPECT_EQ(g->CellText(4, 2), std::to_string(po[0]));
    const auto expected = env_.Db().Rows("SELECT FBillNo FROM POOrder WHERE FInterID=" + std::to_string(po[1]));
    const std::vector<std::string> row{g->CellText(3, 1), g->CellText(3, 3), g->CellText(3, 4), g->CellText(3, 5),
                                       g->CellText(3, 6)};
    EXPECT_EQ(row, (std::vector<std::string>{"71", expected[0][0], "2003-05-07", "", ""}));

    w->FillBillGrid(MakeRef<VariantVector>());
    EXPECT_EQ(g->MaxRows(), 1) << "a choice of no records leaves the header row only";

    // A bill that is not there is reported by the filter command's caller; rows before it stay.
    EXPECT_THROW(w->FillBillGrid(Selection({{po[0], 71}, {999999, 71}})), platform::Error);
    EXPECT_EQ(g->MaxRows(), 2);
}

}  // namespace
}  // namespace orba::ui
