#include "core/processing/whisper_output.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel {
namespace {

std::string engineJson(const std::string& spans, const std::string& language = "en") {
  return R"({"result": {"language": ")" + language + R"("}, "transcription": [)" + spans + "]}";
}

std::string span(double from, double to, const std::string& text) {
  return encodeCompact(Json{{"offsets", {{"from", from}, {"to", to}}}, {"text", text}, {"timestamps", {{"from", "x"}}}});
}

std::string parseError(const std::string& json, double start = 30, double duration = 10) {
  auto output = WhisperOutput::parse(json, "seg-2", start, duration);
  return output.ok() ? "ok" : output.error().message;
}

TEST(WhisperOutputTest, PlacesSpansOnTheMeetingTimeline) {
  const std::string json = engineJson(span(0, 1500, "  Olá, bom dia.\n") + "," + span(1500, 1500.5, " \n ") + "," +
                                      span(1500, 12000, "Reunião começa.") + "," + span(9999, 10001, "fim"));
  auto output = WhisperOutput::parse(json, "seg-2", 30, 10);
  ASSERT_TRUE(output.ok()) << output.error().message;
  EXPECT_EQ(output->language, "en");
  ASSERT_EQ(output->utterances.size(), 3u);
  EXPECT_EQ(output->utterances[0], (TranscriptUtterance{"seg-2-0", 30, 31.5, "Olá, bom dia.", {}, {}}));
  // The blank span is skipped but keeps its number; a span past the segment end is clamped.
  EXPECT_EQ(output->utterances[1], (TranscriptUtterance{"seg-2-2", 31.5, 40, "Reunião começa.", {}, {}}));
  EXPECT_EQ(output->utterances[2].id, "seg-2-3");
  EXPECT_DOUBLE_EQ(output->utterances[2].end, 40);
}

TEST(WhisperOutputTest, RefusesSpansOutsideOrOutOfOrder) {
  const char* outside = "Whisper returned timestamps outside the committed segment";
  EXPECT_EQ(parseError(engineJson(span(10000, 11000, "at the end"))), outside);
  EXPECT_EQ(parseError(engineJson(span(-1, 100, "before"))), outside);
  EXPECT_EQ(parseError(engineJson(span(500, 500, "empty"))), outside);
  EXPECT_EQ(parseError(engineJson(span(2000, 3000, "b") + "," + span(1000, 4000, "a"))), outside);
  EXPECT_EQ(parseError(engineJson(span(1000, 2000, "a") + "," + span(1000, 3000, "b"))), "ok");
  EXPECT_EQ(parseError(engineJson(span(0, 100, std::string(1'048'577, 'x')))), outside);
}

TEST(WhisperOutputTest, RefusesBadSegmentsAndPayloads) {
  const std::string good = engineJson(span(0, 100, "hi"));
  EXPECT_EQ(parseError(good, -1, 10), "Invalid transcription segment");
  EXPECT_EQ(parseError(good, 0, 0), "Invalid transcription segment");
  EXPECT_EQ(parseError(good, 315'575'995, 10), "Invalid transcription segment");
  EXPECT_EQ(parseError(good, 315'575'990, 10), "ok");
  EXPECT_EQ(WhisperOutput::parse(good, "", 0, 1).error().message, "Invalid transcription segment");
  EXPECT_EQ(parseError(std::string(32'000'001, ' ')), "Invalid transcription segment");
  EXPECT_EQ(parseError(engineJson(span(0, 100, "hi"), "")), "Invalid Whisper output");

  std::string many;
  for (int i = 0; i <= 100'000; ++i) many += (i ? "," : "") + std::string(R"({"offsets":{"from":0,"to":1},"text":""})");
  EXPECT_EQ(parseError(engineJson(many)), "Invalid Whisper output");

  for (const std::string& broken : {std::string("{"), std::string(R"({"transcription": []})"),
                                    engineJson(R"({"offsets": {"from": "0", "to": 1}, "text": "x"})"),
                                    engineJson(R"({"text": "x"})")}) {
    auto output = WhisperOutput::parse(broken, "seg", 0, 10);
    ASSERT_FALSE(output.ok()) << broken;
    EXPECT_EQ(output.error().code, ErrorCode::Corrupt) << broken;
  }
}

}  // namespace
}  // namespace korvel
