// The list dialog with the host kit's real list control over a generated branch database:
// a user selects two bills and confirms, and the dialog hands them back. Setting
// ORBA_SCREENSHOT to a file name also saves a picture of the dialog as the user sees it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QItemSelectionModel>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/variant_dictionary.h"
#include "hostkit/hostkit.h"
#include "hostkit/sample_data.h"
#include "support/qt_app.h"
#include "ui/list/frm_list.h"

namespace orba::ui {
namespace {

namespace fs = std::filesystem;
using platform::Variant;

QPushButton* ButtonLabelled(QWidget& parent, const QString& text) {
    for (QPushButton* b : parent.findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

TEST(ListDialogWithControl, UserSelectsTwoOrdersAndConfirms) {
    orba::testing::TestApplication();
    hostkit::RegisterHostKit();
    const fs::path db = fs::temp_directory_path() / ("orba_dialog_" + std::to_string(::getpid()) + ".db");
    fs::remove(db);
    hostkit::SampleOptions options;
    options.orders = 40;
    hostkit::CreateSampleDatabase(db.string(), options);

    FrmList dialog;
    dialog.BaseInfo("Data Source=" + db.string() + "|12|李明");
    dialog.ListID(26);
    dialog.TranType(71);
    dialog.ListShowStatus(2);
    dialog.Filter("v1.FStatus IN (1) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL");
    dialog.LocalCnn("");
    dialog.SystemName("purchase");
    dialog.MultiSelect(true);
    dialog.CanSelectMultiRow(true);
    dialog.InitData();
    ASSERT_TRUE(dialog.OK());
    EXPECT_EQ(dialog.windowTitle().toStdString(), "采购订单序时薄");

    auto* table = dialog.findChild<QTableView*>();
    ASSERT_NE(table, nullptr) << "the control's list fills the dialog";
    QPushButton* confirm = ButtonLabelled(dialog, QStringLiteral("确定"));
    ASSERT_NE(confirm, nullptr);
    EXPECT_FALSE(confirm->isEnabled()) << "nothing to confirm before a row is chosen";

    bool enabled_after_selection = false;
    QTimer::singleShot(0, &dialog, [&] {
        const QString shot = QString::fromLocal8Bit(std::getenv("ORBA_SCREENSHOT"));
        if (!shot.isEmpty()) dialog.resize(860, 420);
        auto* model = table->model();
        for (int row : {0, 2}) {
            table->selectionModel()->select(model->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        enabled_after_selection = confirm->isEnabled();
        if (!shot.isEmpty()) {
            QApplication::processEvents();
            dialog.grab().save(shot);
        }
        confirm->click();
    });
    dialog.ShowModal();
    EXPECT_TRUE(enabled_after_selection);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(dialog.OK());

    platform::Ref<host::VariantVector> chosen = dialog.Selected();
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->UpperBound(), 2);
    for (int32_t i = 1; i <= 2; ++i) {
        auto record = platform::ObjectAs<host::VariantDictionary>(chosen->Item(i));
        ASSERT_TRUE(record) << "records arrive as the library's dictionaries";
        const QString bill_no = table->model()->index(i == 1 ? 0 : 2, 0).data().toString();
        EXPECT_EQ(record->Value("FBillNo").ToText(), bill_no.toStdString());
        EXPECT_EQ(record->Value("FTranType"), Variant(int32_t{71}));
        EXPECT_GT(record->Value("FInterID").ToLong(), 0);
    }
    dialog.Unload();
    EXPECT_FALSE(dialog.OK());
    fs::remove(db);
}

}  // namespace
}  // namespace orba::ui
