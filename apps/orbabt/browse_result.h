// What orbabt browse writes when the window has closed: a send vector in the
// transmission-list envelope (for unpackage at the receiving branch) or download requests
// in the request envelope (for package --requests).
#pragma once

#include <string>

#include "host/variant_vector.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps {

// The exit status when the window left nothing to write.
inline constexpr int kNothingChosen = 2;

// Writes `result` to `output` (standard output when empty) and returns the exit status.
// A send vector's receiver is the related branch its bills name; bills for several branches
// raise an Error naming them, and nothing is written.
int WriteBrowseResult(const platform::Ref<host::VariantVector>& result, bool download, hostkit::Database& db,
                      const std::string& output);

// The send vector `result` as a transmission list from this branch to the one its bills name;
// raises the Error of WriteBrowseResult for bills of several branches.
std::string BrowseListText(const platform::Ref<host::VariantVector>& result, hostkit::Database& db);

}  // namespace orba::apps
