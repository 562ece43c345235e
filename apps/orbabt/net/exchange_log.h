// The exchange log: one JSON line per exchange over the network, at both ends, kept per
// branch database (exchanges.jsonl, the previous one kept as exchanges.1.jsonl once it passes
// a size), with the receipts a pull could not deliver beside it (undelivered/). A database
// file's folder stands beside the file: branch-a.db.exchanges/ for branch-a.db. A server
// database's stands in the program's data folder ($XDG_DATA_HOME/OrbaBillTransmit, by
// default ~/.local/share/OrbaBillTransmit), named after its server, port and database.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "exchange/transport.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps::net {

using namespace orba::exchange;

struct TypeCounts {
    int sent = 0, saved = 0, updated = 0, held = 0, not_saved = 0, marked = 0;
    int in_other_package = 0;  // notices left to the package of their own type
};

struct ExchangeRecord {
    std::string peer;          // the other branch's number
    std::string certificate;   // its certificate's SHA-256
    std::string direction;     // "pull", "push", "served request", "served receipt", "served list"
    std::string list_sha256;   // of the list exchanged, when there was one
    std::map<int32_t, TypeCounts> counts;  // per bill type
    std::string error;         // why the exchange failed, if it did
    std::string branch;        // this branch's number, once known
    std::filesystem::path folder;  // the exchange log of this branch's database, once it is open
};

// Adds what a receipt says to `record`: per bill type, the bills saved, updated, held, not
// saved and left to the package of their own type.
void CountReceipt(const ReceiptFile& receipt, ExchangeRecord& record);

// The folder of the exchange log of the branch database `db`, and of the receipts that wait
// there for the next pull (see above). Made when the log is first written.
std::filesystem::path ExchangeFolderOf(const hostkit::Database& db);

// The folder's name for a server database, from its URI (and, where the URI leaves them out,
// the server's client library's environment and defaults): "<host>_<port>_<database>" and
// ".<schema>" when its options choose a search path, then ".exchanges", with every character
// that could mislead as a file name written %XX. The same database by the same URI always
// gets the same folder, and two databases never one folder.
std::string ServerExchangeFolderName(std::string_view uri);

// The program's data folder: $XDG_DATA_HOME/OrbaBillTransmit, by default
// ~/.local/share/OrbaBillTransmit.
std::filesystem::path ProgramDataFolder();

// Where earlier versions kept one exchange log for every database: "ExchangeLog" beside the
// transmission logs. Receipts waiting in its undelivered/ folder are still delivered.
std::filesystem::path SharedExchangeFolder();

// Appends `record` with the time to the log in `directory`. A log that cannot be written is
// reported on standard error; the exchange itself is not failed for it.
void AppendExchangeLog(const ExchangeRecord& record, const std::filesystem::path& directory);

// Per peer branch, the time of the last exchange of `branch` with it that did not fail, from
// the log in `directory` and the one moved aside before it; none when there is no log.
std::map<std::string, std::string> LastExchanges(const std::string& branch, const std::filesystem::path& directory);

// Past this size the log is moved aside and a new one begun.
inline constexpr uintmax_t kExchangeLogBytes = 8u << 20;

}  // namespace orba::apps::net
