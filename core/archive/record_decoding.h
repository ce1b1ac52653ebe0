#pragma once
// Shared steps of the archive's record decoders: nested records, arrays of records, and the
// one sentence a failed decode turns into.

#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

// The decoded value, or ErrorCode::Corrupt naming the record and the first problem.
template <class T>
Result<T> finishDecoding(const JsonFields& fields, const char* what, T value) {
  if (!fields.ok()) return makeError(ErrorCode::Corrupt, fmt::format("The {} could not be decoded ({}).", what, fields.problem()));
  return value;
}

// The problem inside a nested record's sentence, so the outer sentence names it only once.
inline std::string nestedProblem(const std::string& message) {
  const auto open = message.find('(');
  const auto close = message.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close <= open) return message;
  return message.substr(open + 1, close - open - 1);
}

// Decodes `key` as a T when present; a broken nested record fails the whole one.
template <class T>
void decodeOptional(JsonFields& fields, const char* key, std::optional<T>& target) {
  if (!fields.ok() || !fields.has(key)) return;
  auto decoded = T::fromJson(*fields.raw(key));
  if (decoded) target = std::move(*decoded);
  else fields.fail(fmt::format("{}: {}", key, nestedProblem(decoded.error().message)));
}

template <class T>
std::vector<T> decodeArray(JsonFields& fields, const char* key) {
  std::vector<T> values;
  const Json& items = fields.array(key);
  if (!fields.ok()) return values;
  for (const auto& item : items) {
    auto decoded = T::fromJson(item);
    if (!decoded) {
      fields.fail(fmt::format("{}[{}]: {}", key, values.size(), nestedProblem(decoded.error().message)));
      return {};
    }
    values.push_back(std::move(*decoded));
  }
  return values;
}

}  // namespace korvel
