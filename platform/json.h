#pragma once
// The project's one canonical JSON encoder and a strict field reader for decoders.
//
// Keys are always sorted (by UTF-8 bytes). "/" is written "\/" unless a format asks for
// unescaped slashes; non-ASCII is written as raw UTF-8; integral numbers carry no fraction
// and other doubles use the shortest form that reads back to the same value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/date.h"
#include "platform/result.h"

namespace korvel {

using Json = nlohmann::json;

enum class Slashes { escaped, unescaped };

std::string encodeCompact(const Json& value, Slashes slashes = Slashes::escaped);
// Two-space indentation and "key" : value pairs, the layout of the recorder's archive files.
std::string encodePretty(const Json& value, Slashes slashes = Slashes::escaped);

// Parses UTF-8 JSON text; duplicate keys keep the last value. Error code Corrupt.
Result<Json> parseJson(std::string_view text);

// Reads typed members of one JSON object, remembering the first problem. Decoders read every
// field, then check ok() once and turn a failure into their own sentence.
class JsonFields {
 public:
  explicit JsonFields(const Json& object);

  bool ok() const { return problem_.empty(); }
  // What went wrong, for diagnostics (not a user-facing sentence).
  const std::string& problem() const { return problem_; }

  bool has(const char* key) const;  // present and not null
  const Json* raw(const char* key) const;

  std::string string(const char* key);
  std::optional<std::string> optionalString(const char* key);
  double number(const char* key);
  std::optional<double> optionalNumber(const char* key);
  int64_t integer(const char* key);
  std::optional<int64_t> optionalInteger(const char* key);
  bool boolean(const char* key);
  std::optional<bool> optionalBoolean(const char* key);
  Date isoDate(const char* key);
  std::optional<Date> optionalIsoDate(const char* key);
  Date referenceDate(const char* key);  // seconds since 2001-01-01
  std::vector<std::string> stringArray(const char* key);
  const Json& array(const char* key);   // empty array on failure
  const Json& object(const char* key);  // empty object on failure

  void fail(std::string problem);

 private:
  const Json* require(const char* key);
  const Json& object_;
  std::string problem_;
};

// Integral doubles are accepted as integers (5.0 reads as 5), as the platform decoder does.
std::optional<int64_t> jsonInteger(const Json& value);

}  // namespace korvel
