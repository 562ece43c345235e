// The related branches a service answers: for each, its branch number (as in
// t_SonCompany.FNumber) and its pinned certificate. Read from a JSON file:
//   {"peers": [{"branch": "01.002", "certificate": "b.pem"}, {"branch": "01.003",
//    "certificate": "sha256:<hex>"}]}
// where a certificate file's relative path is taken from the peers file's folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "apps/orbabt/net/pinning.h"
#include "exchange/transport.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps::net {

using namespace orba::exchange;

struct Peer {
    std::string branch;
    std::string fingerprint;
};

// What `orbabt sync` does in one go: the pulls of this branch from several related branches'
// services. Read from a JSON file:
//   {"db": "b.db", "cert": "b.pem", "key": "b.key",
//    "pull": [{"from": "https://a.example:8443", "branch": "01.001", "certificate": "a.pem",
//              "types": [501, 502, 503]}]}
// "types" may be left out (all three); "retries" and "timeout" (seconds) may be given at the
// top. Relative paths are taken from the file's folder.
struct SyncPull {
    std::string from;         // the service's address
    std::string branch;       // the related branch whose service it is
    std::string certificate;  // its certificate: an absolute path, or "sha256:<hex>"
    std::vector<int> types;
};
struct SyncConfig {
    std::string db, cert, key;
    int retries = 3, timeout_s = 60;
    std::vector<SyncPull> pulls;
};
// Raises an Error naming the file and what in it is wrong.
SyncConfig ReadSyncFile(const std::filesystem::path& path);

// Raises an Error naming the file and the entry that is wrong: no peers, an entry without a
// branch or certificate, a certificate that cannot be read, or one certificate named for two
// branches (the caller's branch is the one its certificate belongs to, so it must be one).
std::vector<Peer> ReadPeersFile(const std::filesystem::path& path);

// The peers as pins: fingerprint -> branch number.
Pins PinsOf(const std::vector<Peer>& peers);

// A peer as an option names it: "BRANCH=CERTIFICATE", the certificate a PEM file (relative
// paths from `base`) or "sha256:<hex>". Raises an Error naming `option` when it is not that
// or the certificate cannot be read.
Peer ParsePeer(std::string_view text, const std::filesystem::path& base, std::string_view option);

// The related branch `number` of the account database `db` (whose own branch is `own`), with
// its name. Raises an Error saying so, and naming `where` the number came from, when it is no
// related branch there or is `own` itself.
Branch RelatedBranch(hostkit::Database& db, const Branch& own, const std::string& number, std::string_view where);

}  // namespace orba::apps::net
