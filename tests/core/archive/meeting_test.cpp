// Manifest and capture records: encodings, derived values, normalisation and what decoding refuses.

#include "core/archive/meeting.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/crypto.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using testing::IsOkAndHolds;

Json manifestJson() {
  return testing::valueOf(parseJson(
      R"({"schemaVersion":1,"id":"M1","title":"Standup","startedAt":"2026-03-04T14:15:00Z",
    "timezone":"Europe/Lisbon","hostStart":12.5,"state":"finalized",
    "sources":[{"id":"mic","name":"Mic","kind":"microphone"},{"id":"cam","name":"Window","kind":"video"}],
    "segments":[{"id":"s1","sourceID":"mic","file":"a.m4a","start":0,"duration":30,"bytes":10,
                 "sha256":"0000000000000000000000000000000000000000000000000000000000000000"},
                {"id":"s2","sourceID":"mic","file":"b.m4a","start":30,"duration":29.5,"bytes":10,
                 "sha256":"0000000000000000000000000000000000000000000000000000000000000000"}],
    "warnings":[]})"));
}

TEST(MeetingTest, NewMeetingEncodesWithoutOptionalKeys) {
  ManualClock clock(Date::fromUnix(1772633700.75));
  const Meeting meeting = Meeting::create("Standup", 5, {{"mic", "Mic", "microphone"}}, std::nullopt, clock, "UTC");
  EXPECT_TRUE(isUuidString(meeting.id));
  EXPECT_EQ(meeting.id.find_first_of("abcdef"), std::string::npos);
  const Json json = meeting.toJson();
  EXPECT_EQ(json["schemaVersion"], 1);
  EXPECT_EQ(json["state"], "recording");
  EXPECT_EQ(json["startedAt"], "2026-03-04T14:15:00Z");
  EXPECT_TRUE(json["segments"].empty());
  EXPECT_TRUE(json["warnings"].empty());
  for (const char* key : {"primaryMic", "automaticMicrophones", "detection", "calendarEvent", "calendarLinkReviewed",
                          "titleEditedByUser", "recordingOptions", "postRecordingProcessing", "quality"})
    EXPECT_FALSE(json.contains(key)) << key;
  EXPECT_THAT(decodeManifest(encodeManifest(meeting)), IsOkAndHolds(meeting));
}

TEST(MeetingTest, DurationAndEffectiveOptions) {
  ASSERT_OK_AND_ASSIGN(Meeting meeting, Meeting::fromJson(manifestJson()));
  EXPECT_DOUBLE_EQ(meeting.duration(), 59.5);
  const RecordingOptions derived = meeting.effectiveRecordingOptions();
  EXPECT_TRUE(derived.video);
  EXPECT_TRUE(derived.microphone);
  EXPECT_FALSE(derived.applicationAudio);
  EXPECT_TRUE(derived.transcription);
  meeting.segments.clear();
  EXPECT_EQ(meeting.duration(), 0);
  meeting.recordingOptions = RecordingOptions{false, true, false, false};
  EXPECT_EQ(meeting.effectiveRecordingOptions(), *meeting.recordingOptions);
}

TEST(MeetingTest, UnknownMembersOfOtherSubsystemsRoundTrip) {
  Json json = manifestJson();
  json["detection"] = {{"confidence", 0.9}};
  json["calendarEvent"] = {{"id", "e1"}};
  ASSERT_OK_AND_ASSIGN(const Meeting meeting, Meeting::fromJson(json));
  EXPECT_EQ(meeting.toJson(), json);
}

TEST(MeetingTest, DecodingRefusesBrokenManifests) {
  const auto refuses = [](const std::function<void(Json&)>& change) {
    Json json = manifestJson();
    change(json);
    auto decoded = Meeting::fromJson(json);
    EXPECT_FALSE(decoded.ok()) << json.dump();
    if (!decoded) {
      EXPECT_EQ(decoded.error().code, ErrorCode::Corrupt);
    }
  };
  refuses([](Json& j) { j.erase("title"); });
  refuses([](Json& j) { j.erase("warnings"); });
  refuses([](Json& j) { j["startedAt"] = "2026-03-04T14:15:00.250Z"; });
  refuses([](Json& j) { j["startedAt"] = 794326500; });
  refuses([](Json& j) { j["state"] = "stopped"; });
  refuses([](Json& j) { j["schemaVersion"] = 2; });
  refuses([](Json& j) { j["segments"][0]["sha256"] = "ABC"; });
  refuses([](Json& j) { j["segments"][0]["duration"] = 0; });
  refuses([](Json& j) { j["segments"][0]["start"] = -1; });
  refuses([](Json& j) { j["segments"][0]["start"] = 315576000; });
  refuses([](Json& j) { j["segments"][0]["bytes"] = -1; });
  refuses([](Json& j) { j["segments"][1]["id"] = "s1"; });
  refuses([](Json& j) { j["segments"][1]["sourceID"] = "nobody"; });
  refuses([](Json& j) { j["quality"] = {{"recordsVideo", true}, {"resolution", "p480"}, {"frameRate", 15}, {"videoBitrate", 1}}; });
  EXPECT_EQ(decodeManifest("{not json").error().message, "The meeting manifest is not valid JSON.");
  Json future = manifestJson();
  future["schemaVersion"] = 2;
  EXPECT_EQ(Meeting::fromJson(future).error().message,
            "The meeting manifest has format version 2, which this version of Korvel cannot read.");
}

TEST(RecordingQualityTest, NormalisesAndLabels) {
  const auto quality = RecordingQuality::make(true, RecordingQuality::Resolution::p720, 12, 100, 100000);
  EXPECT_EQ(quality.frameRate, 15);
  EXPECT_EQ(quality.videoBitrate, 3000000);
  EXPECT_FALSE(quality.audioBitrate.has_value());
  EXPECT_EQ(RecordingQuality::compact().audioBitrate, 96000);
  EXPECT_EQ(RecordingQuality::detailed().frameRate, 30);
  EXPECT_EQ(resolutionLabel(RecordingQuality::Resolution::p1440), "1440p");
  EXPECT_EQ(resolutionLabel(RecordingQuality::Resolution::p2160), "4K (2160p)");
  EXPECT_THAT(RecordingQuality::fromJson(RecordingQuality::detailed().toJson()),
              IsOkAndHolds(RecordingQuality::detailed()));
}

TEST(RecordingOptionsTest, ValidationMessages) {
  EXPECT_EQ(RecordingOptions{}.validationMessage(), "Select at least one recording input.");
  EXPECT_EQ((RecordingOptions{true, false, false, true}.validationMessage()),
            "Transcription requires microphone or meeting audio.");
  const RecordingOptions fine{true, false, true, true};
  EXPECT_TRUE(fine.isValid());
  EXPECT_TRUE(fine.requiresWindow());
  EXPECT_FALSE((RecordingOptions{false, true, false, true}.requiresWindow()));
}

TEST(MeetingTest, CaptureDescriptionFollowsQuality) {
  ASSERT_OK_AND_ASSIGN(Meeting meeting, Meeting::fromJson(manifestJson()));
  EXPECT_EQ(meeting.captureDescription(),
            "Manual capture; SDR H.264 up to 1080p/15fps; 3000000 bps video target; automatic AAC bitrate; 30s "
            "segments; app audio may mix browser tabs; selected microphone");
  meeting.detection = Json::object();
  meeting.quality = RecordingQuality::make(false, RecordingQuality::Resolution::p720, 10, 1500000, 96000);
  EXPECT_EQ(meeting.captureDescription(),
            "Automatic capture; audio only; 96000 bps AAC target per track; 30s segments; app audio may mix browser "
            "tabs; selected microphone");
}

TEST(CaptureRecordsTest, TrackHealthStatus) {
  TrackHealth health("mic");
  EXPECT_EQ(health.status(100), "Waiting for samples");
  health.lastCallback = 96;
  EXPECT_EQ(health.status(100), "Capturing · uncommitted");
  health.committedThrough = 30;
  EXPECT_EQ(health.status(101), "Capturing · segment verified");
  EXPECT_EQ(health.status(101.5), "Missing samples");
  health.error = "device lost";
  EXPECT_EQ(health.status(100), "Degraded");
}

TEST(CaptureRecordsTest, MessagesRoundTripAndRefuseBadInput) {
  WorkerMessage message;
  message.kind = "health";
  TrackHealth track("mic");
  track.committedBytes = 42;
  message.health = std::vector<TrackHealth>{track};
  message.liveTranscript = LiveTranscriptUpdate{"u1", "mic", 1, 2, "hello"};
  EXPECT_THAT(WorkerMessage::fromJson(message.toJson()), IsOkAndHolds(message));

  CaptureRequest request;
  request.directory = "file:///tmp/m";
  request.windowID = 4000000000u;
  request.microphoneIDs = {"a", "b"};
  request.quality = RecordingQuality::standard();
  EXPECT_THAT(CaptureRequest::fromJson(request.toJson()), IsOkAndHolds(request));
  Json bad = request.toJson();
  bad["windowID"] = -1;
  EXPECT_FALSE(CaptureRequest::fromJson(bad).ok());
  bad = message.toJson();
  bad["health"][0].erase("dropped");
  EXPECT_FALSE(WorkerMessage::fromJson(bad).ok());
}

TEST(MeetingEventTest, LinesHaveExactlyFourSortedMembers) {
  const MeetingEvent event{"created", "Manual capture", 12.5, Date::fromUnix(1772633700)};
  EXPECT_EQ(encodeEventLine(event),
            R"({"detail":"Manual capture","kind":"created","uptime":12.5,"utc":"2026-03-04T14:15:00Z"})");
  EXPECT_THAT(decodeEventLine(encodeEventLine(event)), IsOkAndHolds(event));
  EXPECT_FALSE(decodeEventLine(R"({"detail":"x","kind":"k","uptime":1,"utc":"2026-03-04T14:15:00Z","extra":1})").ok());
  EXPECT_FALSE(decodeEventLine(R"({"detail":"x","kind":"k","uptime":"1","utc":"2026-03-04T14:15:00Z"})").ok());
  EXPECT_EQ(decodeEventLine(R"({"detail":"x","kind":)").error().message, "The event log line is not valid JSON.");
}

}  // namespace
}  // namespace korvel
