// The status file on disk: round trips, the size cap both ways, every refused file, atomicity.

#include "widgets/snapshot_storage.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace korvel::widgets {
namespace {

using korvel::testing::readText;
using korvel::testing::TempDir;
using korvel::testing::writeText;

const Date kNow = Date::fromUnix(1772633700);

RecorderWidgetSnapshot sample(WidgetRecorderState state = WidgetRecorderState::recording, double elapsed = 125) {
  return RecorderWidgetSnapshot::make(
      kNow, state, elapsed, "Weekly sync",
      {WidgetMeeting::make("m-1", "Planning", kNow.adding(-86400), 1800, std::string_view("Transcribing"))},
      TitleVisibility::shown);
}

// A valid file padded with trailing spaces to exactly `size` bytes.
std::string paddedFile(size_t size) {
  std::string text = encodeCompact(sample().toJson());
  text.append(size - text.size(), ' ');
  return text;
}

class WidgetSnapshotStorageTest : public ::testing::Test {
 protected:
  TempDir temp;
  std::filesystem::path container = temp / "group" / "container";
  WidgetSnapshotStorage storage = WidgetSnapshotStorage::inContainer(container);

  void expectRefused(const std::string& contents, const std::string& reason) {
    std::filesystem::create_directories(container);
    writeText(storage.fileURL, contents);
    EXPECT_EQ(storage.read(), RecorderWidgetSnapshot::unavailable()) << reason;
    auto explained = storage.readExplained();
    ASSERT_FALSE(explained) << reason;
    EXPECT_EQ(explained.error().message, reason);
    EXPECT_EQ(readText(storage.fileURL), contents);  // nothing repaired or deleted
  }
};

TEST_F(WidgetSnapshotStorageTest, WritesCompactJsonAndReadsItBack) {
  ASSERT_TRUE(storage.write(sample()));  // creates the missing folders
  EXPECT_EQ(storage.fileURL.filename(), "recorder-status.json");
  const std::string text = readText(storage.fileURL);
  EXPECT_EQ(text, encodeCompact(sample().toJson()));
  EXPECT_NE(text.find("\"updatedAt\":794326500"), std::string::npos);
  EXPECT_EQ(storage.read(), sample());

  ASSERT_TRUE(storage.write(sample(WidgetRecorderState::idle, 0)));
  EXPECT_EQ(storage.read(), sample(WidgetRecorderState::idle, 0));
}

TEST_F(WidgetSnapshotStorageTest, SharedStorageIsTheContainersFile) {
  PlatformFolders folders;
  EXPECT_EQ(WidgetSnapshotStorage::shared(folders), std::nullopt);
  folders.sharedContainer = container;
  const auto shared = WidgetSnapshotStorage::shared(folders);
  ASSERT_TRUE(shared.has_value());
  EXPECT_EQ(shared->fileURL, container / "recorder-status.json");
}

TEST_F(WidgetSnapshotStorageTest, OversizeSnapshotIsRefusedAndThePreviousFileStays) {
  ASSERT_TRUE(storage.write(sample()));
  const std::string before = readText(storage.fileURL);
  auto huge = sample();
  huge.title = std::string(40000, 'x');  // past the constructor, as a buggy publisher might
  auto written = storage.write(huge);
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().message.find("isn't enough space"), std::string::npos);
  EXPECT_EQ(readText(storage.fileURL), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(container), {}), 1);
}

TEST_F(WidgetSnapshotStorageTest, ReadsAFileOfExactlyTheCapAndRefusesOneByteMore) {
  std::filesystem::create_directories(container);
  writeText(storage.fileURL, paddedFile(32768));
  EXPECT_EQ(storage.read(), sample());
  expectRefused(paddedFile(32769), "The status file is larger than 32768 bytes.");
}

TEST_F(WidgetSnapshotStorageTest, RefusesEveryBrokenFileAsUnavailable) {
  Json json = sample().toJson();
  expectRefused("{\"version\":1,", "The status file is not valid JSON.");
  Json starting = json;
  starting["state"] = "starting";
  expectRefused(encodeCompact(starting), "The status file is malformed.");
  Json missing = json;
  missing.erase("showTitles");
  expectRefused(encodeCompact(missing), "The status file is malformed.");
  for (int version : {0, 2}) {
    Json other = json;
    other["version"] = version;
    expectRefused(encodeCompact(other),
                  "The status file has version " + std::to_string(version) + ", which this widget does not read.");
  }
  Json nine = json;
  for (int i = 0; i < 8; ++i) nine["meetings"].push_back(json["meetings"][0]);
  expectRefused(encodeCompact(nine), "The status file lists more than 8 recent meetings.");
  std::string infinite = encodeCompact(json);
  const size_t at = infinite.find("\"elapsedSeconds\":125");
  ASSERT_NE(at, std::string::npos);
  infinite.replace(at, 20, "\"elapsedSeconds\":1e999");
  // A number too large for a double is how a non-finite elapsed time can reach the file.
  expectRefused(infinite, "The status file is not valid JSON.");
}

TEST_F(WidgetSnapshotStorageTest, MissingFileIsUnavailable) {
  EXPECT_EQ(storage.read(), RecorderWidgetSnapshot::unavailable());
  std::filesystem::create_directories(container);
  EXPECT_EQ(storage.readExplained().error().code, ErrorCode::NotFound);
}

TEST_F(WidgetSnapshotStorageTest, SymbolicLinkInPlaceOfTheFileIsNeverFollowed) {
  const auto elsewhere = temp / "elsewhere.json";
  writeText(elsewhere, encodeCompact(sample().toJson()));
  std::filesystem::create_directories(container);
  std::filesystem::create_symlink(elsewhere, storage.fileURL);
  EXPECT_EQ(storage.read(), RecorderWidgetSnapshot::unavailable());
  EXPECT_EQ(storage.readExplained().error().message, "The status file is a symbolic link, which Korvel never follows.");

  auto written = storage.write(sample(WidgetRecorderState::idle, 0));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message, "The status file is a symbolic link, so Korvel will not replace it.");
  EXPECT_TRUE(std::filesystem::is_symlink(storage.fileURL));
  EXPECT_EQ(readText(elsewhere), encodeCompact(sample().toJson()));
}

TEST_F(WidgetSnapshotStorageTest, AFolderInPlaceOfTheFileIsUnavailable) {
  std::filesystem::create_directories(storage.fileURL);
  EXPECT_EQ(storage.readExplained().error().message, "The status file is not a regular file.");
}

// A publisher killed at any point leaves either the old or the new file, never part of one.
TEST_F(WidgetSnapshotStorageTest, ReadersNeverSeeAPartialFileWhileAWriterIsKilled) {
  const auto first = sample(WidgetRecorderState::recording, 1);
  const auto second = sample(WidgetRecorderState::paused, 2);
  ASSERT_TRUE(storage.write(first));
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    for (long i = 0;; ++i) (void)storage.write(i % 2 ? first : second);
  }
  for (int i = 0; i < 300; ++i) {
    const auto read = storage.read();
    ASSERT_TRUE(read == first || read == second) << "read " << i << " saw an incomplete file";
  }
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  const auto last = storage.read();
  EXPECT_TRUE(last == first || last == second);
}

}  // namespace
}  // namespace korvel::widgets
