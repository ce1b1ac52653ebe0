// Taking stock of a library, copying and checking it, the move lock and the per-user settings.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/library_move.h"
#include "core/archive/user_settings.h"
#include "tests/core/archive/trash_fixtures.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::addMeeting;
using testing::FailsWith;
using testing::IsOk;
using testing::readText;
using testing::valueOf;
using testing::writeText;
using ::testing::HasSubstr;

class LibraryMoveTest : public testing::ArchiveFixture {
 protected:
  Dir openRoot() { return valueOf(archive.openRoot()); }
  Dir emptyTarget() { return valueOf(Dir::createRoot(FileSystem::posix(), temp / "copy")); }
};

TEST_F(LibraryMoveTest, InventoryCountsFilesMediaAndActiveMeetings) {
  const auto done = addMeeting(archive, clock, "Done", {"first take", "second"});
  const auto live = addMeeting(archive, clock, "Still going", {"abc"}, SessionState::recording);
  writeText(root / ".trash" / "ENTRY" / "note.txt", "kept");

  const auto inventory = valueOf(takeLibraryInventory(openRoot()));
  EXPECT_EQ(inventory.mediaFiles, 3u);
  EXPECT_EQ(inventory.activeMeetings, std::vector<std::string>{"Still going"});
  uint64_t bytes = 0, files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    bytes += entry.file_size();
    ++files;
  }
  EXPECT_EQ(inventory.files, files);
  EXPECT_EQ(inventory.bytes, bytes);
  // Folders come before what they hold, so a copy can create them in order.
  for (size_t i = 0; i < inventory.entries.size(); ++i) {
    const auto& path = inventory.entries[i].path;
    if (path.size() < 2) continue;
    const std::vector<std::string> parent(path.begin(), path.end() - 1);
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || inventory.entries[j].path == parent;
    EXPECT_TRUE(seen) << joinedPath(path);
  }
  (void)done;
  (void)live;
}

TEST_F(LibraryMoveTest, InventoryRefusesALinkAnywhere) {
  const auto session = addMeeting(archive, clock, "Linked", {"media"});
  fs::create_symlink("/etc/hostname", session.folder / "notes.txt");
  const auto relative = *archive.relativePath(session.folder);
  EXPECT_THAT(takeLibraryInventory(openRoot()),
              FailsWith("The archive contains a symbolic link at " + relative +
                        "/notes.txt; move or remove it before moving the archive."));
  fs::remove(session.folder / "notes.txt");
  fs::create_directory_symlink(temp.path(), root / "elsewhere");
  EXPECT_THAT(takeLibraryInventory(openRoot()), FailsWith(HasSubstr("symbolic link at elsewhere;")));
}

TEST_F(LibraryMoveTest, CopyIsVerifiedAndDamageIsCaught) {
  const auto session = addMeeting(archive, clock, "Copied", {std::string(3 << 20, 'x'), "short"});
  writeText(root / "notes" / "empty.txt", "");
  const Dir source = openRoot();
  const auto inventory = valueOf(takeLibraryInventory(source));
  const Dir target = emptyTarget();
  uint64_t lastDone = 0;
  ASSERT_THAT(copyLibrary(source, target, inventory, [&](uint64_t done, uint64_t total) {
    EXPECT_GE(done, lastDone);
    EXPECT_EQ(total, inventory.bytes);
    lastDone = done;
  }),
              IsOk());
  EXPECT_EQ(lastDone, inventory.bytes);
  EXPECT_EQ(testing::treeFingerprint(temp / "copy"), testing::treeFingerprint(root));
  EXPECT_THAT(verifyLibraryCopy(source, target, inventory), IsOk());

  const auto relative = *archive.relativePath(session.folder);
  const fs::path copiedMedia = temp / "copy" / relative / session.meeting.segments[1].file;
  writeText(copiedMedia, "shorT");
  EXPECT_THAT(verifyLibraryCopy(source, target, inventory),
              FailsWith(HasSubstr("The copy of " + relative + "/" + session.meeting.segments[1].file +
                                  " does not match the size and SHA-256 its manifest records")));
  writeText(copiedMedia, "short");
  writeText(temp / "copy" / relative / "events.jsonl", readText(root / relative / "events.jsonl") + "\n");
  EXPECT_THAT(verifyLibraryCopy(source, target, inventory),
              FailsWith("The copy of " + relative + "/events.jsonl differs from the original; nothing was published."));
}

TEST_F(LibraryMoveTest, MarkerRoundTripsAndStagingOfDeadMovesIsRemoved) {
  const LibraryMarker marker{"/old/Korvel", clock.now()};
  EXPECT_THAT(LibraryMarker::fromJson(marker.toJson()), testing::IsOkAndHolds(marker));
  Json future = marker.toJson();
  future["version"] = 2;
  EXPECT_FALSE(LibraryMarker::fromJson(future).ok());

  const Dir parent = valueOf(Dir::createRoot(FileSystem::posix(), temp / "disk"));
  writeText(temp / "disk" / ".korvel-move-A" / "x" / "y", "half");
  fs::create_directories(temp / "disk" / ".korvel-move-B");
  fs::create_directories(temp / "disk" / "Other");
  {
    auto lock = valueOf(MoveLock::acquire(parent));
    EXPECT_THAT(removeAbandonedStaging(parent), testing::IsOkAndHolds(2u));
  }
  EXPECT_TRUE(fs::exists(temp / "disk" / "Other"));
  EXPECT_FALSE(fs::exists(temp / "disk" / ".korvel-move-A"));
  EXPECT_TRUE(fs::is_regular_file(temp / "disk" / kMoveLockFileName));
}

TEST_F(LibraryMoveTest, SettingsRoundTripAndNameTheDefaultArchive) {
  const fs::path home = temp / "home";
  const EnvironmentLookup plain = [&](const std::string& name) -> std::optional<std::string> {
    if (name == "KORVEL_HOME") return home.string();
    return std::nullopt;
  };
  const PlatformFolders folders = resolveFolders(plain);
  const fs::path file = userSettingsFile(folders);
  EXPECT_EQ(file, home / "config" / "settings.json");
  EXPECT_THAT(readUserSettings(FileSystem::posix(), file), testing::IsOkAndHolds(UserSettings{}));
  EXPECT_THAT(defaultArchiveRoot(FileSystem::posix(), folders, plain), testing::IsOkAndHolds(home / "Archive"));

  ASSERT_THAT(writeUserSettings(FileSystem::posix(), file, UserSettings{fs::path("/disk2/Korvel")}), IsOk());
  EXPECT_THAT(readUserSettings(FileSystem::posix(), file), testing::IsOkAndHolds(UserSettings{fs::path("/disk2/Korvel")}));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(defaultArchiveRoot(FileSystem::posix(), folders, plain), testing::IsOkAndHolds(fs::path("/disk2/Korvel")));
  const EnvironmentLookup pinned = [&](const std::string& name) -> std::optional<std::string> {
    if (name == "KORVEL_ARCHIVE") return "/pinned";
    return plain(name);
  };
  EXPECT_THAT(defaultArchiveRoot(FileSystem::posix(), resolveFolders(pinned), pinned),
              testing::IsOkAndHolds(fs::path("/pinned")));

  writeText(file, R"({"version": 2, "archiveRoot": "/x"})");
  EXPECT_THAT(readUserSettings(FileSystem::posix(), file), FailsWith("The settings file was written by a newer version of Korvel."));
  writeText(file, R"({"version": 1, "archiveRoot": "relative"})");
  EXPECT_THAT(readUserSettings(FileSystem::posix(), file), FailsWith(HasSubstr("The settings file is invalid.")));
}

}  // namespace
}  // namespace korvel
