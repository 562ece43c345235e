// The host's general function library; the library uses its null substitution.
#pragma once

#include <string_view>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kPubFuncProgId = "Varnick.PubFunc";

// IsNull(value, default): the value, or the default when the value is Null.
class PubFunc : public platform::Dispatchable<PubFunc> {
public:
    static const platform::MemberTable<PubFunc>& Members();
};

}  // namespace orba::hostkit
