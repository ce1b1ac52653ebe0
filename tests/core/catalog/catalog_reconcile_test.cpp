// Reconciliation with a real archive: refresh after every kind of change ends where rebuild does.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/archive/trash.h"
#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using ::testing::IsEmpty;
using ::testing::SizeIs;
using testing::CatalogSandbox;
using testing::dumpCatalog;
using testing::IsOkAndHolds;
using testing::makeRevision;
using testing::requireOk;
using testing::valueOf;

class CatalogReconcileTest : public ::testing::Test {
 protected:
  CatalogSandbox box;
  std::unique_ptr<Catalog> catalog = box.open();
  std::filesystem::path rebuiltFile = box.temp / "rebuilt" / "catalog.sqlite";

  // Refreshes the catalog under test, rebuilds a fresh one, and expects them to agree.
  CatalogSummary refreshMatchesRebuild() {
    const CatalogSummary summary = valueOf(catalog->refresh(box.archive));
    std::filesystem::remove_all(rebuiltFile.parent_path());
    auto rebuilt = valueOf(Catalog::open(rebuiltFile));
    requireOk(rebuilt->rebuild(box.archive));
    rebuilt.reset();
    EXPECT_EQ(dumpCatalog(box.databaseFile), dumpCatalog(rebuiltFile));
    return summary;
  }
};

TEST_F(CatalogReconcileTest, RefreshConvergesToRebuildThroughEveryKindOfChange) {
  auto [first, firstFolder] = box.addMeeting("Design review", 1'700'000'000);
  auto [second, secondFolder] = box.addMeeting("Hiring sync", 1'700'100'000);
  CatalogSandbox::publish(firstFolder, makeRevision("F1", first.id, "mic", 10, {"layout grid", "colour palette"}));
  CatalogSandbox::publish(firstFolder, makeRevision("F2", first.id, "app", 11, {"remote voice"}));

  CatalogSummary summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.meetings, 2u);
  EXPECT_EQ(summary.meetingsIndexed, 1u);
  EXPECT_EQ(summary.revisionsIndexed, 2u);
  EXPECT_EQ(summary.utterancesIndexed, 3u);
  EXPECT_THAT(catalog->search({.text = "palette"}), IsOkAndHolds(SizeIs(1)));

  // Nothing changed: no transcript is read and nothing is re-indexed.
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.transcriptFilesRead, 0u);
  EXPECT_EQ(summary.meetingsIndexed, 0u);

  // A correction on one track and a first revision for the other meeting.
  CatalogSandbox::publish(firstFolder, makeRevision("F3", first.id, "mic", 20, {"layout columns"}, "F1"));
  CatalogSandbox::publish(secondFolder, makeRevision("S1", second.id, "mic", 30, {"candidate pipeline"}));
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.meetingsIndexed, 2u);
  EXPECT_THAT(catalog->search({.text = "palette"}), IsOkAndHolds(IsEmpty()));
  EXPECT_THAT(catalog->search({.text = "columns"}), IsOkAndHolds(SizeIs(1)));

  // Rename: the title follows without re-indexing.
  ASSERT_THAT(box.archive.renameMeeting(secondFolder, second.id, "Hiring sync", "Hiring panel"), testing::IsOk());
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.meetingsIndexed, 0u);
  ASSERT_OK_AND_ASSIGN(const auto candidates, catalog->search({.text = "candidate"}));
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].title, "Hiring panel");

  // Trash removes the meeting (its jobs stay); restore brings it back.
  ProcessingRequest request{ProcessingKind::transcription, second.id, secondFolder.string(), {}, "mic", "in",
                            "base", "mf", "en", {}, {}, {}};
  ASSERT_TRUE(catalog->enqueue(request, 1, 3));
  ASSERT_OK_AND_ASSIGN(const auto entry, moveToTrash(box.archive, secondFolder, second.id));
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.meetingsRemoved, 1u);
  EXPECT_THAT(catalog->search({.text = "candidate"}), IsOkAndHolds(IsEmpty()));
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(1)));

  ASSERT_THAT(restoreFromTrash(box.archive, entry, second.id), testing::IsOk());
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.meetingsIndexed, 1u);
  EXPECT_THAT(catalog->search({.text = "candidate"}), IsOkAndHolds(SizeIs(1)));

  // A new meeting with an empty revision is read each time (it cannot be told from a lost
  // one without reading) but still converges.
  auto [third, thirdFolder] = box.addMeeting("Silent call", 1'700'200'000);
  CatalogSandbox::publish(thirdFolder, makeRevision("T1", third.id, "mic", 40, {}));
  refreshMatchesRebuild();
  summary = refreshMatchesRebuild();
  EXPECT_EQ(summary.transcriptFilesRead, 1u);
  EXPECT_EQ(summary.meetingsIndexed, 0u);
}

TEST_F(CatalogReconcileTest, RefreshRepairsLostRowsAndRefusesForeignOrReusedRevisions) {
  auto [meeting, folder] = box.addMeeting("Standup", 1'700'000'000);
  CatalogSandbox::publish(folder, makeRevision("R1", meeting.id, "mic", 10, {"blockers today"}));
  ASSERT_TRUE(catalog->refresh(box.archive));

  // Utterance rows lost behind the catalog's back are put back.
  {
    sqlite3* db = nullptr;
    sqlite3_open(box.databaseFile.c_str(), &db);
    sqlite3_exec(db, "DELETE FROM utterances", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(refreshMatchesRebuild().meetingsIndexed, 1u);

  // A revision indexed under this id with other content: once the meeting is read again (here
  // because a new revision appeared) the refresh refuses and rolls back.
  auto [other, otherFolder] = box.addMeeting("Retro", 1'700'100'000);
  ASSERT_TRUE(catalog->upsert(other, otherFolder));
  ASSERT_TRUE(catalog->index(makeRevision("O1", other.id, "mic", 10, {"what went well"})));
  CatalogSandbox::publish(otherFolder, makeRevision("O1", other.id, "mic", 10, {"something else"}));
  CatalogSandbox::publish(otherFolder, makeRevision("O2", other.id, "app", 10, {"next time"}));
  const std::string before = dumpCatalog(box.databaseFile, true);
  EXPECT_EQ(catalog->refresh(box.archive).error().message,
            "An immutable transcript revision ID was reused with different content");
  EXPECT_EQ(dumpCatalog(box.databaseFile, true), before);

  // A revision of another meeting inside this one's folder.
  std::filesystem::remove_all(otherFolder / "transcripts");
  CatalogSandbox::publish(otherFolder, makeRevision("X1", meeting.id, "mic", 10, {"misfiled"}));
  EXPECT_EQ(catalog->refresh(box.archive).error().message, "Transcript belongs to another meeting");
  EXPECT_EQ(catalog->rebuild(box.archive).error().message, "Transcript belongs to another meeting");
  EXPECT_EQ(dumpCatalog(box.databaseFile, true), before);
}

TEST_F(CatalogReconcileTest, RebuildReportsProgressAndKeepsJobs) {
  for (int i = 0; i < 3; ++i) {
    auto [meeting, folder] = box.addMeeting("Meeting " + std::to_string(i), 1'700'000'000 + i * 1000);
    CatalogSandbox::publish(folder, makeRevision("R" + std::to_string(i), meeting.id, "mic", 10, {"word"}));
  }
  ProcessingRequest request{ProcessingKind::summary, "GONE", "/gone", {}, "mic", "in", "base", "mf", "en", {}, {}, {}};
  ASSERT_TRUE(catalog->enqueue(request, 1, 3));
  std::vector<std::string> calls;
  auto summary = catalog->rebuild(box.archive, [&](CatalogPhase phase, size_t done, size_t total) {
    calls.push_back(std::string(phase == CatalogPhase::reading ? "r" : "i") + std::to_string(done) + "/" +
                    std::to_string(total));
  });
  ASSERT_TRUE(summary);
  EXPECT_EQ(calls, (std::vector<std::string>{"r1/3", "r2/3", "r3/3", "i1/3", "i2/3", "i3/3"}));
  EXPECT_EQ(summary->transcriptFilesRead, 3u);
  EXPECT_THAT(catalog->search({.text = "word"}), IsOkAndHolds(SizeIs(3)));
  EXPECT_THAT(catalog->processingJobs(), IsOkAndHolds(SizeIs(1)));
}

TEST_F(CatalogReconcileTest, AWriterKilledInsideItsTransactionLeavesTheCatalogAsItWas) {
  for (int i = 0; i < 4; ++i) {
    auto [meeting, folder] = box.addMeeting("Meeting " + std::to_string(i), 1'700'000'000 + i * 1000);
    CatalogSandbox::publish(folder, makeRevision("R" + std::to_string(i), meeting.id, "mic", 10, {"before"}));
  }
  ASSERT_TRUE(catalog->refresh(box.archive));
  const std::string before = dumpCatalog(box.databaseFile, true);

  // A rebuild in another process dies half-way through writing.
  const pid_t writer = fork();
  if (writer == 0) {
    auto own = Catalog::open(box.databaseFile);
    if (!own) _exit(10);
    (void)(*own)->rebuild(box.archive, [](CatalogPhase phase, size_t done, size_t) {
      if (phase == CatalogPhase::indexing && done == 2) raise(SIGKILL);
    });
    _exit(11);
  }
  int status = 0;
  waitpid(writer, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  EXPECT_EQ(dumpCatalog(box.databaseFile, true), before);
  catalog.reset();
  catalog = box.open();
  EXPECT_THAT(catalog->search({.text = "before"}), IsOkAndHolds(SizeIs(4)));
  refreshMatchesRebuild();
}

}  // namespace
}  // namespace korvel
