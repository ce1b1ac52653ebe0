// A meeting's processing progress from the job table, and the offer derived from it.

#include "core/processing/progress.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/processing/post_recording.h"

namespace korvel::PostRecordingProcessing {

Progress progress(const std::vector<ProcessingJob>& jobs, const std::string& meetingID) {
  std::optional<ProcessingKind> firstQueued;
  Failed failed;
  for (const ProcessingJob& job : jobs) {
    if (job.request.meetingID != meetingID) continue;
    switch (job.state) {
      case ProcessingJobState::running:
        return Running{job.request.kind};
      case ProcessingJobState::failed:
        if (failed.jobIDs.empty()) failed.detail = job.lastError.value_or("");
        failed.jobIDs.push_back(job.id);
        break;
      case ProcessingJobState::queued:
        if (!firstQueued) firstQueued = job.request.kind;
        break;
      case ProcessingJobState::succeeded:
        break;
    }
  }
  if (!failed.jobIDs.empty()) return failed;
  if (firstQueued) return Queued{*firstQueued};
  return Idle{};
}

std::string describe(const Progress& progress) {
  struct Describer {
    std::string operator()(const Idle&) const { return "idle"; }
    std::string operator()(const Queued& queued) const { return fmt::format("queued ({})", toString(queued.kind)); }
    std::string operator()(const Running& running) const {
      return fmt::format("running ({})", toString(running.kind));
    }
    std::string operator()(const Failed& failed) const {
      return fmt::format("failed ({} job{}{})", failed.jobIDs.size(), failed.jobIDs.size() == 1 ? "" : "s",
                         failed.detail.empty() ? "" : ": " + failed.detail);
    }
  };
  return std::visit(Describer{}, progress);
}

Json toJson(const Progress& progress) {
  struct Encoder {
    Json operator()(const Idle&) const { return Json{{"case", "idle"}}; }
    Json operator()(const Queued& queued) const { return Json{{"case", "queued"}, {"kind", toString(queued.kind)}}; }
    Json operator()(const Running& running) const {
      return Json{{"case", "running"}, {"kind", toString(running.kind)}};
    }
    Json operator()(const Failed& failed) const {
      return Json{{"case", "failed"}, {"detail", failed.detail}, {"jobIDs", failed.jobIDs}};
    }
  };
  return std::visit(Encoder{}, progress);
}

bool hasSummaryRevision(const Dir& meetingFolder, std::string_view meetingID) {
  // Summary documents are small; a file far larger is not one.
  constexpr uint64_t kMaximumSummaryBytes = 64ull << 20;
  auto summaries = meetingFolder.openDir("summaries");
  if (!summaries) return false;
  auto entries = summaries->list();
  if (!entries) return false;
  for (const DirEntry& entry : *entries) {
    if (entry.kind != EntryKind::directory || entry.name.starts_with('.')) continue;
    auto revision = summaries->openDir(entry.name);
    if (!revision) continue;
    auto bytes = revision->readFile("summary.json", kMaximumSummaryBytes);
    if (!bytes) continue;
    auto json = parseJson(*bytes);
    if (!json || !json->is_object()) continue;
    const auto member = [&](const char* key) { return json->contains(key) ? (*json)[key] : Json(); };
    if (member("schemaVersion") == Json(1) && member("id") == Json(entry.name) && member("meetingID") == Json(std::string(meetingID))) {
      return true;
    }
  }
  return false;
}

std::optional<Offer> offer(const Meeting& meeting, const std::vector<TranscriptDocument>& transcripts, bool hasSummary,
                           const std::vector<ProcessingJob>& jobs, Setting processing, Setting summaries) {
  if (isActive(meeting.state)) return std::nullopt;
  const Progress current = progress(jobs, meeting.id);
  if (std::holds_alternative<Queued>(current) || std::holds_alternative<Running>(current)) {
    return offers::InProgress{current};
  }
  if (const auto* failed = std::get_if<Failed>(&current)) return offers::Failed{failed->jobIDs};
  if (processing == Setting::off) return std::nullopt;

  const bool summariesOn = summaries == Setting::on;
  const bool hasTranscript = std::any_of(transcripts.begin(), transcripts.end(), [&](const TranscriptDocument& revision) {
    return revision.meetingID == meeting.id;
  });
  if (hasTranscript) {
    if (hasSummary) return std::nullopt;
    if (!summariesOn) return offers::SummariesOff{};
    return offers::Request{true, true};
  }
  if (!hasTranscribableAudio(meeting)) return std::nullopt;
  return offers::Request{summariesOn, false};
}

std::string describe(const Offer& offer) {
  struct Describer {
    std::string operator()(const offers::Request& request) const {
      if (request.hasTranscript) return "summarise the transcript";
      return request.includesSummary ? "transcribe and summarise" : "transcribe";
    }
    std::string operator()(const offers::InProgress& inProgress) const {
      return "wait: processing is " + PostRecordingProcessing::describe(inProgress.progress);
    }
    std::string operator()(const offers::Failed& failed) const {
      return fmt::format("retry {} failed job{}", failed.jobIDs.size(), failed.jobIDs.size() == 1 ? "" : "s");
    }
    std::string operator()(const offers::SummariesOff&) const { return "nothing: summaries are switched off"; }
  };
  return std::visit(Describer{}, offer);
}

Json toJson(const Offer& offer) {
  struct Encoder {
    Json operator()(const offers::Request& request) const {
      return Json{{"case", "request"}, {"includesSummary", request.includesSummary},
                  {"hasTranscript", request.hasTranscript}};
    }
    Json operator()(const offers::InProgress& inProgress) const {
      return Json{{"case", "inProgress"}, {"progress", PostRecordingProcessing::toJson(inProgress.progress)}};
    }
    Json operator()(const offers::Failed& failed) const {
      return Json{{"case", "failed"}, {"jobIDs", failed.jobIDs}};
    }
    Json operator()(const offers::SummariesOff&) const { return Json{{"case", "summariesOff"}}; }
  };
  return std::visit(Encoder{}, offer);
}

}  // namespace korvel::PostRecordingProcessing
