// Reads the rows of a record set handed back by the host connection. A record set of this
// runtime is read directly; any other object is read through its members by name, as a
// host's own connection may return one.
#pragma once

#include <memory>
#include <string_view>

#include "platform/variant.h"

namespace orba::data {

class RowSource {
public:
    virtual ~RowSource() = default;
    virtual bool Eof() = 0;
    virtual void MoveNext() = 0;
    virtual int32_t RecordCount() = 0;
    // A column's handle for the calls below; raises an Error naming an unknown column.
    virtual size_t Column(std::string_view name) = 0;
    // The current row's value (a copy).
    virtual platform::Variant Get(size_t column) = 0;
    // The current row's value, for a column that is read once per row.
    virtual platform::Variant Take(size_t column) { return Get(column); }
};

// Raises "Object required" when `record_set` is Nothing.
std::unique_ptr<RowSource> MakeRowSource(const platform::Ref<platform::Object>& record_set);

}  // namespace orba::data
