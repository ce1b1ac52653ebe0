// Playback lookup, word pacing, reading layout and find-in-transcript over real utterance lists.

#include <gtest/gtest.h>

#include "core/catalog/transcript_reading.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

TranscriptUtterance utterance(std::string id, double start, double end, std::string text = "words",
                              std::optional<std::string> speaker = std::nullopt) {
  TranscriptUtterance u;
  u.id = std::move(id);
  u.start = start;
  u.end = end;
  u.text = std::move(text);
  u.speaker = std::move(speaker);
  return u;
}

TEST(TranscriptPlaybackIndexTest, FindsTheLaterListedUtteranceStillPlaying) {
  auto index = TranscriptPlaybackIndex::build({utterance("a", 0, 10), utterance("b", 2, 4), utterance("c", 5, 6),
                                               utterance("d", 20, 21), utterance("e", 20, 30)});
  ASSERT_TRUE(index) << index.error().message;
  EXPECT_EQ(index->passageID(3), "b");
  EXPECT_EQ(index->passageID(4), "a");  // b's end no longer counts
  EXPECT_EQ(index->passageID(5.5), "c");
  EXPECT_EQ(index->passageID(12), std::nullopt);
  EXPECT_EQ(index->passageID(20.5), "e");
  EXPECT_EQ(index->passageID(25), "e");
  EXPECT_EQ(index->passageID(-1), std::nullopt);
  EXPECT_EQ(index->startedCount(20), 5u);
  EXPECT_EQ(index->startedCount(1), 1u);
  EXPECT_EQ(index->startedCount(std::nan("")), 0u);
}

TEST(TranscriptPlaybackIndexTest, AgreesWithALinearScan) {
  std::vector<TranscriptUtterance> list;
  for (int i = 0; i < 300; ++i) {
    list.push_back(utterance("u" + std::to_string(i), i * 0.5, i * 0.5 + 0.3 + (i % 7) * 0.9));
  }
  auto index = TranscriptPlaybackIndex::build(list);
  ASSERT_TRUE(index);
  for (double t = 0; t < 160; t += 0.137) {
    std::optional<std::string> expected;
    for (const auto& u : list) {
      if (u.start <= t && t < u.end) expected = u.id;
    }
    ASSERT_EQ(index->passageID(t), expected) << "at " << t;
  }
}

TEST(TranscriptPlaybackIndexTest, RefusesBadIntervalsAndHonoursCancellation) {
  const char* message = "Invalid, duplicate or unordered transcript playback intervals.";
  EXPECT_EQ(TranscriptPlaybackIndex::build({utterance("a", 2, 3), utterance("b", 1, 4)}).error().message, message);
  EXPECT_EQ(TranscriptPlaybackIndex::build({utterance("a", 1, 1)}).error().message, message);
  EXPECT_EQ(TranscriptPlaybackIndex::build({utterance("a", 1, 2), utterance("a", 2, 3)}).error().message, message);
  EXPECT_EQ(TranscriptPlaybackIndex::build({utterance("a", 1, 315'576'001)}).error().message, message);
  int calls = 0;
  auto cancelled = TranscriptPlaybackIndex::build({utterance("a", 0, 1), utterance("b", 1, 2)}, [&]() -> Status {
    if (++calls == 2) return makeError(ErrorCode::Cancelled, "Cancelled.");
    return okStatus();
  });
  EXPECT_EQ(cancelled.error().code, ErrorCode::Cancelled);
}

TEST(TranscriptWordPacingTest, PunctuationHoldsLongerAndFillsAdvance) {
  TranscriptWordPacing pacing("  Hi, there.\nok ", 10, 20);
  ASSERT_EQ(pacing.words(), (std::vector<std::string>{"Hi,", "there.", "ok"}));
  // weights: 3+1+2 = 6, 6+1+4 = 11, 2+1 = 3; total 20
  auto fills = pacing.fills(13);  // position 6
  EXPECT_DOUBLE_EQ(fills[0], 1.0);
  EXPECT_DOUBLE_EQ(fills[1], 0.0);
  fills = pacing.fills(15.5);  // position 11
  EXPECT_DOUBLE_EQ(fills[1], 5.0 / 11.0);
  EXPECT_EQ(pacing.fills(25), (std::vector<double>{1, 1, 1}));
  TranscriptWordPacing instant("one two", 5, 5);
  EXPECT_EQ(instant.fills(4.9), (std::vector<double>{0, 0}));
  EXPECT_EQ(instant.fills(5), (std::vector<double>{1, 1}));
  EXPECT_TRUE(TranscriptWordPacing(" \n ", 0, 1).fills(0.5).empty());
}

TEST(TranscriptReadingLayoutTest, RunsFollowSpeakersAndTimestampsFollowTheInterval) {
  TranscriptDocument document;
  document.utterances = {utterance("1", 0, 1, "a", "Ana"), utterance("2", 30, 31, "b", " Ana "),
                         utterance("3", 61, 62, "c", "Ana"), utterance("4", 70, 71, "d", "Bo"),
                         utterance("5", 80, 81, "e")};
  TranscriptReadingLayout layout(document);
  EXPECT_TRUE(layout.passages["1"].startsRun && layout.passages["1"].showsTimestamp);
  EXPECT_FALSE(layout.passages["2"].startsRun || layout.passages["2"].showsTimestamp);
  EXPECT_TRUE(!layout.passages["3"].startsRun && layout.passages["3"].showsTimestamp);
  EXPECT_TRUE(layout.passages["4"].startsRun && layout.passages["4"].showsTimestamp);
  EXPECT_TRUE(layout.passages["5"].startsRun);
  EXPECT_EQ(layout.passages["5"].index, 4u);
}

TEST(TranscriptFinderTest, IgnoresCaseAndDiacriticsAndWraps) {
  std::vector<TranscriptUtterance> list = {utterance("1", 0, 1, "Reunião de orçamento"),
                                           utterance("2", 1, 2, "nothing here"),
                                           utterance("3", 2, 3, "ORCAMENTO aprovado")};
  auto results = TranscriptFinder::search(list, "orçamento", "pt_PT");
  ASSERT_TRUE(results);
  EXPECT_EQ(results->passageIDs, (std::vector<std::string>{"1", "3"}));
  EXPECT_TRUE(results->contains("3"));
  EXPECT_EQ(results->next("3", false), "1");
  EXPECT_EQ(results->next("1", true), "3");
  EXPECT_EQ(results->next("2", false), "1");
  EXPECT_EQ(results->next(std::nullopt, true), "3");
  ASSERT_OK_AND_ASSIGN(const TranscriptFindResults blank, TranscriptFinder::search(list, "   ", "en"));
  EXPECT_TRUE(blank.passageIDs.empty());
  EXPECT_EQ(TranscriptFindResults::empty().next(std::nullopt, false), std::nullopt);
}

}  // namespace
}  // namespace korvel
