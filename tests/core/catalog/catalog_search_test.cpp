// Keyword search: how queries become match expressions, ranking, date and provider filters, limits.

#include <gtest/gtest.h>

#include "core/catalog/catalog_search.h"
#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using testing::CatalogSandbox;
using testing::makeRevision;

TEST(SearchExpressionTest, QuotesEachTermAndDropsPunctuation) {
  EXPECT_EQ(searchExpression(""), "");
  EXPECT_EQ(searchExpression("  ?! -- \"\" \"\"\"  "), "");
  EXPECT_EQ(searchExpression("\"quarterly budget\" review"), "\"quarterly budget\" AND \"review\"");
  EXPECT_EQ(searchExpression("don't"), "\"don't\"");
  EXPECT_EQ(searchExpression("ação OR 42"), "\"ação\" AND \"OR\" AND \"42\"");
  // A stray quote inside a run is part of neither match; an unclosed quote starts nothing.
  EXPECT_EQ(searchExpression("a\"b"), "\"a\" AND \"b\"");
  EXPECT_EQ(searchExpression("NEAR(x y)"), "\"NEAR(x\" AND \"y)\"");
  // Only the first 2,000 characters count.
  std::string longQuery = std::string(1996, 'a') + " tail";
  EXPECT_EQ(searchExpression(longQuery), "\"" + std::string(1996, 'a') + "\" AND \"tai\"");
}

// A query of exactly 2,000 characters, each of two to three bytes and most of several code
// points, whose last term is `lastTerm` (four characters), followed by `overflow`.
std::string multibyteQuery(const std::string& lastTerm, const std::string& overflow) {
  std::string query;
  for (int i = 0; i < 499; ++i) query += "\u0436e\u0301\u044f ";  // "жéя " with a combining accent
  return query + lastTerm + overflow;
}

std::string multibyteExpression(const std::string& lastTerm) {
  std::string expression;
  for (int i = 0; i < 499; ++i) expression += "\"\u0436e\u0301\u044f\" AND ";
  return expression + "\"" + lastTerm + "\"";
}

TEST(SearchExpressionTest, KeepsEveryWholeCharacterUpToTheCharacterLimit) {
  const std::string lastTerm = "\u0436e\u0301\u044fe\u0301";  // "жéяé"
  const std::string exact = multibyteQuery(lastTerm, "");
  ASSERT_GT(exact.size(), 2000u);
  EXPECT_EQ(searchExpression(exact), multibyteExpression(lastTerm));
  // The 2,001st character is dropped whole, here a letter with its accent that would have
  // extended the last term, and so is everything after it.
  EXPECT_EQ(searchExpression(multibyteQuery(lastTerm, "e\u0301 tail")), multibyteExpression(lastTerm));
  EXPECT_EQ(searchExpression(multibyteQuery(lastTerm, " tail")), multibyteExpression(lastTerm));
}

class CatalogSearchTest : public ::testing::Test {
 protected:
  CatalogSandbox box;
  std::unique_ptr<Catalog> catalog = box.open();
  Meeting older = add("Older meeting", 1'700'000'000, {"budget review budget", "the roadmap", "Ação rápida", "the roadmap"});
  Meeting newer = add("Newer meeting", 1'700'086'400, {"budget review", "quarterly budget talk", "don't stop", "the roadmap"});

  Meeting add(const std::string& title, double started, const std::vector<std::string>& texts) {
    auto [meeting, folder] = box.addMeeting(title, started);
    testing::requireOk(catalog->upsert(meeting, folder, std::string(started < 1'700'050'000 ? "zoom" : "meet")));
    testing::requireOk(catalog->index(makeRevision(meeting.id + "-r", meeting.id, "mic", started, texts)));
    return meeting;
  }
  std::vector<std::string> hits(std::string_view query, std::optional<Date> from = {},
                                std::optional<Date> through = {}, std::optional<Date> before = {},
                                std::optional<std::string> provider = {}, int64_t limit = 50) {
    std::vector<std::string> out;
    const auto found = testing::valueOf(catalog->search({.text = std::string(query),
                                                          .provider = provider,
                                                          .from = from,
                                                          .through = through,
                                                          .before = before,
                                                          .limit = limit}));
    for (const auto& hit : found) {
      out.push_back((hit.meetingID == older.id ? "old:" : "new:") + hit.utteranceID);
    }
    return out;
  }
};

TEST_F(CatalogSearchTest, RanksByBm25ThenNewerMeetingThenEarlierUtterance) {
  // Twice in a short row beats once; a shorter row beats a longer one.
  EXPECT_EQ(hits("budget"), (std::vector<std::string>{"old:u1", "new:u1", "new:u2"}));
  EXPECT_EQ(hits("review budget"), (std::vector<std::string>{"new:u1", "old:u1"}));
  EXPECT_EQ(hits("\"budget talk\""), (std::vector<std::string>{"new:u2"}));
  EXPECT_TRUE(hits("\"talk budget\"").empty());
  EXPECT_EQ(hits("don't"), (std::vector<std::string>{"new:u3"}));
  // Case and diacritics are ignored in both directions.
  EXPECT_EQ(hits("ACAO rapida"), (std::vector<std::string>{"old:u3"}));
  EXPECT_EQ(hits("açÃo"), (std::vector<std::string>{"old:u3"}));
  // FTS5 syntax in the query is searched as text, never interpreted.
  EXPECT_TRUE(hits("budget OR roadmap").empty());
  // Equal scores: the newer meeting first, then earlier utterances.
  EXPECT_EQ(hits("roadmap"), (std::vector<std::string>{"new:u4", "old:u2", "old:u4"}));

  ASSERT_OK_AND_ASSIGN(const auto found, catalog->search({.text = "rapida"}));
  ASSERT_EQ(found.size(), 1u);
  const TranscriptSearchHit& hit = found[0];
  EXPECT_EQ(hit.title, "Older meeting");
  EXPECT_EQ(hit.transcriptID, older.id + "-r");
  EXPECT_EQ(hit.id(), older.id + "-r:u3");
  EXPECT_EQ(hit.start, 4.0);
  EXPECT_EQ(hit.end, 5.5);
  EXPECT_EQ(hit.text, "Ação rápida");
  EXPECT_EQ(hit.toJson()["directory"].get<std::string>().rfind("file:///", 0), 0u);
}

TEST_F(CatalogSearchTest, AQueryAtTheCharacterLimitStillMatchesOnItsLastTerm) {
  const std::string lastTerm = "\u0436e\u0301\u044fe\u0301";
  const Meeting meeting =
      add("Multibyte meeting", 1'600'000'000, {"\u0436e\u0301\u044f alone", "\u0436e\u0301\u044f and " + lastTerm});
  for (const std::string& overflow : {std::string(), std::string("e\u0301"), std::string(" other")}) {
    ASSERT_OK_AND_ASSIGN(const auto found, catalog->search({.text = multibyteQuery(lastTerm, overflow)}));
    ASSERT_EQ(found.size(), 1u) << overflow;
    EXPECT_EQ(found[0].meetingID, meeting.id);
    EXPECT_EQ(found[0].utteranceID, "u2");
  }
}

TEST_F(CatalogSearchTest, FiltersByProviderAndStartDateBoundsAndClampsTheLimit) {
  const Date olderStart = older.startedAt;
  EXPECT_EQ(hits("budget", olderStart, olderStart), (std::vector<std::string>{"old:u1"}));
  EXPECT_EQ(hits("budget", {}, {}, newer.startedAt), (std::vector<std::string>{"old:u1"}));
  EXPECT_EQ(hits("budget", newer.startedAt).size(), 2u);
  EXPECT_EQ(hits("budget", {}, {}, {}, std::string("meet")), (std::vector<std::string>{"new:u1", "new:u2"}));
  EXPECT_TRUE(hits("budget", {}, {}, {}, std::string("teams")).empty());
  EXPECT_EQ(hits("budget", {}, {}, {}, {}, 0).size(), 1u);
  EXPECT_EQ(hits("budget", {}, {}, {}, {}, -5).size(), 1u);

  std::vector<std::string> many(1200, "common word");
  add("Big meeting", 1'600'000'000, many);
  EXPECT_EQ(hits("common", {}, {}, {}, {}, 5000).size(), 1000u);
}

}  // namespace
}  // namespace korvel
