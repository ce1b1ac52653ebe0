// Lexical path rules: the standard form and components below a root.

#include "platform/paths.h"

#include <algorithm>

namespace korvel {

std::filesystem::path standardizedPath(const std::filesystem::path& path) {
  std::filesystem::path result = path.lexically_normal();
  if (!result.has_filename() && result.has_parent_path() && result != result.root_path())
    result = result.parent_path();
  return result;
}

std::optional<std::vector<std::string>> componentsBelow(const std::filesystem::path& root,
                                                        const std::filesystem::path& path) {
  std::vector<std::string> rootParts, parts;
  for (const auto& part : root)
    if (!part.empty()) rootParts.push_back(part.string());
  for (const auto& part : path) {
    const std::string text = part.string();
    if (text == "." || text == "..") return std::nullopt;
    if (!text.empty()) parts.push_back(text);
  }
  if (parts.size() <= rootParts.size() || !std::equal(rootParts.begin(), rootParts.end(), parts.begin()))
    return std::nullopt;
  return std::vector<std::string>(parts.begin() + static_cast<std::ptrdiff_t>(rootParts.size()), parts.end());
}

}  // namespace korvel
