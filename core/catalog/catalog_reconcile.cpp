// Rebuilding the catalog from the archive, and reconciling it while touching only what differs.

#include <functional>
#include <map>
#include <set>

#include <fmt/format.h>

#include "core/catalog/catalog.h"
#include "core/catalog/catalog_row.h"

namespace korvel {
namespace {

constexpr const char* kReusedRevision = "An immutable transcript revision ID was reused with different content";

struct RevisionRow {
  std::string fingerprint;
  std::string sourceID;
  double created = 0;
  std::optional<std::string> parentID;
};

// One archive meeting as reconciliation sees it: the revision folder names are enough to tell
// an unchanged meeting, since a published revision never changes; its documents are read only
// when something differs.
struct ArchiveMeeting {
  ArchivedSession session;
  std::set<std::string> revisionIDs;
  std::optional<std::vector<TranscriptDocument>> lineage;
  std::map<std::string, std::string> fingerprints;
};

Result<std::set<std::string>> revisionFolderNames(const Archive& archive, const std::filesystem::path& folder) {
  const Dir meetingFolder = TRY(archive.openMeetingFolder(folder));
  std::set<std::string> names;
  auto transcripts = meetingFolder.openDir(TranscriptArtifacts::kFolderName);
  if (!transcripts) {
    if (transcripts.error().code == ErrorCode::NotFound) return names;
    return std::move(transcripts).error();
  }
  for (const DirEntry& entry : TRY(transcripts->list())) {
    if (!entry.name.starts_with('.') && entry.kind != EntryKind::symlink) names.insert(entry.name);
  }
  return names;
}

Status loadLineage(const Archive& archive, ArchiveMeeting& meeting, CatalogSummary& summary) {
  if (meeting.lineage) return okStatus();
  const Dir folder = TRY(archive.openMeetingFolder(meeting.session.folder));
  // The loader refuses a revision of another meeting ("Transcript belongs to another meeting").
  std::vector<TranscriptDocument> lineage = TRY(TranscriptArtifacts::loadAll(folder, meeting.session.meeting.id));
  summary.transcriptFilesRead += lineage.size();
  for (const TranscriptDocument& document : lineage) meeting.fingerprints[document.id] = revisionFingerprint(document);
  meeting.lineage = std::move(lineage);
  return okStatus();
}

// The last revision of each track in lineage order (by creation, ties by id, parents first).
std::set<std::string> latestByTrack(const std::map<std::string, RevisionRow>& rows) {
  std::vector<const std::pair<const std::string, RevisionRow>*> sorted;
  for (const auto& row : rows) sorted.push_back(&row);
  std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) {
    if (a->second.created != b->second.created) return a->second.created < b->second.created;
    return a->first < b->first;
  });
  std::set<std::string> emitted;
  std::map<std::string, std::string> latest;  // track → revision
  std::function<void(const std::string&, const RevisionRow&)> visit = [&](const std::string& id, const RevisionRow& row) {
    if (!emitted.insert(id).second) return;
    if (row.parentID) {
      auto parent = rows.find(*row.parentID);
      if (parent != rows.end()) visit(parent->first, parent->second);
    }
    latest[row.sourceID] = id;
  };
  for (auto* row : sorted) visit(row->first, row->second);
  std::set<std::string> result;
  for (const auto& [track, id] : latest) result.insert(id);
  return result;
}

}  // namespace

struct Catalog::State {
  std::map<std::string, std::map<std::string, RevisionRow>> revisions;  // meeting → revision → row
  std::map<std::string, std::map<std::string, int64_t>> counts;        // meeting → revision → utterances
  std::set<std::string> meetings;

  // True when the catalog already holds exactly these revisions of the meeting and the
  // utterances of each track's latest one, as far as can be told without reading any file.
  // A track whose latest revision is empty cannot be told apart from a missing one, so it is
  // read.
  bool unchanged(const ArchiveMeeting& meeting) const {
    static const std::map<std::string, RevisionRow> noRows;
    static const std::map<std::string, int64_t> noCounts;
    auto rowsFound = revisions.find(meeting.session.meeting.id);
    auto countsFound = counts.find(meeting.session.meeting.id);
    const auto& rows = rowsFound == revisions.end() ? noRows : rowsFound->second;
    const auto& rowCounts = countsFound == counts.end() ? noCounts : countsFound->second;
    if (rows.size() != meeting.revisionIDs.size()) return false;
    for (const std::string& id : meeting.revisionIDs) {
      if (!rows.count(id)) return false;
    }
    const std::set<std::string> latest = latestByTrack(rows);
    if (latest.size() != rowCounts.size()) return false;
    for (const std::string& id : latest) {
      auto count = rowCounts.find(id);
      if (count == rowCounts.end() || count->second <= 0) return false;
    }
    return true;
  }

  // The exact comparison, against the documents themselves.
  bool inSync(const ArchiveMeeting& meeting) const {
    std::map<std::string, std::string> catalogued;
    if (auto found = revisions.find(meeting.session.meeting.id); found != revisions.end()) {
      for (const auto& [id, row] : found->second) catalogued[id] = row.fingerprint;
    }
    std::map<std::string, int64_t> expected;
    for (const auto& [track, document] : latestRevisionsBySource(*meeting.lineage)) {
      if (!document.utterances.empty()) expected[document.id] = static_cast<int64_t>(document.utterances.size());
    }
    auto found = counts.find(meeting.session.meeting.id);
    const std::map<std::string, int64_t> actual = found == counts.end() ? std::map<std::string, int64_t>{} : found->second;
    return catalogued == meeting.fingerprints && expected == actual;
  }
};

Result<Catalog::State> Catalog::readState() {
  State state;
  TRY(query("SELECT meeting_id,id,fingerprint,source_id,created,parent_id FROM transcripts", {},
            [&](const Row& row) -> Status {
              std::optional<std::string> parent;
              if (!row.isNull(5)) parent = row.text(5);
              state.revisions[row.text(0)][row.text(1)] = RevisionRow{row.text(2), row.text(3), row.number(4), parent};
              return okStatus();
            }));
  TRY(query("SELECT meeting_id,transcript_id,COUNT(*) FROM utterances GROUP BY meeting_id,transcript_id", {},
            [&](const Row& row) -> Status {
              state.counts[row.text(0)][row.text(1)] = row.integer(2);
              return okStatus();
            }));
  TRY(query("SELECT id FROM meetings", {}, [&](const Row& row) -> Status {
    state.meetings.insert(row.text(0));
    return okStatus();
  }));
  return state;
}

namespace {

Result<std::vector<ArchiveMeeting>> listArchive(const Archive& archive, CatalogSummary& summary) {
  std::vector<ArchiveMeeting> meetings;
  auto sessions = TRY(archive.completeSessions([&](const std::filesystem::path& manifest, const Error& error) {
    summary.problems.push_back(fmt::format("{}: {}", manifest.string(), error.message));
  }));
  for (ArchivedSession& session : sessions) {
    ArchiveMeeting meeting{std::move(session), {}, {}, {}};
    meeting.revisionIDs = TRY(revisionFolderNames(archive, meeting.session.folder));
    meetings.push_back(std::move(meeting));
  }
  summary.meetings = meetings.size();
  return meetings;
}

}  // namespace

Result<CatalogSummary> Catalog::rebuild(const Archive& archive, const CatalogProgress& progress) {
  CatalogSummary summary;
  std::vector<ArchiveMeeting> meetings = TRY(listArchive(archive, summary));
  for (size_t i = 0; i < meetings.size(); ++i) {
    TRY(loadLineage(archive, meetings[i], summary));
    if (progress) progress(CatalogPhase::reading, i + 1, meetings.size());
  }
  std::lock_guard guard(lock_);
  TRY(transaction([&]() -> Status {
    TRY(execute("DELETE FROM utterances"));
    TRY(execute("DELETE FROM transcripts"));
    TRY(execute("DELETE FROM meetings"));
    for (size_t i = 0; i < meetings.size(); ++i) {
      const ArchiveMeeting& meeting = meetings[i];
      TRY(upsert(meeting.session.meeting, meeting.session.folder));
      TRY(indexLineage(*meeting.lineage, meeting.fingerprints));
      summary.revisionsIndexed += meeting.lineage->size();
      if (!meeting.lineage->empty()) summary.meetingsIndexed += 1;
      for (const auto& [track, document] : latestRevisionsBySource(*meeting.lineage)) {
        summary.utterancesIndexed += document.utterances.size();
      }
      if (progress) progress(CatalogPhase::indexing, i + 1, meetings.size());
    }
    return okStatus();
  }));
  return summary;
}

Result<CatalogSummary> Catalog::refresh(const Archive& archive, const CatalogProgress& progress) {
  CatalogSummary summary;
  std::vector<ArchiveMeeting> meetings = TRY(listArchive(archive, summary));
  // Read what looks changed before taking the write lock, so other writers wait only for the
  // database work; the check is repeated inside the transaction in case the catalog moved.
  {
    const State before = TRY(readState());
    for (size_t i = 0; i < meetings.size(); ++i) {
      if (!before.unchanged(meetings[i])) TRY(loadLineage(archive, meetings[i], summary));
      if (progress) progress(CatalogPhase::reading, i + 1, meetings.size());
    }
  }
  std::lock_guard guard(lock_);
  CatalogSummary result = summary;
  TRY(transaction([&]() -> Status {
    result = summary;
    const State state = TRY(readState());
    std::set<std::string> archived;
    for (const ArchiveMeeting& meeting : meetings) archived.insert(meeting.session.meeting.id);
    for (const std::string& id : state.meetings) {
      if (archived.count(id)) continue;
      if (state.counts.count(id)) TRY(execute("DELETE FROM utterances WHERE meeting_id=?", {id}));
      TRY(execute("DELETE FROM transcripts WHERE meeting_id=?", {id}));
      TRY(execute("DELETE FROM meetings WHERE id=?", {id}));
      result.meetingsRemoved += 1;
    }
    for (size_t i = 0; i < meetings.size(); ++i) {
      ArchiveMeeting& meeting = meetings[i];
      const std::string& id = meeting.session.meeting.id;
      TRY(upsert(meeting.session.meeting, meeting.session.folder));
      if (progress) progress(CatalogPhase::indexing, i + 1, meetings.size());
      if (!meeting.lineage && state.unchanged(meeting)) continue;
      TRY(loadLineage(archive, meeting, result));
      if (state.inSync(meeting)) continue;
      if (auto found = state.revisions.find(id); found != state.revisions.end()) {
        for (const auto& [revision, fingerprint] : meeting.fingerprints) {
          auto row = found->second.find(revision);
          if (row != found->second.end() && row->second.fingerprint != fingerprint) {
            return CatalogError::invalid(kReusedRevision);
          }
        }
      }
      // The aggregate counts say whether the meeting has utterance rows; a delete by meeting
      // reads the whole table, so it is skipped when there is nothing to find.
      if (state.counts.count(id)) TRY(execute("DELETE FROM utterances WHERE meeting_id=?", {id}));
      TRY(execute("DELETE FROM transcripts WHERE meeting_id=?", {id}));
      TRY(indexLineage(*meeting.lineage, meeting.fingerprints));
      result.revisionsIndexed += meeting.lineage->size();
      for (const auto& [track, document] : latestRevisionsBySource(*meeting.lineage)) {
        result.utterancesIndexed += document.utterances.size();
      }
      result.meetingsIndexed += 1;
    }
    return okStatus();
  }));
  return result;
}

}  // namespace korvel
