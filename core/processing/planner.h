#pragma once
// Turns finished meetings, or the request files left in their folders, into processing jobs.
//
// Problems with one track or one request file go to the issue reporter as one line each and
// the planner carries on with the next; only failures to reach the folder itself stop it.

#include <functional>
#include <string>
#include <vector>

#include "core/archive/archive.h"
#include "core/archive/meeting.h"
#include "core/catalog/catalog.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/result.h"

namespace korvel {

using IssueReporter = std::function<void(const std::string& line)>;

// The transcription model the jobs ask for.
struct TranscriptionModel {
  std::string model;
  std::string modelFingerprint;
  std::string language;
};

// What planning did for one meeting: the jobs it queued (or found already queued) and one
// line per problem met on the way.
struct MeetingPlan {
  std::string meetingID;
  std::vector<std::string> jobIDs;
  std::vector<std::string> issues;

  bool operator==(const MeetingPlan&) const = default;
};

// Whether reconciliation takes only speaker-summary requests.
enum class RequestSelection { all, speakerSummariesOnly };

namespace ProcessingPlanner {

inline constexpr const char* kRequestsFolder = "processing";
inline constexpr const char* kRequestsSubfolder = "requests";
inline constexpr int64_t kDefaultAttempts = 3;

// One transcription job per track to transcribe; the ids of the jobs enqueued (existing jobs
// of the same work are found again, not duplicated). Nothing for a meeting still recording.
std::vector<std::string> enqueue(const Meeting& meeting, const Dir& folder, const TranscriptionModel& model,
                                 Catalog& catalog, const Clock& clock, const IssueReporter& issue = {});

// Enters the folder's "processing/requests/*.json" into the queue, idempotently.
Status reconcile(const Dir& folder, Catalog& catalog, RequestSelection selection, const Clock& clock,
                 const IssueReporter& issue = {});

// Plans each session in turn: enters its request files, then queues its tracks. One plan per
// session, in the given order; a meeting whose folder cannot be opened gets that as its issue.
std::vector<MeetingPlan> plan(const Archive& archive, const std::vector<ArchivedSession>& sessions,
                              const TranscriptionModel& model, Catalog& catalog, const Clock& clock);

}  // namespace ProcessingPlanner

}  // namespace korvel
