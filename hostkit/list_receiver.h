// The related branch a host exchanges with just now: the host kit's list controls list only
// the bills addressed to it (they say so above their table).
#pragma once

#include <string>

namespace orba::hostkit {

// An empty number lists every branch's bills again.
struct ListReceiver {
    std::string number, name;
};
void SetListReceiver(const ListReceiver& receiver);
ListReceiver GetListReceiver();

}  // namespace orba::hostkit
