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
};

}  // namespace orba::platform
