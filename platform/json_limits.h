// What the JSON reader and writer both hold to: how deep containers may nest. Kept in one
// place so a tree the writer accepts is one the reader accepts.
#pragma once

namespace orba::platform {

// Containers nested deeper than this are refused on reading and writing. Exchange records
// are a handful of levels deep; the limit keeps hostile input, or a container that holds
// itself, from exhausting the stack.
inline constexpr int kMaxJsonNesting = 256;
inline constexpr const char* kJsonTooDeep = "containers nested more than {} levels deep";

}  // namespace orba::platform
