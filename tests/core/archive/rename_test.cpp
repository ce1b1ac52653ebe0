// Title rules and renaming: every refusal in order, each leaving every file as it was.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/archive.h"
#include "tests/core/archive/archive_test_support.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
namespace msg = rename_messages;
using testing::ArchiveSandbox;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

TEST(MeetingTitleTest, TrimsAndEnforcesLimits) {
  EXPECT_EQ(MeetingTitle::validated("  Planning \u3000").value(), "Planning");
  EXPECT_TRUE(MeetingTitle::validated(std::string(300, 'a')).ok());
  for (const std::string& bad : {std::string(301, 'a'), std::string("   "), std::string("a\tb"), std::string("a\nb"),
                                 std::string("line\u2028break"), std::string("end\n"), std::string("\xff")})
    EXPECT_EQ(MeetingTitle::validated(bad).error().message, msg::kInvalidTitle) << bad;
  std::string emoji;
  for (int i = 0; i < 300; ++i) emoji += "\U0001F600";  // 300 characters, 1200 bytes
  EXPECT_EQ(MeetingTitle::validated(emoji).error().message, msg::kInvalidTitle);
}

class RenameTest : public ::testing::Test {
 protected:
  ArchiveSandbox f;
  fs::path folder = f.addMeeting("Old title");
  std::string id = f.archive.read(folder).value().id;

  // The rename is refused with `message` and nothing under the temporary folder changes.
  void expectRefused(const fs::path& target, const std::string& expected, std::string_view title,
                     const std::string& message, const std::string& meetingID = "") {
    const std::string before = treeFingerprint(f.temp.path());
    auto result = f.archive.renameMeeting(target, meetingID.empty() ? id : meetingID, expected, title);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(treeFingerprint(f.temp.path()), before);
  }
};

TEST_F(RenameTest, RenamesKeepingUnknownMembers) {
  Json document = parseJson(readText(folder / "manifest.json")).value();
  document["futureMember"] = {{"kept", true}};
  writeText(folder / "manifest.json", encodePretty(document));

  const Meeting renamed = f.archive.renameMeeting(folder, id, "Old title", "  New title ").value();
  EXPECT_EQ(renamed.title, "New title");
  EXPECT_EQ(renamed.titleEditedByUser, true);
  const Json stored = parseJson(readText(folder / "manifest.json")).value();
  EXPECT_EQ(stored["title"], "New title");
  EXPECT_EQ(stored["titleEditedByUser"], true);
  EXPECT_EQ(stored["futureMember"]["kept"], true);
  EXPECT_EQ(f.archive.read(folder).value(), renamed);

  const std::string before = treeFingerprint(f.temp.path());
  EXPECT_EQ(f.archive.renameMeeting(folder, id, "New title", " New title").value().title, "New title");
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST_F(RenameTest, RefusesInTheOrderChecked) {
  expectRefused(folder, "Old title", "bad\ttitle", msg::kInvalidTitle);
  expectRefused(folder / ".." / folder.filename(), "Old title", "New", msg::kDotComponent);
  expectRefused(f.temp / "elsewhere", "Old title", "New", msg::kOutsideArchive);
  expectRefused(f.temp / "Archive", "Old title", "New", msg::kOutsideArchive);
  fs::create_directories(f.temp / "Archive/.trash/E");
  fs::copy(folder, f.temp / "Archive/.trash/E", fs::copy_options::recursive);
  expectRefused(f.temp / "Archive/.trash/E", "Old title", "New", msg::kOutsideArchive);
  expectRefused(folder, "Old title", "New", msg::kOtherMeeting, "SOMEONE-ELSE");
  expectRefused(folder, "What I saw", "New", msg::kTitleChanged);
}

TEST_F(RenameTest, RefusesLinksOnTheWayAndLinkedManifests) {
  const fs::path real = f.temp / "real";
  fs::copy(folder, real, fs::copy_options::recursive);
  fs::create_directory_symlink(real, folder.parent_path() / "linked");
  expectRefused(folder.parent_path() / "linked", "Old title", "New", msg::kSymbolicLink);
  fs::create_directory_symlink(folder.parent_path(), f.temp / "Archive/2026/03/09");
  expectRefused(f.temp / "Archive/2026/03/09" / folder.filename(), "Old title", "New", msg::kSymbolicLink);

  fs::rename(folder / "manifest.json", f.temp / "manifest.json");
  fs::create_symlink(f.temp / "manifest.json", folder / "manifest.json");
  expectRefused(folder, "Old title", "New", msg::kManifestNotRegular);
  fs::remove(folder / "manifest.json");
  expectRefused(folder, "Old title", "New", msg::kManifestNotRegular);
}

TEST_F(RenameTest, RefusesActiveMeetingsAndBrokenManifests) {
  Meeting meeting = f.archive.read(folder).value();
  meeting.state = SessionState::paused;
  ASSERT_TRUE(f.archive.save(meeting, folder).ok());
  expectRefused(folder, "Old title", "New", msg::kStillRecording);
  writeText(folder / "manifest.json", "{\"title\": ");
  expectRefused(folder, "Old title", "New", "The meeting manifest is not valid JSON.");
}

TEST_F(RenameTest, ConcurrentWriterWinsAndNothingIsWritten) {
  std::string other;
  auto result = f.archive.renameMeeting(folder, id, "Old title", "Mine", [&]() -> Status {
    Meeting meeting = f.archive.read(folder).value();
    meeting.warnings.push_back("written by the recorder");
    if (!f.archive.save(meeting, folder)) return makeError(ErrorCode::Io, "save failed");
    other = readText(folder / "manifest.json");
    return okStatus();
  });
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, msg::kChangedWhileSaving);
  EXPECT_EQ(readText(folder / "manifest.json"), other);

  const std::string before = treeFingerprint(f.temp.path());
  auto cancelled = f.archive.renameMeeting(folder, id, "Old title", "Mine",
                                           [] { return Status(makeError(ErrorCode::Cancelled, "Cancelled.")); });
  EXPECT_EQ(cancelled.error().code, ErrorCode::Cancelled);
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

}  // namespace
}  // namespace korvel
