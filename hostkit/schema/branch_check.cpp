#include "hostkit/schema.h"

#include <fmt/format.h>

#include <charconv>
#include <optional>
#include <string>

#include "hostkit/database.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

constexpr std::string_view kBillTables[] = {"POOrder",    "POOrderEntry", "SEOutStock",
                                            "SEOutStockEntry", "t_SonCompany", "t_Systemprofile"};

// The branch's internal number as the option states it: a whole number, blanks around it
// allowed; nothing when it states none.
std::optional<int64_t> BranchIdOption(Database& db) {
    platform::Ref<platform::RecordSet> rows =
        db.Query("SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'");
    if (rows->Eof() || rows->Value(0).IsNull()) return std::nullopt;
    std::string text = rows->Value(0).ToText();
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    text = text.substr(first, last - first + 1);
    int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return id;
}

// How many of the bill tables the database has, and whether it names its own branch. A
// failure to read is the database's own (locked, unreadable, damaged), never a sign of a
// database that is not a branch's, and is reported naming the database.
std::pair<int, bool> LookAt(Database& db) {
    try {
        int tables = 0;
        for (std::string_view table : kBillTables) tables += db.HasTable(table) ? 1 : 0;
        if (tables != static_cast<int>(std::size(kBillTables))) return {tables, false};
        const std::optional<int64_t> id = BranchIdOption(db);
        const bool named = id && *id >= INT32_MIN && *id <= INT32_MAX &&
                           db.Query("SELECT count(*) FROM t_SonCompany WHERE FItemID=?",
                                    {platform::Variant(static_cast<int32_t>(*id))})
                                   ->Value(0)
                                   .ToLong() == 1;
        return {tables, named};
    } catch (const Error& e) {
        if (e.Description().find(db.ShownLocation()) != std::string::npos ||
            e.Description().find(db.Name()) != std::string::npos) {
            throw;
        }
        throw Error(e.Number(), fmt::format("The account database '{}' cannot be read: {}", db.ShownLocation(),
                                            e.Description()));
    }
}

}  // namespace

void CheckBranchDatabase(Database& db) {
    const auto [tables, named] = LookAt(db);
    if (tables != static_cast<int>(std::size(kBillTables))) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} is not a branch account database: it lacks the bill tables{}", db.Subject(),
                                tables == 0 ? " (an empty database or another program's)" : ""));
    }
    if (!named) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} is not a branch account database: it does not say which branch it is "
                                "(system option IC/BrID naming a row of t_SonCompany)",
                                db.Subject()));
    }
}

}  // namespace orba::hostkit
