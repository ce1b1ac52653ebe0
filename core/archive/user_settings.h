#pragma once
// The per-user settings file "settings.json" in the configuration folder: today only which
// archive the tool opens when neither --archive nor KORVEL_ARCHIVE names one.

#include <filesystem>
#include <optional>

#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

inline constexpr const char* kUserSettingsFileName = "settings.json";
inline constexpr int kUserSettingsVersion = 1;
// A settings file is a few lines; anything larger is not ours.
inline constexpr uint64_t kMaximumUserSettingsBytes = 64 * 1024;

struct UserSettings {
  std::optional<std::filesystem::path> archiveRoot;  // absolute

  bool operator==(const UserSettings&) const = default;
  Json toJson() const;
  // Refuses another version and an archive root that is not an absolute path.
  static Result<UserSettings> fromJson(const Json& json);
};

// configuration / "settings.json".
std::filesystem::path userSettingsFile(const PlatformFolders& folders);

// The settings in the file; a missing file (or folder) is the empty settings. A file that
// cannot be read or decoded is an error, never silently ignored.
Result<UserSettings> readUserSettings(const FileSystem& files, const std::filesystem::path& file);
// Writes the file atomically (pretty, sorted keys), creating its folder (0700) when missing.
Status writeUserSettings(const FileSystem& files, const std::filesystem::path& file, const UserSettings& settings);

// The archive root the tool opens by default: KORVEL_ARCHIVE when set (already in
// `folders.archiveRoot`), else the settings file's, else the platform's default. A broken
// settings file is reported through the result.
Result<std::filesystem::path> defaultArchiveRoot(const FileSystem& files, const PlatformFolders& folders,
                                                 const EnvironmentLookup& environment);

}  // namespace korvel
