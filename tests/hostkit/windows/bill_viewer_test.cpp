// The bill viewer, handed a list record set as the browse window hands it: every member in
// the window's order, starting on the current record, header and lines from the database,
// next and previous, and a listed bill that is no longer there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/sample_data.h"
#include "hostkit/windows/bill_viewer.h"
#include "hostkit/windows/bill_viewer_dialog.h"
#include "platform/dispatch.h"
#include "platform/recordset.h"
#include "platform/registry.h"
#include "support/erp_test_db.h"
#include "support/qt_app.h"

namespace orba::hostkit {
namespace {

namespace fs = std::filesystem;
using platform::CallKind;
using platform::Ref;
using platform::Variant;

BillViewerDialog* OpenViewer() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = dynamic_cast<BillViewerDialog*>(w); d && d->isVisible()) return d;
    }
    return nullptr;
}

Ref<platform::RecordSet> ListOf(const std::vector<int32_t>& ids, int32_t tran_type) {
    auto rs = platform::MakeRef<platform::RecordSet>();
    rs->AppendField("FInterID", platform::FieldType::kInteger);
    rs->AppendField("FTranType", platform::FieldType::kInteger);
    rs->Open();
    for (int32_t id : ids) {
        rs->AddNew();
        rs->SetValue("FInterID", Variant(std::to_string(id)));  // the grid hands over cell text
        rs->SetValue("FTranType", Variant(std::to_string(tran_type)));
        rs->Update();
    }
    return rs;
}

TEST(BillViewer, ShowsTheListedBillsFromTheCurrentOneWithNextAndPrevious) {
    orba::testing::TestApplication();
    RegisterHostKit();
    const fs::path path = fs::temp_directory_path() / ("orba_viewer_" + std::to_string(::getpid()) + ".db");
    fs::remove(path);
    SampleOptions options;
    options.orders = 6;
    CreateSampleDatabase(path.string(), options);
    SetLoginProperties(MakeLoginProperties(path.string()));
    testing::TestDb db(path.string());
    const int32_t missing = 99999;
    const std::vector<int32_t> ids = {3, 1, 5, missing};

    Ref<platform::RecordSet> list = ListOf(ids, 71);
    list->MoveFirst();
    list->Move(1);  // the grid's selected row is the second bill

    Ref<platform::Object> viewer = platform::CreateObject(kBillViewerProgId);
    platform::LetProperty(viewer, "LocalCnn", {}, Variant(""));
    platform::SetProperty(viewer, "ListRecordset", {}, Ref<platform::Object>(list));
    platform::LetProperty(viewer, "NewBillTransType", {}, Variant("71"));
    platform::LetProperty(viewer, "SystemName", {}, Variant("Purchase"));
    platform::SetProperty(viewer, "ListRSFieldVect", {}, Ref<platform::Object>());
    platform::LetProperty(viewer, "ShowForModeExt", {}, Variant(int16_t{2}));
    platform::Call(viewer, "SetOpt", {Variant(int16_t{12}), Variant("李明")});
    platform::LetProperty(viewer, "TheSaleMode", {}, Variant(int16_t{0}));

    struct Seen {
        int32_t inter_id = 0;
        size_t lines = 0;
        bool previous = false, next = false;
    };
    std::vector<Seen> seen;
    bool missing_reported = false;
    QTimer::singleShot(0, [&] {
        BillViewerDialog* d = OpenViewer();
        ASSERT_NE(d, nullptr);
        auto note = [&] {
            Seen s;
            if (d->Shown()) {
                s.inter_id = d->Shown()->header.inter_id;
                s.lines = d->Shown()->lines.size();
            }
            s.previous = d->PreviousButton()->isEnabled();
            s.next = d->NextButton()->isEnabled();
            seen.push_back(s);
        };
        note();
        if (const char* shot = std::getenv("ORBA_VIEWER_SCREENSHOT")) d->grab().save(QString::fromLocal8Bit(shot));
        d->NextButton()->click();
        note();
        d->NextButton()->click();  // the bill that is gone
        missing_reported = d->Shown() == nullptr && d->Current() == 3;
        d->PreviousButton()->click();
        d->PreviousButton()->click();
        d->PreviousButton()->click();
        note();
        d->accept();
    });
    std::array<Variant, 2> show_args{Variant(int16_t{101}), Variant(int16_t{2})};
    platform::CallByName(viewer, "Show", CallKind::kMethod, show_args);

    auto line_count = [&](int32_t id) {
        return std::stoul(db.Rows("SELECT count(*) FROM POOrderEntry WHERE FInterID=" + std::to_string(id))[0][0]);
    };
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].inter_id, 1);
    EXPECT_EQ(seen[0].lines, line_count(1));
    EXPECT_TRUE(seen[0].previous);
    EXPECT_EQ(seen[1].inter_id, 5);
    EXPECT_EQ(seen[1].lines, line_count(5));
    EXPECT_TRUE(missing_reported);
    EXPECT_EQ(seen[2].inter_id, 3);
    EXPECT_FALSE(seen[2].previous);
    EXPECT_TRUE(seen[2].next);
    EXPECT_EQ(list->AbsolutePosition(), 2) << "the caller's record set stays on its record";
    fs::remove(path);
}

TEST(BillViewer, EmptyListShowsNothingAndMissingListIsAnError) {
    orba::testing::TestApplication();
    RegisterHostKit();
    Ref<platform::Object> viewer = platform::CreateObject(kBillViewerProgId);
    std::array<Variant, 2> args{Variant(int16_t{101}), Variant(int16_t{2})};
    EXPECT_THROW(platform::CallByName(viewer, "Show", CallKind::kMethod, args), platform::Error);
    platform::SetProperty(viewer, "ListRecordset", {}, Ref<platform::Object>(ListOf({}, 71)));
    platform::CallByName(viewer, "Show", CallKind::kMethod, args);  // returns at once: nothing to show
    EXPECT_EQ(OpenViewer(), nullptr);
}

}  // namespace
}  // namespace orba::hostkit
