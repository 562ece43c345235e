// Bill data access: extracts purchase orders, delivery notices and return notices from the
// branch's account database as exchange records, reads the summary of one bill, and writes
// transmission and confirmation status back.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/library_objects.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/containers.h"
#include "platform/dispatch.h"

namespace orba::data {

inline constexpr std::string_view kDataTransProgId = "OrbaBillTransmit.DataTrans";

class BillReader;
enum class BillKind;  // data/sql_text.h

// The bills of one extraction, made as a writer reads them: the first is made when the
// extraction is opened (so an extraction without a bill is known at once), each next one
// when it is asked for. The statement's rows stay open until the last bill is read.
class BillStream : public platform::ListStream {
public:
    BillStream(std::unique_ptr<BillReader> reader, platform::Ref<host::VariantDictionary> first);
    ~BillStream() override;
    bool Next(platform::Variant& item) override;

private:
    std::unique_ptr<BillReader> reader_;
    platform::Ref<host::VariantDictionary> next_;
};

class DataTrans : public platform::Dispatchable<DataTrans>, private host::LibraryObject {
public:
    static const platform::MemberTable<DataTrans>& Members();

    // The one-row summary of a bill (71 purchase order, 82/83 notices); Nothing for any other
    // transaction type. Failures reach the caller.
    platform::Ref<platform::Object> GetBillInfo(int32_t bill_tran_type, int32_t bill_inter_id);

    // The listed bills (`for_download` false) or every bill awaiting transmission to the
    // branch named by `apply_br_id` ("Number", "Name"); Nothing when no row matches.
    // Failures reach the caller.
    platform::Ref<host::VariantVector> GetPOOrdVect(const std::string& bill_inter_ids = {}, bool for_download = false,
                                                    const platform::Ref<platform::Object>& apply_br_id = {});
    platform::Ref<host::VariantVector> GetSEOutVect(const std::string& bill_inter_ids = {}, bool for_download = false,
                                                    const platform::Ref<platform::Object>& apply_br_id = {});
    platform::Ref<host::VariantVector> GetSEInVect(const std::string& bill_inter_ids = {}, bool for_download = false,
                                                   const platform::Ref<platform::Object>& apply_br_id = {});

    // The bills GetPOOrdVect, GetSEOutVect or GetSEInVect return for `kind`, from the same
    // statement and record builders, made one at a time as they are read; Nothing when no
    // row matches.
    platform::Ref<BillStream> StreamBills(BillKind kind, const std::string& bill_inter_ids, bool for_download,
                                          const platform::Ref<platform::Object>& apply_br_id);

    // Status updates. Each reports its own failure in a message box and returns normally.
    void SetOrdTranStatus(const std::string& inter_ids);
    void UnSetOrdTranStatus(const platform::Ref<platform::Object>& orders);
    void AffirmPurchaseOrder(const platform::Ref<platform::Object>& entries);
    void SetNoticeTranStatus(const std::string& inter_ids);
    void SetOrderAffirmStatus(const platform::Ref<platform::Object>& orders, int32_t status);
};

// Fixed messages of the status updates' failure reports.
inline constexpr std::string_view kOrdTranStatusFailed = "更新订单传输标志失败。";
inline constexpr std::string_view kOrderAffirmFailed = "更新订单确认标志失败。";
inline constexpr std::string_view kAffirmQtyFailed = "更新订单确认数量失败。";
inline constexpr std::string_view kNoticeTranStatusFailed = "更新通知单传输标志失败。";

}  // namespace orba::data
