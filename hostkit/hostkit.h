// The host kit: working versions of the host application's components, registered in the
// class registry under their programmatic identifiers.
#pragma once

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

}  // namespace orba::hostkit
