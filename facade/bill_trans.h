// The transmission facade the host drives an exchange through: package the bills a related
// branch asked for, unpackage a received list through the host's saving component, and mark
// packaged bills as transmitted. Its life spans the shared account-database connection.
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "host/library_objects.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/containers.h"
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
    // Packages as PackageBills does, for a caller that writes the list as it is made: `write`
    // is handed the packages as a list stream, each package made when it is read, its
    // "BillsData" a stream of its bills extracted as they are read (or Nothing). The
    // packages and bills are those PackageBills returns. False after a packaging failure,
    // which is shown as PackageBills shows it; an Error of `write` itself reaches the caller.
    bool PackageBillsStreamed(const platform::Ref<platform::Object>& requests,
                              const platform::Ref<platform::Object>& apply_br_id,
                              const std::function<void(const platform::Ref<platform::ListStream>& packages)>& write);

    // Hands each package's bills to the saving component and returns {"RtnMsg": messages};
    // writes the transmission log when there are messages.
    platform::Ref<host::VariantDictionary> UnPackageBills(const platform::Ref<platform::Object>& list);

    // UnPackageBills for a caller that reads a list in pieces: the packages, or parts of
    // one package's bills in package records of their own, are handed over one at a time,
    // and Finish ends the unpacking as UnPackageBills ends it.
    class Unpacking {
    public:
        explicit Unpacking(BillTrans& owner);
        // Saves the bills of one package; false once a failure has ended the unpacking, after
        // which nothing more is saved. A log that could not be written after a failure
        // raises its Error, as UnPackageBills does.
        bool Save(const platform::Ref<platform::Object>& package);
        // Ends the unpacking after a failure of the caller's own (the list could not be read).
        void Fail(const std::exception& failure);
        // A failure has ended the unpacking (an Error raised after it is the log's).
        bool Failed() const { return static_cast<bool>(failed_); }
        // {"RtnMsg": messages}, the log written as UnPackageBills writes it.
        platform::Ref<host::VariantDictionary> Finish();

    private:
        platform::Ref<host::VariantDictionary> Finished();

        BillTrans& owner_;
        // The order text serves every purchase-order package; the notice text is shared by
        // delivery and return notices.
        platform::Variant order_text_;
        platform::Variant notice_text_;
        platform::Ref<host::VariantDictionary> failed_;  // the result after a failure
    };
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
