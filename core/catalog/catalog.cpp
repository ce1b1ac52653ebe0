// The catalog's connection, schema, statement plumbing, transactions and meeting/revision rows.

#include "core/catalog/catalog.h"

#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <map>
#include <set>

#include <fmt/format.h>

#include "core/catalog/catalog_row.h"
#include "platform/crypto.h"

namespace korvel {
namespace {

const char* const kSchema[] = {
    "PRAGMA journal_mode=WAL",
    "PRAGMA foreign_keys=ON",
    "PRAGMA synchronous=FULL",
    "CREATE TABLE IF NOT EXISTS meetings(id TEXT PRIMARY KEY, title TEXT NOT NULL, directory TEXT NOT NULL, "
    "started REAL NOT NULL, provider TEXT, state TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS transcripts(id TEXT PRIMARY KEY, meeting_id TEXT NOT NULL REFERENCES meetings(id), "
    "source_id TEXT NOT NULL, created REAL NOT NULL, parent_id TEXT, model TEXT NOT NULL, language TEXT NOT NULL, "
    "fingerprint TEXT NOT NULL)",
    "CREATE VIRTUAL TABLE IF NOT EXISTS utterances USING fts5(text, meeting_id UNINDEXED, source_id UNINDEXED, "
    "transcript_id UNINDEXED, utterance_id UNINDEXED, start UNINDEXED, end UNINDEXED, "
    "tokenize='unicode61 remove_diacritics 2')",
    "CREATE TABLE IF NOT EXISTS processing_jobs(id TEXT PRIMARY KEY, record TEXT NOT NULL)",
    "PRAGMA user_version=1",
};

constexpr const char* kClosed = "Catalog is closed";
constexpr const char* kReusedRevision = "An immutable transcript revision ID was reused with different content";
constexpr const char* kInsertUtterance =
    "INSERT INTO utterances(text,meeting_id,source_id,transcript_id,utterance_id,start,end) VALUES(?,?,?,?,?,?,?)";

// Binds positionally from 1; text is copied by SQLite at bind time.
int bindValues(sqlite3_stmt* statement, const std::vector<Catalog::Value>& values) {
  int index = 1;
  for (const Catalog::Value& value : values) {
    int rc = SQLITE_OK;
    if (const auto* text = std::get_if<std::string>(&value)) {
      rc = sqlite3_bind_text(statement, index, text->c_str(), -1, SQLITE_TRANSIENT);
    } else if (const auto* number = std::get_if<double>(&value)) {
      rc = sqlite3_bind_double(statement, index, *number);
    } else if (const auto* integer = std::get_if<int64_t>(&value)) {
      rc = sqlite3_bind_int64(statement, index, *integer);
    } else {
      rc = sqlite3_bind_null(statement, index);
    }
    if (rc != SQLITE_OK) return rc;
    ++index;
  }
  return SQLITE_OK;
}

struct Finalizer {
  sqlite3_stmt* statement = nullptr;
  ~Finalizer() { sqlite3_finalize(statement); }
};

std::optional<std::string> detectedProvider(const Meeting& meeting) {
  if (!meeting.detection || !meeting.detection->is_object()) return std::nullopt;
  auto evidence = meeting.detection->find("evidence");
  if (evidence == meeting.detection->end() || !evidence->is_object()) return std::nullopt;
  auto provider = evidence->find("provider");
  if (provider == evidence->end() || !provider->is_string()) return std::nullopt;
  return provider->get<std::string>();
}

Catalog::Value optionalText(const std::optional<std::string>& text) {
  if (!text) return std::monostate{};
  return *text;
}

}  // namespace

Error CatalogError::invalid(std::string message) { return makeError(ErrorCode::InvalidInput, std::move(message)); }
Error CatalogError::sqlite(std::string message, int resultCode) {
  switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return makeError(ErrorCode::Timeout, std::move(message));
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return makeError(ErrorCode::Corrupt, std::move(message));
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return makeError(ErrorCode::Denied, std::move(message));
    case SQLITE_CANTOPEN: return makeError(ErrorCode::NotFound, std::move(message));
    default: return makeError(ErrorCode::Io, std::move(message));
  }
}

std::string revisionFingerprint(const TranscriptDocument& transcript) {
  return sha256Hex(encodeCompact(transcript.toJson()));
}

Result<std::unique_ptr<Catalog>> Catalog::open(const std::filesystem::path& file, const FileSystem& fileSystem,
                                               OpenMode mode) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
  if (mode == OpenMode::create) {
    if (file.has_parent_path()) TRY(fileSystem.createDirectories(file.parent_path(), 0755));
    flags |= SQLITE_OPEN_CREATE;
  }
  sqlite3* database = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &database, flags, nullptr);
  if (rc == SQLITE_CANTOPEN && mode == OpenMode::existing && database && sqlite3_system_errno(database) == ENOENT) {
    sqlite3_close_v2(database);
    return makeError(ErrorCode::NotFound, fmt::format("No catalog at {}.", file.string()));
  }
  if (rc != SQLITE_OK) {
    std::string message = database ? sqlite3_errmsg(database) : "Unable to open catalog";
    sqlite3_close_v2(database);
    return CatalogError::sqlite(std::move(message), rc);
  }
  sqlite3_busy_timeout(database, 3000);
  std::unique_ptr<Catalog> catalog(new Catalog(database));
  for (const char* statement : kSchema) {
    Status done = catalog->execute(statement);
    if (!done) {
      catalog->close();
      return std::move(done).error();
    }
  }
  return catalog;
}

Catalog::~Catalog() { close(); }

void Catalog::close() {
  std::lock_guard guard(lock_);
  if (database_) sqlite3_close_v2(database_);
  database_ = nullptr;
}

Error Catalog::lastError() const {
  if (!database_) return CatalogError::sqlite(kClosed);
  return CatalogError::sqlite(sqlite3_errmsg(database_), sqlite3_extended_errcode(database_));
}

Status Catalog::query(const char* sql, const std::vector<Value>& values, const RowHandler& handler) {
  std::lock_guard guard(lock_);
  if (!database_) return CatalogError::sqlite(kClosed);
  Finalizer prepared;
  if (sqlite3_prepare_v2(database_, sql, -1, &prepared.statement, nullptr) != SQLITE_OK) return lastError();
  if (bindValues(prepared.statement, values) != SQLITE_OK) return lastError();
  while (true) {
    const int rc = sqlite3_step(prepared.statement);
    if (rc == SQLITE_DONE) return okStatus();
    if (rc != SQLITE_ROW) return lastError();
    if (handler) TRY(handler(Row(prepared.statement)));
  }
}

Status Catalog::execute(const char* sql, const std::vector<Value>& values) { return query(sql, values, {}); }

Status Catalog::transaction(const std::function<Status()>& body) {
  std::lock_guard guard(lock_);
  // A publishing action may index through this same catalog while its job's transaction is
  // open; a savepoint keeps that nested work atomic without a second BEGIN.
  const bool nested = transactionDepth_ > 0;
  const std::string savepoint = "korvel_nested_" + std::to_string(transactionDepth_);
  TRY(execute(nested ? ("SAVEPOINT " + savepoint).c_str() : "BEGIN IMMEDIATE"));
  ++transactionDepth_;
  Status result = body();
  --transactionDepth_;
  if (result) {
    result = execute(nested ? ("RELEASE " + savepoint).c_str() : "COMMIT");
    if (result) return result;
  }
  if (nested) {
    (void)execute(("ROLLBACK TO " + savepoint).c_str());
    (void)execute(("RELEASE " + savepoint).c_str());
  } else {
    (void)execute("ROLLBACK");
  }
  return result;
}

Status Catalog::upsert(const Meeting& meeting, const std::filesystem::path& directory,
                       const std::optional<std::string>& provider) {
  std::lock_guard guard(lock_);
  const double started = meeting.startedAt.secondsSince1970;
  if (!std::isfinite(started)) return CatalogError::invalid("Meeting start date is invalid");
  return execute(
      "INSERT INTO meetings(id,title,directory,started,provider,state) VALUES(?,?,?,?,?,?) ON CONFLICT(id) DO "
      "UPDATE SET title=excluded.title,directory=excluded.directory,started=excluded.started,"
      "provider=excluded.provider,state=excluded.state",
      {meeting.id, meeting.title, directory.string(), started, optionalText(provider ? provider : detectedProvider(meeting)),
       std::string(toString(meeting.state))});
}

Status Catalog::ensureMeeting(const Meeting& meeting, const std::filesystem::path& directory) {
  std::lock_guard guard(lock_);
  const double started = meeting.startedAt.secondsSince1970;
  if (!std::isfinite(started)) return CatalogError::invalid("Meeting start date is invalid");
  return execute(
      "INSERT INTO meetings(id,title,directory,started,provider,state) VALUES(?,?,?,?,?,?) ON CONFLICT(id) DO NOTHING",
      {meeting.id, meeting.title, directory.string(), started, optionalText(detectedProvider(meeting)),
       std::string(toString(meeting.state))});
}

Result<int64_t> Catalog::meetingCount() {
  int64_t count = 0;
  TRY(query("SELECT COUNT(*) FROM meetings", {}, [&](const Row& row) -> Status {
    count = row.integer(0);
    return okStatus();
  }));
  return count;
}

Status Catalog::indexRevision(const TranscriptDocument& transcript, const std::string& fingerprint,
                              TrackRows rows) {
  std::optional<std::string> stored;
  TRY(query("SELECT fingerprint FROM transcripts WHERE id=?", {transcript.id},
            [&](const Row& row) -> Status {
              stored = row.text(0);
              return okStatus();
            }));
  if (stored && *stored != fingerprint) return CatalogError::invalid(kReusedRevision);
  // The utterances table can only be searched by its text, so a delete by track reads every
  // row. Utterances are only ever added after their revision's row, so a track without any
  // catalogued revision has none to delete.
  bool trackCatalogued = false;
  if (rows == TrackRows::unknown) {
    TRY(query("SELECT 1 FROM transcripts WHERE meeting_id=? AND source_id=? LIMIT 1",
              {transcript.meetingID, transcript.sourceID}, [&](const Row&) -> Status {
                trackCatalogued = true;
                return okStatus();
              }));
  }
  TRY(execute(
      "INSERT INTO transcripts(id,meeting_id,source_id,created,parent_id,model,language,fingerprint) "
      "VALUES(?,?,?,?,?,?,?,?) ON CONFLICT(id) DO NOTHING",
      {transcript.id, transcript.meetingID, transcript.sourceID, transcript.createdAt.secondsSince1970,
       optionalText(transcript.parentVersionID), transcript.model, transcript.language, fingerprint}));
  if (rows == TrackRows::kept) return okStatus();
  if (trackCatalogued) {
    TRY(execute("DELETE FROM utterances WHERE meeting_id=? AND source_id=?",
                {transcript.meetingID, transcript.sourceID}));
  }
  if (transcript.utterances.empty()) return okStatus();

  if (!database_) return CatalogError::sqlite(kClosed);
  Finalizer prepared;
  if (sqlite3_prepare_v2(database_, kInsertUtterance, -1, &prepared.statement, nullptr) != SQLITE_OK) {
    return lastError();
  }
  sqlite3_stmt* statement = prepared.statement;
  for (const TranscriptUtterance& utterance : transcript.utterances) {
    if (sqlite3_bind_text(statement, 1, utterance.text.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_text(statement, 2, transcript.meetingID.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_text(statement, 3, transcript.sourceID.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_text(statement, 4, transcript.id.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_text(statement, 5, utterance.id.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_double(statement, 6, utterance.start) != SQLITE_OK ||
        sqlite3_bind_double(statement, 7, utterance.end) != SQLITE_OK) {
      return lastError();
    }
    if (sqlite3_step(statement) != SQLITE_DONE) return lastError();
    if (sqlite3_reset(statement) != SQLITE_OK) return lastError();
  }
  return okStatus();
}

Status Catalog::indexLineage(const std::vector<TranscriptDocument>& lineage,
                             const std::map<std::string, std::string>& fingerprints) {
  // Each revision replaces its track's utterances, so only the last of each track leaves any.
  const auto latest = latestRevisionsBySource(lineage);
  for (const TranscriptDocument& document : lineage) {
    const bool last = latest.at(document.sourceID).id == document.id;
    TRY(indexRevision(document, fingerprints.at(document.id), last ? TrackRows::cleared : TrackRows::kept));
  }
  return okStatus();
}

Status Catalog::index(const TranscriptDocument& transcript) {
  TRY(transcript.validate());
  const std::string fingerprint = revisionFingerprint(transcript);
  std::lock_guard guard(lock_);
  return transaction([&] { return indexRevision(transcript, fingerprint); });
}

Result<bool> Catalog::indexRecoverySnapshot(const std::vector<TranscriptDocument>& lineage) {
  if (lineage.empty()) return CatalogError::invalid("Transcript recovery snapshot is empty");
  const TranscriptDocument& first = lineage.front();
  std::set<std::string> seen;
  std::vector<std::string> fingerprints;
  for (const TranscriptDocument& document : lineage) {
    TRY(document.validate());
    const bool sameTrack = document.meetingID == first.meetingID && document.sourceID == first.sourceID;
    const bool parentEarlier = !document.parentVersionID || seen.count(*document.parentVersionID);
    if (!sameTrack || !parentEarlier || !seen.insert(document.id).second) {
      return CatalogError::invalid("Transcript recovery snapshot has mixed sources or invalid lineage order");
    }
    fingerprints.push_back(revisionFingerprint(document));
  }
  std::lock_guard guard(lock_);
  bool applied = false;
  TRY(transaction([&]() -> Status {
    bool covered = true;
    TRY(query("SELECT id FROM transcripts WHERE meeting_id=? AND source_id=?", {first.meetingID, first.sourceID},
              [&](const Row& row) -> Status {
                if (!seen.count(row.text(0))) covered = false;
                return okStatus();
              }));
    if (!covered) return okStatus();
    for (size_t i = 0; i < lineage.size(); ++i) TRY(indexRevision(lineage[i], fingerprints[i]));
    applied = true;
    return okStatus();
  }));
  return applied;
}

Status Catalog::deleteMeetingRows(const std::string& id) {
  TRY(execute("DELETE FROM utterances WHERE meeting_id=?", {id}));
  TRY(execute("DELETE FROM transcripts WHERE meeting_id=?", {id}));
  return execute("DELETE FROM meetings WHERE id=?", {id});
}

Status Catalog::removeMeeting(const std::string& id) {
  std::lock_guard guard(lock_);
  return transaction([&]() -> Status {
    for (const ProcessingJob& job : TRY(processingJobs())) {
      if (job.request.meetingID == id) TRY(execute("DELETE FROM processing_jobs WHERE id=?", {job.id}));
    }
    return deleteMeetingRows(id);
  });
}

}  // namespace korvel
