#pragma once
// Where Korvel keeps things on this machine: the Linux (XDG) homes of the folders the recorder
// names, all movable under one KORVEL_HOME for tests, demos and portable installs.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// The application group shared by the recorder and its widget extension.
inline constexpr const char* kSharedContainerName = "T4NQ8ZP2LM.local.korvel.recorder.widgets";

struct BrowserFolder {
  std::string browser;                 // "chrome", "edge", "brave", "chromium"
  std::filesystem::path nativeMessaging;  // the browser's NativeMessagingHosts folder
};

struct PlatformFolders {
  std::filesystem::path applicationSupport;  // per-user application data (catalog, caches)
  std::filesystem::path configuration;       // per-user settings
  std::filesystem::path sharedContainer;     // the application group's container
  std::filesystem::path archiveRoot;         // the default recording library
  std::vector<BrowserFolder> browsers;
};

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

// Reads the process environment.
EnvironmentLookup processEnvironment();

// KORVEL_HOME, when set, holds every folder (data/, config/, group/<container>/, Archive/,
// browsers/<name>/). Otherwise: $XDG_DATA_HOME/korvel (default ~/.local/share/korvel),
// $XDG_CONFIG_HOME/korvel, $XDG_DATA_HOME/korvel/group/<container>, $XDG_DATA_HOME/korvel/Archive
// and the browsers' own folders under $XDG_CONFIG_HOME. KORVEL_ARCHIVE overrides the archive root.
PlatformFolders resolveFolders(const EnvironmentLookup& environment);

}  // namespace korvel
