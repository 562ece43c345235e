#include "support/variant_print.h"

namespace orba::platform {

void PrintTo(const Variant& value, std::ostream* os) {
    *os << value.TypeName();
    switch (value.Type()) {
        case VarType::kEmpty:
        case VarType::kNull: return;
        case VarType::kString: *os << " '" << value.AsString() << "'"; return;
        case VarType::kObject: *os << " " << (value.AsObject() ? value.AsObject()->ClassName() : "Nothing"); return;
        default: *os << " " << value.ToText(); return;
    }
}

void PrintTo(const Decimal& value, std::ostream* os) { *os << value.ToString(); }
void PrintTo(const Date& value, std::ostream* os) { *os << value.ToString(); }
void PrintTo(VarType type, std::ostream* os) { *os << VarTypeName(type); }
void PrintTo(ErrorCode code, std::ostream* os) { *os << "error " << static_cast<int32_t>(code); }

}  // namespace orba::platform
