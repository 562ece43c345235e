// The list control's table model without a display: each column's text and caption, the
// amount aligned right and sorted by its value, and a model not yet given rows.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hostkit/windows/list_model.h"

namespace orba::hostkit {
namespace {

TEST(ListModel, CellsCaptionsAlignmentAndSortValue) {
    BillListModel model;
    EXPECT_EQ(model.rowCount({}), 0);
    auto rows = std::make_shared<std::vector<BillListRow>>();
    rows->push_back({12, 71, "PO-12", "2003-01-02", "供应商甲", "分公司乙", "已审核", "未传输", "1,234.50", 1234.5});
    model.Reset(rows, BillListCaptions(*FindBillListKind(71, 26)));
    ASSERT_EQ(model.columnCount({}), 7);
    EXPECT_EQ(model.InterIdAt(0), 12);
    const char* texts[] = {"PO-12", "2003-01-02", "供应商甲", "分公司乙", "已审核", "未传输", "1,234.50"};
    const char* captions[] = {"单据编号", "日期", "供应商", "关联机构", "状态", "传输", "金额"};
    for (int c = 0; c < 7; ++c) {
        SCOPED_TRACE(c);
        const QModelIndex i = model.index(0, c);
        const bool amount = c == BillListModel::kAmountColumn;
        EXPECT_EQ(model.data(i, Qt::DisplayRole).toString().toStdString(), texts[c]);
        EXPECT_EQ(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString(), captions[c]);
        EXPECT_EQ(model.data(i, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                  (amount ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        // Sorting reads Qt::UserRole: the amount by its value, every other column by its text.
        EXPECT_EQ(model.data(i, Qt::UserRole), amount ? QVariant(1234.5) : QVariant(QString::fromUtf8(texts[c])));
    }
}

}  // namespace
}  // namespace orba::hostkit
