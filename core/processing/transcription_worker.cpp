// Claiming, running and publishing transcription jobs.

#include "core/processing/transcription_worker.h"

#include <fmt/format.h>

#include "core/processing/machine_transcript.h"
#include "core/processing/post_recording.h"
#include "core/processing/whisper_output.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr double kAbandonedStagingSeconds = 3600;

class ProgramEngine final : public TranscriptionEngine {
 public:
  ProgramEngine(std::string program, const FileSystem& fileSystem, const InterruptWatch* interrupts)
      : program_(std::move(program)), fileSystem_(fileSystem), interrupts_(interrupts) {}

  Result<std::string> transcribe(const EngineInput& input) override {
    // A private folder per run: the engine writes a file by name, and nobody else may plant one there.
    const auto scratchPath = TRY(fileSystem_.makeTemporaryFolder("korvel-engine-"));
    struct RemoveScratch {
      const FileSystem& files;
      const std::filesystem::path& path;
      ~RemoveScratch() { (void)files.removeAll(path); }
    } cleanup{fileSystem_, scratchPath};
    const Dir scratch = TRY(Dir::openRoot(fileSystem_, scratchPath));
    const std::string name = "output.json";
    auto outcome = runProgram(program_, {"--audio", input.audio.string(), "--output", (scratchPath / name).string(),
                                         "--duration", fmt::format("{}", input.duration), "--language",
                                         input.language, "--model", input.model, "--source", input.sourceID,
                                         "--segment", input.segmentID, "--segment-index",
                                         std::to_string(input.segmentIndex), "--meeting-title", input.meetingTitle},
                              interrupts_);
    auto output = outcome && outcome->exitCode == 0
                      ? scratch.readFile(name, WhisperOutput::kMaximumBytes + 1)
                      : Result<std::string>(makeError(ErrorCode::Io, ""));
    if (!outcome) return std::move(outcome).error();
    if (outcome->exitCode != 0) {
      const std::string reason = trimWhitespace(outcome->errorOutput.substr(0, outcome->errorOutput.find('\n')));
      return makeError(ErrorCode::Io, fmt::format("The transcription engine failed (exit code {}){}",
                                                  outcome->exitCode, reason.empty() ? "." : ": " + reason));
    }
    if (!output) return makeError(ErrorCode::Io, "The transcription engine wrote no result.");
    return output;
  }

 private:
  std::string program_;
  const FileSystem& fileSystem_;
  const InterruptWatch* interrupts_;
};

class PreparedEngine final : public TranscriptionEngine {
 public:
  explicit PreparedEngine(std::vector<std::string> outputs) : outputs_(std::move(outputs)) {}

  Result<std::string> transcribe(const EngineInput& input) override {
    if (input.segmentIndex >= outputs_.size()) {
      return makeError(ErrorCode::InvalidInput, "Give one engine output per committed segment of the track.");
    }
    return outputs_[input.segmentIndex];
  }

 private:
  std::vector<std::string> outputs_;
};

Result<std::string> readEngineOutput(const std::filesystem::path& path, const FileSystem& fileSystem) {
  auto folder = Dir::openRoot(fileSystem, path.has_parent_path() ? path.parent_path() : ".");
  auto bytes = folder ? folder->readFile(path.filename().string(), WhisperOutput::kMaximumBytes + 1)
                      : Result<std::string>(std::move(folder).error());
  if (!bytes) return makeError(bytes.error().code, fmt::format("{} could not be read.", path.string()));
  return bytes;
}

}  // namespace

std::unique_ptr<TranscriptionEngine> makeProgramEngine(std::string program, const FileSystem& fileSystem,
                                                       const InterruptWatch* interrupts) {
  return std::make_unique<ProgramEngine>(std::move(program), fileSystem, interrupts);
}

std::unique_ptr<TranscriptionEngine> makePreparedEngine(std::vector<std::string> outputs) {
  return std::make_unique<PreparedEngine>(std::move(outputs));
}

Result<std::vector<std::string>> readEngineOutputs(const Meeting& meeting, std::string_view sourceID,
                                                   const std::vector<std::filesystem::path>& files,
                                                   const FileSystem& fileSystem) {
  const auto track = TRY(ProcessingPlanner::segments(meeting, sourceID));
  if (files.size() != track.size()) {
    return makeError(ErrorCode::InvalidInput,
                     fmt::format("Give one engine output per committed segment of the track: it has {}, {} given.",
                                 track.size(), files.size()));
  }
  std::vector<std::string> outputs;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string bytes = TRY(readEngineOutput(files[i], fileSystem));
    auto parsed = WhisperOutput::parse(bytes, track[i].id, track[i].start, track[i].duration);
    if (!parsed) {
      return makeError(ErrorCode::InvalidInput, fmt::format("{}: {}", files[i].string(), parsed.error().message));
    }
    outputs.push_back(std::move(bytes));
  }
  return outputs;
}

JobClaimFilter trackJobFilter(const std::vector<ProcessingJob>& jobs, std::string_view meetingID,
                              std::string_view sourceID) {
  JobClaimFilter filter;
  filter.kinds = std::set<ProcessingKind>{ProcessingKind::transcription};
  filter.eligibleJobIDs.emplace();
  for (const ProcessingJob& job : jobs) {
    if (job.request.kind == ProcessingKind::transcription && job.request.meetingID == meetingID &&
        job.request.sourceID == sourceID) {
      filter.eligibleJobIDs->insert(job.id);
    }
  }
  return filter;
}

TranscriptionWorker::TranscriptionWorker(Catalog& catalog, const Archive& archive, const Clock& clock,
                                         WorkerSettings settings)
    : catalog_(catalog), archive_(archive), clock_(clock), settings_(std::move(settings)) {}

Result<std::optional<TranscriptionJobOutcome>> TranscriptionWorker::runNext(TranscriptionEngine& engine,
                                                                            JobClaimFilter filter) {
  filter.kinds = std::set<ProcessingKind>{ProcessingKind::transcription};
  auto claimed = TRY(catalog_.claimJob(now(), settings_.leaseSeconds, filter));
  if (!claimed) return std::optional<TranscriptionJobOutcome>{};
  return std::optional<TranscriptionJobOutcome>(TRY(run(*claimed, engine)));
}

Result<std::optional<TranscriptionJobOutcome>> TranscriptionWorker::runTrack(TranscriptionEngine& engine,
                                                                             std::string_view meetingID,
                                                                             std::string_view sourceID) {
  const auto jobs = TRY(catalog_.processingJobs());
  return runNext(engine, trackJobFilter(jobs, meetingID, sourceID));
}

Result<TranscriptionJobOutcome> TranscriptionWorker::run(const ProcessingJob& job, TranscriptionEngine& engine) {
  const ProcessingRequest& request = job.request;
  const std::string token = job.leaseToken.value_or("");
  TranscriptionJobOutcome outcome{job.id, request.meetingID, request.sourceID};

  auto finish = [&](Result<bool> changed, TranscriptionJobOutcome::Result result,
                    std::string detail) -> Result<TranscriptionJobOutcome> {
    if (!changed) return std::move(changed).error();
    outcome.result = *changed ? result : TranscriptionJobOutcome::Result::leaseLost;
    outcome.detail = *changed ? std::move(detail) : "Another worker took over this job after its lease expired.";
    return outcome;
  };
  auto fail = [&](const std::string& detail) {
    return finish(catalog_.failJob(job.id, token, detail, now(), settings_.retryAfterSeconds),
                  TranscriptionJobOutcome::Result::failed, detail);
  };
  // Handing the job back keeps the stop from costing an attempt or a wait for the lease.
  auto cancelled = [&] { return settings_.cancelled && settings_.cancelled(); };
  auto handBack = [&] {
    return finish(catalog_.returnJob(job.id, token, now()), TranscriptionJobOutcome::Result::interrupted,
                  "Stopped; the job was handed back to the queue.");
  };

  auto folder = archive_.openMeetingFolder(request.directory);
  if (!folder) return fail(folder.error().message);
  auto meeting = Archive::readManifest(*folder);
  if (!meeting) return fail(meeting.error().message);
  if (meeting->id != request.meetingID) return fail("The meeting at this location has changed since it was planned.");
  auto track = ProcessingPlanner::segments(*meeting, request.sourceID);
  if (!track) return fail(track.error().message);
  if (ProcessingPlanner::fingerprint(*track) != request.inputFingerprint) {
    return fail("The committed audio changed after this job was planned; plan the meeting again.");
  }

  std::vector<std::string> outputs;
  for (size_t i = 0; i < track->size(); ++i) {
    const Segment& segment = (*track)[i];
    if (cancelled()) return handBack();
    if (i > 0) {
      auto renewed = catalog_.renewJob(job.id, token, now(), settings_.leaseSeconds);
      if (!renewed) return std::move(renewed).error();
      if (!*renewed) return finish(false, TranscriptionJobOutcome::Result::leaseLost, "");
    }
    auto media = Archive::safeMediaURL(segment.file, folder->path(), archive_.fileSystem());
    if (!media) return fail(fmt::format("Segment {} names an unsafe media file.", segment.id));
    auto output = engine.transcribe(EngineInput{*media, meeting->title, request.sourceID, segment.id, i,
                                                segment.duration, request.model, request.language});
    if (cancelled()) return handBack();
    if (!output) return fail(output.error().message);
    outputs.push_back(std::move(*output));
  }

  MachineTranscriptProvenance provenance{request.model, request.modelFingerprint, request.inputFingerprint,
                                         job.id, settings_.engineVersion, clock_.now()};
  auto document = machineTranscript(*meeting, request.sourceID, *track, outputs, provenance);
  if (!document) return fail(document.error().message);
  // The revision is named after its job. A worker killed between saving the revision and
  // committing the job leaves a finished revision behind; the next lease holder adopts it
  // instead of publishing a second machine transcript of the same track.
  document->id = job.id;

  // A publisher killed mid-way leaves its staging folder; an hour is far longer than any
  // publication takes, so older ones are abandoned and safe to remove.
  (void)TranscriptArtifacts::removeAbandonedStaging(*folder, clock_.now(), kAbandonedStagingSeconds);
  auto published = catalog_.publishJob(job.id, token, now(), [&]() -> Status {
    auto existing = TRY(TranscriptArtifacts::loadRevision(document->id, *folder, meeting->id));
    if (!existing || existing->processingJobID != job.id) {
      TRY(TranscriptArtifacts::save(*document, *folder));
      // The catalog indexes what the folder holds, exactly as a rebuild would read it: the
      // stored document keeps whole seconds of its creation time, the one in memory does not.
      existing = TRY(TranscriptArtifacts::loadRevision(document->id, *folder, meeting->id));
      if (!existing) return makeError(ErrorCode::Io, "The published transcript revision could not be read back.");
    }
    *document = std::move(*existing);
    TRY(catalog_.ensureMeeting(*meeting, folder->path()));
    return catalog_.index(*document);
  });
  if (!published) return fail(published.error().message);
  return finish(published, TranscriptionJobOutcome::Result::published, document->id);
}

}  // namespace korvel
