// A data-access connection opened from a provider connection string, as the host's
// data-access layer offers it: the provider named in the string must be installed, and the
// opened connection reports the provider's complete form of the string.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dispatch.h"

namespace orba::platform {

// "Key=Value;" pairs in their order; keys compare without regard to case. A value may be
// given between double quotes to carry ";" (a doubled quote inside stands for one).
class ConnectionProperties {
public:
    // Raises an Error (kBadInput) naming the piece that has no "=".
    static ConnectionProperties Parse(std::string_view text);

    // The value under `key`; empty when absent.
    std::string Get(std::string_view key) const;
    bool Has(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& Pairs() const { return pairs_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

// An installed provider opens the data source its properties name and returns its own
// complete connection string; it raises an Error when the source cannot be opened.
struct ConnectionRequest {
    ConnectionProperties properties;
    std::string user;
    std::string password;
};
using ConnectionProvider = std::function<std::string(const ConnectionRequest&)>;

// The providers installed in this process, by name (case ignored).
void RegisterConnectionProvider(std::string_view name, ConnectionProvider provider);
bool UnregisterConnectionProvider(std::string_view name);
bool IsConnectionProviderRegistered(std::string_view name);

// Installs a provider for the lifetime of the guard, restoring the earlier one afterwards.
class ScopedConnectionProvider {
public:
    ScopedConnectionProvider(std::string_view name, ConnectionProvider provider);
    ~ScopedConnectionProvider();
    ScopedConnectionProvider(const ScopedConnectionProvider&) = delete;
    ScopedConnectionProvider& operator=(const ScopedConnectionProvider&) = delete;

private:
    std::string name_;
    ConnectionProvider previous_;
};

// Error number the data-access layer gives when the named provider is not installed.
inline constexpr int32_t kProviderNotFound = 3706;

class DbConnection : public Dispatchable<DbConnection> {
public:
    static const MemberTable<DbConnection>& Members();

    // Opens through the provider that the string names ("Provider=..."). Raises an Error
    // when no provider is named, the named one is not installed, or it refuses the source.
    void Open(std::string_view connection_string, std::string_view user = {}, std::string_view password = {});
    void Close();
    bool IsOpen() const { return open_; }
    // Before opening: the string as given; once open: the provider's complete form.
    const std::string& ConnectionString() const { return connection_string_; }

private:
    std::string connection_string_;
    bool open_ = false;
};

}  // namespace orba::platform
