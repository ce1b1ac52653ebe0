// Encoding and validation of the restoration path a Trash entry keeps.

#include "core/archive/restore_record.h"

#include "platform/json.h"

namespace korvel {
namespace {

constexpr const char* kInvalidPath = "The saved restoration path is invalid.";

bool isRestorableComponent(std::string_view part) {
  return !part.empty() && part != "." && part != ".." && part.find('\\') == std::string_view::npos &&
         part.find('\0') == std::string_view::npos;
}

}  // namespace

std::string encodeRestoreRecord(const std::vector<std::string>& components) {
  std::string path;
  for (const auto& part : components) {
    if (!path.empty()) path += '/';
    path += part;
  }
  return encodePretty(Json(path));
}

Result<std::vector<std::string>> decodeRestoreRecord(std::string_view bytes) {
  auto parsed = parseJson(bytes);
  if (!parsed || !parsed->is_string()) return makeError(ErrorCode::InvalidInput, kInvalidPath);
  const std::string path = parsed->get<std::string>();
  std::vector<std::string> components;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    components.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  for (const auto& part : components)
    if (!isRestorableComponent(part)) return makeError(ErrorCode::InvalidInput, kInvalidPath);
  if (components.front() == ".trash") return makeError(ErrorCode::InvalidInput, kInvalidPath);
  return components;
}

}  // namespace korvel
