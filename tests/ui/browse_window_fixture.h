// The browse window's test fixture: a generated branch database with the shared connection
// open, helpers that pick bills as the list control hands them, and a window opened and
// loaded in either mode.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/bill_records.h"
#include "facade/browse_entry.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "hostkit/hostkit.h"
#include "hostkit/sample_data.h"
#include "platform/ui_services.h"
#include "support/branch_env.h"
#include "support/qt_app.h"
#include "ui/browse/bill_kinds.h"
#include "ui/browse/frm_browse_base.h"

namespace orba::ui::browse_test {

using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
using platform::VarType;
namespace key = data::key;

inline hostkit::SampleOptions SmallSample() {
    hostkit::SampleOptions o;
    o.branch = 1;
    o.orders = 12;
    o.notices = 12;
    o.returns = 8;
    o.lines = 3;
    return o;
}

// One selection record as the list control gives them.
inline Ref<VariantDictionary> Pick(int32_t inter_id, int32_t tran_type) {
    auto r = MakeRef<VariantDictionary>();
    r->Let("FInterID", Variant(inter_id));
    r->Let("FTranType", Variant(tran_type));
    return r;
}

inline Ref<VariantVector> Selection(std::initializer_list<std::pair<int32_t, int32_t>> picks) {
    auto v = MakeRef<VariantVector>();
    for (auto [id, type] : picks) v->Add(Variant(Pick(id, type)));
    return v;
}

inline std::vector<std::string> Messages(const platform::RecordingUiService& ui) {
    std::vector<std::string> texts;
    for (const auto& m : ui.Messages()) texts.push_back(m.text);
    return texts;
}

inline std::vector<int32_t> BillIdsOf(const Variant& bills) {
    std::vector<int32_t> ids;
    auto list = platform::ObjectAs<VariantVector>(bills);
    for (int32_t i = 1; list && i <= list->UpperBound(); ++i) {
        ids.push_back(platform::ObjectAs<VariantDictionary>(list->Item(i))->Value(key::kBillInterID).ToLong());
    }
    return ids;
}

class BrowseWindowTest : public ::testing::Test {
public:
    BrowseWindowTest() : sample_(SmallSample()), env_(&sample_) {
        testing::TestApplication();
        env_.OpenSharedConnection();
        facade::SetSelectionResult({});
    }
    ~BrowseWindowTest() override {
        facade::SetBrowseMode(0);
        facade::SetSelectionResult({});
    }

    std::unique_ptr<FrmBrowseBase> Open(int32_t mode) {
        facade::SetBrowseMode(mode);
        auto w = std::make_unique<FrmBrowseBase>();
        w->Load();
        return w;
    }

    // Internal numbers of bills of a transaction type that the send side lists.
    std::vector<int32_t> Bills(int32_t tran_type, size_t n) {
        const std::string sql =
            tran_type == 71 ? "SELECT FInterID FROM POOrder WHERE FStatus=1 AND FRelateBrID<>0 ORDER BY FInterID"
                            : "SELECT FInterID FROM SEOutStock WHERE FTranType=" + std::to_string(tran_type) +
                                  " AND FStatus IN (1,2) AND FRelateBrID<>0 ORDER BY FInterID";
        std::vector<int32_t> ids;
        for (const auto& row : env_.Db().Rows(sql)) {
            if (ids.size() < n) ids.push_back(std::stoi(row[0]));
        }
        EXPECT_EQ(ids.size(), n) << "the sample has too few bills of type " << tran_type;
        return ids;
    }

    // Checks the node of `kind`, shows its tab and loads `ids` into its grid.
    void Load(FrmBrowseBase& w, int kind, const std::vector<int32_t>& ids) {
        const BillKind& k = kBillKinds[static_cast<size_t>(kind)];
        if (!w.NodeChecked(k.send_key)) w.SetNodeChecked(k.send_key, true);
        w.TabStrip()->Select(k.send_key);
        w.ShowBillFrame(k.send_key);
        auto selection = MakeRef<VariantVector>();
        for (int32_t id : ids) selection->Add(Variant(Pick(id, k.tran_type)));
        w.FillBillGrid(selection);
    }

    hostkit::SampleOptions sample_;
    testing::BranchEnv env_;
};

}  // namespace orba::ui::browse_test
