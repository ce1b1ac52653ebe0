#pragma once
// Enumerations stored as strings: one table of names per enumeration, in case order.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace korvel::widgets {

template <class Enum, size_t N>
const char* rawValueIn(const std::array<const char*, N>& names, Enum value) {
  return names[static_cast<size_t>(value)];
}

template <class Enum, size_t N>
std::optional<Enum> enumFromRawIn(const std::array<const char*, N>& names, std::string_view raw) {
  for (size_t i = 0; i < N; ++i) {
    if (raw == names[i]) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

}  // namespace korvel::widgets
