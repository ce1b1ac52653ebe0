#pragma once
// Enumerations spelled as strings: one constexpr table of names per enumeration, in case order,
// read both ways, so that a name and its parse can never disagree.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace korvel {

template <class Enum, size_t N>
class EnumNames {
 public:
  constexpr explicit EnumNames(std::array<const char*, N> names) : names_(names) {}

  // The name of `value`; "" for a value outside the enumeration.
  constexpr const char* name(Enum value) const {
    const auto index = static_cast<size_t>(value);
    return index < N ? names_[index] : "";
  }

  // The case spelled exactly `text`.
  constexpr std::optional<Enum> parse(std::string_view text) const {
    for (size_t i = 0; i < N; ++i)
      if (text == names_[i]) return static_cast<Enum>(i);
    return std::nullopt;
  }

  constexpr const std::array<const char*, N>& all() const { return names_; }

 private:
  std::array<const char*, N> names_;
};

// enumNames<Color>("red", "green"): the names of Color's cases 0, 1, … in order.
template <class Enum, class... Names>
constexpr EnumNames<Enum, sizeof...(Names)> enumNames(Names... names) {
  return EnumNames<Enum, sizeof...(Names)>({names...});
}

}  // namespace korvel
