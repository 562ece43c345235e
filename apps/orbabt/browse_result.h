// What orbabt browse writes when the window has closed: a send vector in the
// transmission-list envelope (for unpackage at the receiving branch) or download requests
// in the request envelope (for package --requests).
#pragma once

#include <string>

#include <vector>

#include "exchange/transport.h"
#include "host/variant_vector.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps {

using namespace orba::exchange;

// The exit status when the window left nothing to write.
inline constexpr int kNothingChosen = 2;

// Writes `result` to `output` (standard output when empty) and returns the exit status.
// A send list's receiver is the related branch its bills name; bills for several branches
// are written as one list per branch, ListFileFor each, and each is named on the terminal.
// The files are written as `form` says.
int WriteBrowseResult(const platform::Ref<host::VariantVector>& result, bool download, hostkit::Database& db,
                      const std::string& output, OutputForm form = {});

// The send vector `result` as transmission lists from this branch, one per receiving branch
// (in the order of their numbers); raises an Error when a bill names no receiving branch.
std::vector<ListFile> BrowseLists(const platform::Ref<host::VariantVector>& result, hostkit::Database& db);

// The file of the list for `branch` when the bills go to several: NAME.<branch>.json beside
// `output` (send.<branch>.json in this folder when there is no output file);
// NAME.<branch>.json.gz for an `output` named NAME.json.gz.
std::string ListFileFor(const std::string& output, const std::string& branch);

}  // namespace orba::apps
