// The host kit: working versions of the host application's components, registered in the
// class registry under their programmatic identifiers.
#pragma once

#include <string>
#include <string_view>

namespace orba::hostkit {

// Registers every host-kit component; calling it again changes nothing.
void RegisterHostKit();
void UnregisterHostKit();

// Puts the login property string in this process's shared property store, as the host
// application does at login.
void SetLoginProperties(std::string_view props);

// A host that exchanges with one related branch at a time has the host kit's list controls
// list only the bills addressed to it (they say so above their table). An empty number
// lists every branch's bills again.
struct ListReceiver {
    std::string number, name;
};
void SetListReceiver(const ListReceiver& receiver);
ListReceiver GetListReceiver();

}  // namespace orba::hostkit
