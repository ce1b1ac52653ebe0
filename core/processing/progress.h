#pragma once
// Where a meeting's post-recording processing stands, and what the user interface offers for it.
//
// Both are pure functions of values the caller has already read (the job table, the meeting's
// revisions, whether a summary exists, two settings), so they can be asked on every refresh.
//
// Offers, checked in this order (the cases beyond the in-progress and failed ones are this
// system's own choice):
//   1. a meeting still recording or paused: none (nothing can be processed yet);
//   2. a job of the meeting running or queued: inProgress with that progress;
//   3. a job failed: failed with the failed jobs' ids, so that they can be retried;
//   4. processing switched off: none;
//   5. a transcript and a summary exist: none (everything is done);
//   6. a transcript but no summary: request(includesSummary: true, hasTranscript: true) when
//      summaries are on, otherwise summariesOff;
//   7. no transcript: request(includesSummary: summaries on, hasTranscript: false) when the
//      meeting has audio to transcribe, otherwise none.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/archive/meeting.h"
#include "core/catalog/job_queue.h"
#include "core/catalog/transcript_document.h"
#include "platform/files.h"
#include "platform/json.h"

namespace korvel::PostRecordingProcessing {

struct Idle {
  bool operator==(const Idle&) const = default;
};
struct Queued {
  ProcessingKind kind;
  bool operator==(const Queued&) const = default;
};
struct Running {
  ProcessingKind kind;
  bool operator==(const Running&) const = default;
};
struct Failed {
  std::string detail;  // the first failed job's last error
  std::vector<std::string> jobIDs;
  bool operator==(const Failed&) const = default;
};
using Progress = std::variant<Idle, Queued, Running, Failed>;

// Over the meeting's jobs, in queue order: the first running job's kind; else every failed
// job; else the first queued job's kind; else idle.
Progress progress(const std::vector<ProcessingJob>& jobs, const std::string& meetingID);
std::string describe(const Progress& progress);
// {"case": "queued"|"running"|"failed"|"idle", "kind"?, "detail"?, "jobIDs"?}
Json toJson(const Progress& progress);

namespace offers {
struct Request {
  bool includesSummary = false;
  bool hasTranscript = false;
  bool operator==(const Request&) const = default;
};
struct InProgress {
  Progress progress;
  bool operator==(const InProgress&) const = default;
};
struct Failed {
  std::vector<std::string> jobIDs;
  bool operator==(const Failed&) const = default;
};
struct SummariesOff {
  bool operator==(const SummariesOff&) const = default;
};
}  // namespace offers
using Offer = std::variant<offers::Request, offers::InProgress, offers::Failed, offers::SummariesOff>;

enum class Setting { off, on };

// Whether the meeting folder holds a published summary revision of this meeting: a folder in
// "summaries/" whose "summary.json" is a version-1 document naming this meeting and the
// folder. Staging folders, links and documents of other meetings do not count.
bool hasSummaryRevision(const Dir& meetingFolder, std::string_view meetingID);

// What to offer for the meeting; see the order above. `transcripts` are the meeting's revisions.
std::optional<Offer> offer(const Meeting& meeting, const std::vector<TranscriptDocument>& transcripts, bool hasSummary,
                           const std::vector<ProcessingJob>& jobs, Setting processing, Setting summaries);
std::string describe(const Offer& offer);
// {"case": "request"|"inProgress"|"failed"|"summariesOff", "includesSummary"?, "hasTranscript"?,
// "progress"?, "jobIDs"?}
Json toJson(const Offer& offer);

}  // namespace korvel::PostRecordingProcessing
