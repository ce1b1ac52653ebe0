#pragma once
// Lexical path rules shared by everything that compares or splits paths: one standard form, and
// the components of a path below a root.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Lexically normal and without a trailing separator (the root "/" stays "/"). Touches no file:
// use FileSystem::absolute first for a path that may be relative.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

// The components of `path` strictly below `root`, compared component by component. Nothing when
// the path is the root itself, lies outside it, or has a "." or ".." component.
std::optional<std::vector<std::string>> componentsBelow(const std::filesystem::path& root,
                                                        const std::filesystem::path& path);

}  // namespace korvel
