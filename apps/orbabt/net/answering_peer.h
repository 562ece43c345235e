// Who a related branch's service is, as the commands that ask it see it: the branch whose
// certificate it showed, checked against what its answers name, and the branches the options
// name for it, for messages.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "apps/orbabt/net/client.h"
#include "exchange/transport.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps::net {

using exchange::Branch;

// "01.001 (name)", or the number alone when the name is not known; control characters
// escaped, since a branch's number and name may come from the other branch.
std::string Named(const Branch& branch);

// Where the options name the service's branches, for messages.
std::string PeersNamedBy(const ClientOptions& options);

// The branch whose certificate the service showed, once it has answered.
Branch AnsweringBranch(const ServiceClient& service, const std::map<std::string, Branch>& related);

// Refuses what the service sent, before anything is saved or marked, when it names as its
// `role` another branch than `peer`, the branch whose certificate the service showed: a
// related branch answers for itself only. `db`, when there is one, tells whether the branch
// named is one of its related branches at all.
void RequireFromPeer(hostkit::Database* db, const Branch& named, const Branch& peer, std::string_view what,
                     std::string_view role, std::string_view undone);

}  // namespace orba::apps::net
