// The options of the commands that ask a related branch's service (pull, push, status): its
// address, this branch's certificate and key, whose service it is, and how long to wait.
#pragma once

namespace CLI {
class App;
}

namespace orba::apps::net {

struct ClientOptions;

// The service's address as `url_option` (required), --cert, --key, --allow-shared-key, the
// peer options, --timeout, --retries, --retry-wait and --deadline.
void AddServiceOptions(CLI::App& command, ClientOptions& service, const char* url_option, const char* url_help);

}  // namespace orba::apps::net
