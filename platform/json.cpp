// Canonical JSON writing: one place decides how every file and fingerprint is spelled.

#include "platform/json.h"

#include <charconv>
#include <cmath>

#include <fmt/format.h>

namespace korvel {
namespace {

void appendString(std::string& out, std::string_view text, Slashes slashes) {
  out.push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += slashes == Slashes::escaped ? "\\/" : "/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += fmt::format("\\u{:04x}", c);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void appendDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    // JSON has no spelling for these; callers validate before encoding, so this is a last resort.
    out += "null";
    return;
  }
  if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0) {
    out += fmt::format("{}", static_cast<int64_t>(value));
    return;
  }
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, ec == std::errc() ? end : buffer);
}

void encode(std::string& out, const Json& value, Slashes slashes, int indent, int depth) {
  const auto newline = [&](int level) {
    out.push_back('\n');
    out.append(static_cast<size_t>(level * indent), ' ');
  };
  switch (value.type()) {
    case Json::value_t::null: out += "null"; break;
    case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_integer: out += fmt::format("{}", value.get<int64_t>()); break;
    case Json::value_t::number_unsigned: out += fmt::format("{}", value.get<uint64_t>()); break;
    case Json::value_t::number_float: appendDouble(out, value.get<double>()); break;
    case Json::value_t::string: appendString(out, value.get_ref<const std::string&>(), slashes); break;
    case Json::value_t::array: {
      if (value.empty()) {
        out += "[]";
        break;
      }
      out.push_back('[');
      bool first = true;
      for (const auto& element : value) {
        if (!first) out.push_back(',');
        first = false;
        if (indent) newline(depth + 1);
        encode(out, element, slashes, indent, depth + 1);
      }
      if (indent) newline(depth);
      out.push_back(']');
      break;
    }
    case Json::value_t::object: {
      if (value.empty()) {
        out += "{}";
        break;
      }
      out.push_back('{');
      bool first = true;
      // nlohmann::json keeps members in a std::map, so iteration is already sorted by bytes.
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out.push_back(',');
        first = false;
        if (indent) newline(depth + 1);
        appendString(out, it.key(), slashes);
        out += indent ? " : " : ":";
        encode(out, it.value(), slashes, indent, depth + 1);
      }
      if (indent) newline(depth);
      out.push_back('}');
      break;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded: out += "null"; break;
  }
}

}  // namespace

std::string encodeCompact(const Json& value, Slashes slashes) {
  std::string out;
  encode(out, value, slashes, 0, 0);
  return out;
}

std::string encodePretty(const Json& value, Slashes slashes) {
  std::string out;
  encode(out, value, slashes, 2, 0);
  return out;
}

Result<Json> parseJson(std::string_view text) {
  Json parsed = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return makeError(ErrorCode::Corrupt, "The data is not valid JSON.");
  return parsed;
}

std::optional<int64_t> jsonInteger(const Json& value) {
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.2e18) return static_cast<int64_t>(d);
  }
  return std::nullopt;
}

JsonFields::JsonFields(const Json& object) : object_(object) {
  if (!object.is_object()) problem_ = "not an object";
}

void JsonFields::fail(std::string problem) {
  if (problem_.empty()) problem_ = std::move(problem);
}

bool JsonFields::has(const char* key) const {
  if (!object_.is_object()) return false;
  auto it = object_.find(key);
  return it != object_.end() && !it->is_null();
}

const Json* JsonFields::raw(const char* key) const {
  if (!object_.is_object()) return nullptr;
  auto it = object_.find(key);
  return it == object_.end() ? nullptr : &*it;
}

const Json* JsonFields::require(const char* key) {
  const Json* value = raw(key);
  if (!value || value->is_null()) {
    fail(fmt::format("missing {}", key));
    return nullptr;
  }
  return value;
}

std::string JsonFields::string(const char* key) {
  const Json* v = require(key);
  if (!v) return {};
  if (!v->is_string()) {
    fail(fmt::format("{} is not a string", key));
    return {};
  }
  return v->get<std::string>();
}

std::optional<std::string> JsonFields::optionalString(const char* key) {
  if (!has(key)) return std::nullopt;
  return string(key);
}

double JsonFields::number(const char* key) {
  const Json* v = require(key);
  if (!v) return 0;
  if (!v->is_number()) {
    fail(fmt::format("{} is not a number", key));
    return 0;
  }
  return v->get<double>();
}

std::optional<double> JsonFields::optionalNumber(const char* key) {
  if (!has(key)) return std::nullopt;
  return number(key);
}

int64_t JsonFields::integer(const char* key) {
  const Json* v = require(key);
  if (!v) return 0;
  auto i = jsonInteger(*v);
  if (!i) {
    fail(fmt::format("{} is not an integer", key));
    return 0;
  }
  return *i;
}

std::optional<int64_t> JsonFields::optionalInteger(const char* key) {
  if (!has(key)) return std::nullopt;
  return integer(key);
}

bool JsonFields::boolean(const char* key) {
  const Json* v = require(key);
  if (!v) return false;
  if (!v->is_boolean()) {
    fail(fmt::format("{} is not a boolean", key));
    return false;
  }
  return v->get<bool>();
}

std::optional<bool> JsonFields::optionalBoolean(const char* key) {
  if (!has(key)) return std::nullopt;
  return boolean(key);
}

Date JsonFields::isoDate(const char* key) {
  const std::string text = string(key);
  if (!ok()) return {};
  auto date = parseIso8601(text);
  if (!date) {
    fail(fmt::format("{} is not an ISO 8601 date", key));
    return {};
  }
  return *date;
}

std::optional<Date> JsonFields::optionalIsoDate(const char* key) {
  if (!has(key)) return std::nullopt;
  return isoDate(key);
}

Date JsonFields::referenceDate(const char* key) {
  const double seconds = number(key);
  if (!ok()) return {};
  if (!std::isfinite(seconds)) {
    fail(fmt::format("{} is not finite", key));
    return {};
  }
  return Date::fromReference(seconds);
}

std::vector<std::string> JsonFields::stringArray(const char* key) {
  std::vector<std::string> out;
  const Json& items = array(key);
  for (const auto& item : items) {
    if (!item.is_string()) {
      fail(fmt::format("{} holds a non-string", key));
      return {};
    }
    out.push_back(item.get<std::string>());
  }
  return out;
}

const Json& JsonFields::array(const char* key) {
  static const Json empty = Json::array();
  const Json* v = require(key);
  if (!v) return empty;
  if (!v->is_array()) {
    fail(fmt::format("{} is not an array", key));
    return empty;
  }
  return *v;
}

const Json& JsonFields::object(const char* key) {
  static const Json empty = Json::object();
  const Json* v = require(key);
  if (!v) return empty;
  if (!v->is_object()) {
    fail(fmt::format("{} is not an object", key));
    return empty;
  }
  return *v;
}

}  // namespace korvel
