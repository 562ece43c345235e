// The reference to the host's account-database connection, one for each thread. A BillTrans
// object sets it when it is created and clears it when it ends; bill data access runs its
// queries and two of its updates through it, on the thread that created the object.
#pragma once

#include <string_view>

#include "platform/object.h"

namespace orba::host {

inline constexpr std::string_view kAppConnectionProgId = "OrbaConnection.AppConnection";

platform::Ref<platform::Object> SharedConnection();
void SetSharedConnection(platform::Ref<platform::Object> connection);
// The shared connection; raises "Object required" when none is set.
platform::Ref<platform::Object> RequireSharedConnection();

}  // namespace orba::host
