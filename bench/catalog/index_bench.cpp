// Indexing throughput: utterances per second through Catalog::index against a plain program
// that runs the same statements on the same schema with raw SQLite calls; prints the ratio
// (at least 0.8 is the goal).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "bench/catalog/bench_corpus.h"
#include "core/catalog/catalog.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace korvel::bench;

double rawRate = 0;
double catalogRate = 0;

Meeting benchMeeting(size_t index) {
  Meeting meeting;
  meeting.id = "M" + std::to_string(index);
  meeting.title = "Meeting " + std::to_string(index);
  meeting.startedAt = Date::fromUnix(1700000000 + static_cast<double>(index) * 3600);
  meeting.state = SessionState::finalized;
  return meeting;
}

// The baseline: what a hand-written C program does for each revision, statement by statement.
double indexRaw(const fs::path& file, size_t meetings, size_t utterances) {
  sqlite3* db = nullptr;
  check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr),
        db, "open");
  sqlite3_busy_timeout(db, 3000);
  exec(db, "PRAGMA journal_mode=WAL");
  exec(db, "PRAGMA foreign_keys=ON");
  exec(db, "PRAGMA synchronous=FULL");
  exec(db, "CREATE TABLE IF NOT EXISTS meetings(id TEXT PRIMARY KEY, title TEXT NOT NULL, directory TEXT NOT NULL, "
           "started REAL NOT NULL, provider TEXT, state TEXT NOT NULL)");
  exec(db, "CREATE TABLE IF NOT EXISTS transcripts(id TEXT PRIMARY KEY, meeting_id TEXT NOT NULL REFERENCES "
           "meetings(id), source_id TEXT NOT NULL, created REAL NOT NULL, parent_id TEXT, model TEXT NOT NULL, "
           "language TEXT NOT NULL, fingerprint TEXT NOT NULL)");
  exec(db, "CREATE VIRTUAL TABLE IF NOT EXISTS utterances USING fts5(text, meeting_id UNINDEXED, source_id "
           "UNINDEXED, transcript_id UNINDEXED, utterance_id UNINDEXED, start UNINDEXED, end UNINDEXED, "
           "tokenize='unicode61 remove_diacritics 2')");
  exec(db, "CREATE TABLE IF NOT EXISTS processing_jobs(id TEXT PRIMARY KEY, record TEXT NOT NULL)");
  exec(db, "PRAGMA user_version=1");

  sqlite3_stmt *meeting, *select, *insertTranscript, *clear, *insert;
  sqlite3_prepare_v2(db,
                     "INSERT INTO meetings(id,title,directory,started,provider,state) VALUES(?,?,?,?,?,?) ON "
                     "CONFLICT(id) DO UPDATE SET title=excluded.title,directory=excluded.directory,started=excluded."
                     "started,provider=excluded.provider,state=excluded.state",
                     -1, &meeting, nullptr);
  sqlite3_prepare_v2(db, "SELECT fingerprint FROM transcripts WHERE id=?", -1, &select, nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO transcripts(id,meeting_id,source_id,created,parent_id,model,language,fingerprint) "
                     "VALUES(?,?,?,?,?,?,?,?) ON CONFLICT(id) DO NOTHING",
                     -1, &insertTranscript, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM utterances WHERE meeting_id=? AND source_id=?", -1, &clear, nullptr);
  sqlite3_stmt* catalogued;
  sqlite3_prepare_v2(db, "SELECT 1 FROM transcripts WHERE meeting_id=? AND source_id=? LIMIT 1", -1, &catalogued,
                     nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO utterances(text,meeting_id,source_id,transcript_id,utterance_id,start,end) "
                     "VALUES(?,?,?,?,?,?,?)",
                     -1, &insert, nullptr);
  double elapsed = 0;
  for (size_t m = 0; m < meetings; ++m) {
    const Meeting info = benchMeeting(m);
    const TranscriptDocument document = syntheticRevision(info.id, m, utterances);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_bind_text(meeting, 1, info.id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(meeting, 2, info.title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(meeting, 3, "/archive/folder", -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(meeting, 4, info.startedAt.secondsSince1970);
    sqlite3_bind_null(meeting, 5);
    sqlite3_bind_text(meeting, 6, "finalized", -1, SQLITE_TRANSIENT);
    check(sqlite3_step(meeting), db, "meeting");
    sqlite3_reset(meeting);
    exec(db, "BEGIN IMMEDIATE");
    sqlite3_bind_text(select, 1, document.id.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(select) == SQLITE_ROW) {
    }
    sqlite3_reset(select);
    // The utterances table can only be searched by text, so deleting a track's rows scans it
    // all; like the catalog, skip the delete for a track with no revision yet.
    sqlite3_bind_text(catalogued, 1, document.meetingID.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(catalogued, 2, document.sourceID.c_str(), -1, SQLITE_TRANSIENT);
    const bool trackCatalogued = sqlite3_step(catalogued) == SQLITE_ROW;
    sqlite3_reset(catalogued);
    sqlite3_bind_text(insertTranscript, 1, document.id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insertTranscript, 2, document.meetingID.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insertTranscript, 3, document.sourceID.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insertTranscript, 4, document.createdAt.secondsSince1970);
    sqlite3_bind_null(insertTranscript, 5);
    sqlite3_bind_text(insertTranscript, 6, document.model.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insertTranscript, 7, document.language.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insertTranscript, 8, "0000000000000000000000000000000000000000000000000000000000000000", -1,
                      SQLITE_TRANSIENT);
    check(sqlite3_step(insertTranscript), db, "transcript");
    sqlite3_reset(insertTranscript);
    if (trackCatalogued) {
      sqlite3_bind_text(clear, 1, document.meetingID.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(clear, 2, document.sourceID.c_str(), -1, SQLITE_TRANSIENT);
      check(sqlite3_step(clear), db, "clear");
      sqlite3_reset(clear);
    }
    for (const TranscriptUtterance& utterance : document.utterances) {
      sqlite3_bind_text(insert, 1, utterance.text.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, document.meetingID.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, document.sourceID.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 4, document.id.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 5, utterance.id.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 6, utterance.start);
      sqlite3_bind_double(insert, 7, utterance.end);
      check(sqlite3_step(insert), db, "utterance");
      sqlite3_reset(insert);
    }
    exec(db, "COMMIT");
    elapsed += secondsSince(start);
  }
  for (sqlite3_stmt* statement : {meeting, select, catalogued, insertTranscript, clear, insert}) sqlite3_finalize(statement);
  sqlite3_close(db);
  return elapsed;
}

double indexCatalog(const fs::path& file, size_t meetings, size_t utterances) {
  auto catalog = std::move(Catalog::open(file).value());
  double elapsed = 0;
  for (size_t m = 0; m < meetings; ++m) {
    const Meeting info = benchMeeting(m);
    const TranscriptDocument document = syntheticRevision(info.id, m, utterances);
    const auto start = std::chrono::steady_clock::now();
    if (!catalog->upsert(info, "/archive/folder") || !catalog->index(document)) std::abort();
    elapsed += secondsSince(start);
  }
  return elapsed;
}

void run(benchmark::State& state, double (*index)(const fs::path&, size_t, size_t), double& rate) {
  const size_t meetings = corpusMeetings();
  const size_t utterances = corpusUtterances();
  for (auto _ : state) {
    const fs::path folder = benchFolder("korvel-index-bench");
    const double elapsed = index(folder / "catalog.sqlite", meetings, utterances);
    state.SetIterationTime(elapsed);
    rate = static_cast<double>(meetings * utterances) / elapsed;
    fs::remove_all(folder);
  }
  state.counters["utterances_per_second"] = rate;
}

void BM_IndexRawSqlite(benchmark::State& state) { run(state, indexRaw, rawRate); }
void BM_IndexCatalog(benchmark::State& state) { run(state, indexCatalog, catalogRate); }

BENCHMARK(BM_IndexRawSqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_IndexCatalog)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (korvel::rawRate > 0 && korvel::catalogRate > 0) {
    std::printf("indexing: catalog %.0f utterances/s, raw SQLite %.0f utterances/s, ratio %.2f (goal >= 0.80)\n",
                korvel::catalogRate, korvel::rawRate, korvel::catalogRate / korvel::rawRate);
  }
  return 0;
}
