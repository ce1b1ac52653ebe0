// `korvel process plan|request|status|import|work`: post-recording processing through the
// catalog's job queue. The transcription engine stays outside: `work` runs it as a program and
// `import` takes results it already produced.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/catalog_options.h"
#include "apps/korvel/commands.h"
#include "core/processing/planner.h"
#include "core/processing/post_recording.h"
#include "core/processing/progress.h"
#include "core/processing/transcription_worker.h"
#include "platform/crypto.h"
#include "platform/enum_names.h"

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
  size_t maximumJobs = 0;  // 0: until the queue has nothing due
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

struct Handles {
  std::shared_ptr<ArchiveOptions> archive;
  std::shared_ptr<CatalogOptions> catalog;
};

Handles addHandles(CLI::App& command, Context& context) {
  return {addArchiveOptions(command, context), addCatalogOptions(command)};
}

constexpr auto kOutcomeNames = enumNames<TranscriptionJobOutcome::Result>("published", "failed", "leaseLost");

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
      return fmt::format("Published revision {} of track {} of meeting {}.", outcome.detail.substr(0, 12),
                         outcome.sourceID, outcome.meetingID);
    case TranscriptionJobOutcome::Result::failed:
      return fmt::format("Track {} of meeting {} failed: {}", outcome.sourceID, outcome.meetingID, outcome.detail);
    case TranscriptionJobOutcome::Result::leaseLost:
      return fmt::format("Track {} of meeting {}: {}", outcome.sourceID, outcome.meetingID, outcome.detail);
  }
  return {};
}

void plan(const Handles& handles, const PlanArguments& arguments, Context& context) {
  const Archive archive = openArchive(*handles.archive, context);
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
  const TranscriptionModel model{arguments.model,
                                 arguments.modelFingerprint.empty() ? sha256Hex(arguments.model)
                                                                    : arguments.modelFingerprint,
                                 arguments.language};
  Json planned = Json::array();
  size_t total = 0;
  const auto plans = ProcessingPlanner::plan(archive, sessions, model, *catalog, context.clock);
  for (size_t i = 0; i < plans.size(); ++i) {
    const Meeting& meeting = sessions[i].meeting;
    const MeetingPlan& result = plans[i];
    total += result.jobIDs.size();
    for (const auto& issue : result.issues) context.err << fmt::format("{}: {}\n", meeting.id, issue);
    if (handles.archive->json) {
      planned.push_back(Json{{"meetingID", meeting.id}, {"jobIDs", result.jobIDs}, {"issues", result.issues}});
    } else if (!result.jobIDs.empty()) {
      context.out << fmt::format("“{}”: {} transcription job{} queued.\n", meeting.title, result.jobIDs.size(),
                                 result.jobIDs.size() == 1 ? "" : "s");
    }
    if (!arguments.meetingID.empty() && result.jobIDs.empty() && result.issues.empty() && !handles.archive->json) {
      context.out << fmt::format("“{}” has nothing to transcribe: {}.\n", meeting.title,
                                 isActive(meeting.state) ? "it is still recording" : "transcription is off for it");
    }
  }
  if (handles.archive->json) return printJson(context, planned);
  context.out << fmt::format("{} job{} in the queue for {} meeting{}.\n", total, total == 1 ? "" : "s",
                             sessions.size(), sessions.size() == 1 ? "" : "s");
}

void request(const Handles& handles, const std::string& meetingID, Context& context) {
  const Archive archive = openArchive(*handles.archive, context);
  auto session = findMeetingOrReport(archive, meetingID, context);
  if (!session) return;
  auto updated = requestPostRecordingProcessing(archive, session->folder, meetingID, context.clock.now(), std::nullopt);
  if (!updated) return reportFailure(context, updated.error());
  if (handles.archive->json) return printJson(context, updated->toJson());
  context.out << fmt::format("Processing requested for “{}”; run korvel process plan {} to queue it.\n",
                             updated->title, meetingID);
}

// One meeting's progress and what the recorder would offer for it.
void meetingStatus(const Handles& handles, const StatusArguments& arguments, Context& context) {
  namespace processing = PostRecordingProcessing;
  const Archive archive = openArchive(*handles.archive, context);
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

void status(const Handles& handles, const StatusArguments& arguments, Context& context) {
  if (!arguments.meetingID.empty()) return meetingStatus(handles, arguments, context);
  const Archive archive = openArchive(*handles.archive, context);
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  auto jobs = catalog->processingJobs();
  if (!jobs) return reportFailure(context, jobs.error());
  if (handles.archive->json) {
    Json list = Json::array();
    for (const auto& job : *jobs) list.push_back(job.toJson());
    return printJson(context, list);
  }
  if (jobs->empty()) {
    context.out << "The job queue is empty.\n";
    return;
  }
  context.out << fmt::format("{:<12}  {:<13}  {:<9}  {:>8}  {:<36}  {}\n", "JOB", "KIND", "STATE", "ATTEMPTS",
                             "MEETING", "TRACK");
  for (const auto& job : *jobs) {
    context.out << fmt::format("{:<12}  {:<13}  {:<9}  {:>8}  {:<36}  {}{}\n", job.id.substr(0, 12),
                               toString(job.request.kind), toString(job.state),
                               fmt::format("{}/{}", job.attempts, job.maxAttempts), job.request.meetingID,
                               job.request.sourceID, job.lastError ? "  " + *job.lastError : "");
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
  const Archive archive = openArchive(*handles.archive, context);
  auto session = findMeetingOrReport(archive, arguments.meetingID, context);
  if (!session) return;
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  std::vector<std::filesystem::path> outputs(arguments.outputs.begin(), arguments.outputs.end());
  auto engine = makePreparedEngine(std::move(outputs), *context.fileSystem);
  TranscriptionWorker worker(*catalog, archive, context.clock);
  auto outcome = worker.runTrack(*engine, arguments.meetingID, arguments.sourceID);
  if (!outcome) return reportFailure(context, outcome.error());
  if (!*outcome) {
    return reportFailure(context, makeError(ErrorCode::NotFound,
                                            "No transcription job of this track is waiting; run korvel process "
                                            "plan for the meeting first."));
  }
  Json outcomes = Json::array();
  if (!report(**outcome, handles.archive->json, outcomes, context)) context.exitCode = kExitFailed;
  if (handles.archive->json) printJson(context, outcomes.front());
}

void work(const Handles& handles, const WorkArguments& arguments, Context& context) {
  const Archive archive = openArchive(*handles.archive, context);
  auto catalog = openCatalogOrReport(*handles.catalog, archive, context);
  if (!catalog) return;
  auto engine = makeProgramEngine(arguments.engine, *context.fileSystem);
  TranscriptionWorker worker(*catalog, archive, context.clock,
                             WorkerSettings{arguments.leaseSeconds, arguments.retryAfterSeconds, std::nullopt});
  Json outcomes = Json::array();
  size_t published = 0, done = 0;
  while (arguments.maximumJobs == 0 || done < arguments.maximumJobs) {
    auto outcome = worker.runNext(*engine);
    if (!outcome) return reportFailure(context, outcome.error());
    if (!*outcome) break;
    ++done;
    if (report(**outcome, handles.archive->json, outcomes, context)) ++published;
  }
  if (published != done) context.exitCode = kExitFailed;
  if (handles.archive->json) return printJson(context, outcomes);
  context.out << fmt::format("{} job{} run, {} published.\n", done, done == 1 ? "" : "s", published);
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
  workCommand->add_option("--retry-after", workArguments->retryAfterSeconds, "Seconds before a failed job is retried.")
      ->capture_default_str();
  workCommand->add_option("--max-jobs", workArguments->maximumJobs, "Stop after this many jobs (0: no limit).");
  workCommand->callback([workHandles, workArguments, &context] { work(workHandles, *workArguments, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(51, addProcessCommands);

}  // namespace korvel::cli
