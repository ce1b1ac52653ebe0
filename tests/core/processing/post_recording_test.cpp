// Which tracks a finished meeting transcribes, and requesting processing through the archive.

#include <gtest/gtest.h>

#include "core/processing/post_recording.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using testing::TempDir;
using testing::treeFingerprint;

Segment segment(std::string id, std::string source, double start, double duration) {
  return Segment{id, source, id + ".m4a", start, duration, 100, std::string(64, 'a')};
}

Meeting sampleMeeting(const Clock& clock) {
  Meeting meeting = Meeting::create("Weekly sync", 0,
                                    {{"screen", "Screen", "video"}, {"app", "Meeting audio", "audio"},
                                     {"mic-1", "Built-in", "microphone"}, {"mic-2", "Headset", "microphone"}},
                                    "mic-1", clock, "Europe/Lisbon");
  meeting.state = SessionState::finalized;
  meeting.segments = {segment("s1", "app", 0, 30), segment("s2", "app", 30, 30), segment("s3", "mic-2", 0, 30),
                      segment("s4", "screen", 0, 60)};
  return meeting;
}

TEST(ProcessingPlannerTest, ChoosesTracksByMicrophoneSelection) {
  ManualClock clock;
  Meeting meeting = sampleMeeting(clock);
  EXPECT_EQ(ProcessingPlanner::transcriptionSourceIDs(meeting), (std::vector<std::string>{"app", "mic-1"}));
  meeting.automaticMicrophones = true;
  EXPECT_EQ(ProcessingPlanner::transcriptionSourceIDs(meeting), (std::vector<std::string>{"app", "mic-2"}));

  meeting.recordingOptions = RecordingOptions{true, true, true, false};
  EXPECT_TRUE(ProcessingPlanner::transcriptionSourceIDs(meeting).empty());
  EXPECT_TRUE(PostRecordingProcessing::canRequest(meeting));
  EXPECT_FALSE(PostRecordingProcessing::isEligible(meeting, PostRecordingProcessing::Automatic::on));
  meeting.postRecordingProcessing = PostRecordingProcessingRequest{clock.now(), std::nullopt}.toJson();
  EXPECT_EQ(ProcessingPlanner::transcriptionSourceIDs(meeting), (std::vector<std::string>{"app", "mic-2"}));
  EXPECT_FALSE(PostRecordingProcessing::canRequest(meeting));
  EXPECT_TRUE(PostRecordingProcessing::isEligible(meeting, PostRecordingProcessing::Automatic::off));
}

TEST(ProcessingPlannerTest, ChecksCommittedSegmentsOfATrack) {
  ManualClock clock;
  Meeting meeting = sampleMeeting(clock);
  std::swap(meeting.segments[0], meeting.segments[1]);
  auto app = ProcessingPlanner::segments(meeting, "app");
  ASSERT_TRUE(app) << app.error().message;
  EXPECT_EQ(app->front().id, "s1");
  EXPECT_EQ(ProcessingPlanner::segments(meeting, "screen").error().message, "Unknown audio source");
  EXPECT_EQ(ProcessingPlanner::segments(meeting, "nope").error().message, "Unknown audio source");
  EXPECT_EQ(ProcessingPlanner::segments(meeting, "mic-1").error().message, "Source has no committed audio");

  Meeting overlapping = meeting;
  overlapping.segments.push_back(segment("s5", "app", 59, 5));
  EXPECT_EQ(ProcessingPlanner::segments(overlapping, "app").error().message,
            "Invalid or overlapping committed source segments");
  Meeting touching = meeting;
  touching.segments.push_back(segment("s5", "app", 60 - 0.0000005, 5));
  EXPECT_TRUE(ProcessingPlanner::segments(touching, "app"));
  Meeting empty = meeting;
  empty.segments[0].sha256.clear();
  EXPECT_FALSE(ProcessingPlanner::segments(empty, "app"));

  meeting.state = SessionState::recording;
  EXPECT_EQ(ProcessingPlanner::segments(meeting, "app").error().message, "Processing waits until recording finishes");
}

TEST(ProcessingPlannerTest, FingerprintFollowsSegmentsAndDecodedAudioIsBounded) {
  ManualClock clock;
  Meeting meeting = sampleMeeting(clock);
  ASSERT_OK_AND_ASSIGN(auto segments, ProcessingPlanner::segments(meeting, "app"));
  const std::string before = ProcessingPlanner::fingerprint(segments);
  EXPECT_EQ(before.size(), 64u);
  segments[1].bytes += 1;
  EXPECT_NE(ProcessingPlanner::fingerprint(segments), before);

  EXPECT_TRUE(ProcessingPlanner::acceptsDecodedAudio(646'400, 10));
  EXPECT_FALSE(ProcessingPlanner::acceptsDecodedAudio(646'404, 10));
  EXPECT_FALSE(ProcessingPlanner::acceptsDecodedAudio(6, 10));
  EXPECT_FALSE(ProcessingPlanner::acceptsDecodedAudio(0, 10));
}

class ProcessingRequestTest : public ::testing::Test {
 protected:
  TempDir temp;
  ManualClock clock;
  Archive archive{temp.path() / "Archive", clock, "UTC"};
};

TEST_F(ProcessingRequestTest, StoresTheRequestKeepingOtherManifestMembers) {
  Meeting meeting = sampleMeeting(clock);
  meeting.recordingOptions = RecordingOptions{true, true, true, false};
  auto folder = archive.create(meeting);
  ASSERT_TRUE(folder) << folder.error().message;
  // A member this version does not know must survive the edit.
  const auto manifestPath = *folder / kManifestFileName;
  ASSERT_OK_AND_ASSIGN(Json raw, parseJson(testing::readText(manifestPath)));
  raw["futureMember"] = "kept";
  testing::writeText(manifestPath, encodePretty(raw));

  auto updated = requestPostRecordingProcessing(archive, *folder, meeting.id, clock.now(), std::string("fp"));
  ASSERT_TRUE(updated) << updated.error().message;
  ASSERT_OK_AND_ASSIGN(const Json stored, parseJson(testing::readText(manifestPath)));
  EXPECT_EQ(stored["futureMember"], "kept");
  EXPECT_EQ(stored["postRecordingProcessing"]["summarySettingsFingerprint"], "fp");
  ASSERT_OK_AND_ASSIGN(const Meeting reread, archive.read(*folder));
  EXPECT_EQ(ProcessingPlanner::transcriptionSourceIDs(reread), (std::vector<std::string>{"app", "mic-1"}));
}

TEST_F(ProcessingRequestTest, RefusalsLeaveTheArchiveUntouched) {
  Meeting recording = sampleMeeting(clock);
  recording.state = SessionState::recording;
  ASSERT_OK_AND_ASSIGN(const auto recordingFolder, archive.create(recording));
  Meeting silent = sampleMeeting(clock);
  silent.segments = {segment("v", "screen", 0, 10)};
  ASSERT_OK_AND_ASSIGN(const auto silentFolder, archive.create(silent));
  const std::string before = treeFingerprint(archive.root());

  auto message = [&](const std::filesystem::path& folder, const std::string& id) {
    auto result = requestPostRecordingProcessing(archive, folder, id, clock.now(), std::nullopt);
    return result ? std::string("accepted") : result.error().message;
  };
  EXPECT_EQ(message(recordingFolder, recording.id), "Finish recording before transcribing this meeting.");
  EXPECT_EQ(message(silentFolder, silent.id), "This meeting has no saved audio to transcribe.");
  EXPECT_EQ(message(silentFolder, recording.id),
            "The meeting at this location has changed. Reload it before requesting processing.");
  EXPECT_EQ(message(temp.path() / "elsewhere", silent.id),
            "Choose the meeting's archive folder directly before requesting processing.");
  EXPECT_EQ(message(silentFolder / "..", silent.id),
            "Choose the meeting's archive folder directly before requesting processing.");
  EXPECT_EQ(treeFingerprint(archive.root()), before);
}

}  // namespace
}  // namespace korvel
