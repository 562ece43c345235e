#include "platform/login_grammar.h"

#include <utility>

#include "platform/text.h"

namespace orba::platform {

std::string_view TakeUntil(std::string_view& text, std::string_view delimiter) noexcept {
    const size_t pos = delimiter.empty() ? std::string_view::npos : text.find(delimiter);
    if (pos == std::string_view::npos) return std::exchange(text, std::string_view());
    const std::string_view token = text.substr(0, pos);
    text.remove_prefix(pos + delimiter.size());
    return token;
}

std::string_view TakeLoginValue(std::string_view& text) noexcept {
    if (text.empty() || text.front() != '{') return TakeUntil(text, ";");
    text.remove_prefix(1);
    const std::string_view value = TakeUntil(text, "}");
    TakeUntil(text, ";");  // whatever stands between the closing brace and the next ";"
    return value;
}

std::optional<LoginPair> NextLoginPair(std::string_view& text, std::string_view blanks) noexcept {
    if (text.empty()) return std::nullopt;
    LoginPair pair;
    pair.assigned = text.find('=') != std::string_view::npos;
    pair.key = Trim(TakeUntil(text, "="), blanks);
    text = Trim(text, blanks);
    pair.value = Trim(TakeLoginValue(text), blanks);
    return pair;
}

}  // namespace orba::platform
