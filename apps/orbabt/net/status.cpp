#include "apps/orbabt/net/status.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "exchange/steps.h"
#include "apps/orbabt/net/exchange_log.h"
#include "data/sql_text.h"
#include "host/variant_vector.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::MakeRef;
using platform::Variant;

namespace {

constexpr std::string_view kShaPrefix = "sha256:";

std::vector<std::string> PinnedFor(const std::string& number, const std::vector<Peer>& pinned) {
    std::vector<std::string> certificates;
    for (const Peer& peer : pinned) {
        if (peer.branch == number) certificates.push_back(peer.fingerprint);
    }
    return certificates;
}

int64_t Count(const PeerStatus& peer, int32_t bill_type) {
    const auto found = peer.waiting.find(bill_type);
    return found == peer.waiting.end() ? 0 : found->second;
}

// The count of each bill type waiting for `peer`, for PerBillType.
auto WaitingOf(const PeerStatus& peer) {
    return [&peer](const data::BillType& type) { return Count(peer, type.code); };
}

// A cell (`cell` formats one value) per bill type, in table order, with what `value` gives.
template <class Value>
std::string PerBillType(std::string_view cell, Value value) {
    std::string cells;
    for (const data::BillType& type : data::kBillTypes) cells += fmt::format(fmt::runtime(cell), value(type));
    return cells;
}

}  // namespace

std::string Html(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::map<int32_t, int64_t> WaitingFor(hostkit::Database& db, const std::string& number) {
    std::map<int32_t, int64_t> waiting;
    for (const data::BillType& type : data::kBillTypes) {
        waiting[type.code] = db.Query(data::WaitingCountStatement(type), {Variant(number)})->Value(0).ToLong();
    }
    return waiting;
}

PeerStatus PeerStatusOf(hostkit::Database& db, const Branch& peer, const std::vector<Peer>& pinned,
                        const std::map<std::string, std::string>& last_exchanges) {
    PeerStatus status{peer, PinnedFor(peer.number, pinned), WaitingFor(db, peer.number), {}};
    if (const auto last = last_exchanges.find(peer.number); last != last_exchanges.end()) {
        status.last_exchange = last->second;
    }
    return status;
}

BranchStatus FullStatus(hostkit::Database& db, const Branch& own, const std::vector<Peer>& pinned,
                        std::string_view pinned_from, const std::filesystem::path& folder) {
    // Every branch of the peers file must be a related branch, as the service requires.
    for (const Peer& peer : pinned) RelatedBranch(db, own, peer.branch, pinned_from);
    const std::map<std::string, std::string> last = LastExchanges(own.number, folder);
    BranchStatus status{own, {}};
    std::vector<std::string> shown;
    for (auto rows = db.Query("SELECT FNumber, FName FROM t_SonCompany ORDER BY FNumber"); !rows->Eof();
         rows->MoveNext()) {
        const Branch related{rows->Value(0).ToText(), rows->Value(1).IsNull() ? "" : rows->Value(1).ToText()};
        if (related.number == own.number) continue;
        PeerStatus peer = PeerStatusOf(db, related, pinned, last);
        const bool waits = std::any_of(peer.waiting.begin(), peer.waiting.end(), [](auto& w) { return w.second > 0; });
        if (waits || !peer.last_exchange.empty() || !peer.certificates.empty()) {
            shown.push_back(related.number);
            status.peers.push_back(std::move(peer));
        }
    }
    // A branch the log names that is no longer a related branch still exchanged with this one:
    // it is shown too, without a name.
    for (const auto& [number, time] : last) {
        if (number.empty() || number == own.number || std::find(shown.begin(), shown.end(), number) != shown.end()) {
            continue;
        }
        status.peers.push_back(PeerStatus{Branch{number, {}}, {}, {}, time});
    }
    std::sort(status.peers.begin(), status.peers.end(),
              [](const PeerStatus& a, const PeerStatus& b) { return a.branch.number < b.branch.number; });
    return status;
}

platform::Ref<host::VariantDictionary> StatusDictionary(const BranchStatus& status) {
    auto branch = MakeRef<host::VariantDictionary>();
    branch->Let("number", Variant(status.branch.number));
    branch->Let("name", Variant(status.branch.name));
    auto peers = MakeRef<host::VariantVector>();
    for (const PeerStatus& peer : status.peers) {
        auto entry = MakeRef<host::VariantDictionary>();
        entry->Let("branch", Variant(peer.branch.number));
        entry->Let("name", Variant(peer.branch.name));
        entry->Let("certificate", peer.certificates.empty() ? Variant::Null()
                                                            : Variant(std::string(kShaPrefix) + peer.certificates[0]));
        auto certificates = MakeRef<host::VariantVector>();
        for (const std::string& fingerprint : peer.certificates) {
            certificates->Add(Variant(std::string(kShaPrefix) + fingerprint));
        }
        entry->Set("certificates", certificates);
        auto waiting = MakeRef<host::VariantDictionary>();
        for (const data::BillType& type : data::kBillTypes) {
            waiting->Let(std::to_string(type.code), Variant(int32_t(Count(peer, type.code))));
        }
        entry->Set("waiting", waiting);
        entry->Let("last_exchange", peer.last_exchange.empty() ? Variant::Null() : Variant(peer.last_exchange));
        peers->Add(Variant(entry));
    }
    auto dictionary = MakeRef<host::VariantDictionary>();
    dictionary->Set("branch", branch);
    dictionary->Set("peers", peers);
    return dictionary;
}

std::string StatusPage(const BranchStatus& status) {
    const std::string title = fmt::format("{} {}", Html(status.branch.number), Html(status.branch.name));
    std::string page = fmt::format(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>{0}</title><style>body{{font-family:sans-serif;"
        "margin:2em}}table{{border-collapse:collapse}}td,th{{border:1px solid #999;padding:.3em .8em;white-space:nowrap}}"
        "td.n{{text-align:right}}</style></head><body><h1>{0}</h1><table><tr><th>Branch</th><th>Name</th>"
        "{1}<th>Last exchange</th><th>Certificate</th></tr>",
        title, PerBillType("<th>{} waiting</th>", [](const data::BillType& type) {
            std::string name(type.name);
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
            return name;
        }));
    for (const PeerStatus& peer : status.peers) {
        std::string certificates;
        for (const std::string& fingerprint : peer.certificates) {
            certificates += fmt::format("{}<code>{}{}&hellip;</code>", certificates.empty() ? "" : "<br>", kShaPrefix,
                                        Html(fingerprint.substr(0, 16)));
        }
        page += fmt::format("<tr><td>{}</td><td>{}</td>{}<td>{}</td><td>{}</td></tr>", Html(peer.branch.number),
                            Html(peer.branch.name), PerBillType("<td class=n>{}</td>", WaitingOf(peer)),
                            peer.last_exchange.empty() ? "never" : Html(peer.last_exchange), certificates);
    }
    return page + "</table></body></html>\n";
}

std::string StatusTable(const BranchStatus& status) {
    std::string table = platform::ForTerminal(
        fmt::format("Branch {} ({})\n", platform::EscapeControls(status.branch.number),
                    platform::EscapeControls(status.branch.name)));
    if (status.peers.empty()) {
        return table + "No related branch has exchanged with this branch or has bills waiting for it.\n";
    }
    std::string kinds;
    for (const data::BillType& type : data::kBillTypes) {
        kinds += fmt::format("{}{} {}", kinds.empty() ? "" : ", ", type.code, type.name);
    }
    table += fmt::format("Bills waiting for each related branch (approved, addressed to it, not yet sent): {}.\n\n",
                         kinds);
    table += fmt::format("{:<12}{}  {:<19}  {}\n", "Branch",
                         PerBillType(" {:>7}", [](const data::BillType& type) { return type.code; }), "Last exchange",
                         "Name");
    for (const PeerStatus& peer : status.peers) {
        table += fmt::format("{:<12}{}  {:<19}  {}\n", platform::EscapeControls(peer.branch.number),
                             PerBillType(" {:>7}", WaitingOf(peer)),
                             peer.last_exchange.empty() ? "never" : peer.last_exchange,
                             platform::EscapeControls(peer.branch.name));
        for (const std::string& fingerprint : peer.certificates) {
            table += fmt::format("{:<12} certificate {}{}\n", "", kShaPrefix, fingerprint);
        }
    }
    return table;
}

std::vector<std::string> KeepOwnRow(host::VariantDictionary& status, const std::string& number,
                                    const std::string& fingerprint) {
    const Variant* listed = status.Find("peers");
    const auto rows = listed ? platform::ObjectAs<host::VariantVector>(*listed) : nullptr;
    auto kept = MakeRef<host::VariantVector>();
    std::vector<std::string> left_out;
    const std::string shown = std::string(kShaPrefix) + fingerprint;
    for (int32_t i = 1; rows && i <= rows->UpperBound(); ++i) {
        const auto row = platform::ObjectAs<host::VariantDictionary>(rows->Item(i));
        bool own = false;
        if (row) {
            const std::string branch = row->ValueOrDefault("branch", Variant("")).ToText();
            if (!number.empty()) {
                own = branch == number;
            } else if (!fingerprint.empty()) {
                own = row->ValueOrDefault("certificate", Variant("")).ToText() == shown;
                const Variant* all = row->Find("certificates");
                const auto certificates = all ? platform::ObjectAs<host::VariantVector>(*all) : nullptr;
                for (int32_t c = 1; certificates && c <= certificates->UpperBound(); ++c) {
                    own = own || certificates->Item(c).ToText() == shown;
                }
            }
            if (!own) left_out.push_back(branch);
        } else {
            left_out.push_back("(a row that is no object)");
        }
        if (own) kept->Add(rows->Item(i));
    }
    status.Set("peers", kept);
    return left_out;
}

}  // namespace orba::apps::net
