// XDG mapping of the recorder's folders.

#include "platform/folders.h"

#include <cstdlib>

namespace korvel {

EnvironmentLookup processEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value || !*value) return std::nullopt;
    return std::string(value);
  };
}

PlatformFolders resolveFolders(const EnvironmentLookup& environment) {
  namespace fs = std::filesystem;
  PlatformFolders folders;
  if (auto home = environment("KORVEL_HOME")) {
    const fs::path root(*home);
    folders.applicationSupport = root / "data";
    folders.configuration = root / "config";
    folders.sharedContainer = root / "group" / kSharedContainerName;
    folders.archiveRoot = root / "Archive";
    for (const char* browser : {"chrome", "edge", "brave", "chromium"})
      folders.browsers.push_back({browser, root / "browsers" / browser / "NativeMessagingHosts"});
  } else {
    const fs::path user(environment("HOME").value_or("/tmp"));
    const fs::path data = environment("XDG_DATA_HOME").value_or((user / ".local" / "share").string());
    const fs::path config = environment("XDG_CONFIG_HOME").value_or((user / ".config").string());
    folders.applicationSupport = data / "korvel";
    folders.configuration = config / "korvel";
    folders.sharedContainer = data / "korvel" / "group" / kSharedContainerName;
    folders.archiveRoot = data / "korvel" / "Archive";
    folders.browsers = {
        {"chrome", config / "google-chrome" / "NativeMessagingHosts"},
        {"edge", config / "microsoft-edge" / "NativeMessagingHosts"},
        {"brave", config / "BraveSoftware" / "Brave-Browser" / "NativeMessagingHosts"},
        {"chromium", config / "chromium" / "NativeMessagingHosts"},
    };
  }
  if (auto archive = environment("KORVEL_ARCHIVE")) folders.archiveRoot = *archive;
  return folders;
}

}  // namespace korvel
