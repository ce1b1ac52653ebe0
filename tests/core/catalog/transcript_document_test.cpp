#include "core/catalog/transcript_document.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using testing::FailsWith;
using testing::IsOkAndHolds;

TranscriptDocument sampleDocument() {
  TranscriptDocument document;
  document.id = "rev-1";
  document.meetingID = "M1";
  document.sourceID = "mic";
  document.model = "base.en";
  document.language = "en";
  document.createdAt = Date::fromUnix(1772633700);
  document.utterances = {{"u1", 0, 1.5, "Hello there.", {}, {}}, {"u2", 1.5, 3.25, "General Kenobi.", "Ana", "spk-1"}};
  return document;
}

std::string validationMessage(const TranscriptDocument& document) {
  const Status status = document.validate();
  return status.ok() ? "ok" : status.error().message;
}

TEST(TranscriptDocumentTest, RoundTripsEveryFieldThroughItsStoredBytes) {
  TranscriptDocument document = sampleDocument();
  document.parentVersionID = "rev-0";
  document.revisionOrigin = TranscriptDocument::RevisionOrigin::speakerAttribution;
  document.processingJobID = "job";
  document.inputFingerprint = "in";
  document.modelFingerprint = "model";
  document.engineVersion = "1.2";
  document.speakerEvidenceFingerprint = std::string(64, 'a');
  document.speakerAttributionVersion = 2;
  document.diarization = DiarizationEvidence{
      "nvidia/Nemotron-3-Diarization", "a435e9867d79e789e90053f9b6d6834053af564a", {{0, 0, 1}, {1, 0.5, 2}, {0, 1, 3}}};
  ASSERT_TRUE(document.validate().ok()) << validationMessage(document);

  const std::string bytes = document.encoded();
  auto decoded = TranscriptDocument::decode(bytes);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_EQ(*decoded, document);
  EXPECT_NE(bytes.find("\"revisionOrigin\" : \"speakerAttribution\""), std::string::npos);
  EXPECT_NE(bytes.find("\"createdAt\" : \"2026-03-04T14:15:00Z\""), std::string::npos);
}

TEST(TranscriptDocumentTest, OmitsAbsentOptionalFields) {
  const Json json = sampleDocument().toJson();
  for (const char* key : {"parentVersionID", "revisionOrigin", "processingJobID", "diarization",
                          "speakerAttributionVersion", "speakerEvidenceFingerprint"}) {
    EXPECT_FALSE(json.contains(key)) << key;
  }
  EXPECT_FALSE(json["utterances"][0].contains("speaker"));
  EXPECT_EQ(json["utterances"][1]["speakerID"], "spk-1");
}

TEST(TranscriptDocumentTest, ReportsTheFirstBrokenRuleInOrder) {
  struct Case {
    const char* name;
    std::function<void(TranscriptDocument&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"schema", [](auto& d) { d.schemaVersion = 2; }, "Invalid transcript metadata"},
      {"id with dot", [](auto& d) { d.id = "rev.1"; }, "Invalid transcript metadata"},
      {"long id", [](auto& d) { d.id = std::string(129, 'a'); }, "Invalid transcript metadata"},
      {"meeting", [](auto& d) { d.meetingID.clear(); }, "Invalid transcript metadata"},
      {"model", [](auto& d) { d.model.clear(); }, "Invalid transcript metadata"},
      {"created", [](auto& d) { d.createdAt = Date{NAN}; }, "Invalid transcript metadata"},
      {"fingerprint case", [](auto& d) { d.speakerEvidenceFingerprint = std::string(64, 'A'); },
       "Invalid speaker evidence fingerprint"},
      {"attribution", [](auto& d) { d.speakerAttributionVersion = 0; }, "Invalid speaker attribution version"},
      {"diarization model", [](auto& d) { d.diarization = DiarizationEvidence{"other", "x", {}}; },
       "Unsupported diarization result"},
      {"duplicate id", [](auto& d) { d.utterances[1].id = "u1"; }, "Invalid, duplicate or unordered transcript utterance"},
      {"unordered", [](auto& d) { d.utterances[1].start = 0.0; d.utterances[0].start = 0.5; },
       "Invalid, duplicate or unordered transcript utterance"},
      {"end equals start", [](auto& d) { d.utterances[0].end = 0; }, "Invalid, duplicate or unordered transcript utterance"},
      {"beyond ten years", [](auto& d) { d.utterances[1].end = 315'576'000.5; },
       "Invalid, duplicate or unordered transcript utterance"},
      {"blank text", [](auto& d) { d.utterances[0].text = " \n\t"; }, "Invalid, duplicate or unordered transcript utterance"},
      {"huge text", [](auto& d) { d.utterances[0].text = std::string(1'048'577, 'a'); },
       "Invalid, duplicate or unordered transcript utterance"},
      {"speaker newline", [](auto& d) { d.utterances[1].speaker = "Ana\nMaria"; }, "Invalid transcript speaker name"},
      {"speaker blank", [](auto& d) { d.utterances[1].speaker = "  "; }, "Invalid transcript speaker name"},
      {"speaker long", [](auto& d) { d.utterances[1].speaker = std::string(241, 'x'); }, "Invalid transcript speaker name"},
      {"identity control", [](auto& d) { d.utterances[1].speakerID = "a\x01"; }, "Invalid transcript speaker identity"},
      {"identity long", [](auto& d) { d.utterances[1].speakerID = std::string(513, 'x'); },
       "Invalid transcript speaker identity"},
  };
  for (const Case& c : cases) {
    TranscriptDocument document = sampleDocument();
    c.change(document);
    EXPECT_EQ(validationMessage(document), c.message) << c.name;
  }
}

TEST(TranscriptDocumentTest, AcceptsTheEdgesOfEveryLimit) {
  TranscriptDocument document = sampleDocument();
  document.id = "revisão_" + std::string(120, 'z');  // Unicode letters count as one character each
  document.utterances[1].start = document.utterances[0].start;  // equal starts are allowed
  document.utterances[1].end = 315'576'000;
  document.utterances[1].speaker = std::string(240, 'x');
  document.utterances[1].speakerID = std::string(512, 'x');
  document.utterances[0].text = std::string(1'048'576, 'a');
  EXPECT_EQ(validationMessage(document), "ok");
}

// `count` copies of `piece`.
std::string repeated(std::string_view piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(TranscriptDocumentTest, SpeakerNamesMeetBothTheCharacterAndTheByteLimit) {
  const std::string twoBytes = "\u00e9";            // precomposed "é"
  const std::string fourBytes = "\U0001F600";       // one emoji
  const std::string fiveBytes = "e\u0301\u0301";    // "e" with two combining accents: one character
  const std::string eightBytes = "\U0001F44D\U0001F3FD";  // a thumb with a skin tone: one character
  struct Case {
    const char* name;
    std::string speaker;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"240 ASCII characters", std::string(240, 'x'), true},
      {"241 ASCII characters", std::string(241, 'x'), false},
      {"240 characters, 480 bytes", repeated(twoBytes, 240), true},
      {"241 characters, 482 bytes", repeated(twoBytes, 241), false},
      {"200 characters, 1,000 bytes", repeated(fiveBytes, 200), true},
      {"201 characters, 1,001 bytes", repeated(fiveBytes, 200) + "x", false},
      {"240 characters, 1,000 bytes", repeated(fourBytes, 200) + repeated(fiveBytes, 40), true},
      {"240 characters, 1,001 bytes", repeated(fourBytes, 199) + repeated(fiveBytes, 41), false},
      {"126 characters, 1,008 bytes", repeated(eightBytes, 126), false},
  };
  for (const Case& c : cases) {
    TranscriptDocument document = sampleDocument();
    document.utterances[1].speaker = c.speaker;
    EXPECT_EQ(validationMessage(document), c.valid ? "ok" : "Invalid transcript speaker name") << c.name;
    // The reader applies the same rule to what it finds on disk.
    auto decoded = TranscriptDocument::decode(encodePretty(document.toJson()));
    if (c.valid) {
      EXPECT_THAT(decoded, IsOkAndHolds(document)) << c.name;
    } else {
      EXPECT_THAT(decoded, FailsWith("Invalid transcript speaker name")) << c.name;
    }
  }
}

TEST(TranscriptDocumentTest, ReaderRefusesWhatTheWriterWould) {
  Json json = sampleDocument().toJson();
  json["utterances"][1]["end"] = 315'576'001.0;
  auto decoded = TranscriptDocument::decode(encodePretty(json));
  ASSERT_FALSE(decoded.ok());
  EXPECT_EQ(decoded.error().message, "Invalid, duplicate or unordered transcript utterance");

  json = sampleDocument().toJson();
  json["schemaVersion"] = 7;
  EXPECT_EQ(TranscriptDocument::decode(encodePretty(json)).error().message, "Invalid transcript metadata");

  json = sampleDocument().toJson();
  json["revisionOrigin"] = "guess";
  EXPECT_EQ(TranscriptDocument::decode(encodePretty(json)).error().code, ErrorCode::Corrupt);
  json = sampleDocument().toJson();
  json.erase("sourceID");
  EXPECT_EQ(TranscriptDocument::decode(encodePretty(json)).error().code, ErrorCode::Corrupt);
  EXPECT_EQ(TranscriptDocument::decode("{\"id\": ").error().code, ErrorCode::Corrupt);
  json = sampleDocument().toJson();
  json["createdAt"] = "2026-03-04T14:15:00.5Z";
  EXPECT_EQ(TranscriptDocument::decode(encodePretty(json)).error().code, ErrorCode::Corrupt);
}

TEST(TranscriptDocumentTest, DiarizationTurnsMayNotOverlapTheirOwnSpeaker) {
  DiarizationEvidence evidence{"FluidInference/nemotron-3-diarization-coreml",
                               "25a90f97f254428d4b30374b76af9c74fdee8327",
                               {{0, 0, 2}, {1, 1, 3}, {0, 2, 4}}};
  EXPECT_TRUE(evidence.validate().ok());
  evidence.turns.push_back({1, 2.5, 5});
  EXPECT_EQ(evidence.validate().error().message, "Invalid speaker interval");
  evidence.turns.back() = {8, 3, 5};
  EXPECT_EQ(evidence.validate().error().message, "Invalid speaker interval");
  // The Core ML revision belongs to its own model only.
  evidence.turns.pop_back();
  evidence.model = "nvidia/Nemotron-3-Diarization";
  EXPECT_EQ(evidence.validate().error().message, "Unsupported diarization result");
}

TEST(TranscriptDocumentTest, LatestRevisionIsTheLastOfEachTrack) {
  TranscriptDocument a = sampleDocument();
  TranscriptDocument b = sampleDocument();
  b.id = "rev-2";
  TranscriptDocument c = sampleDocument();
  c.id = "rev-3";
  c.sourceID = "app";
  const auto latest = latestRevisionsBySource({a, c, b});
  ASSERT_EQ(latest.size(), 2u);
  EXPECT_EQ(latest.at("mic").id, "rev-2");
  EXPECT_EQ(latest.at("app").id, "rev-3");
}

}  // namespace
}  // namespace korvel
