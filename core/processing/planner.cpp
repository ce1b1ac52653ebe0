// Planning transcription jobs and reconciling request files into the queue.

#include "core/processing/planner.h"

#include "core/archive/archive.h"
#include "core/processing/post_recording.h"
#include "core/processing/processing_location.h"

namespace korvel {
namespace {

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }

bool isFinished(const Meeting& meeting) {
  return meeting.state == SessionState::finalized || meeting.state == SessionState::incomplete;
}

// Request files are a single compact object; anything far larger is not one.
constexpr uint64_t kMaximumRequestFileBytes = 4 * kMaximumRequestBytes;

Result<ProcessingRequest> readRequestFile(const Dir& requests, const std::string& name) {
  const std::string bytes = TRY(requests.readFile(name, kMaximumRequestFileBytes));
  const Json json = TRY(parseJson(bytes));
  return ProcessingRequest::fromJson(json);
}

Status enterRequest(const ProcessingRequest& request, const Meeting& meeting, const Dir& folder, Catalog& catalog,
                    const Clock& clock) {
  if (request.meetingID != meeting.id ||
      standardizedFolderPath(request.directory) != standardizedFolderPath(folder.path().string())) {
    return invalid("Processing request belongs to another archive");
  }
  const auto location = TRY(readProcessingLocation(folder, meeting.id));
  const std::optional<std::string> identity =
      location ? std::optional<std::string>(location->identityDirectory) : std::nullopt;
  if (request.identityDirectory != identity) {
    return invalid("Processing relocation identity does not match this recording");
  }
  TRY(catalog.enqueue(request, clock.now().secondsSince1970, ProcessingPlanner::kDefaultAttempts));
  return okStatus();
}

}  // namespace

namespace ProcessingPlanner {

std::vector<std::string> enqueue(const Meeting& meeting, const Dir& folder, const TranscriptionModel& model,
                                 Catalog& catalog, const Clock& clock, const IssueReporter& issue) {
  std::vector<std::string> jobIDs;
  if (!isFinished(meeting)) return jobIDs;
  for (const std::string& sourceID : transcriptionSourceIDs(meeting)) {
    auto enqueued = [&]() -> Result<std::string> {
      const auto track = TRY(segments(meeting, sourceID));
      ProcessingRequest request;
      request.kind = ProcessingKind::transcription;
      request.meetingID = meeting.id;
      request.directory = folder.path().string();
      request.sourceID = sourceID;
      request.inputFingerprint = fingerprint(track);
      request.model = model.model;
      request.modelFingerprint = model.modelFingerprint;
      request.language = model.language;
      const auto location = TRY(readProcessingLocation(folder, meeting.id));
      if (location) request.identityDirectory = location->identityDirectory;
      return catalog.enqueue(request, clock.now().secondsSince1970, kDefaultAttempts);
    }();
    if (enqueued) {
      jobIDs.push_back(*enqueued);
    } else if (issue) {
      issue("Source " + sourceID + ": " + enqueued.error().message);
    }
  }
  return jobIDs;
}

Status reconcile(const Dir& folder, Catalog& catalog, RequestSelection selection, const Clock& clock,
                 const IssueReporter& issue) {
  auto requests = folder.openPath({kRequestsFolder, kRequestsSubfolder});
  if (!requests) {
    if (requests.error().code == ErrorCode::NotFound) return okStatus();
    return std::move(requests).error();
  }
  const Meeting meeting = TRY(Archive::readManifest(folder));
  if (!PostRecordingProcessing::permitsTranscription(meeting)) return okStatus();

  for (const DirEntry& entry : TRY(requests->list())) {
    if (entry.kind != EntryKind::file || !entry.name.ends_with(".json") || entry.name.starts_with(".")) continue;
    auto request = readRequestFile(*requests, entry.name);
    if (request && selection == RequestSelection::speakerSummariesOnly &&
        !(request->kind == ProcessingKind::summary && request->sourceID.starts_with("speaker:"))) {
      continue;
    }
    Status entered = request ? enterRequest(*request, meeting, folder, catalog, clock) : Status(request.error());
    if (!entered && issue) issue(entry.name + ": " + entered.error().message);
  }
  return okStatus();
}

std::vector<MeetingPlan> plan(const Archive& archive, const std::vector<ArchivedSession>& sessions,
                              const TranscriptionModel& model, Catalog& catalog, const Clock& clock) {
  std::vector<MeetingPlan> plans;
  plans.reserve(sessions.size());
  for (const ArchivedSession& session : sessions) {
    MeetingPlan& planned = plans.emplace_back(MeetingPlan{session.meeting.id, {}, {}});
    const IssueReporter report = [&](const std::string& line) { planned.issues.push_back(line); };
    auto folder = archive.openMeetingFolder(session.folder);
    if (!folder) {
      report(folder.error().message);
      continue;
    }
    if (Status reconciled = reconcile(*folder, catalog, RequestSelection::all, clock, report); !reconciled) {
      report(reconciled.error().message);
    }
    planned.jobIDs = enqueue(session.meeting, *folder, model, catalog, clock, report);
  }
  return plans;
}

}  // namespace ProcessingPlanner

}  // namespace korvel
