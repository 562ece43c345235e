#include "host/variant_json.h"

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"

namespace orba::host {

namespace {

// What the allocator adds to each block it hands out.
constexpr size_t kAllocationBytes = 16;

}  // namespace

const platform::ContainerFactory& HostContainers() {
    static const platform::ContainerFactory factory{
        .make_list = [] { return Ref<platform::ListContainer>(platform::MakeRef<VariantVector>()); },
        .make_map =
            [](size_t entries) {
                return Ref<platform::MapContainer>(VariantDictionary::WithRoom(entries));
            },
        .list_bytes = sizeof(VariantVector) + kAllocationBytes,
        .item_bytes = sizeof(Variant),
        .map_bytes = &VariantDictionary::BytesFor,
        .path_depth = 0,
        .make_list_at = {},
    };
    return factory;
}

platform::Variant FromJson(std::string_view text) { return platform::ReadJson(text, HostContainers()); }
platform::Variant FromJson(const platform::JsonSource& read) { return platform::ReadJson(read, HostContainers()); }

}  // namespace orba::host
