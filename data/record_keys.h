// The record keys of the exchange format: the names a request, a package, a bill and its
// lines carry their values under, as the library writes them and a host reads them.
#pragma once

#include <string_view>

namespace orba::data {

namespace key {
inline constexpr std::string_view kBillType = "BillType";
inline constexpr std::string_view kBillName = "BillName";
inline constexpr std::string_view kBillsData = "BillsData";
inline constexpr std::string_view kTranStatus = "TranStatus";
inline constexpr std::string_view kBillInterID = "BillInterID";
inline constexpr std::string_view kYear = "Year";
inline constexpr std::string_view kPeriod = "Period";
inline constexpr std::string_view kDate = "Date";
inline constexpr std::string_view kBillID = "BillID";
inline constexpr std::string_view kOrderID = "OrderID";
inline constexpr std::string_view kEntryID = "EntryID";
inline constexpr std::string_view kQty = "Qty";
inline constexpr std::string_view kReqEntry = "ReqEntry";
inline constexpr std::string_view kNoticeEntry = "NoticeEntry";
inline constexpr std::string_view kName = "Name";
inline constexpr std::string_view kNumber = "Number";
}  // namespace key

}  // namespace orba::data
