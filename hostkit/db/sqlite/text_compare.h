// How the account database compares texts, on its own: the host kit's connections and the
// SQLite extension that lets other tools read a branch database both use it.
#pragma once

#include <string_view>

namespace orba::hostkit {

// The collation every text column of the schema uses; registered on each connection.
inline constexpr std::string_view kTextCollation = "ERPTEXT";

// Compares two UTF-8 texts as the collation does: letter case of any script and trailing
// blanks make no difference. Bytes that are not valid UTF-8 compare as themselves.
int CompareServerText(std::string_view a, std::string_view b);

}  // namespace orba::hostkit
