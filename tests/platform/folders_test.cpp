#include "platform/folders.h"

#include <gtest/gtest.h>

#include <map>

namespace korvel {
namespace {

EnvironmentLookup fakeEnvironment(std::map<std::string, std::string> values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(PlatformFoldersTest, KorvelHomeHoldsEverything) {
  auto folders = resolveFolders(fakeEnvironment({{"KORVEL_HOME", "/k"}, {"HOME", "/home/u"}}));
  EXPECT_EQ(folders.sharedContainer, "/k/group/T4NQ8ZP2LM.local.korvel.recorder.widgets");
  EXPECT_EQ(folders.archiveRoot, "/k/Archive");
  EXPECT_EQ(folders.applicationSupport, "/k/data");
  for (const auto& browser : folders.browsers) EXPECT_EQ(browser.nativeMessaging.string().rfind("/k/browsers/", 0), 0u);
}

TEST(PlatformFoldersTest, FollowsXdgHomesAndArchiveOverride) {
  auto folders = resolveFolders(fakeEnvironment({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/d"}, {"KORVEL_ARCHIVE", "/a"}}));
  EXPECT_EQ(folders.applicationSupport, "/d/korvel");
  EXPECT_EQ(folders.configuration, "/home/u/.config/korvel");
  EXPECT_EQ(folders.archiveRoot, "/a");
  EXPECT_EQ(folders.browsers.front().nativeMessaging, "/home/u/.config/google-chrome/NativeMessagingHosts");
}

}  // namespace
}  // namespace korvel
