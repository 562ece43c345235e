#include "hostkit/app_connection.h"

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>

#include "hostkit/database.h"
#include "hostkit/db/database_rules.h"
#include "hostkit/db/shared_database.h"
#include "hostkit/sql_trace.h"
#include "hostkit/dialect/sql_dialect_pg.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/login_string.h"
#include "platform/error.h"
#include "platform/utf8.h"

namespace orba::hostkit {

using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::FieldInfo;
using platform::FieldType;
using platform::MakeRef;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;

namespace {

std::string Excerpt(const std::string& statement) {
    std::string flat;
    for (char c : statement) {
        if (c == '\r') continue;
        flat.push_back(c == '\n' || c == '\t' ? ' ' : c);
    }
    if (flat.size() > 160) {
        // Cut before the first byte of a character, so the message stays valid UTF-8.
        flat = flat.substr(0, platform::Utf8CharacterStart(flat, 157)) + "...";
    }
    return flat;
}

}  // namespace

AppConnection::AppConnection() = default;
AppConnection::AppConnection(std::string database_path) : database_path_(std::move(database_path)) {}
AppConnection::AppConnection(Database& db) : given_(&db) {}
AppConnection::~AppConnection() = default;

Database& AppConnection::Connection() {
    if (given_) return *given_;
    if (location_.empty()) {
        location_ = database_path_.empty() ? AccountDatabasePath(CurrentLoginProperties()) : database_path_;
    }
    // Looked for on every call: the program's sharing may have ended since the last one.
    if (SharedDatabase* shared = FindSharedDatabase(location_, /*for_writing=*/true)) return shared->Db();
    if (!owned_) owned_ = OpenDatabase(location_);
    return *owned_;
}

const std::string& AppConnection::DatabasePath() { return Connection().Location(); }

namespace {

// Names a result's fields as the statement wrote them (a server folds unquoted names).
NameFields AsWrittenIn(const TranslatedStatement& s) {
    return [&s](std::vector<FieldInfo>& fields) {
        std::vector<std::string> folded;
        folded.reserve(fields.size());
        for (const FieldInfo& f : fields) folded.push_back(f.name);
        std::vector<std::string> names = FieldNamesAsWritten(folded, s.source, ErpSchemaNames());
        for (size_t i = 0; i < fields.size() && i < names.size(); ++i) fields[i].name = std::move(names[i]);
    };
}

// The Error of a batch that failed, saying where: before it began, in which statement, or
// when it was committed; nothing of a batch is kept when it fails.
Error BatchFailure(const Error& e, const std::vector<TranslatedStatement>& statements, size_t index, bool begun) {
    if (statements.size() == 1) return Error(e.Number(), fmt::format("{} in: {}", e.Description(), Excerpt(statements[0].source)));
    if (!begun) {
        return Error(e.Number(), fmt::format("{} before the batch of {} statements began (nothing of the batch "
                                             "was applied)",
                                             e.Description(), statements.size()));
    }
    if (index >= statements.size()) {
        return Error(e.Number(), fmt::format("{} when the batch of {} statements was committed (nothing of "
                                             "the batch was applied), the last being: {}",
                                             e.Description(), statements.size(), Excerpt(statements.back().source)));
    }
    return Error(e.Number(), fmt::format("{} in statement {} of {} (nothing of the batch was applied): {}",
                                         e.Description(), index + 1, statements.size(),
                                         Excerpt(statements[index].source)));
}

}  // namespace

Ref<RecordSet> AppConnection::Execute(const std::string& sql) {
    TraceSql(sql);
    // Both databases read a statement only up to a NUL character and would run what stands
    // before it; such a text is no statement of the library's.
    RefuseNulCharacter(sql, "statement");
    Database& db = Connection();
    std::vector<TranslatedStatement> statements = db.Translate(sql);
    if (statements.empty()) {
        throw Error(ErrorCode::kDatabaseError, "The database was given no statement to run");
    }
    const bool read_only = statements.size() == 1 && statements.front().is_query;
    Ref<RecordSet> result;
    size_t index = 0;
    bool begun = false;
    auto run_all = [&] {
        begun = true;
        for (index = 0; index < statements.size(); ++index) {
            const TranslatedStatement& s = statements[index];
            Ref<RecordSet> rows = db.Query(s.sqlite, {}, AsWrittenIn(s));
            if (s.is_query && !result) result = std::move(rows);
        }
    };
    try {
        if (read_only) {
            run_all();
        } else {
            AsOneUnit(db, run_all);
        }
    } catch (const Error& e) {
        throw BatchFailure(e, statements, index, begun);
    }
    if (!result) result = MakeRef<RecordSet>();  // closed: the batch yields no rows
    return result;
}

Ref<RecordSet> AppConnection::ExecuteForward(const std::string& sql) {
    // A batch that changes data, or holds several statements, runs as Execute runs it.
    RefuseNulCharacter(sql, "statement");
    Database& db = Connection();
    std::vector<TranslatedStatement> statements = db.Translate(sql);
    if (statements.size() != 1 || !statements.front().is_query) return Execute(sql);
    TraceSql(sql);
    try {
        return db.QueryForward(statements.front().sqlite, AsWrittenIn(statements.front()), Ref<platform::Object>(this));
    } catch (const Error& e) {
        throw Error(e.Number(), fmt::format("{} in: {}", e.Description(), Excerpt(statements.front().source)));
    }
}

const platform::MemberTable<AppConnection>& AppConnection::Members() {
    static const platform::MemberTable<AppConnection> table = [] {
        platform::MemberTable<AppConnection> t("AppConnection");
        t.Method("Execute", 1, 1,
                 [](AppConnection& c, platform::CallArgs& a) { return Variant(c.Execute(a.Text(0))); })
            .Method("ExecuteForward", 1, 1,
                    [](AppConnection& c, platform::CallArgs& a) { return Variant(c.ExecuteForward(a.Text(0))); })
            .Get("DatabasePath", 0, 0, [](AppConnection& c, platform::CallArgs&) { return Variant(c.DatabasePath()); });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
