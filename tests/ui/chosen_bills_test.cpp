// The browse window's chosen bills without any window: what send and the viewer read from
// them, and what a grid showing them hears of each change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "ui/browse/chosen_bills.h"

namespace orba::ui {
namespace {

ChosenBill Bill(const std::string& id) { return ChosenBill{"71", id, "PO-" + id, "2003-01-02", "B", "S"}; }

TEST(ChosenBills, IdsAndTheViewersRecordSetFollowTheListedOrder) {
    struct Case {
        std::vector<std::string> ids;
        int32_t offset;
        const char* id_list;
        int32_t position;  // of the record set: 0 on no record, -1 when it cannot be made
    };
    const Case cases[] = {
        {{}, 0, "", 0},
        {{"30", "10", "20"}, 1, "30,10,20", 2},
        {{"30", "10", "20"}, -1, "30,10,20", 0},  // no bill row selected
        {{"1 OR 1=1", ""}, 0, "1 OR 1=1,", -1},   // kept as listed: extraction and viewer refuse it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id_list);
        ChosenBills bills;
        for (const std::string& id : c.ids) bills.Append(Bill(id));
        EXPECT_EQ(bills.IdList(), c.id_list);
        if (c.position < 0) {
            EXPECT_THROW(bills.ListRecordSet(c.offset), platform::Error);
            continue;
        }
        auto rs = bills.ListRecordSet(c.offset);
        EXPECT_EQ(rs->RecordCount(), static_cast<int32_t>(c.ids.size()));
        const bool on_record = !rs->Eof() && !rs->Bof();
        ASSERT_EQ(on_record ? rs->AbsolutePosition() : 0, c.position);
        EXPECT_TRUE(!on_record || rs->Value("FInterID").ToText() == c.ids[static_cast<size_t>(c.position - 1)]);
    }
}

TEST(ChosenBills, AViewHearsOfEveryChangeBeforeAndAfter) {
    struct Log : ChosenBills::Listener {
        std::string text;
        void BeginInsert(size_t f, size_t l) override { text += "+" + std::to_string(f) + std::to_string(l); }
        void EndInsert() override { text += "."; }
        void BeginRemove(size_t f, size_t l) override { text += "-" + std::to_string(f) + std::to_string(l); }
        void EndRemove() override { text += "."; }
        void RowChanged(size_t r) override { text += "~" + std::to_string(r); }
        void CaptionsChanged() override { text += "h"; }
    } log;
    ChosenBills bills;
    bills.SetListener(&log);
    bills.SetCaptions({"事务类型", "内码"});
    bills.Append(Bill("1"));
    bills.Resize(3);
    bills.Replace(2, Bill("3"));
    bills.Resize(3);
    bills.Clear();
    EXPECT_EQ(log.text, "h+00.+12.~2-02.");
}

}  // namespace
}  // namespace orba::ui
