// A loadable SQLite extension with the account database's text rules, so that the SQLite
// shell and other SQLite tools can query a branch database made by the host kit: its text
// columns name the collation ERPTEXT, which only the host kit's connections know otherwise.
//   sqlite3 branch-a.db -cmd ".load /usr/lib/x86_64-linux-gnu/orba_sqlite_ext"
// SQLite finds the entry point by the file's name (sqlite3_orbasqliteext_init).
#include <sqlite3ext.h>

#include <string>

#include "hostkit/db/sqlite/text_compare.h"

SQLITE_EXTENSION_INIT1

namespace {

int Collate(void*, int a_size, const void* a, int b_size, const void* b) {
    return orba::hostkit::CompareServerText(
        std::string_view(static_cast<const char*>(a), static_cast<size_t>(a_size)),
        std::string_view(static_cast<const char*>(b), static_cast<size_t>(b_size)));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_orbasqliteext_init(sqlite3* db, char** error,
                                                                                   const sqlite3_api_routines* api) {
    SQLITE_EXTENSION_INIT2(api);
    const std::string name(orba::hostkit::kTextCollation);
    const int rc = sqlite3_create_collation_v2(db, name.c_str(), SQLITE_UTF8, nullptr, Collate, nullptr);
    if (rc != SQLITE_OK && error) *error = sqlite3_mprintf("the collation %s could not be registered", name.c_str());
    return rc;
}
