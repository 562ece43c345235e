// browse: the browse window over a branch database, run on its own (as its tests do) or as a
// command of orbabt.
#pragma once

#include <string>

#include "apps/orbabt/net/client.h"

namespace orba::apps {

// Opens the browse window over `db` in send or download mode and writes what was chosen:
// a send list (transmission-list envelope) or a download request; to standard output when
// `output` is empty. Returns 2 when nothing was chosen.
struct BrowseOptions {
    std::string db;
    std::string mode = "send";
    std::string output;
    std::string for_branch;  // send mode: list only the bills addressed to this branch
    // With an address (--to in send mode, --from in download mode) the choice goes to that
    // related branch's service instead of a file: the send list is pushed and marked from its
    // receipt, the checked types are pulled.
    net::ClientOptions service;
    bool compress = false;  // the files written gzip-compressed, whatever their names
};
int RunBrowse(const BrowseOptions& options);

}  // namespace orba::apps
