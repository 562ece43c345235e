#include "hostkit/components/kit_containers.h"

#include <fmt/format.h>

#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::Variant;

const Variant& KitList::At(int32_t index) const {
    if (index < 1 || index > Count()) {
        throw Error(ErrorCode::kSubscriptOutOfRange, fmt::format("Subscript out of range: {}", index));
    }
    return items_[static_cast<size_t>(index - 1)];
}

void KitList::Append(Variant value) { items_.push_back(std::move(value)); }

const platform::MemberTable<KitList>& KitList::Members() {
    static const platform::MemberTable<KitList> table = [] {
        platform::MemberTable<KitList> t("KitList");
        t.Get("LowerBound", 0, 0, [](KitList&, CallArgs&) { return Variant(int32_t{1}); });
        t.Get("UpperBound", 0, 0, [](KitList& l, CallArgs&) { return Variant(l.Count()); });
        t.Get("Count", 0, 0, [](KitList& l, CallArgs&) { return Variant(l.Count()); });
        t.Get("Item", 1, 1, [](KitList& l, CallArgs& a) { return l.At(a.Long(0)); });
        return t;
    }();
    return table;
}

void KitRecord::Put(std::string key, Variant value) {
    for (auto& [k, v] : entries_) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

const Variant& KitRecord::Value(std::string_view key) const {
    for (const auto& [k, v] : entries_) {
        if (k == key) return v;
    }
    throw Error(ErrorCode::kItemNotFound, fmt::format("The record has no value '{}'", key));
}

const platform::MemberTable<KitRecord>& KitRecord::Members() {
    static const platform::MemberTable<KitRecord> table = [] {
        platform::MemberTable<KitRecord> t("KitRecord");
        t.Get("Value", 1, 1, [](KitRecord& r, CallArgs& a) { return r.Value(a.Text(0)); });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
