#include "tests/support/variant_tree.h"

#include <fmt/format.h>

#include <optional>
#include <string>

#include "platform/containers.h"

namespace orba::testing {
namespace {

using platform::ListContainer;
using platform::MapContainer;
using platform::Variant;

std::string Shown(const Variant& v) {
    if (v.IsNull()) return "Null";
    if (v.IsObject()) return v.IsNothing() ? "Nothing" : std::string(v.AsObject()->ClassName());
    return fmt::format("{} '{}'", v.TypeName(), v.ToText());
}

std::string Where(const std::string& path) {
    return path.empty() ? "/" : path;
}

// The first difference below `path`, or nothing when the trees agree.
std::optional<std::string> Difference(const Variant& a, const Variant& b, const std::string& path) {
    if (a.Type() != b.Type() || a.IsNothing() != b.IsNothing()) {
        return fmt::format("{}: expected {}, got {}", Where(path), Shown(a), Shown(b));
    }
    if (!a.IsObject() || a.IsNothing()) {
        if (a == b) return std::nullopt;
        return fmt::format("{}: expected {}, got {}", Where(path), Shown(a), Shown(b));
    }
    auto* la = dynamic_cast<ListContainer*>(a.AsObject().Get());
    auto* lb = dynamic_cast<ListContainer*>(b.AsObject().Get());
    if (la && lb) {
        if (la->Count() != lb->Count()) {
            return fmt::format("{}: expected {} items, got {}", Where(path), la->Count(),
                               lb->Count());
        }
        for (int32_t i = 1; i <= la->Count(); ++i) {
            if (auto d = Difference(la->At(i), lb->At(i), fmt::format("{}/{}", path, i))) return d;
        }
        return std::nullopt;
    }
    auto* ma = dynamic_cast<MapContainer*>(a.AsObject().Get());
    auto* mb = dynamic_cast<MapContainer*>(b.AsObject().Get());
    if (ma && mb) {
        if (ma->Size() != mb->Size()) {
            return fmt::format("{}: expected {} keys, got {}", Where(path), ma->Size(), mb->Size());
        }
        for (size_t i = 0; i < ma->Size(); ++i) {
            if (ma->KeyAt(i) != mb->KeyAt(i)) {
                return fmt::format("{}: key {} expected '{}', got '{}'", Where(path), i,
                                   ma->KeyAt(i), mb->KeyAt(i));
            }
            if (auto d = Difference(ma->ValueAt(i), mb->ValueAt(i), path + "/" + ma->KeyAt(i)))
                return d;
        }
        return std::nullopt;
    }
    if (a == b) return std::nullopt;
    return fmt::format("{}: expected {}, got {}", Where(path), Shown(a), Shown(b));
}

}  // namespace

::testing::AssertionResult SameTree(const Variant& expected, const Variant& actual) {
    if (auto d = Difference(expected, actual, "")) return ::testing::AssertionFailure() << *d;
    return ::testing::AssertionSuccess();
}

}  // namespace orba::testing
