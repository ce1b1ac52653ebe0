// ICU RegexPattern wrapper translating UTF-16 match positions back to UTF-8 offsets.

#include "platform/regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <fmt/format.h>

namespace korvel {

struct Regex::Impl {
  std::unique_ptr<icu::RegexPattern> pattern;
};

Regex::Regex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;
Regex::~Regex() = default;

namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// UTF-8 byte offset of UTF-16 index `index` in `u`.
size_t utf8Offset(const icu::UnicodeString& u, int32_t index) {
  std::string prefix;
  u.tempSubString(0, index).toUTF8String(prefix);
  return prefix.size();
}

int32_t utf16Index(std::string_view text, size_t byteOffset) {
  return fromUtf8(text.substr(0, byteOffset)).length();
}

}  // namespace

Result<Regex> Regex::compile(std::string_view pattern, RegexCase caseMode) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  auto impl = std::make_unique<Impl>();
  impl->pattern.reset(icu::RegexPattern::compile(fromUtf8(pattern), caseMode == RegexCase::insensitive ? UREGEX_CASE_INSENSITIVE : 0,
                                                 parseError, status));
  if (U_FAILURE(status)) return makeError(ErrorCode::InvalidInput, fmt::format("The pattern “{}” is not valid.", pattern));
  return Regex(std::move(impl));
}

bool Regex::fullMatch(std::string_view text) const {
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString u = fromUtf8(text);
  std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(u, status));
  return U_SUCCESS(status) && m->matches(status) && U_SUCCESS(status);
}

std::optional<RegexMatch> Regex::find(std::string_view text, size_t fromByte) const {
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString u = fromUtf8(text);
  std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(u, status));
  if (U_FAILURE(status)) return std::nullopt;
  if (!m->find(utf16Index(text, fromByte), status) || U_FAILURE(status)) return std::nullopt;
  RegexMatch match;
  const int32_t start = m->start(status), end = m->end(status);
  match.start = utf8Offset(u, start);
  match.end = utf8Offset(u, end);
  match.text = std::string(text.substr(match.start, match.end - match.start));
  for (int32_t g = 1; g <= m->groupCount(); ++g) {
    if (m->start(g, status) < 0) {
      match.groups.emplace_back(std::nullopt);
    } else {
      std::string group;
      m->group(g, status).toUTF8String(group);
      match.groups.emplace_back(std::move(group));
    }
  }
  return match;
}

std::vector<RegexMatch> Regex::findAll(std::string_view text) const {
  std::vector<RegexMatch> matches;
  size_t from = 0;
  while (from <= text.size()) {
    auto m = find(text, from);
    if (!m) break;
    from = m->end > m->start ? m->end : m->end + 1;
    matches.push_back(std::move(*m));
  }
  return matches;
}

}  // namespace korvel
