// Committing segments of a recording, and what recovery keeps of a commit cut short.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive/archive.h"
#include "platform/crypto.h"
#include "tests/core/archive/archive_test_support.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveSandbox;
using testing::readText;
using testing::treeFingerprint;
using testing::writeText;

Segment planned(const std::string& id, double start) { return Segment{id, "mic", id + ".wav", start, 30, 0, ""}; }

class SegmentCommitTest : public ::testing::Test {
 protected:
  ArchiveSandbox f;
  fs::path folder = f.addMeeting("Live", SessionState::recording);
  Dir dir = f.archive.openMeetingFolder(folder).value();

  // Commits in a child process that is killed when the commit reaches `step`.
  void commitKilledAt(const Segment& segment, const std::string& media, SegmentCommitStep step) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      (void)Archive::commitSegment(dir, segment, media, [step](SegmentCommitStep reached) {
        if (reached == step) ::kill(::getpid(), SIGKILL);
      });
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
  }
};

TEST_F(SegmentCommitTest, CommittedSegmentsAreListedAndSurviveRecovery) {
  const auto first = Archive::commitSegment(dir, planned("s1", 0), "first media");
  ASSERT_TRUE(first) << first.error().message;
  EXPECT_EQ(first->bytes, 11);
  EXPECT_EQ(first->sha256, sha256Hex("first media"));
  EXPECT_EQ(Archive::hash(folder / "s1.wav").value(), first->sha256);
  EXPECT_EQ(decodeSegmentRecord(readText(folder / "s1.segment")).value(), *first);

  // A paused meeting still takes the segment that was being written.
  Meeting paused = f.archive.read(folder).value();
  paused.state = SessionState::paused;
  ASSERT_TRUE(f.archive.save(paused, folder));
  const auto second = Archive::commitSegment(dir, planned("s2", 30), "second media");
  ASSERT_TRUE(second) << second.error().message;
  EXPECT_EQ(f.archive.read(folder).value().segments, (std::vector<Segment>{*first, *second}));

  const Meeting recovered = f.archive.recover(folder).value();
  EXPECT_EQ(recovered.state, SessionState::incomplete);
  EXPECT_EQ(recovered.segments, (std::vector<Segment>{*first, *second}));
}

TEST_F(SegmentCommitTest, RefusalsWriteNothing) {
  ASSERT_TRUE(Archive::commitSegment(dir, planned("s1", 0), "media"));
  const std::string before = treeFingerprint(f.temp.path());
  auto refusal = [&](Segment segment) {
    auto result = Archive::commitSegment(dir, std::move(segment), "more media");
    return result ? std::string("committed") : result.error().message;
  };
  EXPECT_EQ(refusal(planned("s1", 30)), "A segment with this identifier is already committed.");
  Segment taken = planned("s2", 30);
  taken.file = "s1.wav";
  EXPECT_EQ(refusal(taken), "The segment's media file already exists.");
  Segment foreign = planned("s2", 30);
  foreign.sourceID = "camera";
  EXPECT_EQ(refusal(foreign), "The segment's track is not a source of this meeting.");
  const std::string badName =
      "A segment's identifier and media name must be plain file names inside the meeting folder.";
  for (const std::string name : {"../s2.wav", "a\\b.wav", "..", "s2.segment", "manifest.json", "events.jsonl"}) {
    Segment unsafe = planned("s2", 30);
    unsafe.file = name;
    EXPECT_EQ(refusal(unsafe), badName) << name;
  }
  EXPECT_EQ(refusal(planned("../s2", 30)), badName);
  EXPECT_NE(refusal(planned("s2", -1)), "committed");
  EXPECT_EQ(treeFingerprint(f.temp.path()), before);

  Meeting finished = f.archive.read(folder).value();
  finished.state = SessionState::finalized;
  ASSERT_TRUE(f.archive.save(finished, folder));
  const std::string finishedBefore = treeFingerprint(f.temp.path());
  EXPECT_EQ(refusal(planned("s2", 30)), "Segments can be committed only while the meeting is recording or paused.");
  EXPECT_EQ(treeFingerprint(f.temp.path()), finishedBefore);
}

TEST_F(SegmentCommitTest, RecoveryKeepsACommitCutShortOnlyOnceItsRecordExists) {
  ASSERT_TRUE(Archive::commitSegment(dir, planned("s1", 0), "kept"));
  // Killed after the media: an unfinished file, never listed.
  commitKilledAt(planned("s2", 30), "unfinished", SegmentCommitStep::mediaWritten);
  EXPECT_TRUE(fs::exists(folder / "s2.wav"));
  EXPECT_FALSE(fs::exists(folder / "s2.segment"));
  // Killed after the record: committed, though the manifest does not list it yet.
  commitKilledAt(planned("s3", 60), "recorded", SegmentCommitStep::recordWritten);
  EXPECT_EQ(f.archive.read(folder).value().segments.size(), 1u);
  // A record whose media never arrived.
  writeText(folder / "s4.segment", encodeSegmentRecord(Segment{"s4", "mic", "s4.wav", 90, 30, 5, sha256Hex("lost.")}));

  const Meeting recovered = f.archive.recover(folder).value();
  std::vector<std::string> ids;
  for (const Segment& segment : recovered.segments) ids.push_back(segment.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"s1", "s3"}));
  EXPECT_TRUE(fs::exists(folder / "s2.wav"));  // unfinished files are kept, not listed
}

}  // namespace
}  // namespace korvel
