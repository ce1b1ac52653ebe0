// What the no-follow file layer promises when the disk fails it or the machine loses power.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_dir.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

struct FileFaultsTest : ::testing::Test {
  TempDir temp;
  FaultFileSystem files;

  Dir root() {
    auto opened = Dir::openRoot(files, temp.path());
    EXPECT_TRUE(opened.ok());
    return std::move(*opened);
  }

  // Names in the folder other than the ones given, e.g. temporary files left behind.
  std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  }
};

TEST_F(FileFaultsTest, AnAtomicWriteSurvivesACrashRightAfterItReturns) {
  writeText(temp / "f", "old");
  auto written = root().writeAtomic("f", "new contents");
  ASSERT_TRUE(written.ok()) << written.error().message;
  EXPECT_EQ(*written, Durability::confirmed);
  files.dropUnsyncedChanges();
  // Without the file sync before the rename this would be empty; without the folder sync after
  // it, the old bytes would be back.
  EXPECT_EQ(readText(temp / "f"), "new contents");
  EXPECT_EQ(names(temp.path()), std::vector<std::string>{"f"});
}

TEST_F(FileFaultsTest, AnAtomicWriteSyncsTheFileBeforeRenamingAndTheFolderAfter) {
  ASSERT_TRUE(root().writeAtomic("f", "x").ok());
  EXPECT_EQ(files.calls(FaultOp::sync, ".f.tmp-"), 1);
  EXPECT_EQ(files.calls(FaultOp::rename, "f"), 1);
  EXPECT_EQ(files.calls(FaultOp::sync, temp.path().string()), 2);  // the file, then the folder
}

TEST_F(FileFaultsTest, AFailedWriteSyncOrRenameLeavesTheOldFileAndNoTemporaryFile) {
  for (FaultOp op : {FaultOp::write, FaultOp::sync, FaultOp::rename, FaultOp::open}) {
    writeText(temp / "f", "old");
    files.failNth(op, ".f.tmp-");
    auto written = root().writeAtomic("f", "new");
    EXPECT_FALSE(written.ok()) << static_cast<int>(op);
    EXPECT_EQ(readText(temp / "f"), "old");
    EXPECT_EQ(names(temp.path()), std::vector<std::string>{"f"});
    files.clearFaults();
  }
}

TEST_F(FileFaultsTest, AFolderSyncFailingAfterTheRenameIsReportedAsDoneButUnconfirmed) {
  writeText(temp / "f", "old");
  files.failNth(FaultOp::sync, temp.path().string(), 2);  // the first sync is the temporary file's
  auto written = root().writeAtomic("f", "new");
  ASSERT_TRUE(written.ok()) << written.error().message;
  EXPECT_EQ(*written, Durability::unconfirmed);
  EXPECT_EQ(readText(temp / "f"), "new");
}

TEST_F(FileFaultsTest, AMoveReportsUnconfirmedDurabilityWhenAFolderSyncFails) {
  fs::create_directories(temp / "a" / "item");
  fs::create_directories(temp / "b");
  Dir base = root();
  auto a = base.openDir("a");
  auto b = base.openDir("b");
  ASSERT_TRUE(a.ok() && b.ok());
  files.failNth(FaultOp::sync, (temp / "b").string());
  auto moved = a->rename("item", *b, "item", Replace::refuseExisting);
  ASSERT_TRUE(moved.ok()) << moved.error().message;
  EXPECT_EQ(*moved, Durability::unconfirmed);
  EXPECT_TRUE(fs::is_directory(temp / "b" / "item"));

  // A move that fails moved nothing.
  files.failNth(FaultOp::rename, "item");
  EXPECT_FALSE(b->rename("item", *a, "again", Replace::refuseExisting).ok());
  EXPECT_TRUE(fs::is_directory(temp / "b" / "item"));
  EXPECT_FALSE(fs::exists(temp / "a" / "again"));
}

TEST_F(FileFaultsTest, AListingCutShortIsAnErrorNotAShorterList) {
  writeText(temp / "one", "1");
  files.failNth(FaultOp::list, temp.path().string());
  auto listed = root().list();
  ASSERT_FALSE(listed.ok());
  EXPECT_EQ(listed.error().code, ErrorCode::Io);
  EXPECT_EQ(root().list()->size(), 1u);
}

TEST_F(FileFaultsTest, NewFoldersAndAppendedLinesSurviveACrash) {
  Dir base = root();
  auto created = base.createNewDir("meeting");
  ASSERT_TRUE(created.ok());
  ASSERT_TRUE(created->appendLocked("events.jsonl", "{\"a\":1}\n").ok());
  ASSERT_TRUE(created->writeAtomic("manifest.json", "{}").ok());
  files.dropUnsyncedChanges();
  EXPECT_EQ(readText(temp / "meeting" / "events.jsonl"), "{\"a\":1}\n");
  EXPECT_EQ(readText(temp / "meeting" / "manifest.json"), "{}");
}

TEST_F(FileFaultsTest, AnAppendWhoseSyncFailsIsAnError) {
  files.failNth(FaultOp::sync, "events.jsonl");
  EXPECT_FALSE(root().appendLocked("events.jsonl", "line\n").ok());
}

// The wrapper itself: what it drops is exactly what a crash would.
TEST_F(FileFaultsTest, TheCrashSimulationDropsUnsyncedDataAndUndoesUnsyncedRenames) {
  writeText(temp / "target", "durable");
  Dir base = root();
  int fd = -1;
  ASSERT_EQ(files.openAt(base.fd(), "temp", temp / "temp", O_WRONLY | O_CREAT | O_EXCL, 0644, fd), 0);
  ASSERT_EQ(files.write(fd, temp / "temp", "never synced"), 0);
  ASSERT_EQ(files.close(fd), 0);
  ASSERT_EQ(files.renameAt(base.fd(), "temp", temp / "temp", base.fd(), "target", temp / "target", false), 0);
  EXPECT_EQ(readText(temp / "target"), "never synced");
  files.dropUnsyncedChanges();
  EXPECT_EQ(readText(temp / "target"), "durable");
  EXPECT_EQ(names(temp.path()), std::vector<std::string>{"target"});
}

}  // namespace
}  // namespace korvel::testing
