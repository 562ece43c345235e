// The process-wide reference to the account-database connection.
#include "host/shared_connection.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "tests/support/fake_component.h"

namespace orba::host {
namespace {

TEST(SharedConnection, IsRequiredOnlyWhileSet) {
    SetSharedConnection(nullptr);
    try {
        RequireSharedConnection();
        ADD_FAILURE() << "a missing connection was not reported";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.Code(), platform::ErrorCode::kObjectRequired);
    }
    auto connection = platform::MakeRef<testing::FakeComponent>("AppConnection");
    SetSharedConnection(connection);
    EXPECT_EQ(RequireSharedConnection().Get(), connection.Get());
    EXPECT_EQ(connection->RefCount(), 2);  // the test and the shared reference
    SetSharedConnection(nullptr);
    EXPECT_TRUE(SharedConnection().IsNothing());
    EXPECT_EQ(connection->RefCount(), 1);
}

}  // namespace
}  // namespace orba::host
