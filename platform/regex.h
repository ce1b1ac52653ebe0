#pragma once
// Regular expressions on ICU's engine, the dialect the recorder's patterns are written in.
// Offsets are UTF-8 byte offsets into the searched text.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace korvel {

struct RegexMatch {
  size_t start = 0;
  size_t end = 0;
  // Capture groups 1...n; an unmatched group is nullopt.
  std::vector<std::optional<std::string>> groups;
  std::string text;
};

enum class RegexCase { sensitive, insensitive };

class Regex {
 public:
  static Result<Regex> compile(std::string_view pattern, RegexCase caseMode = RegexCase::sensitive);
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;
  ~Regex();

  bool fullMatch(std::string_view text) const;
  std::optional<RegexMatch> find(std::string_view text, size_t fromByte = 0) const;
  std::vector<RegexMatch> findAll(std::string_view text) const;

 private:
  struct Impl;
  explicit Regex(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvel
