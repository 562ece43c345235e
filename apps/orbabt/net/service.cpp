#include "apps/orbabt/net/service_calls.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>

#include "exchange/steps.h"
#include "apps/orbabt/host_setup.h"
#include "exchange/mark.h"
#include "apps/orbabt/net/admin.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/net/status.h"
#include "data/bill_types.h"
#include "exchange/input_file.h"
#include "exchange/output_guard.h"
#include "exchange/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/scope_exit.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Variant;

namespace {

void LogRefused(const std::string& fingerprint, const std::string& why) {
    std::cerr << fmt::format("orbabt serve: refused a client: {} (certificate sha256:{})\n", why, fingerprint)
              << std::flush;
}


}  // namespace

Service::Service(const ServeOptions& options)
    : location_(options.db),
      peers_file_(options.peers),
      db_(UseBranchDatabase(options.db)),
      own_(OwnBranch(*db_)),
      peers_(ReadPeersFile(options.peers)),
      folder_(ExchangeFolderOf(*db_)) {
    check_.pins = PinsOf(peers_);
    check_.on_refused = &LogRefused;
    for (const Peer& peer : peers_) {
        auto rows = db_->Query("SELECT FName FROM t_SonCompany WHERE FNumber=?", {Variant(peer.branch)});
        if (rows->Eof() || peer.branch == own_.number) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("The peers file '{}' names branch {}, which is not a related branch of {} "
                                    "in the account {}",
                                    options.peers, peer.branch, own_.number, db_->Name()));
        }
        names_[peer.branch] = rows->Value(0).ToText();
    }
    last_exchange_ = LastExchanges(own_.number, folder_);
}

std::shared_ptr<FILE> Service::Package(const Branch& caller, const std::string& body, ExchangeRecord& record) {
    record.direction = "served request";
    RequestFile request = ReadRequestFile(body, fmt::format("the download request of branch {}", caller.number));
    // A type this branch does not know gets no empty package of that type: the caller is told.
    for (int32_t i = 1; i <= request.requests->UpperBound(); ++i) {
        const auto item = platform::ObjectAs<host::VariantDictionary>(request.requests->Item(i));
        const int64_t bill_type = item && item->Find("BillType") ? item->Value("BillType").ToLong() : 0;
        if (!IsKnownBillType(static_cast<int32_t>(bill_type))) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("The download request of branch {} asks for bill type {}, which this "
                                    "service does not send ({})",
                                    caller.number, bill_type, data::BillTypeCodesText()));
        }
    }
    const SpoolFolder spool;
    const std::filesystem::path path = spool / "list.json";
    const Packaged packaged =
        PackageForBranch(*db_, request.requests, ListFile{own_, caller, platform::Date::Now(), {}}, path);
    const std::vector<PackageCount>& counts = packaged.counts;
    record.list_sha256 = packaged.list_sha256;
    std::shared_ptr<FILE> list(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!list) {
        throw Error(ErrorCode::kIoError, fmt::format("The list made for branch {} cannot be read back: {}",
                                                     caller.number, std::strerror(errno)));
    }
    for (const PackageCount& c : counts) record.counts[c.bill_type].sent += c.own_bills;
    return list;
}

std::string Service::Mark(const Branch& caller, const std::string& body, ExchangeRecord& record) {
    record.direction = "served receipt";
    const std::string name = fmt::format("the receipt of branch {}", caller.number);
    ReceiptFile receipt = ReadReceiptFile(body, name);
    record.list_sha256 = receipt.list_sha256;
    CountReceipt(receipt, record);
    if (receipt.sender.number != caller.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} says it was written by branch {}; a branch sends its own receipts only",
                                name, receipt.sender.number));
    }
    const MarkResult result = AcceptReceipt(*db_, own_, receipt, name);
    // Per bill type, what this receipt marked, and what it acknowledges that was marked
    // already (the same receipt delivered again).
    const auto per_type = [](const std::vector<std::pair<int32_t, int>>& counts) {
        auto dictionary = MakeRef<host::VariantDictionary>();
        for (const auto& [bill_type, count] : counts) {
            const std::string key = std::to_string(bill_type);
            const Variant* before = dictionary->Find(key);
            dictionary->Let(key, Variant(int32_t(count + (before ? before->ToLong() : 0))));
        }
        return dictionary;
    };
    for (const auto& [bill_type, count] : result.marked) record.counts[bill_type].marked += count;
    auto answer = MakeRef<host::VariantDictionary>();
    answer->Let("ok", Variant(result.ok));
    answer->Let("changed", Variant(int32_t(result.changed)));
    answer->Let("superseded", Variant(int32_t(result.superseded)));
    answer->Set("marked", per_type(result.marked));
    answer->Set("already", per_type(result.already));
    return host::ToJson(Variant(answer), -1);
}

std::string Service::Save(const Branch& caller, const std::filesystem::path& body, ExchangeRecord& record) {
    record.direction = "served list";
    const std::string name = fmt::format("the list of branch {}", caller.number);
    // The reader takes the SHA-256 as it checks the file; a file it refuses is hashed for
    // the log alone.
    std::optional<ListFileReader> opened;
    {
        platform::ScopeExit hash([&] {
            try {
                record.list_sha256 = Sha256OfFile(body);
            } catch (const std::exception&) {
                // The list's own refusal is what the caller hears; a log entry without its
                // hash is the lesser loss.
            }
        });
        opened.emplace(body, ListFileReader::BillObserver{}, name);
        hash.Dismiss();
    }
    ListFileReader& reader = *opened;
    record.list_sha256 = reader.Sha256();
    const ListFile& file = reader.Header();
    if (file.sender.number != caller.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} says it was made by branch {}; a branch sends its own lists only", name,
                                file.sender.number));
    }
    const Accepted accepted = AcceptList(*db_, own_, reader, name);
    CountReceipt(accepted.receipt, record);
    return WriteReceiptFile(accepted.receipt);
}

BranchStatus Service::Status(const Branch& caller) {
    return BranchStatus{own_, {PeerStatusOf(*db_, caller, peers_, last_exchange_)}};
}

std::optional<std::string> Service::DatabaseUnusable(std::chrono::milliseconds patience) const {
    // A connection of its own: the service's is held by the exchange in hand, which a health
    // check must not wait for.
    const std::string location = location_;
    return ProbeDatabase([location] { hostkit::OpenDatabase(location)->Query("SELECT count(*) FROM t_SonCompany"); },
                         patience);
}

AdminStatus Service::AdminView(const std::vector<CertificateEnd>& certificates) const {
    AdminStatus status;
    const std::unique_ptr<hostkit::Database> db = hostkit::OpenDatabase(location_);
    status.branch = FullStatus(*db, own_, peers_, peers_file_, folder_);
    status.history = ReadExchangeHistory(own_.number, folder_);
    status.kept_receipts = KeptReceipts();
    status.certificates = certificates;
    status.version = ORBA_VERSION;
    status.uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
    status.made = std::chrono::system_clock::now();
    return status;
}

int Service::KeptReceipts() const {
    std::error_code error;
    int kept = 0;
    for (std::filesystem::directory_iterator it(folder_ / "undelivered", error), end; !error && it != end;
         it.increment(error)) {
        kept += it->is_regular_file(error) ? 1 : 0;
    }
    return kept;
}

}  // namespace orba::apps::net
