#pragma once
// A fresh temporary folder per test, removed afterwards, plus small file helpers for fixtures.

#include <filesystem>
#include <string>

namespace korvel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void writeText(const std::filesystem::path& path, const std::string& text);
std::string readText(const std::filesystem::path& path);

// A listing of every file under `root` with its bytes, to prove an operation changed nothing.
std::string treeFingerprint(const std::filesystem::path& root);

}  // namespace korvel::testing
