// Compares two variant trees by content: lists item by item, keyed records key by key in
// store order, plain values by kind and value. A failure names the path of the first
// difference, so a test on a whole exchange record says where it went wrong.
#pragma once

#include <gtest/gtest.h>

#include "platform/variant.h"

namespace orba::testing {

::testing::AssertionResult SameTree(const platform::Variant& expected,
                                    const platform::Variant& actual);

}  // namespace orba::testing
