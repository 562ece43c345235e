#include "apps/orbabt/net/answering_peer.h"

#include <fmt/format.h>

#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/status.h"
#include "apps/orbabt/net/transfer.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;

std::string Named(const Branch& branch) {
    const std::string number = platform::EscapeControls(branch.number);
    return branch.name.empty() ? number : fmt::format("{} ({})", number, platform::EscapeControls(branch.name));
}

std::string PeersNamedBy(const ClientOptions& options) {
    return options.peers_file.empty() ? std::string("--peer")
                                      : fmt::format("The peers file '{}'", options.peers_file);
}

std::map<std::string, Branch> RelatedPeers(hostkit::Database& db, const Branch& own, const std::vector<Peer>& peers,
                                           const ClientOptions& options) {
    std::map<std::string, Branch> related;
    for (const Peer& peer : peers) {
        related[peer.branch] = RelatedBranch(db, own, peer.branch, PeersNamedBy(options));
    }
    return related;
}

Branch AnsweringBranch(const ServiceClient& service, const std::map<std::string, Branch>& related) {
    const std::string number = service.PeerBranch();
    const auto found = related.find(number);
    return found == related.end() ? Branch{number, {}} : found->second;
}

void RequireFromPeer(hostkit::Database* db, const Branch& named, const Branch& peer, std::string_view what,
                     std::string_view role, std::string_view undone) {
    if (named.number == peer.number) return;
    std::string stranger;
    if (db && db->Query("SELECT FName FROM t_SonCompany WHERE FNumber=?", {platform::Variant(named.number)})->Eof()) {
        stranger = fmt::format(", which is no related branch in the account {}", db->Name());
    }
    throw Error(ErrorCode::kBadInput,
                fmt::format("{} names branch {} as its {}{}, but the service that answered is branch {}: the "
                            "certificate it showed is the one pinned for {}. Expected {} as its {}; nothing was {}",
                            what, Named(named), role, stranger, Named(peer), platform::EscapeControls(peer.number),
                            platform::EscapeControls(peer.number), role, undone));
}

}  // namespace orba::apps::net
