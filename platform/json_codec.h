// Lossless, readable JSON for variant trees: the command-line host's arguments and results,
// the transport files that carry a transmission list between branches, and test fixtures.
//
//   null <-> Null, true/false <-> Boolean, integer <-> Long, number with fraction or exponent
//   <-> Double, string <-> String, array <-> list container, object <-> keyed container (keys
//   in store order); tagged one-key objects for the rest: {"$int16": 501},
//   {"$decimal": "117.5"}, {"$date": "2003-05-12"} / {"$date": "2003-05-12T10:20:30"},
//   {"$empty": null}, {"$nothing": null}, and {"$dict": {...}} for a keyed container whose
//   only key starts with "$".
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/containers.h"

namespace orba::platform {

// Raises an Error for an object that is neither container nor Nothing.
// `indent` spaces per level, or -1 for the compact form on one line.
std::string WriteJson(const Variant& value, int indent = 2);
// The same text handed to `sink` in pieces as it is produced.
void WriteJson(const Variant& value, const std::function<void(std::string_view)>& sink, int indent = 2);

// Raises an Error with kSyntaxError that says where (line and column, or the path to the
// value) and what was expected. A "$decimal" must be held exactly (Decimal::kDigits
// significant digits at most): one that would be rounded is refused. A text whose tree
// would take more than about ten times its size in memory (for instance a long list of
// empty records) is refused as soon as that shows, so reading costs time and memory in
// proportion to the text.
Variant ReadJson(std::string_view text, const ContainerFactory& factory);

// Fills the buffer with up to `size` further bytes of a text; 0 at its end.
using JsonSource = std::function<size_t(char* buffer, size_t size)>;
// The same, reading the text in pieces from `read`: only the piece being parsed is held, so
// a large file never stands in memory whole beside the tree made from it.
Variant ReadJson(const JsonSource& read, const ContainerFactory& factory);

}  // namespace orba::platform
