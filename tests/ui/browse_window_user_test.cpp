// The browse window driven as a person drives it: through BillTrans.Show and its modal loop,
// the list dialog with a scripted or the real list control, the keys the bar takes, the
// splitter, and the pictures of both modes for the README.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest/QTest>

#include <algorithm>
#include <array>
#include <functional>

#include "browse_window_fixture.h"
#include "facade/bill_trans.h"
#include "host/modpub.h"
#include "hostkit/windows/bill_viewer_dialog.h"
#include "platform/registry.h"
#include "platform/visual_control.h"
#include "support/fake_component.h"
#include "ui/browse/browse_tools.h"
#include "ui/list/frm_list.h"

namespace orba::ui {
namespace {

using namespace browse_test;
using testing::FakeComponent;

// BillTrans.Show drives the real modal window; `act` runs inside its modal loop.
void ShowAndThen(std::function<void(FrmBrowseBase&)> act) {
    QTimer::singleShot(0, [act] {
        auto* w = qobject_cast<FrmBrowseBase*>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr) << "the browse window is not shown";
        act(*w);
        if (w->isVisible()) w->close();
    });
    auto trans = platform::CreateObject(facade::kBillTransProgId);
    platform::Call(trans, "Show");
}

TEST_F(BrowseWindowTest, SelectionResultAfterSendExitAndCloseBox) {
    auto trans = platform::CreateObject(facade::kBillTransProgId);
    platform::LetProperty(trans, "ShowType", {}, Variant(int32_t{1}));
    const auto download_all = [](FrmBrowseBase& w) {
        for (const char* k : {"SEOrd", "POIn"}) w.SetNodeChecked(k, true);
        w.Bar()->Click(band::kToolBar, tool::kFileDownLoad);
    };
    ShowAndThen(download_all);
    const Variant sent = platform::GetProperty(trans, "VectTransmitBill");
    ASSERT_FALSE(sent.IsNothing());
    EXPECT_EQ(platform::ObjectAs<VariantVector>(sent)->UpperBound(), 2);
    EXPECT_EQ(platform::GetProperty(trans, "VectTransmitBill"), sent) << "the same object, not a copy";

    // The close box leaves what the earlier window chose; the mode stays download.
    ShowAndThen([](FrmBrowseBase& w) { EXPECT_EQ(w.windowTitle().toStdString(), "下载单据"); });
    EXPECT_EQ(platform::GetProperty(trans, "VectTransmitBill"), sent);

    // The exit command leaves nothing.
    ShowAndThen([](FrmBrowseBase& w) { w.Bar()->Click(band::kFile, tool::kFileExit); });
    EXPECT_TRUE(platform::GetProperty(trans, "VectTransmitBill").IsNothing());
}

// A list control without a window of its own: answers every member, records what reaches it
// and ends the dialog with a scripted command.
class ScriptedListControl : public FakeComponent, public platform::VisualControl {
public:
    ScriptedListControl(std::string command, Ref<VariantVector> selection) : FakeComponent("Rilvo") {
        for (const char* m : {"Left", "Top", "Width", "Height", "StartUp", "ListShowStatus", "ListID", "TranType",
                              "BaseInfo", "MultiSelect", "CanSelectMultiRow", "Filter", "LocalCnn", "SystemName",
                              "ReleaseControl", "Release"}) {
            On(m, [](std::span<Variant>) { return Variant(); });
        }
        On("PrepareList", [](std::span<Variant>) { return Variant(true); });
        On("LoadList", [](std::span<Variant>) { return Variant(true); });
        On("CanConfirm", [](std::span<Variant>) { return Variant(true); });
        On("ListInfo", [](std::span<Variant>) {
            auto list = MakeRef<VariantVector>();
            auto name = MakeRef<VariantDictionary>();
            name->Let("FName", Variant("采购订单"));
            list->Add(Variant(name));
            return Variant(list);
        });
        On("GetSelected", [selection](std::span<Variant>) { return Variant(selection); });
        QTimer::singleShot(0, [this, command] {
            std::array<Variant, 2> args{Variant(command), Variant()};
            if (sink_) platform::CallByName(sink_, "Command", platform::CallKind::kMethod, args);
        });
    }
    QWidget* Widget() override { return nullptr; }
    void Advise(Ref<platform::Object> sink) override { sink_ = std::move(sink); }

private:
    Ref<platform::Object> sink_;
};

TEST_F(BrowseWindowTest, TheListDialogGetsItsSettingsInOrderAndOnlyAConfirmedChoiceFillsTheGrid) {
    const auto po = Bills(71, 2);
    hostkit::SetLoginProperties("AcctDB={Data Source=" + env_.DbPath() + "};UserName=李明;UserID=0012;");
    auto w = Open(0);
    w->SetNodeChecked("POOrd", true);
    Ref<ScriptedListControl> control;
    auto script = [&](const char* command, Ref<VariantVector> selection) {
        return platform::ScopedClassRegistration("OrbaList.Rilvo", [&control, command, selection] {
            control = MakeRef<ScriptedListControl>(command, selection);
            return Ref<platform::Object>(control);
        });
    };
    {
        auto registration = script("SelectOK", Selection({{po[0], 71}, {po[1], 71}}));
        w->OnToolClick(tool::kFileFilter);
    }
    EXPECT_EQ(w->ldgBill(0)->MaxRows(), 3);
    std::vector<std::pair<std::string, Variant>> settings;
    for (const auto& c : control->Calls()) {
        if (c.kind == platform::CallKind::kLet && c.member != "Left" && c.member != "Top" && c.member != "Width" &&
            c.member != "Height" && c.member != "StartUp") {
            settings.emplace_back(c.member, c.args.back());
        }
    }
    const std::vector<std::pair<std::string, Variant>> expected{
        {"BaseInfo", Variant("Data Source=" + env_.DbPath() + "|12|李明")},
        {"ListID", Variant(int32_t{26})},
        {"TranType", Variant(int32_t{71})},
        {"ListShowStatus", Variant(int32_t{2})},
        {"Filter", Variant("v1.FStatus IN (1) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL")},
        {"LocalCnn", Variant(host::GetLocalCnn())},
        {"SystemName", Variant("purchase")},
        {"MultiSelect", Variant(int32_t{-1})},
        {"CanSelectMultiRow", Variant(true)},
    };
    EXPECT_EQ(settings, expected);

    // Leaving the dialog changes nothing.
    {
        auto registration = script("Exit", Selection({{po[1], 71}}));
        w->OnToolClick(tool::kFileFilter);
    }
    EXPECT_EQ(w->ldgBill(0)->MaxRows(), 3);
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

QWidget* ToolButton(FrmBrowseBase& w, std::string_view name) {
    return w.Bar()->ToolBar()->widgetForAction(w.Bar()->Tool(band::kToolBar, name));
}

TEST_F(BrowseWindowTest, APersonChecksPurchaseOrdersPicksTwoInTheListAndSendsThem) {
    // The list shows the orders ready to send by date and number; the person takes the first two.
    const auto listed = env_.Db().Rows(
        "SELECT FInterID FROM POOrder WHERE FStatus IN (1) AND FRelateBrID<>0 AND FRelateBrID IS NOT NULL "
        "ORDER BY FDate, FBillNo LIMIT 2");
    ASSERT_EQ(listed.size(), 2u);
    std::vector<int32_t> expected{std::stoi(listed[0][0]), std::stoi(listed[1][0])};
    std::sort(expected.begin(), expected.end());

    facade::SetBrowseMode(0);
    ShowAndThen([&](FrmBrowseBase& w) {
        QTreeWidgetItem* node = w.Node("POOrd");
        QTest::mouseClick(w.tvwBase()->viewport(), Qt::LeftButton, {}, w.tvwBase()->visualItemRect(node).center());
        QTest::keyClick(w.tvwBase(), Qt::Key_Space);
        ASSERT_EQ(node->checkState(0), Qt::Checked);
        ASSERT_FALSE(w.TabStrip()->isHidden());

        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<FrmList*>(QApplication::activeModalWidget());
            if (!dialog) {
                ADD_FAILURE() << "the list dialog is not shown";
                if (QWidget* other = QApplication::activeModalWidget()) other->close();
                return;
            }
            auto* table = dialog->findChild<QTableView*>();
            ASSERT_NE(table, nullptr);
            const QRect first = table->visualRect(table->model()->index(0, 0));
            const QRect second = table->visualRect(table->model()->index(1, 0));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, first.center());
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
            for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
                if (b->text() == QString::fromUtf8("确定")) QTest::mouseClick(b, Qt::LeftButton);
            }
            if (dialog->isVisible()) dialog->close();
        });
        QTest::mouseClick(ToolButton(w, tool::kFileFilter), Qt::LeftButton);
        EXPECT_EQ(w.ldgBill(0)->MaxRows(), 3) << "two bills listed below the header";

        // A double click on the second bill shows it in the host kit's bill viewer.
        auto viewed = std::make_shared<int32_t>(0);
        QTimer::singleShot(0, [viewed] {
            auto* viewer = dynamic_cast<hostkit::BillViewerDialog*>(QApplication::activeModalWidget());
            if (viewer && viewer->Shown()) *viewed = viewer->Shown()->header.inter_id;
            if (QWidget* shown = QApplication::activeModalWidget()) shown->close();
        });
        BillGrid* grid = w.ldgBill(0);
        const QPoint second_row = grid->visualRect(grid->model()->index(1, 2)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, second_row);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, second_row);
        EXPECT_EQ(*viewed, std::stoi(grid->CellText(3, 2)));
        QTest::mouseClick(ToolButton(w, tool::kFileSend), Qt::LeftButton);
    });
    Ref<VariantVector> result = facade::SelectionResult();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->UpperBound(), 1);
    auto package = platform::ObjectAs<VariantDictionary>(result->Item(1));
    EXPECT_EQ(package->Value(key::kBillType), Variant(int16_t{501}));
    EXPECT_EQ(BillIdsOf(package->Value(key::kBillsData)), expected);
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

// However the tab is changed (an arrow key, the mouse wheel), its frame is shown, 过滤 fills that
// kind's grid and 发送 packages each bill under its own kind.
TEST_F(BrowseWindowTest, TheTabChangedByKeyOrWheelIsTheKindFilteredAndSent) {
    const std::vector<int32_t> bills[] = {Bills(71, 2), Bills(83, 2), Bills(82, 1)};
    const auto wheel = [](QTabBar* bar, int delta) {
        const QPointF at = bar->tabRect(bar->currentIndex()).center();
        QWheelEvent e(at, bar->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &e);
    };
    // Right and wheel down go on from the first tab, left and wheel up back from the last.
    const std::function<void(QTabBar*)> moves[] = {[](QTabBar* b) { QTest::keyClick(b, Qt::Key_Right); },
                                                   [](QTabBar* b) { QTest::keyClick(b, Qt::Key_Left); },
                                                   [&](QTabBar* b) { wheel(b, -120); },
                                                   [&](QTabBar* b) { wheel(b, 120); }};
    hostkit::SetLoginProperties("AcctDB={Data Source=" + env_.DbPath() + "};UserName=李明;UserID=12;");
    int kind = 0;  // the tab the user sees: the list control offers bills of its kind
    platform::ScopedClassRegistration list("OrbaList.Rilvo", [&] {
        auto picks = MakeRef<VariantVector>();
        for (int32_t id : bills[kind]) picks->Add(Variant(Pick(id, kBillKinds[kind].tran_type)));
        return Ref<platform::Object>(MakeRef<ScriptedListControl>("SelectOK", picks));
    });
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        auto w = Open(0);
        w->show();
        for (const char* k : {"POOrd", "SEOut", "SEIn"}) w->SetNodeChecked(k, true);
        QTabBar* bar = w->TabStrip()->Bar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(m % 2 * 2).center());
        for (int step = 0; step < 3; ++step) {
            if (step > 0) moves[m](bar);
            kind = m % 2 == 0 ? step : 2 - step;
            ASSERT_EQ(w->TabStrip()->SelectedKey(), kBillKinds[kind].send_key);
            for (int i = 0; i < 3; ++i) EXPECT_EQ(w->picFrame(i)->isHidden(), i != kind) << "frame " << i;
            QTest::mouseClick(ToolButton(*w, tool::kFileFilter), Qt::LeftButton);
            EXPECT_EQ(w->ldgBill(kind)->MaxRows(), 1 + static_cast<int32_t>(bills[kind].size()));
        }
        QTest::mouseClick(ToolButton(*w, tool::kFileSend), Qt::LeftButton);
        Ref<VariantVector> result = facade::SelectionResult();
        ASSERT_TRUE(result && result->UpperBound() == 3);
        for (int i = 0; i < 3; ++i) {
            auto package = platform::ObjectAs<VariantDictionary>(result->Item(i + 1));
            EXPECT_EQ(package->Value(key::kBillType), Variant(kBillKinds[i].bill_type));
            EXPECT_EQ(BillIdsOf(package->Value(key::kBillsData)), bills[i]);
            auto sent = platform::ObjectAs<VariantVector>(package->Value(key::kBillsData));
            for (int32_t b = 1; b <= sent->UpperBound(); ++b) {
                EXPECT_EQ(platform::ObjectAs<VariantDictionary>(sent->Item(b))->Value(key::kBillType).ToLong(),
                          kBillKinds[i].tran_type);
            }
        }
    }
}

TEST_F(BrowseWindowTest, AKeyThatIsTheBarsShortcutNeverReachesTheGrid) {
    auto w = Open(0);
    w->show();
    int key_code = Qt::Key_F, shift = kAltMask;
    EXPECT_TRUE(w->RouteKeyDown(key_code, shift));
    EXPECT_EQ(key_code, 0);
    EXPECT_EQ(shift, 0);
    w->Bar()->MenuBar()->setActiveAction(nullptr);

    // Counts the presses of letter and arrow keys (a modifier key alone is no shortcut).
    struct KeyCounter : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) {
                const int k = static_cast<QKeyEvent*>(e)->key();
                presses += k == Qt::Key_H || k == Qt::Key_Down ? 1 : 0;
            }
            return false;
        }
    } counter;
    w->ldgBill(0)->installEventFilter(&counter);
    QTest::keyClick(w->ldgBill(0), Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(counter.presses, 0);
    w->Bar()->MenuBar()->setActiveAction(nullptr);
    QTest::keyClick(w->ldgBill(0), Qt::Key_Down);
    EXPECT_EQ(counter.presses, 1) << "other keys reach the grid";
}

TEST_F(BrowseWindowTest, DraggingTheSplitterMovesTheColumnsWithinTheLimits) {
    auto w = Open(0);
    w->resize(900, 600);
    w->show();
    QWidget* handle = w->imgSplitVer();
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 10));
    EXPECT_FALSE(w->picSplitVer()->isHidden());
    QMouseEvent move(QEvent::MouseMove, QPointF(-2000, 10), handle->mapToGlobal(QPointF(-2000, 10)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    EXPECT_EQ(w->Geometry().picSplitVer.left, 1680);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(1, 10));
    EXPECT_TRUE(w->picSplitVer()->isHidden());
    EXPECT_EQ(w->Geometry().tvwBase.width, 1680);
    EXPECT_EQ(w->tvwBase()->width(), ToPixels(1680, w->logicalDpiX()));
    EXPECT_EQ(w->TabStrip()->x(), ToPixels(60 + 1680 + 90, w->logicalDpiX()));
}

// The etched rules over the handle let the mouse through to it; and a window narrowed after
// the splitter was dragged far right keeps the splitter within a drag's limits, so the tabs
// stay in the window.
TEST_F(BrowseWindowTest, TheSplitterTakesTheMouseOnItsRulesAndStaysInANarrowedWindow) {
    auto w = Open(0);
    w->resize(900, 600);
    w->show();
    QApplication::processEvents();
    QWidget* handle = w->imgSplitVer();
    const QPoint on_rule = handle->mapTo(w.get(), QPoint(handle->width() / 2, 20));
    EXPECT_EQ(w->childAt(on_rule), handle) << "the mouse aimed at the bar reaches the handle";

    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(4000, 10), handle->mapToGlobal(QPointF(4000, 10)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(1, 10));
    w->resize(420, 600);
    QApplication::processEvents();
    const int client_width = w->TabStrip()->parentWidget()->width();
    EXPECT_LE(w->Geometry().tvwBase.width, ToTwips(client_width, w->logicalDpiX()) - 1680 + 1);
    EXPECT_LT(w->TabStrip()->x(), client_width) << "the tabs stay in the window";
}

// Pictures of both modes for the README: run with ORBA_SCREENSHOT_DIR set (under xvfb-run
// for the real window system); skipped otherwise.
TEST_F(BrowseWindowTest, ScreenshotsOfBothModes) {
    const char* dir = std::getenv("ORBA_SCREENSHOT_DIR");
    if (!dir || !*dir) GTEST_SKIP() << "ORBA_SCREENSHOT_DIR is not set";
    auto send = Open(0);
    send->resize(980, 560);
    send->show();
    Load(*send, 1, Bills(83, 4));
    Load(*send, 0, Bills(71, 4));
    send->ldgBill(0)->selectRow(1);
    QApplication::processEvents();
    EXPECT_TRUE(send->grab().save(QString::fromUtf8(dir) + "/browse-send.png"));

    auto download = Open(1);
    download->resize(980, 560);
    download->show();
    download->SetNodeChecked("SEOrd", true);
    download->SetNodeChecked("POOut", true);
    download->tvwBase()->setCurrentItem(download->Node("POOut"));
    QApplication::processEvents();
    EXPECT_TRUE(download->grab().save(QString::fromUtf8(dir) + "/browse-download.png"));
}


// A list dialog that cannot be made: the user is told the bill list could not be read.
TEST_F(BrowseWindowTest, AFilterThatFailsSaysTheBillListCouldNotBeRead) {
    hostkit::SetLoginProperties("AcctDB={Data Source=" + env_.DbPath() + "};UserName=李明;UserID=0012;");
    auto w = Open(0);
    w->SetNodeChecked("POOrd", true);
    platform::ScopedClassRegistration failing("OrbaList.Rilvo", []() -> Ref<platform::Object> {
        throw platform::Error(platform::ErrorCode::kNotFound, "no list control here");
    });
    env_.Ui().Clear();
    w->Bar()->Click(band::kToolBar, tool::kFileFilter);
    const auto messages = Messages(env_.Ui());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("单据列表读取错误。", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("no list control here"), std::string::npos) << messages[0];
}

}  // namespace
}  // namespace orba::ui
