#include "apps/orbabt/net/peers.h"

#include <fmt/format.h>

#include "apps/orbabt/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

namespace {

std::string TextOf(const host::VariantDictionary& entry, std::string_view key, const std::string& where) {
    const platform::Variant* value = entry.Find(key);
    if (!value || !value->IsString() || value->AsString().empty()) {
        throw Error(ErrorCode::kBadInput, fmt::format("{} has no \"{}\" text", where, key));
    }
    return std::string(value->AsString());
}

}  // namespace

std::vector<Peer> ReadPeersFile(const std::filesystem::path& path) {
    const std::string file = path.string();
    platform::Variant root;
    try {
        root = host::FromJson(ReadTextFile(path));
    } catch (const Error& e) {
        throw Error(e.Number(), fmt::format("The peers file '{}' cannot be read: {}", file, e.Description()));
    }
    const auto top = platform::ObjectAs<host::VariantDictionary>(root);
    const platform::Variant* listed = top ? top->Find("peers") : nullptr;
    const auto entries = listed ? platform::ObjectAs<host::VariantVector>(*listed) : nullptr;
    if (!entries || entries->UpperBound() == 0) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The peers file '{}' names no peers: it must hold {{\"peers\": [{{\"branch\": "
                                "\"01.002\", \"certificate\": \"b.pem\"}}, ...]}}",
                                file));
    }
    std::vector<Peer> peers;
    for (int32_t i = 1; i <= entries->UpperBound(); ++i) {
        const std::string where = fmt::format("The peers file '{}', entry {}", file, i);
        const auto entry = platform::ObjectAs<host::VariantDictionary>(entries->Item(i));
        if (!entry) throw Error(ErrorCode::kBadInput, fmt::format("{} is not an object", where));
        Peer peer{TextOf(*entry, "branch", where), {}};
        peer.fingerprint = PinnedFingerprint(TextOf(*entry, "certificate", where), path.parent_path(), where);
        for (const Peer& other : peers) {
            if (other.fingerprint == peer.fingerprint) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("{} names the certificate of branch {} again (for {}); each branch needs "
                                        "a certificate of its own",
                                        where, other.branch, peer.branch));
            }
        }
        peers.push_back(std::move(peer));
    }
    return peers;
}

Pins PinsOf(const std::vector<Peer>& peers) {
    Pins pins;
    for (const Peer& peer : peers) pins.emplace(peer.fingerprint, peer.branch);
    return pins;
}

}  // namespace orba::apps::net
