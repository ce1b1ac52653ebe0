#pragma once
// Archives with finished meetings and transcript revisions, and a raw look at catalog tables,
// for the catalog and job-queue tests.

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/archive/archive.h"
#include "core/catalog/catalog.h"
#include "platform/clock.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel::testing {

inline TranscriptDocument makeRevision(const std::string& id, const std::string& meetingID, const std::string& source,
                                       double createdAt, const std::vector<std::string>& texts,
                                       std::optional<std::string> parent = std::nullopt) {
  TranscriptDocument document;
  document.id = id;
  document.meetingID = meetingID;
  document.sourceID = source;
  document.model = "base.en";
  document.language = "en";
  document.createdAt = Date::fromUnix(createdAt);
  document.parentVersionID = std::move(parent);
  if (document.parentVersionID) document.revisionOrigin = TranscriptDocument::RevisionOrigin::userCorrection;
  for (size_t i = 0; i < texts.size(); ++i) {
    document.utterances.push_back({"u" + std::to_string(i + 1), 2.0 * i, 2.0 * i + 1.5, texts[i], {}, {}});
  }
  return document;
}

struct CatalogSandbox {
  TempDir temp;
  ManualClock clock{Date::fromUnix(1772633700)};
  Archive archive{temp / "Archive", clock, "UTC"};
  std::filesystem::path databaseFile = temp / "catalog" / "korvel.sqlite";

  // A finished meeting with a microphone and an application-audio track.
  std::pair<Meeting, std::filesystem::path> addMeeting(const std::string& title, double startedAt = 1772633700) {
    clock.set(Date::fromUnix(startedAt));
    Meeting meeting = Meeting::create(title, 1, {{"mic", "Mic", "microphone"}, {"app", "App", "audio"}},
                                      std::string("mic"), clock, "UTC");
    const auto folder = valueOf(archive.create(meeting));
    meeting.state = SessionState::finalized;
    requireOk(archive.save(meeting, folder));
    return {meeting, folder};
  }
  static void publish(const std::filesystem::path& folder, const TranscriptDocument& document) {
    requireOk(TranscriptArtifacts::save(document, folder));
  }
  std::unique_ptr<Catalog> open() { return valueOf(Catalog::open(databaseFile)); }
};

// Every row of the catalog's derived tables, sorted, as text: equal dumps mean equal catalogs.
inline std::string dumpCatalog(const std::filesystem::path& file, bool includeJobs = false) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) throw std::runtime_error("open");
  std::string out;
  std::vector<const char*> queries = {
      "SELECT id,title,directory,started,provider,state FROM meetings ORDER BY id",
      "SELECT id,meeting_id,source_id,created,parent_id,model,language,fingerprint FROM transcripts ORDER BY id",
      "SELECT text,meeting_id,source_id,transcript_id,utterance_id,start,end FROM utterances ORDER BY "
      "transcript_id,utterance_id"};
  if (includeJobs) queries.push_back("SELECT id,record FROM processing_jobs ORDER BY id");
  for (const char* sql : queries) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        const auto* text = sqlite3_column_text(statement, c);
        out += text ? reinterpret_cast<const char*>(text) : "NULL";
        out += "|";
      }
      out += "\n";
    }
    sqlite3_finalize(statement);
    out += "--\n";
  }
  sqlite3_close(db);
  return out;
}

inline std::string scalar(const std::filesystem::path& file, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(statement, 0);
    out = text ? reinterpret_cast<const char*>(text) : "NULL";
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return out;
}

}  // namespace korvel::testing
