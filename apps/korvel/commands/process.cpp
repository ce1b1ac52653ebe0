// `korvel process plan|request|status|import|work|retry`: post-recording processing through the
// catalog's job queue. The transcription engine stays outside: `work` runs it as a program and
// `import` takes results it already produced.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/catalog_options.h"
#include "apps/korvel/commands.h"
#include "apps/korvel/identifier_prefix.h"
#include "core/processing/planner.h"
#include "core/processing/post_recording.h"
#include "core/processing/progress.h"
#include "core/processing/transcription_worker.h"
#include "platform/crypto.h"
#include "platform/enum_names.h"
#include "platform/interrupts.h"
#include "platform/process.h"
#include "platform/timezone.h"

namespace korvel::cli {
namespace {

struct PlanArguments {
  std::string meetingID;  // empty: every finished meeting
  std::string model = "small";
  std::string modelFingerprint;  // empty: derived from the model name
  std::string language = "auto";
};

struct WorkArguments {
  std::string engine;
  double leaseSeconds = 300;
  double retryAfterSeconds = 60;
  int64_t maximumJobs = 0;  // 0: until the queue has nothing due
};

struct StatusArguments {
  std::string meetingID;  // empty: the whole job table
  bool processingOff = false;
  bool summariesOff = false;
};

struct ImportArguments {
  std::string meetingID;
  std::string sourceID;
  std::vector<std::string> outputs;
};

struct RetryArguments {
  std::string target;  // a job id, a unique prefix of one, or a meeting id
  std::string sourceID;
};

std::string shortJobID(const std::string& id) { return shortIdentifier(id); }

std::string plural(size_t count, const char* noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

// A command line that asks for the impossible: the sentence and exit code 2.
void reportUsage(Context& context, const std::string& message) {
  context.err << message << "\n";
  context.exitCode = kExitUsage;
}

// Whether `value` lies in [minimum, maximum]; otherwise reported as a usage error naming the range.
bool checkRange(Context& context, const char* flag, double value, double minimum, double maximum) {
  if (std::isfinite(value) && value >= minimum && value <= maximum) return true;
  reportUsage(context, fmt::format("{} must be between {} and {} seconds.", flag, minimum, maximum));
  return false;
}

// Seconds since 1970 as a moment in `zone`: the time of day, with the date when it is not the
// day of `now`.
std::string localMoment(double seconds, double now, const std::string& zone) {
  auto civil = civilTime(Date::fromUnix(seconds), zone);
  auto today = civilTime(Date::fromUnix(now), zone);
  if (!civil || !today) return formatIso8601(Date::fromUnix(seconds));
  const std::string time = fmt::format("{:02}:{:02}:{:02}", civil->hour, civil->minute, civil->second);
  if (civil->year == today->year && civil->month == today->month && civil->day == today->day) return time;
  return fmt::format("{:04}-{:02}-{:02} {}", civil->year, civil->month, civil->day, time);
}

// ISO 8601 in `zone`, with its offset from UTC ("2026-12-07T14:05:10+01:00").
std::string localIso8601(double seconds, const std::string& zone) {
  const double whole = std::floor(seconds);
  auto civil = civilTime(Date::fromUnix(whole), zone);
  if (!civil) return formatIso8601(Date::fromUnix(whole));
  using namespace std::chrono;
  const auto day = sys_days{year{civil->year} / month{static_cast<unsigned>(civil->month)} /
                            std::chrono::day{static_cast<unsigned>(civil->day)}};
  const double asUtc = static_cast<double>(day.time_since_epoch().count()) * 86400 + civil->hour * 3600 +
                       civil->minute * 60 + civil->second;
  const auto offsetMinutes = static_cast<long>(std::lround((asUtc - whole) / 60));
  const long magnitude = std::labs(offsetMinutes);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}{:02}:{:02}", civil->year, civil->month, civil->day,
                     civil->hour, civil->minute, civil->second, offsetMinutes < 0 ? '-' : '+', magnitude / 60,
                     magnitude % 60);
}

// When a job can next be taken: a queued job's available time, a running job's lease end.
std::optional<double> nextChance(const ProcessingJob& job) {
  if (job.state == ProcessingJobState::queued) return job.availableAt;
  if (job.state == ProcessingJobState::running) return job.leaseUntil.value_or(0);
  return std::nullopt;
}

struct Handles {
  std::shared_ptr<ArchiveOptions> archive;
  std::shared_ptr<CatalogOptions> catalog;
};

Handles addHandles(CLI::App& command, Context& context) {
  return {addArchiveOptions(command, context), addCatalogOptions(command)};
}

// The archive, its catalog and the queue's jobs, or nothing with the failure already reported.
struct OpenQueue {
  Archive archive;
  std::unique_ptr<Catalog> catalog;
  std::vector<ProcessingJob> jobs;
};

std::optional<OpenQueue> openQueueOrReport(const Handles& handles, Context& context) {
  auto archive = openExistingArchiveOrReport(*handles.archive, context);
  if (!archive) return std::nullopt;
  auto catalog = openCatalogOrReport(*handles.catalog, *archive, context);
  if (!catalog) return std::nullopt;
  auto jobs = catalog->processingJobs();
  if (!jobs) {
    reportFailure(context, jobs.error());
    return std::nullopt;
  }
  return OpenQueue{std::move(*archive), std::move(catalog), std::move(*jobs)};
}


constexpr auto kOutcomeNames = enumNames<TranscriptionJobOutcome::Result>("published", "failed", "leaseLost",
                                                                            "interrupted");

const char* outcomeName(TranscriptionJobOutcome::Result result) { return kOutcomeNames.name(result); }

Json outcomeJson(const TranscriptionJobOutcome& outcome) {
  return Json{{"jobID", outcome.jobID},
              {"meetingID", outcome.meetingID},
              {"sourceID", outcome.sourceID},
              {"result", outcomeName(outcome.result)},
              {"detail", outcome.detail}};
}

std::string outcomeLine(const TranscriptionJobOutcome& outcome) {
  switch (outcome.result) {
    case TranscriptionJobOutcome::Result::published:
      return fmt::format("Published revision {} of track {} of meeting {}.", outcome.detail.substr(0, kShortIdentifierLength),
                         outcome.sourceID, outcome.meetingID);
    case TranscriptionJobOutcome::Result::failed:
      return fmt::format("Track {} of meeting {} failed: {}", outcome.sourceID, outcome.meetingID, outcome.detail);
    case TranscriptionJobOutcome::Result::leaseLost:
    case TranscriptionJobOutcome::Result::interrupted:
      return fmt::format("Track {} of meeting {}: {}", outcome.sourceID, outcome.meetingID, outcome.detail);
  }
  return {};
}

// How the queue stood before a command changed it: each job's state by id.
using JobStates = std::map<std::string, ProcessingJobState>;

JobStates jobStates(const std::vector<ProcessingJob>& jobs) {
  JobStates states;
  for (const auto& job : jobs) states.emplace(job.id, job.state);
  return states;
}

// "1 job already failed; run korvel process retry ID to try it again.", or nothing.
std::string failedJobsLine(size_t failed, const std::string& meetingID) {
  if (failed == 0) return {};
  return fmt::format("{} already failed; run korvel process retry {} to try {} again.\n", plural(failed, "job"),
                     meetingID, failed == 1 ? "it" : "them");
}

void plan(const Handles& handles, const PlanArguments& arguments, Context& context) {
  const auto opened = openExistingArchiveOrReport(*handles.archive, context);
  if (!opened) return;
  const Archive& archive = *opened;
  std::vector<ArchivedSession> sessions;
  if (!arguments.meetingID.empty()) {
    auto session = findMeetingOrReport(archive, arguments.meetingID, context);
    if (!session) return;
    sessions.push_back(std::move(*session));
  } else {
    sessions = archive.sessions([&](const std::filesystem::path& manifest, const Error& error) {
      context.err << fmt::format("Skipped {}: {}\n", manifest.string(), error.message);
    });
  }
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  auto before = catalog->processingJobs();
  if (!before) return reportFailure(context, before.error());
  const JobStates present = jobStates(*before);
  const TranscriptionModel model{arguments.model,
                                 arguments.modelFingerprint.empty() ? sha256Hex(arguments.model)
                                                                    : arguments.modelFingerprint,
                                 arguments.language};
  Json planned = Json::array();
  size_t queuedNow = 0, alreadyPresent = 0;
  const auto plans = ProcessingPlanner::plan(archive, sessions, model, *catalog, context.clock);
  for (size_t i = 0; i < plans.size(); ++i) {
    const Meeting& meeting = sessions[i].meeting;
    const MeetingPlan& result = plans[i];
    std::vector<std::string> fresh, failed;
    size_t existing = 0;
    for (const auto& id : result.jobIDs) {
      const auto found = present.find(id);
      if (found == present.end()) {
        fresh.push_back(id);
        continue;
      }
      ++existing;
      if (found->second == ProcessingJobState::failed) failed.push_back(id);
    }
    queuedNow += fresh.size();
    alreadyPresent += existing;
    for (const auto& issue : result.issues) context.err << fmt::format("{}: {}\n", meeting.id, issue);
    if (handles.archive->json) {
      planned.push_back(Json{{"meetingID", meeting.id},
                             {"jobIDs", result.jobIDs},
                             {"queuedJobIDs", fresh},
                             {"failedJobIDs", failed},
                             {"issues", result.issues}});
      continue;
    }
    if (!fresh.empty() || existing > 0) {
      std::string line = fmt::format("“{}”: {} queued", meeting.title, plural(fresh.size(), "transcription job"));
      if (existing > 0) line += fmt::format(", {} already in the queue", existing);
      context.out << line << ".\n";
    }
    if (!failed.empty()) context.out << fmt::format("“{}”: {}", meeting.title, failedJobsLine(failed.size(), meeting.id));
    if (!arguments.meetingID.empty() && result.jobIDs.empty() && result.issues.empty()) {
      context.out << fmt::format("“{}” has nothing to transcribe: {}.\n", meeting.title,
                                 isActive(meeting.state) ? "it is still recording" : "transcription is off for it");
    }
  }
  if (handles.archive->json) return printJson(context, planned);
  context.out << fmt::format("{} queued now, {} already in the queue, for {}.\n", plural(queuedNow, "job"),
                             alreadyPresent, plural(sessions.size(), "meeting"));
}

void request(const Handles& handles, const std::string& meetingID, Context& context) {
  const auto opened = openExistingArchiveOrReport(*handles.archive, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  auto updated = requestPostRecordingProcessing(archive, session->folder, meetingID, context.clock.now(), std::nullopt);
  if (!updated) return reportFailure(context, updated.error());
  if (handles.archive->json) return printJson(context, updated->toJson());
  context.out << fmt::format("Processing requested for “{}”; run korvel process plan {} to queue it.\n",
                             updated->title, meetingID);
  // Planning finds a failed job again rather than queueing it anew: say so before the user wonders.
  // Without a catalog there are no jobs, and asking is no reason to make one.
  auto catalog = Catalog::open(catalogFile(*handles.catalog, archive, context), *context.fileSystem,
                               Catalog::OpenMode::existing);
  if (!catalog) {
    if (catalog.error().code != ErrorCode::NotFound) reportFailure(context, catalog.error());
    return;
  }
  auto jobs = (*catalog)->processingJobs();
  if (!jobs) return reportFailure(context, jobs.error());
  const auto failed = std::count_if(jobs->begin(), jobs->end(), [&](const ProcessingJob& job) {
    return job.request.meetingID == meetingID && job.state == ProcessingJobState::failed;
  });
  context.out << failedJobsLine(static_cast<size_t>(failed), meetingID);
}

// One meeting's progress and what the recorder would offer for it.
void meetingStatus(const Handles& handles, const StatusArguments& arguments, Context& context) {
  namespace processing = PostRecordingProcessing;
  const auto opened = openExistingArchiveOrReport(*handles.archive, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, arguments.meetingID, context);
  if (!session) return;
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  auto jobs = catalog->processingJobs();
  if (!jobs) return reportFailure(context, jobs.error());
  auto folder = archive.openMeetingFolder(session->folder);
  if (!folder) return reportFailure(context, folder.error());
  const Meeting& meeting = session->meeting;
  auto transcripts = TranscriptArtifacts::loadAll(*folder, meeting.id);
  if (!transcripts) return reportFailure(context, transcripts.error());

  const auto progress = processing::progress(*jobs, meeting.id);
  const auto offer = processing::offer(
      meeting, *transcripts, processing::hasSummaryRevision(*folder, meeting.id), *jobs,
      arguments.processingOff ? processing::Setting::off : processing::Setting::on,
      arguments.summariesOff ? processing::Setting::off : processing::Setting::on);
  if (handles.archive->json) {
    Json json{{"meetingID", meeting.id}, {"title", meeting.title}, {"progress", processing::toJson(progress)}};
    if (offer) json["offer"] = processing::toJson(*offer);
    return printJson(context, json);
  }
  context.out << fmt::format("“{}” ({})\nProgress: {}\nOffer: {}\n", meeting.title, meeting.id,
                             processing::describe(progress), offer ? processing::describe(*offer) : "nothing");
}

// When the job can be taken next, for people: "available 14:05:10", "lease ends 14:10:00".
std::string whenLine(const ProcessingJob& job, double now, const std::string& zone) {
  if (job.state == ProcessingJobState::queued) {
    return job.availableAt <= now ? "available now" : "available " + localMoment(job.availableAt, now, zone);
  }
  if (job.state == ProcessingJobState::running) {
    const double until = job.leaseUntil.value_or(0);
    return until <= now ? "lease expired" : "lease ends " + localMoment(until, now, zone);
  }
  return "";
}

void status(const Handles& handles, const StatusArguments& arguments, Context& context) {
  if (!arguments.meetingID.empty()) return meetingStatus(handles, arguments, context);
  const auto queue = openQueueOrReport(handles, context);
  if (!queue) return;
  const Archive& archive = queue->archive;
  const std::vector<ProcessingJob>* jobs = &queue->jobs;
  const double now = context.clock.now().secondsSince1970;
  if (handles.archive->json) {
    Json list = Json::array();
    for (const auto& job : *jobs) {
      Json json = job.toJson();
      if (job.state == ProcessingJobState::queued) json["availableFrom"] = localIso8601(job.availableAt, archive.timeZone());
      if (job.state == ProcessingJobState::running && job.leaseUntil) {
        json["leaseEnds"] = localIso8601(*job.leaseUntil, archive.timeZone());
      }
      list.push_back(std::move(json));
    }
    return printJson(context, list);
  }
  if (jobs->empty()) {
    context.out << "The job queue is empty.\n";
    return;
  }
  context.out << fmt::format("{:<12}  {:<13}  {:<9}  {:>8}  {:<24}  {:<36}  {}\n", "JOB", "KIND", "STATE", "ATTEMPTS",
                             "WHEN", "MEETING", "TRACK");
  for (const auto& job : *jobs) {
    context.out << fmt::format("{:<12}  {:<13}  {:<9}  {:>8}  {:<24}  {:<36}  {}{}\n", shortJobID(job.id),
                               toString(job.request.kind), toString(job.state),
                               fmt::format("{}/{}", job.attempts, job.maxAttempts),
                               whenLine(job, now, archive.timeZone()), job.request.meetingID, job.request.sourceID,
                               job.lastError ? "  " + *job.lastError : "");
  }
}

// Reports one job's outcome (a line, or a JSON object collected for the end); true when it published.
bool report(const TranscriptionJobOutcome& outcome, bool json, Json& outcomes, Context& context) {
  const bool published = outcome.result == TranscriptionJobOutcome::Result::published;
  if (json) {
    outcomes.push_back(outcomeJson(outcome));
  } else {
    (published ? context.out : context.err) << outcomeLine(outcome) << "\n";
  }
  return published;
}

void import(const Handles& handles, const ImportArguments& arguments, Context& context) {
  const auto opened = openExistingArchiveOrReport(*handles.archive, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto session = findMeetingOrReport(archive, arguments.meetingID, context);
  if (!session) return;
  // Everything the files can be checked for is checked before a job is claimed: a mistyped
  // path must not cost the job an attempt and hold it back for the retry delay.
  std::vector<std::filesystem::path> files(arguments.outputs.begin(), arguments.outputs.end());
  auto outputs = readEngineOutputs(session->meeting, arguments.sourceID, files, *context.fileSystem);
  if (!outputs) return reportFailure(context, outputs.error());
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  auto engine = makePreparedEngine(std::move(*outputs));
  TranscriptionWorker worker(*catalog, archive, context.clock);
  auto outcome = worker.runTrack(*engine, arguments.meetingID, arguments.sourceID);
  if (!outcome) return reportFailure(context, outcome.error());
  if (!*outcome) {
    auto jobs = catalog->processingJobs();
    const bool failed = jobs && std::any_of(jobs->begin(), jobs->end(), [&](const ProcessingJob& job) {
      return job.request.kind == ProcessingKind::transcription && job.request.meetingID == arguments.meetingID &&
             job.request.sourceID == arguments.sourceID && job.state == ProcessingJobState::failed;
    });
    if (failed) {
      return reportFailure(context, makeError(ErrorCode::NotFound,
                                              fmt::format("The transcription job of this track has failed; run "
                                                          "korvel process retry {} --source {} first.",
                                                          arguments.meetingID, arguments.sourceID)));
    }
    return reportFailure(context, makeError(ErrorCode::NotFound,
                                            "No transcription job of this track is waiting; run korvel process "
                                            "plan for the meeting first."));
  }
  Json outcomes = Json::array();
  if (!report(**outcome, handles.archive->json, outcomes, context)) context.exitCode = kExitFailed;
  if (handles.archive->json) printJson(context, outcomes.front());
}

// "2 jobs wait: the next can run at 14:05:10.": transcription jobs held back by a retry delay
// or another worker's lease, which a later `work` will take.
std::string waitingLine(Catalog& catalog, double now, const std::string& zone) {
  auto jobs = catalog.processingJobs();
  if (!jobs) return {};
  size_t waiting = 0;
  std::optional<double> next;
  for (const auto& job : *jobs) {
    if (job.request.kind != ProcessingKind::transcription || job.attempts >= job.maxAttempts) continue;
    const auto chance = nextChance(job);
    if (!chance || *chance <= now) continue;
    ++waiting;
    next = next ? std::min(*next, *chance) : *chance;
  }
  if (waiting == 0) return {};
  return fmt::format("{} {}: the next can run at {}.\n", plural(waiting, "job"), waiting == 1 ? "waits" : "wait",
                     localMoment(*next, now, zone));
}

void work(const Handles& handles, const WorkArguments& arguments, Context& context) {
  if (!checkRange(context, "--lease", arguments.leaseSeconds, kMinimumLeaseSeconds, kMaximumLeaseSeconds) ||
      !checkRange(context, "--retry-after", arguments.retryAfterSeconds, 0, kMaximumRetryDelaySeconds)) {
    return;
  }
  if (arguments.maximumJobs < 0) return reportUsage(context, "--max-jobs must be 0 (no limit) or more.");
  // An engine that cannot even start would fail every job it is given, each failure costing an
  // attempt: find out before claiming any.
  const auto program = findProgram(arguments.engine);
  if (!program) {
    return reportUsage(context, arguments.engine.find('/') == std::string::npos
                                    ? fmt::format("No program named {} is on PATH to run as the engine.",
                                                  arguments.engine)
                                    : fmt::format("The engine {} is not an executable file.", arguments.engine));
  }
  const auto opened = openExistingArchiveOrReport(*handles.archive, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  const InterruptWatch interrupts;
  auto engine = makeProgramEngine(program->string(), *context.fileSystem, &interrupts);
  WorkerSettings settings{arguments.leaseSeconds, arguments.retryAfterSeconds, std::nullopt};
  settings.cancelled = [&interrupts] { return interrupts.interrupted(); };
  TranscriptionWorker worker(*catalog, archive, context.clock, settings);
  Json outcomes = Json::array();
  size_t published = 0, done = 0;
  bool drained = false;
  while (!interrupts.interrupted()) {
    if (arguments.maximumJobs != 0 && done >= static_cast<size_t>(arguments.maximumJobs)) break;
    auto outcome = worker.runNext(*engine);
    if (!outcome) return reportFailure(context, outcome.error());
    if (!*outcome) {
      drained = true;
      break;
    }
    if ((*outcome)->result == TranscriptionJobOutcome::Result::interrupted) {
      report(**outcome, handles.archive->json, outcomes, context);
      break;
    }
    ++done;
    if (report(**outcome, handles.archive->json, outcomes, context)) ++published;
  }
  if (published != done) context.exitCode = kExitFailed;
  if (interrupts.interrupted()) context.exitCode = interrupts.exitCode();
  if (handles.archive->json) return printJson(context, outcomes);
  context.out << fmt::format("{} run, {} published.\n", plural(done, "job"), published);
  if (drained) context.out << waitingLine(*catalog, context.clock.now().secondsSince1970, archive.timeZone());
}

// The failed jobs `retry` names: one job by id or unique prefix, or a meeting's (one track's with
// --source). Refusals are reported here.
std::optional<std::vector<ProcessingJob>> retryTargets(const std::vector<ProcessingJob>& jobs,
                                                       const RetryArguments& arguments, const Archive& archive,
                                                       Context& context) {
  const auto ofMeeting = [&](const ProcessingJob& job) { return job.request.meetingID == arguments.target; };
  const bool isMeeting = std::any_of(jobs.begin(), jobs.end(), ofMeeting) ||
                         archive.find(arguments.target).ok();
  std::vector<ProcessingJob> chosen;
  if (isMeeting) {
    for (const auto& job : jobs) {
      if (!ofMeeting(job) || job.state != ProcessingJobState::failed) continue;
      if (!arguments.sourceID.empty() && job.request.sourceID != arguments.sourceID) continue;
      chosen.push_back(job);
    }
    if (chosen.empty()) {
      reportFailure(context, makeError(ErrorCode::NotFound,
                                       arguments.sourceID.empty()
                                           ? "No job of this meeting has failed; there is nothing to retry."
                                           : "No job of this track has failed; there is nothing to retry."));
      return std::nullopt;
    }
    return chosen;
  }
  if (!arguments.sourceID.empty()) {
    reportUsage(context, "--source goes with a meeting identifier, not a job identifier.");
    return std::nullopt;
  }
  if (arguments.target.size() < kMinimumIdentifierPrefix) {
    reportFailure(context, makeError(ErrorCode::NotFound,
                                     fmt::format("No meeting has this identifier, and a job identifier needs at "
                                                 "least {} characters.",
                                                 kMinimumIdentifierPrefix)));
    return std::nullopt;
  }
  std::vector<std::string> ids;
  for (const auto& job : jobs) ids.push_back(job.id);
  const auto matches = identifiersMatching(arguments.target, ids);
  if (matches.empty()) {
    reportFailure(context, makeError(ErrorCode::NotFound, "No job or meeting has this identifier."));
    return std::nullopt;
  }
  if (matches.size() > 1) {
    std::vector<std::string> shown;
    for (const auto& id : matches) shown.push_back(shortJobID(id));
    reportFailure(context, ambiguousIdentifier(arguments.target, shown, "jobs"));
    return std::nullopt;
  }
  for (const auto& job : jobs)
    if (job.id == matches.front()) chosen.push_back(job);
  if (chosen.front().state != ProcessingJobState::failed) {
    reportFailure(context, makeError(ErrorCode::InvalidInput,
                                     fmt::format("Job {} is {}; only a failed job can be retried.",
                                                 shortJobID(chosen.front().id), toString(chosen.front().state))));
    return std::nullopt;
  }
  return chosen;
}

void retry(const Handles& handles, const RetryArguments& arguments, Context& context) {
  const auto queue = openQueueOrReport(handles, context);
  if (!queue) return;
  const auto& catalog = queue->catalog;
  const auto targets = retryTargets(queue->jobs, arguments, queue->archive, context);
  if (!targets) return;
  Json retried = Json::array();
  for (const auto& job : *targets) {
    auto changed = catalog->retryJob(job.id, context.clock.now().secondsSince1970);
    if (!changed) return reportFailure(context, changed.error());
    // Another process may have retried it in the meantime; it is queued either way.
    retried.push_back(job.id);
    if (!handles.archive->json) {
      context.out << fmt::format("Job {} (track {} of meeting {}) is queued again with {} attempts.\n",
                                 shortJobID(job.id), job.request.sourceID, job.request.meetingID, job.maxAttempts);
    }
  }
  if (handles.archive->json) return printJson(context, Json{{"retriedJobIDs", retried}});
  context.out << fmt::format("Run korvel process work to run {}.\n", targets->size() == 1 ? "it" : "them");
}

void addProcessCommands(CLI::App& app, Context& context) {
  auto* group = app.add_subcommand("process", "Post-recording processing: plan jobs, run them, watch the queue.");
  group->require_subcommand(1);

  auto* planCommand = group->add_subcommand(
      "plan", "Queue a transcription job per audio track of finished meetings, and enter request files.");
  auto planHandles = addHandles(*planCommand, context);
  auto planArguments = std::make_shared<PlanArguments>();
  planCommand->add_option("ID", planArguments->meetingID, "Only this meeting (default: every finished meeting).");
  planCommand->add_option("--model", planArguments->model, "Transcription model the jobs ask for.")
      ->capture_default_str();
  planCommand->add_option("--model-fingerprint", planArguments->modelFingerprint,
                          "Fingerprint of the model files (default: SHA-256 of the model name).");
  planCommand->add_option("--language", planArguments->language, "Language setting for the engine.")
      ->capture_default_str();
  planCommand->callback([planHandles, planArguments, &context] { plan(planHandles, *planArguments, context); });

  auto* requestCommand = group->add_subcommand(
      "request", "Ask for a meeting recorded with transcription off to be transcribed after all.");
  auto requestHandles = addHandles(*requestCommand, context);
  auto requestID = std::make_shared<std::string>();
  requestCommand->add_option("ID", *requestID, "The meeting's identifier.")->required();
  requestCommand->callback([requestHandles, requestID, &context] { request(requestHandles, *requestID, context); });

  auto* statusCommand =
      group->add_subcommand("status", "Print the job table, or one meeting's progress and what would be offered.");
  auto statusHandles = addHandles(*statusCommand, context);
  auto statusArguments = std::make_shared<StatusArguments>();
  statusCommand->add_option("ID", statusArguments->meetingID, "Only this meeting: its progress and offer.");
  statusCommand->add_flag("--processing-off", statusArguments->processingOff,
                          "With ID: judge the offer as if post-recording processing were switched off.");
  statusCommand->add_flag("--summaries-off", statusArguments->summariesOff,
                          "With ID: judge the offer as if summaries were switched off.");
  statusCommand->callback(
      [statusHandles, statusArguments, &context] { status(statusHandles, *statusArguments, context); });

  auto* importCommand = group->add_subcommand(
      "import", "Claim a track's job and publish engine results given as files, one per committed segment.");
  auto importHandles = addHandles(*importCommand, context);
  auto importArguments = std::make_shared<ImportArguments>();
  importCommand->add_option("ID", importArguments->meetingID, "The meeting's identifier.")->required();
  importCommand->add_option("SOURCE_ID", importArguments->sourceID, "The audio track.")->required();
  importCommand->add_option("ENGINE_OUTPUT", importArguments->outputs, "Engine JSON per segment, in order.")
      ->required();
  importCommand->callback(
      [importHandles, importArguments, &context] { import(importHandles, *importArguments, context); });

  auto* workCommand = group->add_subcommand(
      "work", "Claim, run and publish transcription jobs until none is due, running the engine per segment.");
  auto workHandles = addHandles(*workCommand, context);
  auto workArguments = std::make_shared<WorkArguments>();
  workCommand
      ->add_option("--engine", workArguments->engine,
                   "Engine program, run as: PROGRAM --audio FILE --output FILE --duration S --language L --model M "
                   "--source ID --segment ID --segment-index N --meeting-title T")
      ->required();
  workCommand->add_option("--lease", workArguments->leaseSeconds, "Lease length in seconds (1 to 3600).")
      ->capture_default_str();
  workCommand
      ->add_option("--retry-after", workArguments->retryAfterSeconds,
                   "Seconds before a failed job is retried (0 to 86400).")
      ->capture_default_str();
  workCommand->add_option("--max-jobs", workArguments->maximumJobs, "Stop after this many jobs (0: no limit).")
      ->capture_default_str();
  workCommand->callback([workHandles, workArguments, &context] { work(workHandles, *workArguments, context); });

  auto* retryCommand = group->add_subcommand(
      "retry", "Queue failed jobs again with fresh attempts: one job, or a meeting's (one track's with --source).");
  auto retryHandles = addHandles(*retryCommand, context);
  auto retryArguments = std::make_shared<RetryArguments>();
  retryCommand
      ->add_option("JOB|ID", retryArguments->target,
                   "A job identifier (at least 8 characters of it), or a meeting identifier.")
      ->required();
  retryCommand->add_option("--source", retryArguments->sourceID, "With a meeting: only this track's job.");
  retryCommand->callback([retryHandles, retryArguments, &context] { retry(retryHandles, *retryArguments, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(51, addProcessCommands);

}  // namespace korvel::cli
