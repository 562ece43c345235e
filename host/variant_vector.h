// The ordered list that carries bills across the public interface: 1-based, objects held by
// reference, plain values copied.
#pragma once

#include <vector>

#include "platform/containers.h"
#include "host/library_objects.h"
#include "platform/dispatch.h"

namespace orba::host {

using platform::Ref;
using platform::Variant;

class VariantVector : public platform::Dispatchable<VariantVector, platform::ListContainer>, private LibraryObject {
public:
    static const platform::MemberTable<VariantVector>& Members();

    int32_t LowerBound() const { return 1; }
    int32_t UpperBound() const { return static_cast<int32_t>(items_.size()); }
    // Appends and returns the new item's index.
    int32_t Add(Variant value);
    // The item at a 1-based index; raises "Subscript out of range" naming the index.
    const Variant& Item(int32_t index) const;
    void Reserve(size_t n) { items_.reserve(n); }

    int32_t Count() const override { return UpperBound(); }
    const Variant& At(int32_t index) const override { return Item(index); }
    void Append(Variant value) override { items_.push_back(std::move(value)); }

private:
    std::vector<Variant> items_;
};

}  // namespace orba::host
