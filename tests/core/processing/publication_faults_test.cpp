// A worker whose publication the disk fails: the job is retried, never half-published.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/processing/planner.h"
#include "core/processing/transcription_worker.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_dir.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

class OneLineEngine final : public TranscriptionEngine {
 public:
  Result<std::string> transcribe(const EngineInput&) override {
    return std::string(R"({"result":{"language":"en"},"transcription":[{"offsets":{"from":0,"to":1000},"text":"Budget review"}]})");
  }
};

TEST(PublicationFaultsTest, AFailedMoveRetriesTheJobAndPublishesOneRevisionLater) {
  TempDir temp;
  ManualClock clock;
  FaultFileSystem files;
  Archive archive{temp / "Archive", clock, "UTC", files};
  auto catalog = Catalog::open(temp / "catalog.sqlite", files);
  ASSERT_TRUE(catalog.ok()) << catalog.error().message;

  Meeting meeting = Meeting::create("Budget", 0, {{"mic", "Mic", "microphone"}}, std::string("mic"), clock, "UTC");
  auto folder = archive.create(meeting);
  ASSERT_TRUE(folder.ok()) << folder.error().message;
  writeText(*folder / "mic-0.wav", "RIFFmedia");
  auto hash = Archive::hash(*folder / "mic-0.wav");
  ASSERT_TRUE(hash.ok());
  meeting.segments.push_back(Segment{"mic-0", "mic", "mic-0.wav", 0, 2, 9, *hash});
  meeting.state = SessionState::finalized;
  ASSERT_TRUE(archive.save(meeting, *folder).ok());
  auto dir = archive.openMeetingFolder(*folder);
  ASSERT_TRUE(dir.ok());
  ASSERT_EQ(ProcessingPlanner::enqueue(meeting, *dir, {"small", "fingerprint", "en"}, **catalog, clock, {}).size(), 1u);

  OneLineEngine engine;
  TranscriptionWorker worker(**catalog, archive, clock);
  files.failNth(FaultOp::rename, ".staging-");
  auto failed = worker.runNext(engine);
  ASSERT_TRUE(failed.ok() && failed->has_value());
  EXPECT_EQ((*failed)->result, TranscriptionJobOutcome::Result::failed);
  EXPECT_FALSE(fs::exists(*folder / TranscriptArtifacts::kFolderName) &&
               !fs::is_empty(*folder / TranscriptArtifacts::kFolderName));
  auto jobs = (*catalog)->processingJobs();
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs->size(), 1u);
  EXPECT_EQ(jobs->front().state, ProcessingJobState::queued);

  clock.advance(3600);
  auto published = worker.runNext(engine);
  ASSERT_TRUE(published.ok() && published->has_value());
  EXPECT_EQ((*published)->result, TranscriptionJobOutcome::Result::published) << (*published)->detail;
  size_t revisions = 0;
  for (const auto& entry : fs::directory_iterator(*folder / TranscriptArtifacts::kFolderName))
    revisions += entry.path().filename().string().starts_with('.') ? 0 : 1;
  EXPECT_EQ(revisions, 1u);
}

}  // namespace
}  // namespace korvel::testing
