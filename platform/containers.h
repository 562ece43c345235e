// What the runtime needs to know of the two variant containers (an ordered list and a keyed
// record) to read and write variant trees, without depending on the library that owns them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/variant.h"

namespace orba::platform {

class ListContainer : public Object {
public:
    virtual int32_t Count() const = 0;
    virtual const Variant& At(int32_t index) const = 0;  // 1-based
    virtual void Append(Variant value) = 0;
};

class MapContainer : public Object {
public:
    virtual size_t Size() const = 0;
    virtual const std::string& KeyAt(size_t position) const = 0;  // 0-based, in store order
    virtual const Variant& ValueAt(size_t position) const = 0;
    virtual void Put(std::string key, Variant value) = 0;  // replaces the value of a known key
    virtual void Reserve(size_t /*entries*/) {}             // room for this many, as a hint
};

struct ContainerFactory {
    std::function<Ref<ListContainer>()> make_list;
    std::function<Ref<MapContainer>(size_t entries)> make_map;  // with room for this many
    // What the containers take in memory, in bytes, so that a reader can refuse a text whose
    // tree would be far larger than the text: an empty list with its allocation, what one
    // list item adds, and a record of so many entries.
    size_t list_bytes = 64;
    size_t item_bytes = sizeof(Variant);
    size_t (*map_bytes)(size_t entries) = [](size_t entries) {
        return 96 + entries * (sizeof(void*) + sizeof(Variant));
    };
};

}  // namespace orba::platform
