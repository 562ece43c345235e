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

namespace orba::apps::net {

struct Peer {
    std::string branch;
    std::string fingerprint;
};

// Raises an Error naming the file and the entry that is wrong: no peers, an entry without a
// branch or certificate, a certificate that cannot be read, or one certificate named for two
// branches (the caller's branch is the one its certificate belongs to, so it must be one).
std::vector<Peer> ReadPeersFile(const std::filesystem::path& path);

// The peers as pins: fingerprint -> branch number.
Pins PinsOf(const std::vector<Peer>& peers);

}  // namespace orba::apps::net
