// Opening, schema, meeting rows, revision indexing, recovery snapshots and removal, on real files.

#include <gtest/gtest.h>

#include "tests/core/catalog/catalog_fixtures.h"
#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using ::testing::IsEmpty;
using testing::CatalogSandbox;
using testing::dumpCatalog;
using testing::IsOkAndHolds;
using testing::makeRevision;
using testing::scalar;
using testing::writeText;

class CatalogIndexTest : public ::testing::Test {
 protected:
  CatalogSandbox box;
  std::unique_ptr<Catalog> catalog = box.open();
  Meeting meeting = box.addMeeting("Quarterly planning").first;
  std::filesystem::path folder = box.archive.sessions().at(0).folder;

  size_t utteranceRows() { return std::stoul(scalar(box.databaseFile, "SELECT COUNT(*) FROM utterances")); }
};

TEST_F(CatalogIndexTest, OpensInWriteAheadModeWithTheSchemaAndVersion) {
  EXPECT_EQ(scalar(box.databaseFile, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(scalar(box.databaseFile, "PRAGMA user_version"), "1");
  EXPECT_EQ(scalar(box.databaseFile, "SELECT sql FROM sqlite_master WHERE name='meetings'"),
            "CREATE TABLE meetings(id TEXT PRIMARY KEY, title TEXT NOT NULL, directory TEXT NOT NULL, started REAL "
            "NOT NULL, provider TEXT, state TEXT NOT NULL)");
  EXPECT_EQ(scalar(box.databaseFile, "SELECT sql FROM sqlite_master WHERE name='utterances'"),
            "CREATE VIRTUAL TABLE utterances USING fts5(text, meeting_id UNINDEXED, source_id UNINDEXED, "
            "transcript_id UNINDEXED, utterance_id UNINDEXED, start UNINDEXED, end UNINDEXED, "
            "tokenize='unicode61 remove_diacritics 2')");
  EXPECT_EQ(scalar(box.databaseFile, "SELECT sql FROM sqlite_master WHERE name='processing_jobs'"),
            "CREATE TABLE processing_jobs(id TEXT PRIMARY KEY, record TEXT NOT NULL)");
  // Opening again finds the schema in place and keeps the data.
  ASSERT_TRUE(catalog->upsert(meeting, folder));
  catalog.reset();
  auto again = box.open();
  EXPECT_EQ(scalar(box.databaseFile, "SELECT title FROM meetings"), "Quarterly planning");
}

TEST_F(CatalogIndexTest, AFileThatIsNotACatalogAndAClosedCatalogGiveSqliteErrors) {
  const auto junk = box.temp / "junk.sqlite";
  writeText(junk, std::string(8192, 'x'));
  auto opened = Catalog::open(junk);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().message, "file is not a database");
  // A damaged database is told apart from a failing disk, so callers can offer a rebuild.
  EXPECT_EQ(opened.error().code, ErrorCode::Corrupt);

  catalog->close();
  catalog->close();
  EXPECT_EQ(catalog->upsert(meeting, folder).error().message, "Catalog is closed");
  EXPECT_EQ(catalog->processingJobs().error().message, "Catalog is closed");
  EXPECT_EQ(catalog->search({.text = "planning"}).error().message, "Catalog is closed");
  // A query with nothing searchable never reaches the database.
  EXPECT_THAT(catalog->search({.text = "?! \"\""}), IsOkAndHolds(IsEmpty()));

  // The parent folder cannot be created under a plain file.
  auto blocked = Catalog::open(junk / "inner" / "catalog.sqlite");
  ASSERT_FALSE(blocked);
}

// Readers open an existing catalog only: nothing is created for a path that has none.
TEST_F(CatalogIndexTest, OpeningAnExistingCatalogCreatesNothing) {
  const auto missing = box.temp / "nowhere" / "catalog.sqlite";
  auto refused = Catalog::open(missing, FileSystem::posix(), Catalog::OpenMode::existing);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, ErrorCode::NotFound);
  EXPECT_FALSE(std::filesystem::exists(box.temp / "nowhere"));

  ASSERT_TRUE(catalog->upsert(meeting, folder));
  auto reader = Catalog::open(box.databaseFile, FileSystem::posix(), Catalog::OpenMode::existing);
  ASSERT_TRUE(reader) << reader.error().message;
  EXPECT_THAT((*reader)->meetingCount(), IsOkAndHolds(1));
}

TEST_F(CatalogIndexTest, MeetingRowsTakeProviderFromArgumentOrDetectionEvidence) {
  meeting.detection = Json{{"occurrenceID", "O1"}, {"startMode", "automatic"}, {"evidence", {{"provider", "zoom"}}}};
  ASSERT_TRUE(catalog->ensureMeeting(meeting, folder));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT provider||state FROM meetings"), "zoomfinalized");
  meeting.title = "Renamed";
  ASSERT_TRUE(catalog->ensureMeeting(meeting, folder));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT title FROM meetings"), "Quarterly planning");
  ASSERT_TRUE(catalog->upsert(meeting, folder, std::string("teams")));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT title||provider FROM meetings"), "Renamedteams");
  meeting.detection.reset();
  ASSERT_TRUE(catalog->upsert(meeting, folder));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT provider FROM meetings"), "NULL");

  meeting.startedAt = Date::fromUnix(std::numeric_limits<double>::infinity());
  EXPECT_EQ(catalog->upsert(meeting, folder).error().message, "Meeting start date is invalid");
}

TEST_F(CatalogIndexTest, IndexingKeepsEveryRevisionButOnlyTheLatestUtterancesPerTrack) {
  const auto first = makeRevision("R1", meeting.id, "mic", 100, {"alpha one", "alpha two"});
  // No meeting row yet: the foreign key refuses the revision and nothing is written.
  auto orphan = catalog->index(first);
  ASSERT_FALSE(orphan);
  EXPECT_EQ(orphan.error().message, "FOREIGN KEY constraint failed");
  EXPECT_EQ(scalar(box.databaseFile, "SELECT COUNT(*) FROM transcripts"), "0");

  ASSERT_TRUE(catalog->upsert(meeting, folder));
  ASSERT_TRUE(catalog->index(first));
  ASSERT_TRUE(catalog->index(first));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT COUNT(*) FROM transcripts"), "1");
  EXPECT_EQ(utteranceRows(), 2u);
  EXPECT_EQ(scalar(box.databaseFile, "SELECT fingerprint FROM transcripts"), revisionFingerprint(first));

  ASSERT_TRUE(catalog->index(makeRevision("A1", meeting.id, "app", 100, {"application words"})));
  ASSERT_TRUE(catalog->index(makeRevision("R2", meeting.id, "mic", 200, {"beta corrected"}, "R1")));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT COUNT(*) FROM transcripts"), "3");
  EXPECT_EQ(scalar(box.databaseFile, "SELECT group_concat(transcript_id||':'||text, ',') FROM utterances"),
            "A1:application words,R2:beta corrected");

  // Same identifier, different content: refused, nothing changes.
  const std::string before = dumpCatalog(box.databaseFile);
  auto reused = makeRevision("R2", meeting.id, "mic", 200, {"gamma"}, "R1");
  EXPECT_EQ(catalog->index(reused).error().message,
            "An immutable transcript revision ID was reused with different content");
  EXPECT_EQ(dumpCatalog(box.databaseFile), before);

  // Validation comes first.
  auto broken = makeRevision("R3", meeting.id, "mic", 300, {"x"});
  broken.utterances[0].end = -1;
  EXPECT_EQ(catalog->index(broken).error().code, ErrorCode::InvalidInput);

  // An empty revision clears its track.
  ASSERT_TRUE(catalog->index(makeRevision("R4", meeting.id, "mic", 400, {}, "R2")));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT group_concat(transcript_id) FROM utterances"), "A1");
}

TEST_F(CatalogIndexTest, RecoverySnapshotsApplyOnlyWhenTheyCoverTheTrack) {
  ASSERT_TRUE(catalog->upsert(meeting, folder));
  const auto r1 = makeRevision("R1", meeting.id, "mic", 100, {"first"});
  const auto r2 = makeRevision("R2", meeting.id, "mic", 200, {"second"}, "R1");
  const auto other = makeRevision("X1", meeting.id, "app", 100, {"other"});

  EXPECT_EQ(catalog->indexRecoverySnapshot({}).error().message, "Transcript recovery snapshot is empty");
  const char* order = "Transcript recovery snapshot has mixed sources or invalid lineage order";
  EXPECT_EQ(catalog->indexRecoverySnapshot({r2, r1}).error().message, order);
  EXPECT_EQ(catalog->indexRecoverySnapshot({r1, other}).error().message, order);
  EXPECT_EQ(catalog->indexRecoverySnapshot({r1, r1}).error().message, order);

  EXPECT_THAT(catalog->indexRecoverySnapshot({r1, r2}), IsOkAndHolds(true));
  EXPECT_EQ(scalar(box.databaseFile, "SELECT group_concat(text) FROM utterances"), "second");

  ASSERT_TRUE(catalog->index(makeRevision("R3", meeting.id, "mic", 300, {"third"}, "R2")));
  const std::string before = dumpCatalog(box.databaseFile);
  EXPECT_THAT(catalog->indexRecoverySnapshot({r1, r2}), IsOkAndHolds(false));
  EXPECT_EQ(dumpCatalog(box.databaseFile), before);
}

TEST_F(CatalogIndexTest, RemovingAMeetingDeletesItsRowsAndJobs) {
  ASSERT_TRUE(catalog->upsert(meeting, folder));
  ASSERT_TRUE(catalog->index(makeRevision("R1", meeting.id, "mic", 100, {"hello"})));
  ProcessingRequest request{ProcessingKind::transcription, meeting.id, folder.string(), {}, "mic", "in", "base", "mf",
                            "en", {}, {}, {}};
  ASSERT_TRUE(catalog->enqueue(request, 10, 3));
  request.meetingID = "OTHER";
  ASSERT_TRUE(catalog->enqueue(request, 10, 3));

  ASSERT_TRUE(catalog->removeMeeting(meeting.id));
  EXPECT_EQ(dumpCatalog(box.databaseFile), "--\n--\n--\n");
  ASSERT_OK_AND_ASSIGN(const auto jobs, catalog->processingJobs());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].request.meetingID, "OTHER");
}

TEST_F(CatalogIndexTest, ANestedPublishingActionCanIndexAtomicallyWithItsJob) {
  ASSERT_TRUE(catalog->upsert(meeting, folder));
  ProcessingRequest request{ProcessingKind::transcription, meeting.id, folder.string(), {}, "mic", "in", "base", "mf",
                            "en", {}, {}, {}};
  ASSERT_OK_AND_ASSIGN(const std::string id, catalog->enqueue(request, 10, 3));
  ASSERT_OK_AND_ASSIGN(const std::optional<ProcessingJob> job, catalog->claimJob(10, 60));
  ASSERT_TRUE(job.has_value() && job->leaseToken.has_value());
  // The indexing succeeds but the action then fails: both roll back, the job stays leased.
  auto failed = catalog->publishJob(id, *job->leaseToken, 11, [&]() -> Status {
    if (!catalog->index(makeRevision("R1", meeting.id, "mic", 100, {"hello"}))) return makeError(ErrorCode::Io, "x");
    return makeError(ErrorCode::Io, "Disk full.");
  });
  EXPECT_EQ(failed.error().message, "Disk full.");
  EXPECT_EQ(utteranceRows(), 0u);
  ASSERT_OK_AND_ASSIGN(const auto leased, catalog->processingJobs());
  ASSERT_EQ(leased.size(), 1u);
  EXPECT_EQ(leased[0].state, ProcessingJobState::running);

  const auto indexRevision = [&] { return catalog->index(makeRevision("R1", meeting.id, "mic", 100, {"hello"})); };
  EXPECT_THAT(catalog->publishJob(id, *job->leaseToken, 12, indexRevision), IsOkAndHolds(true));
  EXPECT_EQ(utteranceRows(), 1u);
  ASSERT_OK_AND_ASSIGN(const auto published, catalog->processingJobs());
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].state, ProcessingJobState::succeeded);
}

}  // namespace
}  // namespace korvel
