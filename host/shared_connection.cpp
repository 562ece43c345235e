#include "host/shared_connection.h"

#include "platform/error.h"

namespace orba::host {
namespace {

// One per thread: an exchange the service answers on one thread never reads through the
// connection of a command or another exchange on another.
platform::Ref<platform::Object>& Slot() {
    thread_local platform::Ref<platform::Object> connection;
    return connection;
}

}  // namespace

platform::Ref<platform::Object> SharedConnection() { return Slot(); }

void SetSharedConnection(platform::Ref<platform::Object> connection) { Slot() = std::move(connection); }

platform::Ref<platform::Object> RequireSharedConnection() {
    if (!Slot()) {
        throw platform::Error(platform::ErrorCode::kObjectRequired,
                              "Object required: there is no connection to the account database "
                              "(a BillTrans object must exist while bills are read)");
    }
    return Slot();
}

}  // namespace orba::host
