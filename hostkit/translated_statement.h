// One statement of a host-dialect batch as a database runs it: what the batch said, and the
// text in the database's own dialect. The dialect layer makes them; a Database hands them out.
#pragma once

#include <string>

namespace orba::hostkit {

struct TranslatedStatement {
    std::string source;  // the statement as it stood in the batch (trimmed)
    std::string sqlite;  // the statement in the database's dialect (SQLite's for a file)
    bool is_query;       // true when it is a SELECT (yields rows)
};

}  // namespace orba::hostkit
