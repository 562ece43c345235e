#include "hostkit/list_receiver.h"

#include <mutex>

namespace orba::hostkit {

namespace {

// A host sets it from its own thread while a list window may read it from another.
std::mutex g_receiver_mutex;
ListReceiver g_receiver;

}  // namespace

void SetListReceiver(const ListReceiver& receiver) {
    std::lock_guard lock(g_receiver_mutex);
    g_receiver = receiver;
}

ListReceiver GetListReceiver() {
    std::lock_guard lock(g_receiver_mutex);
    return g_receiver;
}

}  // namespace orba::hostkit
