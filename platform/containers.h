// What the runtime needs to know of the two variant containers (an ordered list and a keyed
// record) to read and write variant trees, without depending on the library that owns them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// A list whose items are made as they are read: once each, in order. A writer takes each item
// and lets it go before it asks for the next, so a long list never stands whole in memory.
class ListStream : public Object {
public:
    // The next item into `item`; false after the last one.
    virtual bool Next(Variant& item) = 0;

    // Read only through Next: it answers no call by name.
    Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override;
    std::string_view ClassName() const override { return "ListStream"; }
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
    // Lists that open at most `path_depth` levels below the top (the top is level 0) are
    // made by `make_list_at` when it is given, which is told their path ("/list/0/BillsData",
    // the items counted from 0): a reader can put a list of its own where it wants to take
    // the items as they are read. It may return Nothing for make_list's list.
    size_t path_depth = 0;
    std::function<Ref<ListContainer>(std::string_view path)> make_list_at;
};

}  // namespace orba::platform
