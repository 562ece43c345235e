#include "apps/orbabt/net/peers.h"

#include <fmt/format.h>

#include "data/bill_types.h"
#include "exchange/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "hostkit/database.h"
#include "platform/error.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::Variant;

namespace {

std::string TextOf(const host::VariantDictionary& entry, std::string_view key, const std::string& where) {
    const platform::Variant* value = entry.Find(key);
    if (!value || !value->IsString() || value->AsString().empty()) {
        throw Error(ErrorCode::kBadInput, fmt::format("{} has no \"{}\" text", where, key));
    }
    return std::string(value->AsString());
}

// The file's top object; `what` names the kind of file in the message when it cannot be read.
platform::Ref<host::VariantDictionary> ReadTop(const std::filesystem::path& path, std::string_view what) {
    platform::Variant root;
    try {
        root = host::FromJson(ReadTextFile(path));
    } catch (const Error& e) {
        throw Error(e.Number(), fmt::format("The {} '{}' cannot be read: {}", what, path.string(), e.Description()));
    }
    auto top = platform::ObjectAs<host::VariantDictionary>(root);
    if (!top) throw Error(ErrorCode::kBadInput, fmt::format("The {} '{}' is not a JSON object", what, path.string()));
    return top;
}

// The entries of the list under `key`, or none.
platform::Ref<host::VariantVector> EntriesOf(const host::VariantDictionary& top, std::string_view key) {
    const platform::Variant* listed = top.Find(key);
    auto entries = listed ? platform::ObjectAs<host::VariantVector>(*listed) : nullptr;
    return entries && entries->UpperBound() > 0 ? entries : nullptr;
}

// A file named in a configuration: relative paths are taken from the configuration's folder.
std::string PathFrom(const std::filesystem::path& folder, const std::string& named) {
    return std::filesystem::path(named).is_absolute() ? named : (folder / named).lexically_normal().string();
}

int NumberOf(const host::VariantDictionary& entry, std::string_view key, int otherwise, const std::string& where) {
    const platform::Variant* value = entry.Find(key);
    if (!value) return otherwise;
    if (!value->IsNumeric() || value->ToLong() < 0 || value->ToLong() > 100000) {
        throw Error(ErrorCode::kBadInput, fmt::format("{}: \"{}\" is not a whole number from 0", where, key));
    }
    return static_cast<int>(value->ToLong());
}

}  // namespace

SyncConfig ReadSyncFile(const std::filesystem::path& path) {
    const auto top = ReadTop(path, "sync file");
    const std::string where = fmt::format("The sync file '{}'", path.string());
    const std::filesystem::path folder = path.parent_path();
    SyncConfig config;
    const std::string db = TextOf(*top, "db", where);
    config.db = hostkit::IsServerDatabaseUri(db) ? db : PathFrom(folder, db);
    config.cert = PathFrom(folder, TextOf(*top, "cert", where));
    config.key = PathFrom(folder, TextOf(*top, "key", where));
    config.retries = NumberOf(*top, "retries", config.retries, where);
    config.timeout_s = NumberOf(*top, "timeout", config.timeout_s, where);
    const auto entries = EntriesOf(*top, "pull");
    if (!entries) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} names no pulls: it must hold \"pull\": [{{\"from\": \"https://HOST:PORT\", "
                                "\"branch\": \"01.001\", \"certificate\": \"a.pem\"}}, ...]",
                                where));
    }
    for (int32_t i = 1; i <= entries->UpperBound(); ++i) {
        const std::string at = fmt::format("{}, pull {}", where, i);
        const auto entry = platform::ObjectAs<host::VariantDictionary>(entries->Item(i));
        if (!entry) throw Error(ErrorCode::kBadInput, fmt::format("{} is not an object", at));
        // A pull names the branch it pulls from: what the service sends is checked against it.
        const Variant* branch = entry->Find("branch");
        if (!branch || !branch->IsString() || branch->AsString().empty()) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("{} names no \"branch\": the related branch whose service it pulls from, as in "
                                    "t_SonCompany.FNumber (e.g. \"branch\": \"01.001\")",
                                    at));
        }
        SyncPull pull{TextOf(*entry, "from", at), std::string(branch->AsString()), TextOf(*entry, "certificate", at),
                      data::AllBillTypeCodes()};
        if (!pull.certificate.starts_with("sha256:")) pull.certificate = PathFrom(folder, pull.certificate);
        if (const auto types = EntriesOf(*entry, "types")) {
            pull.types.clear();
            for (int32_t t = 1; t <= types->UpperBound(); ++t) pull.types.push_back(int(types->Item(t).ToLong()));
        }
        config.pulls.push_back(std::move(pull));
    }
    return config;
}

std::vector<Peer> ReadPeersFile(const std::filesystem::path& path) {
    const std::string file = path.string();
    const auto entries = EntriesOf(*ReadTop(path, "peers file"), "peers");
    if (!entries) {
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

Peer ParsePeer(std::string_view text, const std::filesystem::path& base, std::string_view option) {
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals + 1 == text.size()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} '{}' is not BRANCH=CERTIFICATE: the related branch's number and its service's "
                                "certificate, e.g. {} 01.001=a.pem or {} 01.001=sha256:<64 hex digits>",
                                option, text, option, option));
    }
    const std::string where = fmt::format("{} {}", option, text);
    return Peer{std::string(text.substr(0, equals)), PinnedFingerprint(text.substr(equals + 1), base, where)};
}

Branch RelatedBranch(hostkit::Database& db, const Branch& own, const std::string& number, std::string_view where) {
    if (number == own.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} names branch {}, which is this branch itself ({}, the account {}); name the "
                                "related branch whose service it is",
                                where, number, own.name, db.Name()));
    }
    auto rows = db.Query("SELECT FName FROM t_SonCompany WHERE FNumber=?", {Variant(number)});
    if (rows->Eof()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} names branch {}, which is not a related branch of {} in the account {}", where,
                                number, own.number, db.Name()));
    }
    return Branch{number, rows->Value(0).ToText()};
}

}  // namespace orba::apps::net
