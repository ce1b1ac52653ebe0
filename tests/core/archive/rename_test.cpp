// Title rules and renaming: every refusal in order, each leaving every file as it was.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/archive.h"
#include "tests/core/archive/archive_test_support.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
namespace msg = rename_messages;
using testing::ArchiveSandbox;
using testing::FailsWith;
using testing::IsOk;
using testing::IsOkAndHolds;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

// `count` copies of `piece`.
std::string repeated(std::string_view piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

// One user-perceived character each: "e" with one or two combining accents, and an emoji.
const std::string kThreeByteCharacter = "e\u0301";
const std::string kFiveByteCharacter = "e\u0301\u0301";
const std::string kFourByteCharacter = "\U0001F600";

TEST(MeetingTitleTest, TrimsAndRefusesLineBreaksAndControls) {
  EXPECT_THAT(MeetingTitle::validated("  Planning \u3000"), IsOkAndHolds("Planning"));
  for (const std::string& bad : {std::string("   "), std::string(""), std::string("a\tb"), std::string("a\nb"),
                                 std::string("line\u2028break"), std::string("end\n"), std::string("\xff")})
    EXPECT_THAT(MeetingTitle::validated(bad), FailsWith(msg::kInvalidTitle)) << bad;
}

TEST(MeetingTitleTest, CountsCharactersAndBytesAtBothEdges) {
  // 300 characters pass and 301 fail, in ASCII and in multibyte characters well under 1,000 bytes.
  EXPECT_THAT(MeetingTitle::validated(std::string(300, 'a')), IsOk());
  EXPECT_THAT(MeetingTitle::validated(std::string(301, 'a')), FailsWith(msg::kInvalidTitle));
  EXPECT_THAT(MeetingTitle::validated(repeated(kThreeByteCharacter, 300)), IsOk());  // 900 bytes
  EXPECT_THAT(MeetingTitle::validated(repeated(kThreeByteCharacter, 301)), FailsWith(msg::kInvalidTitle));

  // 1,000 bytes pass and 1,001 fail, well under 300 characters.
  const std::string thousandBytes = repeated(kFourByteCharacter, 250);
  EXPECT_THAT(MeetingTitle::validated(thousandBytes), IsOkAndHolds(thousandBytes));
  EXPECT_THAT(MeetingTitle::validated(thousandBytes + "a"), FailsWith(msg::kInvalidTitle));
  EXPECT_THAT(MeetingTitle::validated(repeated(kFourByteCharacter, 300)), FailsWith(msg::kInvalidTitle));

  // Both limits reached at once, then one byte over with the character count unchanged.
  const std::string bothLimits = repeated(kThreeByteCharacter, 200) + repeated(kFourByteCharacter, 100);
  ASSERT_EQ(bothLimits.size(), 1000u);
  EXPECT_THAT(MeetingTitle::validated(bothLimits), IsOk());
  const std::string oneByteOver =
      repeated(kThreeByteCharacter, 200) + repeated(kFourByteCharacter, 99) + kFiveByteCharacter;
  EXPECT_THAT(MeetingTitle::validated(oneByteOver), FailsWith(msg::kInvalidTitle));

  // The limits apply to the trimmed title.
  EXPECT_THAT(MeetingTitle::validated("  " + thousandBytes + "\u3000"), IsOkAndHolds(thousandBytes));
  EXPECT_THAT(MeetingTitle::validated(" " + std::string(300, 'a') + " "), IsOk());
}

class RenameTest : public ::testing::Test {
 protected:
  ArchiveSandbox f;
  fs::path folder = f.addMeeting("Old title");
  std::string id = testing::valueOf(f.archive.read(folder)).id;

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
  ASSERT_OK_AND_ASSIGN(Json document, parseJson(readText(folder / "manifest.json")));
  document["futureMember"] = {{"kept", true}};
  writeText(folder / "manifest.json", encodePretty(document));

  ASSERT_OK_AND_ASSIGN(const Meeting renamed, f.archive.renameMeeting(folder, id, "Old title", "  New title "));
  EXPECT_EQ(renamed.title, "New title");
  EXPECT_EQ(renamed.titleEditedByUser, true);
  ASSERT_OK_AND_ASSIGN(const Json stored, parseJson(readText(folder / "manifest.json")));
  EXPECT_EQ(stored["title"], "New title");
  EXPECT_EQ(stored["titleEditedByUser"], true);
  EXPECT_EQ(stored["futureMember"]["kept"], true);
  EXPECT_THAT(f.archive.read(folder), IsOkAndHolds(renamed));

  const std::string before = treeFingerprint(f.temp.path());
  ASSERT_OK_AND_ASSIGN(const Meeting unchanged, f.archive.renameMeeting(folder, id, "New title", " New title"));
  EXPECT_EQ(unchanged.title, "New title");
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST_F(RenameTest, StoresTheLongestTitleAndRefusesOneByteMore) {
  const std::string longest = repeated(kFourByteCharacter, 250);
  expectRefused(folder, "Old title", longest + "a", msg::kInvalidTitle);
  ASSERT_OK_AND_ASSIGN(const Meeting renamed, f.archive.renameMeeting(folder, id, "Old title", longest));
  EXPECT_EQ(renamed.title, longest);
  EXPECT_THAT(f.archive.read(folder), IsOkAndHolds(renamed));
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
  ASSERT_OK_AND_ASSIGN(Meeting meeting, f.archive.read(folder));
  meeting.state = SessionState::paused;
  ASSERT_TRUE(f.archive.save(meeting, folder).ok());
  expectRefused(folder, "Old title", "New", msg::kStillRecording);
  writeText(folder / "manifest.json", "{\"title\": ");
  expectRefused(folder, "Old title", "New", "The meeting manifest is not valid JSON.");
}

TEST_F(RenameTest, ConcurrentWriterWinsAndNothingIsWritten) {
  std::string other;
  auto result = f.archive.renameMeeting(folder, id, "Old title", "Mine", [&]() -> Status {
    Meeting meeting = TRY(f.archive.read(folder));
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
