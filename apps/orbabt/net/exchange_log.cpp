#include "apps/orbabt/net/exchange_log.h"

#include <fmt/format.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <iostream>
#include <vector>

#include "exchange/output_file.h"
#include "facade/transmit_log.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::MakeRef;
using platform::Variant;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFolderSuffix = ".exchanges";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// This process's user account: its login name and home folder, as the system knows them.
struct Account {
    std::string name, home;
};
Account UserAccount() {
    struct passwd pwd {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &pwd, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return {found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
}

// `text` with ASCII letters and digits, '-' and the characters of `kept` as they are, and every
// other byte as %XX: no '/', no blank, nothing a shell or a person would misread.
std::string Escaped(std::string_view text, std::string_view kept) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (plain || (c != '\0' && kept.find(c) != std::string_view::npos)) {
            out += c;
        } else {
            out += fmt::format("%{:02X}", byte);
        }
    }
    return out;
}

}  // namespace

void CountReceipt(const ReceiptFile& receipt, ExchangeRecord& record) {
    for (const ReceiptPackage& p : receipt.packages) {
        TypeCounts& c = record.counts[p.bill_type];
        for (const ReceiptBill& b : p.bills) {
            switch (b.outcome) {
                case hostkit::SaveOutcomeKind::kSaved: ++c.saved; break;
                case hostkit::SaveOutcomeKind::kUpdated: ++c.updated; break;
                case hostkit::SaveOutcomeKind::kAlreadyHeld: ++c.held; break;
                case hostkit::SaveOutcomeKind::kNotSaved: ++c.not_saved; break;
                case hostkit::SaveOutcomeKind::kInOtherPackage: ++c.in_other_package; break;
            }
        }
    }
}

std::string ServerExchangeFolderName(std::string_view uri) {
    std::string error;
    const std::optional<hostkit::ServerAddress> address = hostkit::ParseServerUri(uri, &error);
    if (!address) {
        throw platform::Error(platform::ErrorCode::kBadInput,
                              fmt::format("The server database's address cannot be read: {}", error));
    }
    std::string host = address->host, port = address->port, database = address->dbname, user = address->user,
                options = address->options;
    const std::string& hostaddr = address->hostaddr;
    // What the URI leaves out, the client library takes from its environment, then its
    // defaults.
    if (host.empty()) host = hostaddr.empty() ? Environment("PGHOST") : hostaddr;
    if (host.empty()) host = "localhost";
    if (port.empty()) port = Environment("PGPORT");
    if (port.empty()) port = "5432";
    if (user.empty()) user = Environment("PGUSER");
    if (database.empty()) database = Environment("PGDATABASE");
    if (database.empty()) database = user.empty() ? UserAccount().name : user;
    if (options.empty()) options = Environment("PGOPTIONS");
    std::string schema;
    constexpr std::string_view kSearchPath = "search_path=";
    if (const size_t at = options.find(kSearchPath); at != std::string::npos) {
        const size_t from = at + kSearchPath.size();
        schema = options.substr(from, options.find_first_of(" \t", from) - from);
    }
    // A host holds no '_' and a database or schema no '.' as they stand here, so the parts
    // are told apart.
    std::string name = fmt::format("{}_{}_{}", Escaped(host, "."), Escaped(port, ""), Escaped(database, "_"));
    if (!schema.empty()) name += "." + Escaped(schema, "_");
    // A file name has room for 255 bytes: a longer one keeps its start and a digest of it all.
    constexpr size_t kLongest = 200;
    if (name.size() > kLongest) name = name.substr(0, kLongest - 65) + "~" + hostkit::Sha256Hex(name);
    return name + std::string(kFolderSuffix);
}

fs::path ProgramDataFolder() {
    // XDG_DATA_HOME counts only when absolute, as the base directory convention asks.
    if (const std::string xdg = Environment("XDG_DATA_HOME"); xdg.starts_with('/')) {
        return fs::path(xdg) / facade::kUserDataFolderName;
    }
    std::string home = Environment("HOME");
    if (!home.starts_with('/')) home = UserAccount().home;
    return fs::path(home.empty() ? "/" : home) / ".local" / "share" / facade::kUserDataFolderName;
}

fs::path ExchangeFolderOf(const hostkit::Database& db) {
    if (hostkit::IsServerDatabaseUri(db.Location())) return ProgramDataFolder() / ServerExchangeFolderName(db.Location());
    // The file itself, not a link to it, decides: the same database through a link keeps one
    // log.
    std::error_code ec;
    fs::path file = fs::weakly_canonical(db.AbsoluteLocation(), ec);
    if (ec) file = db.AbsoluteLocation();
    return file.parent_path() / (file.filename().string() + std::string(kFolderSuffix));
}

fs::path SharedExchangeFolder() { return facade::LogDirectory().parent_path() / "ExchangeLog"; }

void AppendExchangeLog(const ExchangeRecord& record, const std::filesystem::path& directory) {
    auto line = MakeRef<host::VariantDictionary>();
    line->Let("time", Variant(platform::Date::Now().ToString()));
    line->Let("branch", Variant(record.branch));
    line->Let("peer", Variant(record.peer));
    line->Let("certificate", Variant("sha256:" + record.certificate));
    line->Let("direction", Variant(record.direction));
    line->Let("list_sha256", Variant(record.list_sha256));
    auto counts = MakeRef<host::VariantDictionary>();
    for (const auto& [bill_type, c] : record.counts) {
        auto per_type = MakeRef<host::VariantDictionary>();
        for (const auto& [key, value] : {std::pair{"sent", c.sent}, std::pair{"saved", c.saved},
                                         std::pair{"updated", c.updated}, std::pair{"held", c.held},
                                         std::pair{"not_saved", c.not_saved},
                                         std::pair{"in_other_package", c.in_other_package},
                                         std::pair{"marked", c.marked}}) {
            per_type->Let(key, Variant(int32_t(value)));
        }
        counts->Set(std::to_string(bill_type), per_type);
    }
    line->Set("counts", counts);
    line->Let("error", Variant(record.error));
    try {
        // Who exchanged what with whom is this branch's own business: the log is its owner's
        // alone, in a folder only its owner may enter.
        MakePrivateFolder(directory);
        const std::filesystem::path log = directory / "exchanges.jsonl";
        std::error_code ec;
        if (std::filesystem::file_size(log, ec) > kExchangeLogBytes && !ec) {
            std::filesystem::rename(log, directory / "exchanges.1.jsonl");
        }
        const std::string text = host::ToJson(Variant(line), -1) + '\n';
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        struct stat st {};
        errno = 0;
        // A log an earlier version wrote for anyone to read is narrowed to its owner.
        const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0600) == 0) &&
                        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        const int error = ok ? 0 : errno ? errno : EIO;
        if (fd >= 0) ::close(fd);
        if (!ok) throw std::runtime_error(fmt::format("'{}' cannot be written: {}", log.string(), std::strerror(error)));
    } catch (const std::exception& e) {
        std::cerr << platform::ForTerminal(fmt::format("orbabt: the exchange log was not written: {}\n", e.what()));
    }
}

std::map<std::string, std::string> LastExchanges(const std::string& branch, const std::filesystem::path& directory) {
    std::map<std::string, std::string> last;
    // The log moved aside first, then the current one: a peer that last exchanged before the
    // log was moved aside has its time there.
    for (const char* name : {"exchanges.1.jsonl", "exchanges.jsonl"}) {
        std::ifstream in(directory / name);
        for (std::string text; std::getline(in, text);) {
            try {
                const auto line = platform::ObjectAs<host::VariantDictionary>(host::FromJson(text));
                if (!line || line->ValueOrDefault("branch", Variant("")).ToText() != branch ||
                    !line->ValueOrDefault("error", Variant("")).ToText().empty()) {
                    continue;
                }
                last[line->Value("peer").ToText()] = line->Value("time").ToText();
            } catch (const platform::Error&) {
                // A line cut short by a crash tells nothing; the others still count.
            }
        }
    }
    return last;
}

}  // namespace orba::apps::net
