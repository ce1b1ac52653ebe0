// Trash and restore when the disk fails them part-way, and after a crash at every step.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/restore_record.h"
#include "core/archive/trash.h"
#include "tests/core/archive/trash_fixtures.h"
#include "tests/support/fault_file_system.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

struct TrashFaultsTest : ::testing::Test {
  TempDir temp;
  ManualClock clock;
  FaultFileSystem files;
  fs::path root = temp / "Archive";
  Archive archive{root, clock, "UTC", files};

  void SetUp() override { fs::create_directories(root); }

  // Where the meeting is now: its live folder, or its Trash entry (with or without a record).
  int copies(const std::string& meetingID) {
    int found = 0;
    for (const auto& live : archive.sessions())
      if (live.meeting.id == meetingID) ++found;
    auto trashed = trashedSessions(archive);
    if (trashed)
      for (const auto& entry : *trashed)
        if (entry.meeting.id == meetingID) ++found;
    return found;
  }
};

TEST_F(TrashFaultsTest, AMoveWhoseSyncFailsStillWritesTheRestorationRecord) {
  auto session = addMeeting(archive, clock, "Done", {"media"});
  files.failNth(FaultOp::sync, kTrashFolderName);
  auto entry = moveToTrash(archive, session.folder, session.meeting.id);
  ASSERT_TRUE(entry.ok()) << entry.error().message;
  EXPECT_TRUE(fs::is_regular_file(*entry / kRestoreRecordName));
  auto restored = restoreFromTrash(archive, *entry, session.meeting.id);
  ASSERT_TRUE(restored.ok()) << restored.error().message;
  EXPECT_EQ(*restored, session.folder);
}

TEST_F(TrashFaultsTest, AFailedRecordWhoseMoveBackAlsoFailsKeepsTheMeetingInTrashAndSaysSo) {
  auto session = addMeeting(archive, clock, "Done", {"media"});
  files.failNth(FaultOp::write, kRestoreRecordName);
  files.failNth(FaultOp::rename, "-> " + session.folder.string());
  auto entry = moveToTrash(archive, session.folder, session.meeting.id);
  ASSERT_FALSE(entry.ok());
  EXPECT_EQ(entry.error().message.rfind("The recording is preserved in Trash, but saving its restoration path failed: ", 0),
            0u)
      << entry.error().message;
  EXPECT_FALSE(fs::exists(session.folder));
  EXPECT_EQ(copies(session.meeting.id), 1);
}

TEST_F(TrashFaultsTest, AFailedRecordMovesTheMeetingBack) {
  auto session = addMeeting(archive, clock, "Done", {"media"});
  const std::string before = treeFingerprint(root);
  files.failNth(FaultOp::sync, kRestoreRecordName);
  auto entry = moveToTrash(archive, session.folder, session.meeting.id);
  ASSERT_FALSE(entry.ok());
  EXPECT_TRUE(fs::is_directory(session.folder));
  fs::remove(archive.trashRoot());
  EXPECT_EQ(treeFingerprint(root), before);
}

TEST_F(TrashFaultsTest, AFailedRestoreMoveLeavesTheEntryInTrash) {
  auto session = addMeeting(archive, clock, "Done", {"media"});
  auto entry = moveToTrash(archive, session.folder, session.meeting.id);
  ASSERT_TRUE(entry.ok()) << entry.error().message;
  files.failNth(FaultOp::rename, entry->filename().string());
  EXPECT_FALSE(restoreFromTrash(archive, *entry, session.meeting.id).ok());
  EXPECT_TRUE(fs::is_directory(*entry));
  EXPECT_FALSE(fs::exists(session.folder));
}

// Power lost at any point of a trash and restore leaves exactly one copy of the meeting.
TEST_F(TrashFaultsTest, ACrashAtAnyStepNeverLosesTheMeeting) {
  int steps = 0;
  {
    auto session = addMeeting(archive, clock, "Measure", {"media"});
    const int before = files.calls(FaultOp::anyChange);
    auto entry = moveToTrash(archive, session.folder, session.meeting.id);
    ASSERT_TRUE(entry.ok());
    ASSERT_TRUE(restoreFromTrash(archive, *entry, session.meeting.id).ok());
    steps = files.calls(FaultOp::anyChange) - before;
  }
  ASSERT_GT(steps, 4);
  for (int step = 1; step <= steps; ++step) {
    auto session = addMeeting(archive, clock, "Done", {"media"});
    files.dropUnsyncedChanges();
    // Every change from this one on fails, as if the process stopped there; then power goes.
    files.failFrom(FaultOp::anyChange, "", step);
    auto entry = moveToTrash(archive, session.folder, session.meeting.id);
    if (entry) (void)restoreFromTrash(archive, *entry, session.meeting.id);
    files.clearFaults();
    files.dropUnsyncedChanges();
    EXPECT_EQ(copies(session.meeting.id), 1) << "stopped at change " << step;
  }
}

}  // namespace
}  // namespace korvel::testing
