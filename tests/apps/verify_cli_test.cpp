// `korvel verify` on a real archive: the report, the JSON form, the exit code and the progress bar.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::addMeeting;
using korvel::testing::treeFingerprint;
using korvel::testing::writeText;

using VerifyCliTest = ArchiveCliFixture;

TEST_F(VerifyCliTest, IntactMeetingExitsZeroWithOneLinePerFile) {
  auto session = addMeeting(archive, clock, "Intact", {"first", "second"});
  const auto result = korvel({"verify", session.meeting.id});
  EXPECT_EQ(result.code, kExitOk) << result.err;
  EXPECT_TRUE(result.err.empty());
  EXPECT_NE(result.out.find("verified           segment-0  mic-0.m4a"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("2 of 2 original files verified."), std::string::npos);

  const auto json = korvel({"verify", session.meeting.id, "--json"});
  EXPECT_EQ(json.code, kExitOk);
  auto parsed = parseJson(json.out);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ((*parsed)["allVerified"], true);
  ASSERT_EQ((*parsed)["files"].size(), 2u);
  EXPECT_EQ((*parsed)["files"][1]["file"], "mic-1.m4a");
  EXPECT_EQ((*parsed)["files"][1]["status"], "verified");
}

TEST_F(VerifyCliTest, DamagedOrUnfinishedMeetingsExitOne) {
  auto session = addMeeting(archive, clock, "Damaged", {"first", "second"});
  writeText(session.folder / "mic-1.m4a", "second!");
  const std::string before = treeFingerprint(temp.path());
  const auto json = korvel({"verify", session.meeting.id, "--json"});
  EXPECT_EQ(json.code, kExitFailed);
  EXPECT_EQ(json.err, "Some original files are not exactly what the recorder committed.\n");
  auto parsed = parseJson(json.out);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ((*parsed)["allVerified"], false);
  EXPECT_EQ((*parsed)["files"][0]["status"], "verified");
  EXPECT_EQ((*parsed)["files"][1]["status"], "sizeMismatch");
  EXPECT_EQ((*parsed)["files"][1]["actualBytes"], 7);
  const auto text = korvel({"verify", session.meeting.id});
  EXPECT_NE(text.out.find("(saved 6 bytes, found 7)"), std::string::npos) << text.out;
  EXPECT_EQ(treeFingerprint(temp.path()), before);

  auto recording = addMeeting(archive, clock, "Live", {"x"}, SessionState::recording);
  const auto refused = korvel({"verify", recording.meeting.id});
  EXPECT_EQ(refused.code, kExitFailed);
  EXPECT_EQ(refused.err, "Originals can be verified after recording has finished.\n");
  EXPECT_TRUE(refused.out.empty());

  auto empty = addMeeting(archive, clock, "Nothing", {});
  const auto nothing = korvel({"verify", empty.meeting.id});
  EXPECT_EQ(nothing.code, kExitFailed);
  EXPECT_EQ(nothing.err, "This meeting has no committed media to check.\n");

  EXPECT_EQ(korvel({"verify", "NO-SUCH-MEETING"}).code, kExitFailed);
  EXPECT_EQ(korvel({"verify"}).code, kExitUsage);
}

TEST_F(VerifyCliTest, DrawsAProgressBarOnATerminal) {
  auto session = addMeeting(archive, clock, "Intact", {std::string(3'000'000, 'a')});
  const auto result = korvel({"verify", session.meeting.id}, Terminal::yes);
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.err.find("\r[##############################] 100%  1/1 files"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("mic-0.m4a"), std::string::npos);
  EXPECT_NE(result.out.find("1 of 1 original files verified."), std::string::npos);
}

}  // namespace
}  // namespace korvel::cli
