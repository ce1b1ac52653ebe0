// `korvel list`, `show`, `rename` and `recover` on a real archive under KORVEL_HOME.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/apps/archive_cli_fixture.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/result_matchers.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::addMeeting;
using korvel::testing::readText;
using korvel::testing::treeFingerprint;
using korvel::testing::writeText;

using ArchiveCliTest = ArchiveCliFixture;

TEST_F(ArchiveCliTest, ListsNewestFirstAndReportsUnreadableManifests) {
  auto older = addMeeting(archive, clock, "Older", {"a"});
  auto newer = addMeeting(archive, clock, "Newer", {"b"}, SessionState::recording);
  writeText(root / "2026/01/01/broken/manifest.json", "{}");

  const auto listed = korvel({"list", "--json"});
  ASSERT_EQ(listed.code, kExitOk);
  ASSERT_OK_AND_ASSIGN(const Json items, parseJson(listed.out));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["id"], newer.meeting.id);
  EXPECT_EQ(items[0]["state"], "recording");
  EXPECT_EQ(items[1]["title"], "Older");
  EXPECT_EQ(items[1]["startedAt"], formatIso8601(older.meeting.startedAt));
  const auto olderFolder = archive.relativePath(older.folder);
  ASSERT_TRUE(olderFolder.has_value());
  EXPECT_EQ(items[1]["folder"], *olderFolder);
  EXPECT_NE(listed.err.find((root / "2026/01/01/broken/manifest.json").string()), std::string::npos);

  const auto text = korvel({"list"});
  EXPECT_EQ(text.code, kExitOk);
  EXPECT_LT(text.out.find("Newer"), text.out.find("Older"));
  // Another archive folder is listed when named.
  fs::create_directory(temp / "Other");
  const auto elsewhere = korvel({"list", "--archive", (temp / "Other").string()});
  EXPECT_EQ(elsewhere.out, "The archive has no meetings.\n");
}

// A mistyped path or a regular file is not an empty archive, for any command that reads one,
// and reading creates nothing.
TEST_F(ArchiveCliTest, AMissingArchiveOrAFileInItsPlaceIsRefused) {
  auto session = addMeeting(archive, clock, "Planning", {"a"});
  const std::string id = session.meeting.id;
  const fs::path missing = temp / "does" / "not" / "exist";
  const fs::path file = temp / "archive.txt";
  writeText(file, "not an archive");
  for (const fs::path& where : {missing, file}) {
    const std::string sentence = "No archive at " + where.string() + ".";
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"list"}, {"list", "--json"}, {"show", id}, {"rename", id, "New"}, {"recover", id},
          {"trash", id}, {"trash", "list"}, {"restore", id}, {"verify", id}, {"transcripts", "list", id},
          {"transcripts", "show", id}, {"catalog", "refresh"}, {"catalog", "rebuild"}, {"search", "plan"},
          {"process", "plan"}, {"process", "request", id}, {"process", "status"}, {"process", "status", id},
          {"process", "retry", id}}) {
      arguments.push_back("--archive");
      arguments.push_back(where.string());
      SCOPED_TRACE(arguments.front() + " " + arguments[1]);
      expectRefusal(arguments, sentence);
    }
  }
  EXPECT_FALSE(fs::exists(temp / "does"));

  // Making meetings is what may create an archive folder.
  const auto created = korvel({"capture", "simulate", "--title", "First", "--seconds", "1", "--segment-seconds", "1",
                               "--archive", missing.string()});
  if (created.code == kExitOk) EXPECT_TRUE(fs::is_directory(missing));
  else EXPECT_NE(created.err.find("sox"), std::string::npos) << created.err;  // no sox on this machine
}

// A refusal the operating system caused keeps its sentence and gives the system's words and
// the path on a second line.
TEST_F(ArchiveCliTest, AnOperatingSystemRefusalAddsItsCauseOnASecondLine) {
  auto session = addMeeting(archive, clock, "Draft", {"a"});
  korvel::testing::FaultFileSystem faults;
  faults.failNth(korvel::testing::FaultOp::rename, "manifest.json", 1, EROFS);
  fileSystem = &faults;
  const auto refused = korvel({"rename", session.meeting.id, "Final"});
  EXPECT_EQ(refused.code, kExitFailed);
  const size_t firstLine = refused.err.find('\n');
  ASSERT_NE(firstLine, std::string::npos);
  EXPECT_EQ(refused.err.substr(0, firstLine), "The meeting manifest could not be saved.");
  const std::string cause = refused.err.substr(firstLine + 1);
  EXPECT_NE(cause.find("Read-only file system"), std::string::npos) << cause;
  EXPECT_NE(cause.find((session.folder / "manifest.json").string()), std::string::npos) << cause;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 2);
  fileSystem = nullptr;
  ASSERT_OK_AND_ASSIGN(const Meeting stored, archive.read(session.folder));
  EXPECT_EQ(stored.title, "Draft");
}

TEST_F(ArchiveCliTest, ShowsOneMeeting) {
  auto session = addMeeting(archive, clock, "Planning", {"abc", "de"});
  const auto shown = korvel({"show", session.meeting.id, "--json"});
  ASSERT_EQ(shown.code, kExitOk) << shown.err;
  ASSERT_OK_AND_ASSIGN(const Json json, parseJson(shown.out));
  EXPECT_EQ(json["segments"].size(), 2u);
  const auto relativeFolder = archive.relativePath(session.folder);
  ASSERT_TRUE(relativeFolder.has_value());
  EXPECT_EQ(json["folder"], *relativeFolder);
  const auto text = korvel({"show", session.meeting.id});
  EXPECT_NE(text.out.find("Title:    Planning"), std::string::npos);
  expectRefusal({"show", "NOPE"}, "No meeting with this identifier is in the archive.");
}

TEST_F(ArchiveCliTest, RenamesWithTheTitleJustReadOrTheExpectedOne) {
  auto session = addMeeting(archive, clock, "Draft", {"a"});
  const std::string id = session.meeting.id;
  const auto renamed = korvel({"rename", id, "  Final  "});
  ASSERT_EQ(renamed.code, kExitOk) << renamed.err;
  ASSERT_OK_AND_ASSIGN(const Meeting stored, archive.read(session.folder));
  EXPECT_EQ(stored.title, "Final");

  expectRefusal({"rename", id, "Other", "--expected-title", "Draft"},
                "The meeting title has changed. Reload it before renaming.");
  expectRefusal({"rename", id, "two\nlines"},
                "Use a meeting title of 1–300 characters (at most 1,000 bytes), without line breaks or control "
                "characters.");
  auto live = addMeeting(archive, clock, "Live", {"a"}, SessionState::recording);
  expectRefusal({"rename", live.meeting.id, "New"}, "Finish recording before renaming this meeting.");
  const auto json = korvel({"rename", id, "Final v2", "--expected-title", "Final", "--json"});
  ASSERT_EQ(json.code, kExitOk);
  ASSERT_OK_AND_ASSIGN(const Json renamedJson, parseJson(json.out));
  EXPECT_EQ(renamedJson["title"], "Final v2");
  EXPECT_EQ(korvel({"rename", id}).code, kExitUsage);
}

TEST_F(ArchiveCliTest, RecoversAnInterruptedSession) {
  auto session = addMeeting(archive, clock, "Crashed", {}, SessionState::recording);
  Segment segment{"s1", "mic", "s1.wav", 0, 2, 5, sha256Hex("media")};
  writeText(session.folder / "s1.wav", "media");
  writeText(session.folder / "s1.segment", encodeSegmentRecord(segment));

  const auto recovered = korvel({"recover", session.meeting.id, "--json"});
  ASSERT_EQ(recovered.code, kExitOk) << recovered.err;
  ASSERT_OK_AND_ASSIGN(const Json json, parseJson(recovered.out));
  EXPECT_EQ(json["state"], "incomplete");
  EXPECT_EQ(json["segmentCount"], 1);
  const std::string before = treeFingerprint(temp.path());
  const auto again = korvel({"recover", session.meeting.id});
  EXPECT_EQ(again.out, "The meeting is already incomplete; nothing to recover.\n");
  EXPECT_EQ(treeFingerprint(temp.path()), before);
}

}  // namespace
}  // namespace korvel::cli
