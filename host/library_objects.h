// Counts the objects whose code lives in this library, so that the host can ask whether the
// library may be unloaded (no object of it alive).
#pragma once

#include <atomic>
#include <cstdint>

namespace orba::host {

std::atomic<int32_t>& LibraryObjectCounter();
inline int32_t LibraryObjectCount() { return LibraryObjectCounter().load(); }

// Base that counts its instances in the library's object counter.
class LibraryObject {
protected:
    LibraryObject() noexcept { LibraryObjectCounter().fetch_add(1, std::memory_order_relaxed); }
    LibraryObject(const LibraryObject&) noexcept : LibraryObject() {}
    ~LibraryObject() { LibraryObjectCounter().fetch_sub(1, std::memory_order_relaxed); }
};

}  // namespace orba::host
