#pragma once
// The catalog: one SQLite database that indexes the archive for keyword search and hosts the
// processing job queue.
//
// The meeting folders are the truth; everything here except the job table can be rebuilt from
// them. One Catalog owns one connection and serialises its operations with a recursive lock;
// other connections (other instances, other processes) are coordinated by SQLite through
// write-ahead logging, "BEGIN IMMEDIATE" write transactions and a 3,000 ms busy timeout.
// Failures are CatalogError sentences; file-system failures pass through with their own codes.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/archive/archive.h"
#include "core/catalog/job_queue.h"
#include "core/catalog/transcript_document.h"
#include "platform/date.h"
#include "platform/json.h"
#include "platform/result.h"

struct sqlite3;

namespace korvel {

// The two kinds of catalog failure. Both are plain Errors whose message is shown unchanged:
// `invalid` (ErrorCode::InvalidInput) for input that breaks a catalog rule, `sqlite` for a
// database failure, carrying SQLite's own message. The SQLite result code picks the error code,
// so callers can tell a busy database (Timeout) from a damaged one (Corrupt), a read-only or
// forbidden one (Denied) and a missing one (NotFound); anything else is Io.
struct CatalogError {
  static Error invalid(std::string message);
  static Error sqlite(std::string message, int resultCode = 0);
};

// One keyword-search result: an utterance of the current revision of one track.
struct TranscriptSearchHit {
  std::string meetingID;
  std::string title;
  std::filesystem::path directory;  // the meeting folder
  std::string transcriptID;
  std::string sourceID;
  std::string utteranceID;
  double start = 0;  // seconds from meeting start
  double end = 0;
  std::string text;

  // transcriptID ":" utteranceID
  std::string id() const { return transcriptID + ":" + utteranceID; }
  bool operator==(const TranscriptSearchHit&) const = default;
  // `directory` is written as a file URL.
  Json toJson() const;
};

// What a keyword search looks for; an absent filter does not narrow it. Dates compare with the
// meeting's start.
struct TranscriptSearchQuery {
  std::string text;  // every term must match; only the first 2,000 characters count
  std::optional<std::string> provider;
  std::optional<Date> from;     // started at or after
  std::optional<Date> through;  // started at or before
  std::optional<Date> before;   // started strictly before
  int64_t limit = 50;           // clamped to 1…1,000

  bool operator==(const TranscriptSearchQuery&) const = default;
};

// Narrows which job a worker may claim; an absent member does not filter.
struct JobClaimFilter {
  std::optional<std::set<std::string>> eligibleJobIDs;
  std::optional<std::set<ProcessingKind>> kinds;
  std::optional<std::string> summaryModelFingerprint;
  std::optional<std::string> transcriptionModel;
  std::optional<std::string> transcriptionModelFingerprint;
  std::optional<std::string> transcriptionLanguage;
};

// What a reconciliation did, for the one-line summary at the end of a refresh or rebuild.
struct CatalogSummary {
  size_t meetings = 0;            // meetings in the archive
  size_t meetingsIndexed = 0;     // meetings whose revisions were (re)indexed
  size_t meetingsRemoved = 0;     // catalogued meetings no longer in the archive
  size_t revisionsIndexed = 0;
  size_t utterancesIndexed = 0;
  size_t transcriptFilesRead = 0;  // transcript documents read from meeting folders
  std::vector<std::string> problems;  // unreadable manifests, skipped

  bool operator==(const CatalogSummary&) const = default;
};

// Lowercase hexadecimal SHA-256 of the revision's compact, key-sorted JSON.
std::string revisionFingerprint(const TranscriptDocument& transcript);

// Reconciliation first reads the meeting folders, then writes the catalog.
enum class CatalogPhase { reading, indexing };
// Called as meetings are handled in each phase: (phase, meetings done, meetings in the archive).
using CatalogProgress = std::function<void(CatalogPhase phase, size_t done, size_t total)>;

class Catalog {
 public:
  // The value bound to a statement parameter.
  using Value = std::variant<std::monostate, std::string, double, int64_t>;

  // `create` makes a missing database and its folder; `existing` refuses a missing file with
  // NotFound and creates nothing, for readers that must not leave an empty catalog behind.
  enum class OpenMode { create, existing };

  // Opens the database and runs the schema statements.
  static Result<std::unique_ptr<Catalog>> open(const std::filesystem::path& file,
                                               const FileSystem& fs = FileSystem::posix(),
                                               OpenMode mode = OpenMode::create);
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Idempotent; every later database operation fails with "Catalog is closed".
  void close();

  // Meeting rows. `upsert` replaces every column; `ensureMeeting` only adds a missing row.
  Status upsert(const Meeting& meeting, const std::filesystem::path& directory,
                const std::optional<std::string>& provider = std::nullopt);
  Status ensureMeeting(const Meeting& meeting, const std::filesystem::path& directory);

  // Records the revision and makes its utterances the searchable text of its track.
  Status index(const TranscriptDocument& transcript);
  // Puts back one track's whole lineage (parents first) unless the catalog holds a revision
  // of that track the snapshot lacks; returns whether it was applied.
  Result<bool> indexRecoverySnapshot(const std::vector<TranscriptDocument>& lineage);
  // Deletes the meeting's rows and its processing jobs.
  Status removeMeeting(const std::string& id);

  // Replaces every meeting and transcript row with what the archive holds (jobs stay).
  Result<CatalogSummary> rebuild(const Archive& archive, const CatalogProgress& progress = {});
  // Brings the catalog in line with the archive, re-indexing only meetings whose revisions
  // changed. Published revisions never change, so a meeting whose revision folders are exactly
  // the catalogued ones (each track's latest with its utterances) is not read at all; a revision
  // id reused with other content is therefore found when its meeting is next read, and always
  // by rebuild.
  Result<CatalogSummary> refresh(const Archive& archive, const CatalogProgress& progress = {});

  // How many meetings the catalog holds; none means it was never refreshed (or the archive is empty).
  Result<int64_t> meetingCount();

  // Keyword search over the current revisions: every term must match, best BM25 first.
  Result<std::vector<TranscriptSearchHit>> search(const TranscriptSearchQuery& query);

  // The job queue. Times are seconds on the callers' shared clock. Boolean results report
  // whether the job changed; false means it is gone or the caller's lease no longer holds.
  Result<std::vector<ProcessingJob>> processingJobs();
  Result<std::string> enqueue(const ProcessingRequest& request, double now, int64_t maxAttempts);
  Result<std::optional<ProcessingJob>> claimJob(double now, double leaseSeconds, const JobClaimFilter& filter = {});
  Result<bool> renewJob(const std::string& id, const std::string& token, double now, double leaseSeconds);
  Result<bool> returnJob(const std::string& id, const std::string& token, double now);
  Result<bool> completeJob(const std::string& id, const std::string& token, double now);
  // Runs `publish` inside the job's write transaction; a failure rolls both back and leaves
  // the job running under its lease. The action may use this catalog (e.g. index()).
  Result<bool> publishJob(const std::string& id, const std::string& token, double now,
                          const std::function<Status()>& publish);
  Result<bool> failJob(const std::string& id, const std::string& token, std::string_view detail, double now,
                       double retryAfter);
  Result<bool> recordCompletedJobWarning(const std::string& id, std::string_view detail);
  Result<bool> retryJob(const std::string& id, double now);

 private:
  class Row;
  using RowHandler = std::function<Status(const Row&)>;

  explicit Catalog(sqlite3* database) : database_(database) {}

  Status execute(const char* sql, const std::vector<Value>& values = {});
  Status query(const char* sql, const std::vector<Value>& values, const RowHandler& row);
  // "BEGIN IMMEDIATE" … "COMMIT", or a savepoint when already inside a transaction.
  Status transaction(const std::function<Status()>& body);
  // What indexing may assume about the track's utterance rows: `unknown` looks them up;
  // `cleared` (the caller deleted the meeting's rows in this transaction) skips the delete;
  // `kept` records the revision without touching utterances, for a revision a later one of
  // the same track replaces within the same transaction anyway.
  enum class TrackRows { unknown, cleared, kept };
  Status indexRevision(const TranscriptDocument& transcript, const std::string& fingerprint,
                       TrackRows rows = TrackRows::unknown);
  // Indexes a loaded lineage whose meeting has no utterance rows left in this transaction.
  Status indexLineage(const std::vector<TranscriptDocument>& lineage, const std::map<std::string, std::string>& fingerprints);
  Status deleteMeetingRows(const std::string& id);
  struct State;
  Result<State> readState();
  Error lastError() const;

  Result<std::optional<ProcessingJob>> readJob(const std::string& id);
  Status writeJob(const ProcessingJob& job);
  // Reads the job and, when the lease guard holds, lets `change` edit it and writes it back.
  Result<bool> changeLeasedJob(const std::string& id, const std::string& token, double now,
                               const std::function<Status(ProcessingJob&)>& change);

  sqlite3* database_ = nullptr;
  std::recursive_mutex lock_;
  int transactionDepth_ = 0;
};

}  // namespace korvel
