#include "host/variant_json.h"

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"

namespace orba::host {

const platform::ContainerFactory& HostContainers() {
    static const platform::ContainerFactory factory{
        [] { return Ref<platform::ListContainer>(platform::MakeRef<VariantVector>()); },
        [](size_t entries) { return Ref<platform::MapContainer>(VariantDictionary::WithRoom(entries)); },
    };
    return factory;
}

platform::Variant FromJson(std::string_view text) { return platform::ReadJson(text, HostContainers()); }
platform::Variant FromJson(const platform::JsonSource& read) { return platform::ReadJson(read, HostContainers()); }

}  // namespace orba::host
