// Trash and restore on real archives: the round trip, and every refusal leaving the files as they were.

#include "core/archive/trash.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/restore_record.h"
#include "tests/core/archive/trash_fixtures.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::addMeeting;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

class TrashTest : public testing::ArchiveFixture {
 protected:
  // Runs a refused operation and checks its sentence and that nothing under the root moved.
  template <class Operation>
  void expectRefusal(Operation operation, const std::string& message) {
    const std::string before = treeFingerprint(temp.path());
    auto result = operation();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(treeFingerprint(temp.path()), before);
  }

  fs::path trashed(const ArchivedSession& session) {
    auto entry = moveToTrash(archive, session.folder, session.meeting.id);
    EXPECT_TRUE(entry.ok()) << entry.error().message;
    return entry.ok() ? *entry : fs::path();
  }
};

TEST_F(TrashTest, TrashAndRestoreRoundTripThroughTheSavedPath) {
  auto kept = addMeeting(archive, clock, "Standup", {"a"});
  auto session = addMeeting(archive, clock, "Planning", {"audio bytes", "more"});
  const std::string content = treeFingerprint(session.folder);
  const std::string relative = *archive.relativePath(session.folder);

  const fs::path entry = trashed(session);
  EXPECT_EQ(entry.parent_path(), archive.trashRoot());
  EXPECT_TRUE(isUuidString(entry.filename().string()));
  EXPECT_FALSE(fs::exists(session.folder));
  // The saved path is the archive's JSON spelling of the relative path, slashes escaped.
  const std::string record = readText(entry / kRestoreRecordName);
  EXPECT_NE(record.find("\\/"), std::string::npos);
  EXPECT_EQ(*decodeRestoreRecord(record), *archive.relativeComponents(session.folder));

  ASSERT_EQ(archive.sessions().size(), 1u);
  EXPECT_EQ(archive.sessions()[0].meeting.id, kept.meeting.id);
  auto listed = trashedSessions(archive);
  ASSERT_TRUE(listed.ok());
  ASSERT_EQ(listed->size(), 1u);
  EXPECT_EQ((*listed)[0].entry, entry);
  EXPECT_EQ((*listed)[0].meeting, session.meeting);

  auto restored = restoreFromTrash(archive, entry, session.meeting.id);
  ASSERT_TRUE(restored.ok()) << restored.error().message;
  EXPECT_EQ(*restored, session.folder);
  EXPECT_EQ(*archive.relativePath(*restored), relative);
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_TRUE(fs::exists(*restored / kRestoreRecordName));  // travels with the folder
  fs::remove(*restored / kRestoreRecordName);
  EXPECT_EQ(treeFingerprint(*restored), content);
  EXPECT_EQ(archive.sessions().size(), 2u);

  // A second trip rewrites the record the folder carries.
  const fs::path again = trashed(session);
  EXPECT_EQ(*decodeRestoreRecord(readText(again / kRestoreRecordName)), *archive.relativeComponents(session.folder));
}

TEST_F(TrashTest, MoveToTrashRefusesWhatIsNotAFinishedMeetingOfThisArchive) {
  auto recording = addMeeting(archive, clock, "Live", {"x"}, SessionState::recording);
  auto paused = addMeeting(archive, clock, "Held", {"x"}, SessionState::paused);
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  constexpr const char* outside = "The meeting must be inside the archive and outside Trash.";

  expectRefusal([&] { return moveToTrash(archive, recording.folder, recording.meeting.id); },
                "Stop recording before moving this meeting to Trash.");
  expectRefusal([&] { return moveToTrash(archive, paused.folder, paused.meeting.id); },
                "Stop recording before moving this meeting to Trash.");
  expectRefusal([&] { return moveToTrash(archive, session.folder, "SOMEONE-ELSE"); },
                "The meeting folder belongs to a different meeting.");
  expectRefusal([&] { return moveToTrash(archive, root, id); }, outside);
  fs::create_directories(temp / "Elsewhere");
  expectRefusal([&] { return moveToTrash(archive, temp / "Elsewhere", id); }, outside);
  fs::create_directories(archive.trashRoot() / "X");
  expectRefusal([&] { return moveToTrash(archive, archive.trashRoot() / "X", id); }, outside);
  expectRefusal([&] { return moveToTrash(archive, session.folder.parent_path() / "missing", id); },
                "The meeting folder cannot be a symbolic link.");

  // A link inside the archive to the real folder is a link; one leading out of it is outside.
  fs::create_directory_symlink(session.folder, session.folder.parent_path() / "linked");
  expectRefusal([&] { return moveToTrash(archive, session.folder.parent_path() / "linked", id); },
                "The meeting folder cannot be a symbolic link.");
  fs::create_directory_symlink(temp / "Elsewhere", session.folder.parent_path() / "away");
  expectRefusal([&] { return moveToTrash(archive, session.folder.parent_path() / "away", id); }, outside);
}

TEST_F(TrashTest, MoveToTrashNeedsTheFoldersOwnValidManifest) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  const fs::path manifest = session.folder / kManifestFileName;
  const std::string bytes = readText(manifest);
  constexpr const char* message = "The meeting must have its own valid manifest.";

  fs::rename(manifest, temp / "manifest.json");
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); }, message);
  fs::create_symlink(temp / "manifest.json", manifest);
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); }, message);
  fs::remove(manifest);
  writeText(manifest, "{\"schemaVersion\": 1}");
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); }, message);
  fs::remove(manifest);
  fs::create_directory(manifest);
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); }, message);
}

TEST_F(TrashTest, TrashFolderMustBeARealFolderOfTheArchive) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  fs::create_directories(root / "decoy");
  fs::create_directory_symlink(root / "decoy", archive.trashRoot());
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); },
                "The app Trash folder cannot be a symbolic link.");
  expectRefusal([&] { return trashedSessions(archive); }, "Trash must be a folder inside this archive.");
  expectRefusal([&] { return restoreFromTrash(archive, archive.trashRoot() / "X", id); },
                "Trash must be a folder inside this archive.");

  fs::remove(archive.trashRoot());
  writeText(archive.trashRoot(), "not a folder");
  expectRefusal([&] { return moveToTrash(archive, session.folder, id); },
                "The app Trash folder must remain inside the archive.");
  expectRefusal([&] { return trashedSessions(archive); }, "Trash must be a folder inside this archive.");
}

TEST_F(TrashTest, FailedRestorationRecordPutsTheMeetingBack) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  // A folder where the record goes makes its atomic replacement fail.
  fs::create_directory(session.folder / kRestoreRecordName);
  const std::string before = treeFingerprint(temp.path());
  auto entry = moveToTrash(archive, session.folder, session.meeting.id);
  ASSERT_FALSE(entry.ok());
  EXPECT_EQ(entry.error().message.find("The recording is preserved"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(session.folder));
  EXPECT_TRUE(fs::is_empty(archive.trashRoot()));
  fs::remove(archive.trashRoot());
  EXPECT_EQ(treeFingerprint(temp.path()), before);
}

TEST_F(TrashTest, ListingSkipsStrayItemsAndSortsNewestFirst) {
  auto listed = trashedSessions(archive);
  ASSERT_TRUE(listed.ok());
  EXPECT_TRUE(listed->empty());
  EXPECT_FALSE(fs::exists(archive.trashRoot()));  // listing never creates Trash

  auto older = addMeeting(archive, clock, "Older", {"x"});
  auto newer = addMeeting(archive, clock, "Newer", {"y"});
  trashed(older);
  trashed(newer);
  writeText(archive.trashRoot() / "stray.txt", "left here");
  fs::create_directories(archive.trashRoot() / "EMPTY");
  std::vector<std::pair<fs::path, std::string>> reports;
  listed = trashedSessions(archive, [&](const fs::path& item, const Error& error) {
    reports.emplace_back(item, error.message);
  });
  ASSERT_TRUE(listed.ok());
  ASSERT_EQ(listed->size(), 2u);
  EXPECT_EQ((*listed)[0].meeting.title, "Newer");
  EXPECT_EQ((*listed)[1].meeting.title, "Older");
  ASSERT_EQ(reports.size(), 2u);
  for (const auto& [item, message] : reports) {
    EXPECT_EQ(item.parent_path(), archive.trashRoot());
    EXPECT_EQ(message, "The Trash entry must have its own valid meeting folder and manifest.");
  }
}

TEST_F(TrashTest, RestoreRefusesEntriesThatAreNotThisMeetingInTrash) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  const fs::path entry = trashed(session);

  expectRefusal([&] { return restoreFromTrash(archive, entry / "nested", id); }, "Choose a meeting in Korvel’s Trash.");
  expectRefusal([&] { return restoreFromTrash(archive, session.folder, id); }, "Choose a meeting in Korvel’s Trash.");
  expectRefusal([&] { return restoreFromTrash(archive, archive.trashRoot() / "..", id); },
                "Choose a meeting in Korvel’s Trash.");
  expectRefusal([&] { return restoreFromTrash(archive, entry, "ANOTHER"); },
                "This Trash folder belongs to another meeting.");
  expectRefusal([&] { return restoreFromTrash(archive, archive.trashRoot() / "NOPE", id); },
                "The Trash entry must have its own valid meeting folder and manifest.");

  fs::create_directory_symlink(entry, archive.trashRoot() / "LINK");
  expectRefusal([&] { return restoreFromTrash(archive, archive.trashRoot() / "LINK", id); },
                "The Trash entry must have its own valid meeting folder and manifest.");

  auto active = addMeeting(archive, clock, "Active", {"x"}, SessionState::recording);
  fs::rename(active.folder, archive.trashRoot() / "ACTIVE");
  expectRefusal([&] { return restoreFromTrash(archive, archive.trashRoot() / "ACTIVE", active.meeting.id); },
                "An active or paused meeting cannot be restored.");
}

TEST_F(TrashTest, RestoreNeverDuplicatesAnIdentityOrOverwritesAFolder) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  const fs::path entry = trashed(session);

  // A copy of the same meeting is live again (for example restored from a backup).
  fs::create_directories(session.folder.parent_path() / "copy");
  fs::copy(entry, session.folder.parent_path() / "copy", fs::copy_options::recursive);
  expectRefusal([&] { return restoreFromTrash(archive, entry, id); },
                "A meeting with this identity already exists in the archive. Both copies have been kept.");
  fs::remove_all(session.folder.parent_path() / "copy");

  // Someone else's folder now sits at the former path.
  writeText(session.folder / "notes.txt", "another folder");
  expectRefusal([&] { return restoreFromTrash(archive, entry, id); },
                "The restoration destination is occupied or outside the archive. The recording remains in Trash.");
  fs::remove_all(session.folder);
  fs::remove(session.folder.parent_path());
  writeText(session.folder.parent_path(), "");  // a day "folder" that is a file
  expectRefusal([&] { return restoreFromTrash(archive, entry, id); },
                "The restoration destination is occupied or outside the archive. The recording remains in Trash.");
  fs::remove(session.folder.parent_path());

  // A link on the way, even one that leads back inside the archive.
  const fs::path month = session.folder.parent_path().parent_path();
  fs::rename(month, root / "moved-month");
  fs::create_directory_symlink(root / "moved-month", month);
  expectRefusal([&] { return restoreFromTrash(archive, entry, id); },
                "The restoration path cannot pass through a symbolic link. The recording remains in Trash.");
}

TEST_F(TrashTest, RestoreChecksTheSavedPath) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const std::string id = session.meeting.id;
  const fs::path entry = trashed(session);
  const fs::path record = entry / kRestoreRecordName;
  constexpr const char* invalid = "The saved restoration path is invalid.";

  for (const char* bad : {"\".trash\\/X\"", "\"2026\\/..\\/X\"", "\"2026\\/\\/X\"", "\"\"", "\"a\\\\b\"",
                                 "\"./X\"", "\"X/\"", "[\"X\"]", "not json"}) {
    writeText(record, bad);
    expectRefusal([&] { return restoreFromTrash(archive, entry, id); }, invalid);
  }
  fs::remove(record);
  writeText(temp / "elsewhere.json", "\"X\"");
  fs::create_symlink(temp / "elsewhere.json", record);
  expectRefusal([&] { return restoreFromTrash(archive, entry, id); },
                "Restoration metadata cannot be a symbolic link.");

  // Plain slashes read as well as escaped ones.
  fs::remove(record);
  writeText(record, "\"Imported/2025/X\"");
  auto restored = restoreFromTrash(archive, entry, id);
  ASSERT_TRUE(restored.ok()) << restored.error().message;
  EXPECT_EQ(*restored, root / "Imported" / "2025" / "X");
  EXPECT_EQ(archive.find(id)->folder, *restored);
}

TEST_F(TrashTest, EntryWithoutRecordGoesToTheDateBasedFolder) {
  auto session = addMeeting(archive, clock, "Done", {"x"});
  const fs::path entry = trashed(session);
  fs::remove(entry / kRestoreRecordName);
  fs::remove(session.folder.parent_path());  // the day folder is recreated
  auto restored = restoreFromTrash(archive, entry, session.meeting.id);
  ASSERT_TRUE(restored.ok()) << restored.error().message;
  EXPECT_EQ(*archive.relativeComponents(*restored), *archive.folderComponents(session.meeting));
  EXPECT_EQ(*restored, session.folder);
}

TEST(RestoreRecordTest, EncodesEscapedAndReadsBothSpellings) {
  const std::vector<std::string> parts{"2026", "03", "04", "20260304T141500Z_X"};
  EXPECT_EQ(encodeRestoreRecord(parts), "\"2026\\/03\\/04\\/20260304T141500Z_X\"");
  EXPECT_EQ(*decodeRestoreRecord(encodeRestoreRecord(parts)), parts);
  EXPECT_EQ(*decodeRestoreRecord("\"2026/03/04/20260304T141500Z_X\"\n"), parts);
}

}  // namespace
}  // namespace korvel
