#include "host/shared_connection.h"

#include "platform/error.h"

namespace orba::host {
namespace {

platform::Ref<platform::Object>& Slot() {
    static platform::Ref<platform::Object> connection;
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
