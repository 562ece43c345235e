// The windows' fixed texts are UTF-8 string views; Qt takes them as QString.
#pragma once

#include <QString>

#include <string_view>

namespace orba::ui {

inline QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace orba::ui
