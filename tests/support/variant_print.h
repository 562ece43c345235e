// Readable test failure output for runtime values: GoogleTest finds these by argument type
// and prints "Long 42" or "String 'x'" instead of the raw bytes of the object.
#pragma once

#include <ostream>

#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {

void PrintTo(const Variant& value, std::ostream* os);
void PrintTo(const Decimal& value, std::ostream* os);
void PrintTo(const Date& value, std::ostream* os);
void PrintTo(VarType type, std::ostream* os);
void PrintTo(ErrorCode code, std::ostream* os);

}  // namespace orba::platform
