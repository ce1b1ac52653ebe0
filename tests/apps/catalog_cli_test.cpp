// `korvel catalog` and `korvel search`: the default catalog file, summaries, JSON hits, refusals.

#include <gtest/gtest.h>

#include "apps/korvel/catalog_options.h"
#include "core/archive/archive.h"
#include "core/catalog/transcript_document.h"
#include "platform/crypto.h"
#include "tests/apps/cli_invocation.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel::cli {
namespace {

using korvel::testing::TempDir;
using korvel::testing::writeText;

class CatalogCliTest : public ::testing::Test {
 protected:
  TempDir temp;
  ManualClock clock{Date::fromUnix(1772633700)};
  std::filesystem::path home = temp / "home";
  Archive archive{home / "Archive", clock, "UTC"};
  std::string meetingID;

  void SetUp() override {
    Meeting meeting = Meeting::create("Orçamento anual", 0, {{"app", "Meeting audio", "audio"}}, std::nullopt, clock,
                                      "UTC");
    meeting.state = SessionState::finalized;
    meeting.detection = Json{{"evidence", {{"provider", "meet"}}}, {"occurrenceID", "O"}, {"startMode", "automatic"}};
    meetingID = meeting.id;
    ASSERT_OK_AND_ASSIGN(const auto folder, archive.create(meeting));
    TranscriptDocument document;
    document.id = "rev1";
    document.meetingID = meeting.id;
    document.sourceID = "app";
    document.model = "small";
    document.language = "pt";
    document.createdAt = Date::fromUnix(1772634000);
    document.utterances = {{"u1", 1.5, 3, "Revisão do orçamento", {}, {}}, {"u2", 3, 4, "Próximos passos", {}, {}}};
    ASSERT_TRUE(TranscriptArtifacts::save(document, folder));
  }

  CliResult korvel(std::vector<std::string> arguments) {
    return invokeCli(arguments, {{"KORVEL_HOME", home.string()}}, &clock);
  }
};

TEST_F(CatalogCliTest, RefreshThenSearchFindsTheMeetingInTheDefaultCatalog) {
  auto refreshed = korvel({"catalog", "refresh"});
  ASSERT_EQ(refreshed.code, 0) << refreshed.err;
  EXPECT_EQ(refreshed.out,
            "Catalog refreshed: 1 meeting in the archive, 1 indexed (1 revision, 2 utterances), 0 removed, 1 "
            "transcript file read.\n");
  const std::string key = sha256Hex((home / "Archive").string()).substr(0, 16);
  EXPECT_TRUE(std::filesystem::exists(home / "data" / "catalogs" / (key + ".sqlite")));

  auto found = korvel({"search", "orcamento revisao", "--json"});
  ASSERT_EQ(found.code, 0) << found.err;
  auto hits = parseJson(found.out);
  ASSERT_TRUE(hits);
  ASSERT_EQ(hits->size(), 1u);
  const Json& hit = (*hits)[0];
  EXPECT_EQ(hit["meetingID"], meetingID);
  EXPECT_EQ(hit["title"], "Orçamento anual");
  EXPECT_EQ(hit["transcriptID"], "rev1");
  EXPECT_EQ(hit["sourceID"], "app");
  EXPECT_EQ(hit["utteranceID"], "u1");
  EXPECT_EQ(hit["start"], 1.5);
  EXPECT_EQ(hit["end"], 3);
  EXPECT_EQ(hit["text"], "Revisão do orçamento");
  EXPECT_EQ(hit["directory"].get<std::string>().rfind("file://" + archive.root().string(), 0), 0u);

  EXPECT_EQ(korvel({"search", "passos", "--provider", "meet"}).out.find("Próximos passos") != std::string::npos, true);
  EXPECT_EQ(korvel({"search", "passos", "--provider", "zoom"}).out, "No matches.\n");
  EXPECT_EQ(korvel({"search", "passos", "--from", "2026-03-05"}).out, "No matches.\n");
  EXPECT_NE(korvel({"search", "passos", "--through", "2026-03-04"}).out, "No matches.\n");
  EXPECT_EQ(korvel({"search", "passos", "--before", "2026-03-04T14:15:00Z"}).out, "No matches.\n");
  EXPECT_EQ(korvel({"search", "passos", "--from", "yesterday"}).code, 2);

  // Unchanged: nothing is re-read. A rebuild reads everything again.
  EXPECT_NE(korvel({"catalog", "refresh"}).out.find("0 indexed (0 revisions, 0 utterances), 0 removed, 0 transcript"),
            std::string::npos);
  auto rebuilt = korvel({"catalog", "rebuild", "--json"});
  ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
  ASSERT_OK_AND_ASSIGN(const Json summary, parseJson(rebuilt.out));
  EXPECT_EQ(summary["transcriptFilesRead"], 1);
}

TEST_F(CatalogCliTest, ACatalogFileThatIsNotACatalogIsRefused) {
  const auto junk = temp / "junk.sqlite";
  writeText(junk, std::string(4096, 'j'));
  auto refused = korvel({"catalog", "refresh", "--catalog", junk.string()});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err, "file is not a database\n");
  EXPECT_EQ(korvel({"search", "x", "--catalog", junk.string()}).code, 1);
  EXPECT_EQ(korvel({"catalog"}).code, 2);
}

// An unmounted drive looks like a missing archive folder: refresh refuses it instead of
// removing every meeting, and the catalog still finds them once the drive is back.
TEST_F(CatalogCliTest, RefreshNeverEmptiesTheCatalogOfAnUnreachableArchive) {
  ASSERT_EQ(korvel({"catalog", "refresh"}).code, kExitOk);
  const auto unmounted = temp / "unmounted";
  std::filesystem::rename(archive.root(), unmounted);
  for (const char* kind : {"refresh", "rebuild"}) {
    const auto refused = korvel({"catalog", kind});
    EXPECT_EQ(refused.code, kExitFailed);
    EXPECT_EQ(refused.err, "No archive at " + archive.root().string() + ".\n");
  }
  std::filesystem::rename(unmounted, archive.root());
  const auto found = korvel({"search", "passos"});
  EXPECT_NE(found.out.find("Próximos passos"), std::string::npos) << found.out << found.err;

  // The catalog itself refuses too, whoever calls it.
  ASSERT_OK_AND_ASSIGN(auto catalog, Catalog::open(temp / "direct.sqlite"));
  ASSERT_THAT(catalog->refresh(archive), korvel::testing::IsOk());
  const Archive gone(temp / "gone", clock, "UTC");
  const auto refreshed = catalog->refresh(gone);
  ASSERT_FALSE(refreshed.ok());
  EXPECT_EQ(refreshed.error().code, ErrorCode::NotFound);
  EXPECT_FALSE(catalog->rebuild(gone).ok());
  EXPECT_THAT(catalog->meetingCount(), korvel::testing::IsOkAndHolds(1));
}

// Search only reads: a mistyped --catalog or an archive never catalogued gets no database (nor
// folders) made for it, and a catalog never refreshed is not mistaken for "no matches".
TEST_F(CatalogCliTest, SearchNeverCreatesACatalogAndNamesRefresh) {
  const auto nowhere = temp / "nodir" / "x.sqlite";
  const auto mistyped = korvel({"search", "passos", "--catalog", nowhere.string()});
  EXPECT_EQ(mistyped.code, kExitFailed);
  EXPECT_EQ(mistyped.err,
            "No catalog at " + nowhere.string() + "; run korvel catalog refresh --catalog FILE to build it.\n");
  EXPECT_FALSE(std::filesystem::exists(temp / "nodir"));

  const auto uncatalogued = korvel({"search", "passos"});
  EXPECT_EQ(uncatalogued.code, kExitFailed);
  EXPECT_EQ(uncatalogued.err, "No catalog for this archive yet; run korvel catalog refresh to build it.\n");
  EXPECT_FALSE(std::filesystem::exists(home / "data" / "catalogs"));

  const auto empty = temp / "empty.sqlite";
  ASSERT_OK_AND_ASSIGN(auto catalog, Catalog::open(empty));
  catalog->close();
  const auto unrefreshed = korvel({"search", "passos", "--catalog", empty.string()});
  EXPECT_EQ(unrefreshed.code, kExitFailed);
  EXPECT_EQ(unrefreshed.err, "The catalog holds no meetings; run korvel catalog refresh to index the archive.\n");
  EXPECT_EQ(korvel({"search", "passos", "--catalog", empty.string(), "--json"}).code, kExitFailed);
  ASSERT_EQ(korvel({"catalog", "refresh", "--catalog", empty.string()}).code, kExitOk);
  const auto refreshed = korvel({"search", "nothing-like-this", "--catalog", empty.string()});
  EXPECT_EQ(refreshed.code, kExitOk);
  EXPECT_EQ(refreshed.out, "No matches.\n");
}

TEST_F(CatalogCliTest, OutOfRangeSearchFlagsAreUsageErrorsThatStateTheRange) {
  ASSERT_EQ(korvel({"catalog", "refresh"}).code, kExitOk);
  for (const char* limit : {"0", "-1", "5000", "many"}) {
    const auto refused = korvel({"search", "passos", "--limit", limit});
    EXPECT_EQ(refused.code, kExitUsage) << limit;
    EXPECT_NE(refused.err.find("1 to 1000"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
  }
  EXPECT_EQ(korvel({"search", "passos", "--limit", "1000"}).code, kExitOk);
  EXPECT_EQ(korvel({"search", "passos", "--limit", "1"}).code, kExitOk);
  for (const char* text : {"", "   "}) {
    const auto refused = korvel({"search", text});
    EXPECT_EQ(refused.code, kExitUsage);
    EXPECT_NE(refused.err.find("Give at least one word to search for."), std::string::npos) << refused.err;
  }
  const auto provider = korvel({"search", "passos", "--provider", ""});
  EXPECT_EQ(provider.code, kExitUsage);
  EXPECT_NE(provider.err.find("meet, zoom or teams"), std::string::npos) << provider.err;
}

}  // namespace
}  // namespace korvel::cli
