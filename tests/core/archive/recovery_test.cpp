// Recovery of interrupted sessions, and what a writer killed mid-stream or racing another leaves behind.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "core/archive/archive.h"
#include "platform/crypto.h"
#include "tests/core/archive/archive_test_support.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveSandbox;
using testing::IsOk;
using testing::IsOkAndHolds;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

// Writes media and its record as the capture process does; returns the record's segment.
Segment commit(const fs::path& folder, const std::string& id, double start, const std::string& media) {
  Segment segment{id, "mic", id + ".wav", start, 30, static_cast<int64_t>(media.size()), sha256Hex(media)};
  writeText(folder / segment.file, media);
  writeText(folder / (id + ".segment"), encodeSegmentRecord(segment));
  return segment;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

TEST(RecoveryTest, AddsMatchingSegmentsOnceAndMarksIncomplete) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Crashed", SessionState::recording);
  const Segment good = commit(folder, "s1", 0, "first media");
  Segment wrongSize = commit(folder, "s2", 30, "second media");
  writeText(folder / wrongSize.file, "second media, grown");
  writeText(folder / "s3.wav", "unfinished, no record");
  writeText(folder / "s4.segment", "{\"id\":");
  Segment escaping = commit(folder, "s5", 60, "escaping");
  escaping.file = "../s5.wav";
  writeText(folder / "s5.segment", encodeSegmentRecord(escaping));
  Segment linked = commit(folder, "s6", 90, "linked media");
  fs::rename(folder / linked.file, f.temp / "elsewhere.wav");
  fs::create_symlink(f.temp / "elsewhere.wav", folder / linked.file);
  Segment negative = commit(folder, "s7", 0, "negative");
  negative.start = -1;
  writeText(folder / "s7.segment", negative.toJson().dump());
  const Segment deleted = commit(folder, "s8", 120, "deleted media");
  fs::remove(folder / deleted.file);
  Segment otherTrack = commit(folder, "s9", 150, "camera media");
  otherTrack.sourceID = "camera";
  writeText(folder / "s9.segment", encodeSegmentRecord(otherTrack));
  // A segment the manifest already lists is not added a second time.
  const Segment listed = commit(folder, "s0", 180, "listed media");
  {
    ASSERT_OK_AND_ASSIGN(Meeting meeting, f.archive.read(folder));
    meeting.segments.push_back(listed);
    ASSERT_THAT(f.archive.save(meeting, folder), IsOk());
  }

  ASSERT_OK_AND_ASSIGN(const Meeting recovered, f.archive.recover(folder));
  EXPECT_EQ(recovered.state, SessionState::incomplete);
  EXPECT_EQ(recovered.segments, (std::vector<Segment>{listed, good}));
  EXPECT_EQ(recovered.warnings, std::vector<std::string>{kRecoveryWarning});
  EXPECT_THAT(f.archive.read(folder), IsOkAndHolds(recovered));
  const auto events = lines(readText(folder / "events.jsonl"));
  ASSERT_OK_AND_ASSIGN(const MeetingEvent last, decodeEventLine(events.back()));
  EXPECT_EQ(last.detail, "Unfinished session marked incomplete");
  // Nothing is deleted: the unfinished file and the refused records stay.
  EXPECT_TRUE(fs::exists(folder / "s3.wav"));
  EXPECT_TRUE(fs::exists(folder / "s2.segment"));

  const std::string after = treeFingerprint(f.temp.path());
  EXPECT_THAT(f.archive.recover(folder), IsOkAndHolds(recovered));
  EXPECT_EQ(treeFingerprint(f.temp.path()), after);
}

TEST(RecoveryTest, FinishedMeetingsAreReturnedUntouched) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Done", SessionState::finalized);
  commit(folder, "s1", 0, "media");
  const std::string before = treeFingerprint(f.temp.path());
  ASSERT_OK_AND_ASSIGN(const Meeting returned, f.archive.recover(folder));
  EXPECT_EQ(returned.state, SessionState::finalized);
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

TEST(RecoveryTest, FailedEventBecomesAWarningAndBrokenManifestFails) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Paused", SessionState::paused);
  fs::remove(folder / "events.jsonl");
  fs::create_directory(folder / "events.jsonl");
  ASSERT_OK_AND_ASSIGN(const Meeting recovered, f.archive.recover(folder));
  ASSERT_EQ(recovered.warnings.size(), 2u);
  EXPECT_EQ(recovered.warnings[1].rfind("Cannot save recovery event: ", 0), 0u);

  writeText(folder / "manifest.json", "[]");
  const std::string before = treeFingerprint(f.temp.path());
  EXPECT_EQ(f.archive.recover(folder).error().code, ErrorCode::Corrupt);
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);
}

// Saves the manifest and appends an event forever, telling the parent once it is well under way.
[[noreturn]] void writeForever(const Archive& archive, const fs::path& folder, int signalFd, int signalAfter) {
  auto read = archive.read(folder);
  if (!read) ::_exit(2);
  Meeting meeting = std::move(read).value();
  for (int i = 0;; ++i) {
    meeting.warnings.push_back(std::string(static_cast<size_t>(i % 97) * 11, 'w'));
    if (!archive.save(meeting, folder) || !archive.event("tick", std::string(static_cast<size_t>(i % 89) * 13, 'e'), folder))
      ::_exit(3);
    if (i == signalAfter && ::write(signalFd, "x", 1) != 1) ::_exit(4);
  }
}

TEST(CrashSafetyTest, WriterKilledMidStreamLeavesDecodableFiles) {
  for (int round = 0; round < 3; ++round) {
    ArchiveSandbox f;
    const fs::path folder = f.addMeeting("Live", SessionState::recording);
    const int signalAfter = 10 + round * 23;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      writeForever(f.archive, folder, fds[1], signalAfter);
    }
    ::close(fds[1]);
    char byte;
    ASSERT_EQ(::read(fds[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    ASSERT_OK_AND_ASSIGN(const Meeting survived, f.archive.read(folder));
    EXPECT_EQ(survived.state, SessionState::recording);
    const std::string log = readText(folder / "events.jsonl");
    const auto complete = lines(log.substr(0, log.rfind('\n') + 1));
    // The created event and every tick up to the signal were complete before the kill.
    EXPECT_GE(complete.size(), static_cast<size_t>(signalAfter + 2));
    for (const auto& line : complete) EXPECT_TRUE(decodeEventLine(line).ok()) << line;
    ASSERT_OK_AND_ASSIGN(const Meeting recovered, f.archive.recover(folder));
    EXPECT_EQ(recovered.state, SessionState::incomplete);
    ASSERT_OK_AND_ASSIGN(const Meeting reread, f.archive.read(folder));
    EXPECT_EQ(reread.state, SessionState::incomplete);
  }
}

TEST(CrashSafetyTest, ConcurrentAppendsLoseAndInterleaveNothing) {
  ArchiveSandbox f;
  const fs::path folder = f.addMeeting("Shared");
  constexpr int kWriters = 2;
  constexpr int kLines = 200;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(gate[1]);
      char byte;
      if (::read(gate[0], &byte, 1) != 0) ::_exit(5);  // starts when the parent closes the gate
      const std::string padding(static_cast<size_t>(3000 + writer * 1000), static_cast<char>('a' + writer));
      for (int i = 0; i < kLines; ++i)
        if (!f.archive.event("writer" + std::to_string(writer), std::to_string(i) + padding, folder)) ::_exit(6);
      ::_exit(0);
    }
    children.push_back(child);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> next;
  const auto all = lines(readText(folder / "events.jsonl"));
  ASSERT_EQ(all.size(), 1u + kWriters * kLines);  // with the "created" event
  for (size_t i = 1; i < all.size(); ++i) {
    ASSERT_OK_AND_ASSIGN(const MeetingEvent event, decodeEventLine(all[i]));
    const int sequence = std::stoi(event.detail);
    EXPECT_EQ(sequence, next[event.kind]++) << event.kind;
  }
  for (int writer = 0; writer < kWriters; ++writer) EXPECT_EQ(next["writer" + std::to_string(writer)], kLines);
}

}  // namespace
}  // namespace korvel
