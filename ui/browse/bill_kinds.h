// The browse window's three kinds of bills (index 0, 1, 2 of a frame and its grid), each with its
// tree keys and texts, grid header, list dialog settings, package and viewer settings; and the
// list dialog's login text, cut out of the login properties.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/bill_types.h"

namespace orba::ui {

struct BillKind {
    std::string_view send_key;   // tree and tab key in send mode
    std::string_view send_text;
    std::string_view down_key;   // tree key in download mode
    std::string_view down_text;
    std::string_view header;     // the grid's header row
    int32_t list_id;             // list dialog settings
    int32_t tran_type;
    std::string_view list_system_name;
    std::string_view filter;
    int16_t bill_type;           // package
    std::string_view bill_name;
    std::string_view send_missing;  // the send command's message when the grid holds no bill
    int16_t show_code;           // bill viewer settings
    std::string_view viewer_system_name;
};

inline constexpr std::string_view kSupplierHeader = "事务类型|内码|单据编号|日期|供货机构|供应商|";
inline constexpr std::string_view kBuyerHeader = "事务类型|内码|单据编号|日期|订货机构|购货单位|";

// The transaction type, package code and name of a kind come from the library's table of
// bill types; the rest is the window's own.
constexpr int32_t KindTranType(data::BillKind kind) { return data::BillTypeOf(kind).tran_type; }
constexpr int16_t KindCode(data::BillKind kind) { return static_cast<int16_t>(data::BillTypeOf(kind).code); }
constexpr std::string_view KindName(data::BillKind kind) { return data::BillTypeOf(kind).chinese_name; }

inline constexpr std::array<BillKind, 3> kBillKinds{{
    {"POOrd", "采购订单", "SEOrd", "销售订单", kSupplierHeader, 26, KindTranType(data::BillKind::kPurchaseOrder),
     "purchase", "v1.FStatus IN (1) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
     KindCode(data::BillKind::kPurchaseOrder), KindName(data::BillKind::kPurchaseOrder), "请选择要发送的采购订单。", 101,
     "Purchase"},
    {"SEOut", "发货通知单", "POIn", "收料通知单", kBuyerHeader, 34, KindTranType(data::BillKind::kDeliveryNotice),
     "SaleIn", "v1.FStatus IN (1,2) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
     KindCode(data::BillKind::kDeliveryNotice), KindName(data::BillKind::kDeliveryNotice), "请选择要发送的发货通知单。",
     301, "SaleIn"},
    {"SEIn", "退货通知单", "POOut", "退料通知单", kBuyerHeader, 33, KindTranType(data::BillKind::kReturnNotice),
     "SaleIn", "v1.FStatus IN (1,2) AND v1.FRelateBrID<>0 AND v1.FRelateBrID IS NOT NULL",
     KindCode(data::BillKind::kReturnNotice), KindName(data::BillKind::kReturnNotice), "请选择要发送的退货通知单。", 311,
     "SaleIn"},
}};

// The kind of a send or download key (either key of a pair); -1 for any other text.
int KindOfKey(std::string_view key);
// The caption of the tab for a key: the send text for a send key, else the download text.
std::string TabCaption(std::string_view key);
// The kind whose bills have transaction type `tran_type` (71, 83, 82), given as the text a
// listed bill keeps it in; -1 for any other text.
int KindOfTranType(std::string_view tran_type);

// What the list dialog is told about the user, cut out of the login property string: the
// text between the first "{" and the "}" after it, the number after "UserID=" and the name
// after "UserName=" (names found in any letter case, each value up to the next ";").
// A missing piece gives empty text or 0; a value without its ";" runs to the end.
struct ListLogin {
    std::string base_text;
    int32_t user_id = 0;
    std::string user_name;
};
ListLogin CutListLogin(std::string_view props);
// base text | user ID | user name
std::string BaseInfoText(const ListLogin& login);

}  // namespace orba::ui
