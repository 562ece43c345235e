// The transmission facade the host drives an exchange through: package the bills a related
// branch asked for, unpackage a received list through the host's saving component, and mark
// packaged bills as transmitted. Its life spans the shared account-database connection.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "host/library_objects.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/dispatch.h"

namespace orba::facade {

inline constexpr std::string_view kBillTransProgId = "OrbaBillTransmit.BillTrans";
inline constexpr std::string_view kSaveDataProgId = "Varnick.SaveData";

inline constexpr std::string_view kPackageFailed = "打包数据错误。";
inline constexpr std::string_view kTranStatusFailed = "更新传输标志出错。";
inline constexpr std::string_view kUnpackageFailed = "数据解包错误。";
inline constexpr std::string_view kReturnMessageKey = "RtnMsg";

class BillTrans : public platform::Dispatchable<BillTrans>, private host::LibraryObject {
public:
    // Makes the shared connection to the account database (replacing any earlier one); an
    // Error from making it passes to the creator.
    BillTrans();
    // Clears the shared connection.
    ~BillTrans() override;
    static const platform::MemberTable<BillTrans>& Members();

    // The browse window's mode for the next Show: 0 send, other values download. Stored as
    // given; shared by every BillTrans object.
    static void ShowType(int32_t mode);
    // What the last browse window left: the very vector it stored, or Nothing.
    static platform::Ref<host::VariantVector> VectTransmitBill();
    // Opens the browse window modally and returns when it has closed. A failure while the
    // window is made or set up reaches the caller; the window reports its own commands'.
    void Show();

    // One package per request item, in request order; Nothing after a failure, which is
    // shown in a message box.
    platform::Ref<host::VariantVector> PackageBills(const platform::Ref<platform::Object>& requests,
                                                    const platform::Ref<platform::Object>& apply_br_id);
    // Hands each package's bills to the saving component and returns {"RtnMsg": messages};
    // writes the transmission log when there are messages.
    platform::Ref<host::VariantDictionary> UnPackageBills(const platform::Ref<platform::Object>& list);
    // Marks the bills of every package as transmitted, one statement per package.
    void SetTranStatus(const platform::Ref<platform::Object>& list);

    // The log file the last UnPackageBills of this object wrote (empty when none).
    const std::filesystem::path& LastLogFile() const { return last_log_; }
    // Why the last UnPackageBills could not write its log (empty when it could, or had
    // nothing to write).
    const std::string& LastLogError() const { return last_log_error_; }
    // The "RtnMsg" text the last UnPackageBills composed, also when a log that could not be
    // written ended it without a result.
    const std::string& LastReturnMessage() const { return last_message_; }

private:
    std::filesystem::path WriteLog(std::string_view text);

    std::filesystem::path last_log_;
    std::string last_log_error_;
    std::string last_message_;
};

}  // namespace orba::facade
