// `korvel capture simulate`: real generated media, records and events, finished or crashed.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/crypto.h"
#include "tests/apps/archive_cli_fixture.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::readText;
using korvel::testing::treeFingerprint;

class CaptureCliTest : public ArchiveCliFixture {
 protected:
  std::vector<MeetingEvent> events(const fs::path& folder) {
    std::vector<MeetingEvent> result;
    std::istringstream in(readText(folder / "events.jsonl"));
    for (std::string line; std::getline(in, line);) result.push_back(decodeEventLine(line).value());
    return result;
  }
};

TEST_F(CaptureCliTest, SimulatedMeetingIsFinalizedWithVerifiableSegments) {
  const auto made = korvel({"capture", "simulate", "--title", "Sync", "--seconds", "3", "--sources", "microphone,audio",
                            "--json"});
  ASSERT_EQ(made.code, kExitOk) << made.err;
  const auto sessions = archive.sessions();
  ASSERT_EQ(sessions.size(), 1u);
  const Meeting& meeting = sessions[0].meeting;
  EXPECT_EQ(parseJson(made.out).value()["id"], meeting.id);
  EXPECT_EQ(meeting.state, SessionState::finalized);
  ASSERT_EQ(meeting.segments.size(), 4u);  // two 2-second slots (the last one second) per track
  EXPECT_DOUBLE_EQ(meeting.duration(), 3);
  for (const auto& segment : meeting.segments) {
    EXPECT_EQ(Archive::hash(sessions[0].folder / segment.file).value(), segment.sha256);
    EXPECT_EQ(decodeSegmentRecord(readText(sessions[0].folder / (segment.id + ".segment"))).value(), segment);
  }
  const auto log = events(sessions[0].folder);
  EXPECT_EQ(log.front().kind, "created");
  EXPECT_EQ(log.front().detail, meeting.captureDescription());
  EXPECT_EQ(log.back().kind, "stopped");
}

TEST_F(CaptureCliTest, CrashLeavesASessionForRecovery) {
  const auto crashed = korvel({"capture", "simulate", "--title", "Crash", "--seconds", "6", "--crash-after", "2"});
  ASSERT_EQ(crashed.code, kExitOk) << crashed.err;
  const auto sessions = archive.sessions();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].meeting.state, SessionState::recording);
  // Each segment is listed as it is committed; the one being written at the crash is not.
  EXPECT_EQ(sessions[0].meeting.segments.size(), 2u);
  const auto recovered = korvel({"recover", sessions[0].meeting.id});
  ASSERT_EQ(recovered.code, kExitOk) << recovered.err;
  const Meeting after = archive.read(sessions[0].folder).value();
  EXPECT_EQ(after.state, SessionState::incomplete);
  EXPECT_EQ(after.segments.size(), 2u);
  EXPECT_EQ(events(sessions[0].folder).back().kind, "recovered");
}

TEST_F(CaptureCliTest, BadArgumentsChangeNothing) {
  const std::string before = treeFingerprint(temp.path());
  const auto sources = korvel({"capture", "simulate", "--title", "X", "--sources", "microphone,screen"});
  EXPECT_EQ(sources.code, kExitUsage);
  EXPECT_EQ(sources.err, "Choose sources among microphone, audio and video, separated by commas.\n");
  EXPECT_EQ(korvel({"capture", "simulate", "--title", "X", "--seconds", "0"}).code, kExitUsage);
  const auto title = korvel({"capture", "simulate", "--title", "\t"});
  EXPECT_EQ(title.code, kExitFailed);
  EXPECT_EQ(treeFingerprint(temp.path()), before);
}

}  // namespace
}  // namespace korvel::cli
