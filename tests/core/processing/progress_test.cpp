// A meeting's processing progress from the job table, and what is offered for the meeting.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/processing/post_recording.h"
#include "core/processing/progress.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace processing = PostRecordingProcessing;
using processing::Setting;

ProcessingJob job(std::string id, std::string meetingID, ProcessingKind kind, ProcessingJobState state,
                  std::optional<std::string> lastError = std::nullopt) {
  ProcessingJob result;
  result.id = std::move(id);
  result.request.kind = kind;
  result.request.meetingID = std::move(meetingID);
  result.state = state;
  result.lastError = std::move(lastError);
  return result;
}

Meeting finishedMeeting() {
  ManualClock clock;
  Meeting meeting = Meeting::create("Planning", 0, {{"mic", "Built-in", "microphone"}}, std::string("mic"), clock, "UTC");
  meeting.id = "M1";
  meeting.state = SessionState::finalized;
  meeting.segments = {Segment{"s1", "mic", "s1.wav", 0, 30, 100, std::string(64, 'a')}};
  return meeting;
}

TranscriptDocument transcriptOf(const std::string& meetingID) {
  TranscriptDocument document;
  document.id = "rev-1";
  document.meetingID = meetingID;
  document.sourceID = "mic";
  return document;
}

TEST(ProcessingProgressTest, RunningBeatsFailedBeatsQueuedAndOtherMeetingsDoNotCount) {
  using S = ProcessingJobState;
  using K = ProcessingKind;
  std::vector<ProcessingJob> jobs = {job("a", "M1", K::summary, S::queued), job("b", "M1", K::transcription, S::queued),
                                     job("c", "M1", K::diarization, S::succeeded),
                                     job("x", "M2", K::sentiment, S::running)};
  EXPECT_EQ(processing::progress(jobs, "M1"), processing::Progress(processing::Queued{K::summary}));
  EXPECT_EQ(processing::progress(jobs, "M3"), processing::Progress(processing::Idle{}));

  jobs.push_back(job("d", "M1", K::transcription, S::failed, "Engine crashed"));
  jobs.push_back(job("e", "M1", K::summary, S::failed));
  EXPECT_EQ(processing::progress(jobs, "M1"),
            processing::Progress(processing::Failed{"Engine crashed", {"d", "e"}}));

  jobs.push_back(job("f", "M1", K::diarization, S::running));
  jobs.push_back(job("g", "M1", K::summary, S::running));
  EXPECT_EQ(processing::progress(jobs, "M1"), processing::Progress(processing::Running{K::diarization}));
  EXPECT_EQ(processing::toJson(processing::progress(jobs, "M1")), (Json{{"case", "running"}, {"kind", "diarization"}}));

  for (auto& each : jobs) each.state = S::succeeded;
  EXPECT_EQ(processing::progress(jobs, "M1"), processing::Progress(processing::Idle{}));
}

TEST(ProcessingOfferTest, JobsInTheQueueComeFirstThenWhatIsMissing) {
  const Meeting meeting = finishedMeeting();
  const std::vector<TranscriptDocument> none;
  const std::vector<TranscriptDocument> transcribed = {transcriptOf("M1")};
  const std::vector<ProcessingJob> noJobs;
  auto offer = [&](const std::vector<TranscriptDocument>& transcripts, bool hasSummary,
                   const std::vector<ProcessingJob>& jobs, Setting processingSetting = Setting::on,
                   Setting summaries = Setting::on) {
    return processing::offer(meeting, transcripts, hasSummary, jobs, processingSetting, summaries);
  };
  using processing::Offer;
  namespace offers = processing::offers;

  const std::vector<ProcessingJob> queued = {job("a", "M1", ProcessingKind::transcription, ProcessingJobState::queued)};
  EXPECT_EQ(offer(none, false, queued), Offer(offers::InProgress{processing::Queued{ProcessingKind::transcription}}));
  // Jobs already in the queue are shown even when processing has since been switched off.
  EXPECT_EQ(offer(none, false, queued, Setting::off), offer(none, false, queued));
  const std::vector<ProcessingJob> failed = {job("a", "M1", ProcessingKind::summary, ProcessingJobState::failed)};
  EXPECT_EQ(offer(transcribed, false, failed), Offer(offers::Failed{{"a"}}));

  EXPECT_EQ(offer(none, false, noJobs), Offer(offers::Request{true, false}));
  EXPECT_EQ(offer(none, false, noJobs, Setting::on, Setting::off), Offer(offers::Request{false, false}));
  EXPECT_EQ(offer(transcribed, false, noJobs), Offer(offers::Request{true, true}));
  EXPECT_EQ(offer(transcribed, false, noJobs, Setting::on, Setting::off), Offer(offers::SummariesOff{}));
  EXPECT_EQ(offer(transcribed, true, noJobs), std::nullopt);
  EXPECT_EQ(offer(none, false, noJobs, Setting::off), std::nullopt);
  // Another meeting's transcript is not this meeting's.
  EXPECT_EQ(offer({transcriptOf("M2")}, false, noJobs), Offer(offers::Request{true, false}));
  EXPECT_EQ(processing::toJson(*offer(transcribed, false, noJobs)),
            (Json{{"case", "request"}, {"includesSummary", true}, {"hasTranscript", true}}));

  Meeting silent = meeting;
  silent.segments.clear();
  EXPECT_EQ(processing::offer(silent, none, false, noJobs, Setting::on, Setting::on), std::nullopt);
  Meeting live = meeting;
  live.state = SessionState::paused;
  EXPECT_EQ(processing::offer(live, none, false, queued, Setting::on, Setting::on), std::nullopt);
}

TEST(ProcessingOfferTest, OnlyASummaryOfThisMeetingCounts) {
  testing::TempDir temp;
  const Dir folder = *Dir::openRoot(FileSystem::posix(), temp.path());
  EXPECT_FALSE(processing::hasSummaryRevision(folder, "M1"));
  std::filesystem::create_directories(temp / "summaries" / "sum-1");
  testing::writeText(temp / "summaries" / "sum-1" / "summary.json",
                     R"({"schemaVersion": 1, "id": "sum-1", "meetingID": "M2"})");
  EXPECT_FALSE(processing::hasSummaryRevision(folder, "M1"));
  std::filesystem::create_directories(temp / "summaries" / ".staging-X");
  testing::writeText(temp / "summaries" / ".staging-X" / "summary.json",
                     R"({"schemaVersion": 1, "id": ".staging-X", "meetingID": "M1"})");
  EXPECT_FALSE(processing::hasSummaryRevision(folder, "M1"));
  std::filesystem::create_directories(temp / "summaries" / "sum-2");
  testing::writeText(temp / "summaries" / "sum-2" / "summary.json",
                     R"({"schemaVersion": 1, "id": "sum-2", "meetingID": "M1"})");
  EXPECT_TRUE(processing::hasSummaryRevision(folder, "M1"));
}

}  // namespace
}  // namespace korvel
