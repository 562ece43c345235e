// The runtime's records and lists as the exchange core reads them out of a transport file:
// a value that is not the kind expected reads as Nothing, never as an error.
#pragma once

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"

namespace orba::exchange {

inline platform::Ref<host::VariantDictionary> AsRecord(const platform::Variant& v) {
    return platform::ObjectAs<host::VariantDictionary>(v);
}

// The list a record's key holds (`v` is what Find gave: nullptr when the key is absent).
inline platform::Ref<host::VariantVector> AsList(const platform::Variant* v) {
    return v ? platform::ObjectAs<host::VariantVector>(*v) : platform::Ref<host::VariantVector>();
}

}  // namespace orba::exchange
