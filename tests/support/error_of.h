// Runs a piece of code that is expected to fail and hands back the runtime Error it raised,
// so a test can check the error's number and what its description names.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"

namespace orba::testing {

// The Error `body` raises; the test fails when it raises none.
template <class Body>
platform::Error ErrorOf(Body&& body) {
    try {
        body();
    } catch (const platform::Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return platform::Error(0, "");
}

// The code of the Error `f` raises, and its description when asked for; the test fails when
// it raises none.
template <class Body>
platform::ErrorCode CodeOf(Body&& f, std::string* description = nullptr) {
    try {
        f();
    } catch (const platform::Error& e) {
        if (description) *description = e.Description();
        return e.Code();
    }
    ADD_FAILURE() << "no error was raised";
    return platform::ErrorCode::kInvalidProcedureCall;
}

}  // namespace orba::testing
