#include "hostkit/bill_fingerprint.h"

#include <fmt/format.h>
#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "platform/containers.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using platform::ListContainer;
using platform::MapContainer;
using platform::VarType;
using platform::Variant;

namespace {

constexpr std::string_view kTransmissionFlag = "TranStatus";

void PutText(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            fmt::format_to(std::back_inserter(out), "\\u{:04x}", byte);
        } else {
            out += c;
        }
    }
    out += '"';
}

void PutValue(std::string& out, const Variant& value, bool bill_level);

void PutMap(std::string& out, const MapContainer& map, bool bill_level) {
    std::vector<size_t> order;
    order.reserve(map.Size());
    for (size_t i = 0; i < map.Size(); ++i) {
        if (!(bill_level && map.KeyAt(i) == kTransmissionFlag)) order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return map.KeyAt(a) < map.KeyAt(b); });
    out += '{';
    bool first = true;
    for (size_t i : order) {
        if (!first) out += ',';
        first = false;
        PutText(out, map.KeyAt(i));
        out += ':';
        PutValue(out, map.ValueAt(i), false);
    }
    out += '}';
}

void PutValue(std::string& out, const Variant& value, bool bill_level) {
    switch (value.Type()) {
        case VarType::kEmpty: out += "{\"$empty\":null}"; return;
        case VarType::kNull: out += "null"; return;
        case VarType::kBoolean: out += value.AsBoolean() ? "true" : "false"; return;
        case VarType::kInteger:
        case VarType::kLong:
        case VarType::kDouble:
        case VarType::kDecimal: {
            const platform::Decimal number = value.ToDecimal();
            out += number.IsZero() ? std::string("0") : number.ToString();
            return;
        }
        case VarType::kDate:
            out += "{\"$date\":";
            PutText(out, value.AsDate().ToString());
            out += '}';
            return;
        case VarType::kString: PutText(out, value.AsString()); return;
        case VarType::kObject: {
            const platform::Object* object = value.AsObject().Get();
            if (object == nullptr) {
                out += "{\"$nothing\":null}";
            } else if (const auto* map = dynamic_cast<const MapContainer*>(object)) {
                PutMap(out, *map, bill_level);
            } else if (const auto* list = dynamic_cast<const ListContainer*>(object)) {
                out += '[';
                for (int32_t i = 1; i <= list->Count(); ++i) {
                    if (i > 1) out += ',';
                    PutValue(out, list->At(i), false);
                }
                out += ']';
            } else {
                throw Error(ErrorCode::kBadInput, "A bill record holds an object that is neither a list nor a record");
            }
            return;
        }
    }
    throw Error(ErrorCode::kBadInput, fmt::format("A bill record holds a value of kind {}", value.TypeName()));
}

}  // namespace

std::string CanonicalBillText(const Variant& bill) {
    std::string out;
    PutValue(out, bill, true);
    return out;
}

std::string BillFingerprint(const Variant& bill) { return Sha256Hex(CanonicalBillText(bill)); }

}  // namespace orba::hostkit
