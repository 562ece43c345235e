// The host kit's own ordered list and keyed record, for what its components hand back (a
// list control's selection, its list description). Callers read them by name, as Item,
// UpperBound and Value, or through the runtime's container interfaces.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/containers.h"
#include "platform/dispatch.h"

namespace orba::hostkit {

class KitList : public platform::Dispatchable<KitList, platform::ListContainer> {
public:
    static const platform::MemberTable<KitList>& Members();
    int32_t Count() const override { return static_cast<int32_t>(items_.size()); }
    const platform::Variant& At(int32_t index) const override;  // 1-based; raises when outside
    void Append(platform::Variant value) override;

private:
    std::vector<platform::Variant> items_;
};

class KitRecord : public platform::Dispatchable<KitRecord, platform::MapContainer> {
public:
    static const platform::MemberTable<KitRecord>& Members();
    size_t Size() const override { return entries_.size(); }
    const std::string& KeyAt(size_t position) const override { return entries_.at(position).first; }
    const platform::Variant& ValueAt(size_t position) const override { return entries_.at(position).second; }
    void Put(std::string key, platform::Variant value) override;
    const platform::Variant& Value(std::string_view key) const;  // raises naming an absent key

private:
    std::vector<std::pair<std::string, platform::Variant>> entries_;
};

}  // namespace orba::hostkit
