// The bill types that move between related branches, in one table: for each, its code in
// requests and packages, its transaction type, its names, its record's line key, where its
// headers are kept, and the members that extract, save and mark its bills.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_trans.h"
#include "data/record_keys.h"

namespace orba::data {

enum class BillKind { kPurchaseOrder, kDeliveryNotice, kReturnNotice };

struct BillType {
    using Extractor = platform::Ref<host::VariantVector> (DataTrans::*)(const std::string& bill_inter_ids,
                                                                         bool for_download,
                                                                         const platform::Ref<platform::Object>&);
    using Marker = void (DataTrans::*)(const std::string& inter_ids);

    int32_t code;                    // "BillType" of a request and of a package
    BillKind kind;
    int32_t tran_type;               // FTranType of its bills, and "BillType" of a bill record
    std::string_view name;           // in summaries and messages
    std::string_view chinese_name;   // "BillName" of a package the browse window makes
    std::string_view entry_key;      // the key of a bill record's lines
    Extractor extract;               // the listed bills, or those awaiting transmission
    std::string_view saving_member;  // the saving component's member that saves a package
    Marker mark;                     // sets the transmission flag of the listed bills
    std::string_view header_table;   // the table of its bills' headers
    // The header table holds bills of other types too: FTranType tells its own apart.
    bool header_shared;
};

inline constexpr std::array<BillType, 3> kBillTypes{{
    {501, BillKind::kPurchaseOrder, 71, "purchase orders", "内部订单", key::kReqEntry, &DataTrans::GetPOOrdVect,
     "UnPackageOrd", &DataTrans::SetOrdTranStatus, "POOrder", false},
    {502, BillKind::kDeliveryNotice, 83, "delivery notices", "发货通知单", key::kNoticeEntry,
     &DataTrans::GetSEOutVect, "UnPackageNotice", &DataTrans::SetNoticeTranStatus, "SEOutStock", true},
    {503, BillKind::kReturnNotice, 82, "return notices", "退货通知单", key::kNoticeEntry, &DataTrans::GetSEInVect,
     "UnPackageNotice", &DataTrans::SetNoticeTranStatus, "SEOutStock", true},
}};

// The table is in the order of the kinds, so that a kind finds its row at once.
constexpr bool KindsInOrder() {
    for (size_t i = 0; i < kBillTypes.size(); ++i) {
        if (static_cast<size_t>(kBillTypes[i].kind) != i) return false;
    }
    return true;
}
static_assert(KindsInOrder());

constexpr const BillType& BillTypeOf(BillKind kind) { return kBillTypes[static_cast<size_t>(kind)]; }

// The type of a code; nullptr for a code that is none of the table's.
constexpr const BillType* FindBillType(int32_t code) {
    for (const BillType& t : kBillTypes) {
        if (t.code == code) return &t;
    }
    return nullptr;
}

// The type whose bills have transaction type `tran_type`; nullptr for any other.
constexpr const BillType* FindBillTypeByTranType(int32_t tran_type) {
    for (const BillType& t : kBillTypes) {
        if (t.tran_type == tran_type) return &t;
    }
    return nullptr;
}

// Every code, in table order: what a request for all bill types asks for.
std::vector<int32_t> AllBillTypeCodes();

// The codes as messages list them: "501, 502, 503".
const std::string& BillTypeCodesText();

}  // namespace orba::data
