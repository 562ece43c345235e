// Clean-up that runs when a scope is left, normally or by an exception, unless it was
// dismissed: half-done work is undone without catching and rethrowing what passes.
#pragma once

#include <utility>

namespace orba::platform {

template <class Cleanup>
class ScopeExit {
public:
    explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
    ~ScopeExit() {
        if (armed_) cleanup_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    // The work is complete: nothing is undone.
    void Dismiss() { armed_ = false; }

private:
    Cleanup cleanup_;
    bool armed_ = true;
};

}  // namespace orba::platform
