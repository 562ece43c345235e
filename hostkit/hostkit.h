// The host kit: working versions of the host application's components, registered in the
// class registry under their programmatic identifiers.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hostkit/list_receiver.h"

namespace orba::hostkit {

// Registers every host-kit component; calling it again changes nothing.
void RegisterHostKit();
void UnregisterHostKit();

// Puts the login property string in this process's shared property store, as the host
// application does at login.
void SetLoginProperties(std::string_view props);

// Puts the login property string in place for the calling thread while it lives, as
// SetLoginProperties does for the process: the library and the components this thread calls
// work on its database, and the process's own login is back when the scope ends.
class LoginScope {
public:
    explicit LoginScope(std::string_view props);
    ~LoginScope();
    LoginScope(const LoginScope&) = delete;
    LoginScope& operator=(const LoginScope&) = delete;

private:
    struct Value;
    std::unique_ptr<Value> value_;
};

}  // namespace orba::hostkit
