#include "platform/db_connection.h"

#include <fmt/format.h>

#include <cctype>
#include <map>
#include <mutex>

#include "platform/error.h"
#include "platform/text.h"

namespace orba::platform {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Providers {
    std::mutex mutex;
    std::map<std::string, ConnectionProvider> by_name;
};

Providers& InstalledProviders() {
    static Providers* providers = new Providers();  // used until exit
    return *providers;
}

ConnectionProvider FindProvider(std::string_view name) {
    Providers& p = InstalledProviders();
    std::lock_guard lock(p.mutex);
    auto it = p.by_name.find(Lower(name));
    return it == p.by_name.end() ? ConnectionProvider() : it->second;
}

}  // namespace

ConnectionProperties ConnectionProperties::Parse(std::string_view text) {
    ConnectionProperties out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eq = text.find('=', pos);
        size_t semi = text.find(';', pos);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            std::string_view piece = Trim(text.substr(pos, semi == std::string_view::npos ? text.size() - pos : semi - pos));
            if (!piece.empty()) {
                throw Error(ErrorCode::kBadInput, fmt::format("Connection string part '{}' has no '='", piece));
            }
            if (semi == std::string_view::npos) break;
            pos = semi + 1;
            continue;
        }
        std::string key(Trim(text.substr(pos, eq - pos)));
        size_t v = eq + 1;
        while (v < text.size() && text[v] == ' ') ++v;
        std::string value;
        if (v < text.size() && text[v] == '"') {
            size_t i = v + 1;
            bool closed = false;
            for (; i < text.size(); ++i) {
                if (text[i] != '"') {
                    value += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == '"') {
                    value += '"';
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed) throw Error(ErrorCode::kBadInput, fmt::format("Connection string value of '{}' lacks its closing quote", key));
            size_t end = text.find(';', i);
            pos = end == std::string_view::npos ? text.size() : end + 1;
        } else {
            size_t end = text.find(';', v);
            value = std::string(Trim(text.substr(v, end == std::string_view::npos ? text.size() - v : end - v)));
            pos = end == std::string_view::npos ? text.size() : end + 1;
        }
        out.pairs_.emplace_back(std::move(key), std::move(value));
    }
    return out;
}

std::string ConnectionProperties::Get(std::string_view key) const {
    for (const auto& [k, v] : pairs_) {
        if (EqualsIgnoreCase(k, key)) return v;
    }
    return {};
}

bool ConnectionProperties::Has(std::string_view key) const {
    for (const auto& kv : pairs_) {
        if (EqualsIgnoreCase(kv.first, key)) return true;
    }
    return false;
}

void RegisterConnectionProvider(std::string_view name, ConnectionProvider provider) {
    if (name.empty() || !provider) {
        throw Error(ErrorCode::kInvalidProcedureCall, "A connection provider needs a name and an opener");
    }
    Providers& p = InstalledProviders();
    std::lock_guard lock(p.mutex);
    p.by_name[Lower(name)] = std::move(provider);
}

bool UnregisterConnectionProvider(std::string_view name) {
    Providers& p = InstalledProviders();
    std::lock_guard lock(p.mutex);
    return p.by_name.erase(Lower(name)) > 0;
}

bool IsConnectionProviderRegistered(std::string_view name) { return static_cast<bool>(FindProvider(name)); }

ScopedConnectionProvider::ScopedConnectionProvider(std::string_view name, ConnectionProvider provider)
    : name_(name), previous_(FindProvider(name)) {
    RegisterConnectionProvider(name, std::move(provider));
}

ScopedConnectionProvider::~ScopedConnectionProvider() {
    if (previous_) {
        RegisterConnectionProvider(name_, std::move(previous_));
    } else {
        UnregisterConnectionProvider(name_);
    }
}

void DbConnection::Open(std::string_view connection_string, std::string_view user, std::string_view password) {
    if (open_) throw Error(ErrorCode::kInvalidProcedureCall, "The connection is already open");
    ConnectionRequest request{ConnectionProperties::Parse(connection_string), std::string(user), std::string(password)};
    const std::string provider_name = request.properties.Get("Provider");
    if (provider_name.empty()) {
        throw Error(kProviderNotFound, fmt::format("The connection string '{}' names no provider", connection_string));
    }
    ConnectionProvider provider = FindProvider(provider_name);
    if (!provider) {
        throw Error(kProviderNotFound,
                    fmt::format("Provider '{}' cannot be found. It may not be properly installed", provider_name));
    }
    connection_string_ = provider(request);
    open_ = true;
}

void DbConnection::Close() {
    if (!open_) throw Error(ErrorCode::kInvalidProcedureCall, "The connection is not open");
    open_ = false;
}

const MemberTable<DbConnection>& DbConnection::Members() {
    static const MemberTable<DbConnection> table = [] {
        MemberTable<DbConnection> t("Connection");
        // Open(ConnectionString, UserID, Password, Options): options are accepted and unused.
        t.Method("Open", 0, 4, [](DbConnection& c, CallArgs& a) {
            std::string cnn = a.Has(0) && !a[0].IsEmpty() ? a.Text(0) : c.connection_string_;
            std::string user = a.Has(1) && !a[1].IsEmpty() ? a.Text(1) : std::string();
            std::string password = a.Has(2) && !a[2].IsEmpty() ? a.Text(2) : std::string();
            c.Open(cnn, user, password);
            return Variant();
        });
        t.Method("Close", 0, 0, [](DbConnection& c, CallArgs&) {
            c.Close();
            return Variant();
        });
        t.Get("ConnectionString", 0, 0, [](DbConnection& c, CallArgs&) { return Variant(c.connection_string_); });
        t.Let("ConnectionString", 0, 0, [](DbConnection& c, CallArgs& a) {
            if (c.open_) throw Error(ErrorCode::kInvalidProcedureCall, "The connection string cannot change while open");
            c.connection_string_ = a.Assigned().ToText();
            return Variant();
        });
        t.Get("State", 0, 0, [](DbConnection& c, CallArgs&) { return Variant(int32_t{c.open_ ? 1 : 0}); });
        return t;
    }();
    return table;
}

}  // namespace orba::platform
