// The text an answer of a related branch's service holds, taken from the bytes it came as: a
// compressed answer is inflated here, under a bound, because the HTTP library would inflate
// it without one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orba::apps::net {

// The text `body` holds under its Content-Encoding `encoding` (gzip or deflate are inflated,
// anything else is taken as it came), or nullopt as soon as that text passes `limit` bytes.
// Raises an Error (ErrorCode::kIoError) when a compressed body cannot be inflated (cut short or
// corrupt).
std::optional<std::string> AnswerText(std::string body, std::string_view encoding, uint64_t limit);

}  // namespace orba::apps::net
