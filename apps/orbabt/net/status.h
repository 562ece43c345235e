// How a branch stands with its related branches: per related branch, the certificates pinned
// for it, the bills of each type waiting to go to it and its last exchange. Built once here
// for both who read it: the service answers a caller with that caller's own row alone, and
// `orbabt status --db` shows an administrator the whole table from the database and its
// exchange log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "apps/orbabt/net/peers.h"
#include "exchange/transport.h"
#include "host/variant_dictionary.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps::net {

using namespace orba::exchange;

struct PeerStatus {
    Branch branch;                          // its number (t_SonCompany.FNumber) and name
    std::vector<std::string> certificates;  // SHA-256 fingerprints pinned for it (hex); none when not known
    std::map<int32_t, int64_t> waiting;     // per bill type: approved, addressed to it, not yet sent
    std::string last_exchange;              // the last exchange with it that did not fail; empty: never
};

struct BranchStatus {
    Branch branch;  // the branch whose status it is
    std::vector<PeerStatus> peers;
};

// Per bill type of data::kBillTypes, the bills of `db` waiting to go to the related branch
// `number`: approved, addressed to it and not yet sent.
std::map<int32_t, int64_t> WaitingFor(hostkit::Database& db, const std::string& number);

// The row of the related branch `peer`: its certificates among `pinned`, its bills waiting
// at `db`, and its time in `last_exchanges` (peer number -> time).
PeerStatus PeerStatusOf(hostkit::Database& db, const Branch& peer, const std::vector<Peer>& pinned,
                        const std::map<std::string, std::string>& last_exchanges);

// The whole table of the branch database `db` (whose own branch is `own`): every related
// branch that has bills waiting or has exchanged with it (its exchange log in `folder`), and
// every branch of `pinned` (a peers file) with its certificates, in the order of their
// numbers. A branch of `pinned` that is no related branch of `db` is an Error naming
// `pinned_from`.
BranchStatus FullStatus(hostkit::Database& db, const Branch& own, const std::vector<Peer>& pinned,
                        std::string_view pinned_from, const std::filesystem::path& folder);

// The status as the service answers it:
//   {"branch": {"number", "name"}, "peers": [{"branch", "name", "certificate",
//    "certificates", "waiting": {"501", "502", "503"}, "last_exchange"}]}
// "certificate" is the first of "certificates" (null when none is known), "last_exchange"
// null when there was none.
platform::Ref<host::VariantDictionary> StatusDictionary(const BranchStatus& status);

// `text` as it is written into a page: <, >, & and " as entities.
std::string Html(std::string_view text);

// The same as a small HTML page, and as a table for a terminal.
std::string StatusPage(const BranchStatus& status);
std::string StatusTable(const BranchStatus& status);

// Keeps in `status` (as StatusDictionary gives it, from a service) only the row of the
// branch `number`, or, when the number is not known, the rows that carry the certificate
// `fingerprint`: what a service says of other branches is none of the asking branch's
// business. Returns the branches whose rows were left out.
std::vector<std::string> KeepOwnRow(host::VariantDictionary& status, const std::string& number,
                                    const std::string& fingerprint);

}  // namespace orba::apps::net
