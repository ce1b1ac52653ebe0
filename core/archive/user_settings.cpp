// Reading and atomically writing the per-user "settings.json".

#include "core/archive/user_settings.h"

#include <fmt/format.h>

#include "platform/files.h"

namespace korvel {

namespace fs = std::filesystem;

Json UserSettings::toJson() const {
  Json json{{"version", kUserSettingsVersion}};
  if (archiveRoot) json["archiveRoot"] = archiveRoot->string();
  return json;
}

Result<UserSettings> UserSettings::fromJson(const Json& json) {
  const auto invalid = [] {
    return makeError(ErrorCode::Corrupt, "The settings file is invalid. Fix or remove it and try again.");
  };
  if (!json.is_object()) return invalid();
  JsonFields fields(json);
  const int64_t version = fields.integer("version");
  const auto root = fields.optionalString("archiveRoot");
  if (!fields.ok()) return invalid();
  if (version != kUserSettingsVersion)
    return makeError(ErrorCode::Corrupt, "The settings file was written by a newer version of Korvel.");
  UserSettings settings;
  if (root) {
    if (root->empty() || root->front() != '/' || root->find('\0') != std::string::npos) return invalid();
    settings.archiveRoot = fs::path(*root);
  }
  return settings;
}

fs::path userSettingsFile(const PlatformFolders& folders) { return folders.configuration / kUserSettingsFileName; }

Result<UserSettings> readUserSettings(const FileSystem& files, const fs::path& file) {
  auto folder = Dir::openRoot(files, file.parent_path());
  if (!folder) {
    if (folder.error().code == ErrorCode::NotFound) return UserSettings{};
    return folder.error();
  }
  auto bytes = folder->readFile(file.filename().string(), kMaximumUserSettingsBytes);
  if (!bytes) {
    if (bytes.error().code == ErrorCode::NotFound) return UserSettings{};
    return makeError(bytes.error().code, fmt::format("The settings file {} could not be read.", file.string()));
  }
  auto json = parseJson(*bytes);
  if (!json) return makeError(ErrorCode::Corrupt, "The settings file is invalid. Fix or remove it and try again.");
  return UserSettings::fromJson(*json);
}

Status writeUserSettings(const FileSystem& files, const fs::path& file, const UserSettings& settings) {
  const Dir folder = TRY(Dir::createRoot(files, file.parent_path(), 0700));
  TRY(folder.writeAtomic(file.filename().string(), encodePretty(settings.toJson()) + "\n", 0600));
  return okStatus();
}

Result<fs::path> defaultArchiveRoot(const FileSystem& files, const PlatformFolders& folders,
                                    const EnvironmentLookup& environment) {
  if (environment && environment("KORVEL_ARCHIVE")) return folders.archiveRoot;
  const UserSettings settings = TRY(readUserSettings(files, userSettingsFile(folders)));
  return settings.archiveRoot.value_or(folders.archiveRoot);
}

}  // namespace korvel
