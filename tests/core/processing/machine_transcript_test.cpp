// A track's first revision from per-segment engine output.

#include <gtest/gtest.h>

#include "core/processing/machine_transcript.h"

namespace korvel {
namespace {

std::string output(const std::string& language, const std::string& spans) {
  return R"({"result":{"language":")" + language + R"("},"transcription":[)" + spans + "]}";
}

TEST(MachineTranscriptTest, PlacesEachSegmentsSpansOnTheMeetingTimeline) {
  ManualClock clock;
  Meeting meeting = Meeting::create("Sync", 0, {{"app", "Audio", "audio"}}, std::nullopt, clock, "UTC");
  const std::vector<Segment> segments = {{"app-0000", "app", "a.wav", 0, 2, 10, std::string(64, 'a')},
                                         {"app-0001", "app", "b.wav", 2, 2, 10, std::string(64, 'b')}};
  const std::vector<std::string> outputs = {
      output("pt", R"({"offsets":{"from":0,"to":900},"text":" Olá"},{"offsets":{"from":1000,"to":2500},"text":"a todos"})"),
      output("en", R"({"offsets":{"from":0,"to":100},"text":"  "},{"offsets":{"from":500,"to":1500},"text":"Orçamento"})")};
  MachineTranscriptProvenance provenance{"small", std::string("fp-model"), std::string("fp-input"),
                                         std::string("job-1"), std::nullopt, clock.now()};
  auto document = machineTranscript(meeting, "app", segments, outputs, provenance);
  ASSERT_TRUE(document) << document.error().message;
  EXPECT_EQ(document->language, "pt");
  EXPECT_EQ(document->processingJobID, "job-1");
  ASSERT_EQ(document->utterances.size(), 3u);
  EXPECT_EQ(document->utterances[1].id, "app-0000-1");
  EXPECT_DOUBLE_EQ(document->utterances[1].end, 2.0);  // clamped to the segment's end
  EXPECT_EQ(document->utterances[2].id, "app-0001-1");  // the blank span still counts
  EXPECT_DOUBLE_EQ(document->utterances[2].start, 2.5);
  EXPECT_TRUE(document->validate());

  EXPECT_EQ(machineTranscript(meeting, "app", segments, {outputs[0]}, provenance).error().message,
            "Give one engine output per committed segment of the track.");
  const std::vector<std::string> late = {outputs[0], output("en", R"({"offsets":{"from":2000,"to":2100},"text":"x"})")};
  EXPECT_EQ(machineTranscript(meeting, "app", segments, late, provenance).error().message,
            "Whisper returned timestamps outside the committed segment");
}

}  // namespace
}  // namespace korvel
