#include "apps/orbabt/net/command_options.h"

#include <CLI/CLI.hpp>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/net/client.h"
#include "apps/orbabt/net/transfer.h"

namespace orba::apps::net {

void AddServiceOptions(CLI::App& command, ClientOptions& service, const char* url_option, const char* url_help) {
    command.add_option(url_option, service.url, url_help)->required();
    command.add_option("--cert", service.cert, "This branch's certificate (PEM)")->required();
    command.add_option("--key", service.key, "This branch's private key (PEM)")->required();
    AddAllowSharedKeyFlag(command, service.allow_shared_key);
    AddPeerOptions(command, service);
    command.add_option("--timeout", service.timeout_s, "Seconds to wait for the service")->capture_default_str();
    command.add_option("--retries", service.retries, "Tries again when no answer comes, this many times")
        ->capture_default_str();
    command.add_option("--retry-wait", service.retry_wait_s, "Seconds before the first retry (doubled each time)")
        ->capture_default_str();
    AddDeadlineOption(command, service);
}

void AddDeadlineOption(CLI::App& command, ClientOptions& service) {
    command
        .add_option("--deadline", service.deadline_s,
                    "Seconds one request to the service may take in all, retries and their waits included, "
                    "however the service keeps it going (the timeout bounds a silence only)")
        ->check(CLI::Range(1, 7 * 24 * 3600))
        ->capture_default_str();
}

void AddListLimitOption(CLI::App& command, ClientOptions& service) {
    command
        .add_option("--max-list-mb", service.max_list_mb,
                    "Largest list taken from the service, in MB, on the wire and once inflated (each bill is held "
                    "to --max-input-mb)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 30))
        ->capture_default_str();
}

void AddPeerOptions(CLI::App& command, ClientOptions& service) {
    auto* peer = command.add_option("--peer", service.peer,
                                    "The related branch whose service it is, with that service's certificate: "
                                    "BRANCH=CERT.pem or BRANCH=sha256:<hex> (BRANCH as in t_SonCompany.FNumber)");
    auto* peers = command.add_option("--peers", service.peers_file,
                                     "Instead of --peer, a peers file (as serve takes): the service's branch is "
                                     "the one whose certificate it shows");
    peer->excludes(peers);
    // Taken only to say what to give instead (ClientPeers): a certificate alone does not say
    // which branch the service is.
    command.add_option("--peer-cert", service.peer_cert)->group("");
}

}  // namespace orba::apps::net
