// `korvel capture simulate`: real generated media, records and events, finished or crashed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "platform/crypto.h"
#include "tests/apps/archive_cli_fixture.h"
#include "tests/apps/korvel_program.h"
#include "tests/support/result_matchers.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;
using korvel::testing::IsOkAndHolds;
using korvel::testing::readText;
using korvel::testing::treeFingerprint;

class CaptureCliTest : public ArchiveCliFixture {
 protected:
  std::vector<MeetingEvent> events(const fs::path& folder) {
    std::vector<MeetingEvent> result;
    std::istringstream in(readText(folder / "events.jsonl"));
    for (std::string line; std::getline(in, line);) result.push_back(korvel::testing::valueOf(decodeEventLine(line)));
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
  ASSERT_OK_AND_ASSIGN(const Json madeJson, parseJson(made.out));
  EXPECT_EQ(madeJson["id"], meeting.id);
  EXPECT_EQ(meeting.state, SessionState::finalized);
  ASSERT_EQ(meeting.segments.size(), 4u);  // two 2-second slots (the last one second) per track
  EXPECT_DOUBLE_EQ(meeting.duration(), 3);
  for (const auto& segment : meeting.segments) {
    EXPECT_THAT(Archive::hash(sessions[0].folder / segment.file), IsOkAndHolds(segment.sha256));
    EXPECT_THAT(decodeSegmentRecord(readText(sessions[0].folder / (segment.id + ".segment"))), IsOkAndHolds(segment));
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
  ASSERT_OK_AND_ASSIGN(const Meeting after, archive.read(sessions[0].folder));
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

TEST_F(CaptureCliTest, AnInterruptedSimulationRemovesItsScratchFolder) {
  // A sox that starts and then takes its time, so that the signal lands while media is made.
  const auto bin = temp.path() / "bin";
  const auto scratch = temp.path() / "tmp";
  fs::create_directories(bin);
  fs::create_directories(scratch);
  const auto marker = temp.path() / "sox-started";
  korvel::testing::writeText(bin / "sox", "#!/bin/sh\ntouch '" + marker.string() + "'\nsleep 30\n");
  ::chmod((bin / "sox").c_str(), 0755);
  const auto errors = temp.path() / "capture-errors.txt";
  const auto pid = startKorvel({"capture", "simulate", "--title", "Stopped"},
                               {"KORVEL_HOME=" + temp.path().string(), "TMPDIR=" + scratch.string(), "TZ=UTC",
                                "PATH=" + bin.string() + ":/usr/bin:/bin"},
                               errors);
  ASSERT_TRUE(pid.has_value()) << korvelProgram();
  EXPECT_TRUE(eventually([&] { return fs::exists(marker); }));
  ::kill(*pid, SIGINT);
  const auto status = waitForExit(*pid);
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 130);
  EXPECT_NE(readText(errors).find("Stopped after 0 segments"), std::string::npos) << readText(errors);
  for (const auto& entry : fs::directory_iterator(scratch)) ADD_FAILURE() << entry.path();
  // The session stays as a crash would leave it, for recover.
  ASSERT_EQ(archive.sessions().size(), 1u);
  EXPECT_EQ(archive.sessions()[0].meeting.state, SessionState::recording);
}

}  // namespace
}  // namespace korvel::cli
