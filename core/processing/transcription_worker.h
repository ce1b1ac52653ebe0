#pragma once
// The worker side of transcription: claim a track's job, have an engine transcribe each
// committed segment, and publish the revision atomically with the job's completion.
//
// The engine itself stays outside: `TranscriptionEngine` hands a segment's audio to whatever
// runs the model and returns its JSON result.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/archive.h"
#include "core/catalog/catalog.h"
#include "platform/clock.h"
#include "platform/interrupts.h"
#include "platform/result.h"

namespace korvel {

struct EngineInput {
  std::filesystem::path audio;  // the segment's media file
  std::string meetingTitle;
  std::string sourceID;
  std::string segmentID;
  size_t segmentIndex = 0;  // position among the track's committed segments
  double duration = 0;      // seconds
  std::string model;
  std::string language;
};

class TranscriptionEngine {
 public:
  virtual ~TranscriptionEngine() = default;
  // The engine's JSON result for one segment.
  virtual Result<std::string> transcribe(const EngineInput& input) = 0;
};

// Runs an external program once per segment: `program --audio FILE --output FILE --duration S
// --language L --model M --source ID --segment ID --segment-index N --meeting-title T`; the
// program writes its JSON result to the output file and exits 0. With `interrupts`, a signal
// stops the running program and its transcription fails with ErrorCode::Cancelled.
std::unique_ptr<TranscriptionEngine> makeProgramEngine(std::string program,
                                                       const FileSystem& fs = FileSystem::posix(),
                                                       const InterruptWatch* interrupts = nullptr);

// Engine output already read (what `korvel process import` is given), one per segment in order.
std::unique_ptr<TranscriptionEngine> makePreparedEngine(std::vector<std::string> outputs);

// Reads the engine output files given for a track, one per committed segment in order, and
// checks each parses as the engine's result for its segment: what `import` verifies before it
// claims anything. Refuses a count that differs from the track's segments, a file that cannot be
// read, and output the parser refuses.
Result<std::vector<std::string>> readEngineOutputs(const Meeting& meeting, std::string_view sourceID,
                                                   const std::vector<std::filesystem::path>& files,
                                                   const FileSystem& fs = FileSystem::posix());

struct TranscriptionJobOutcome {
  // interrupted: the worker was asked to stop and handed the job back, its attempt not counted.
  enum class Result { published, failed, leaseLost, interrupted };
  std::string jobID;
  std::string meetingID;
  std::string sourceID;
  Result result = Result::published;
  std::string detail;  // the revision id when published, otherwise what went wrong
};

struct WorkerSettings {
  double leaseSeconds = 300;
  double retryAfterSeconds = 60;
  std::optional<std::string> engineVersion;
  // Asked between segments and after the engine returns; true hands the job back and stops.
  std::function<bool()> cancelled;
};

// Only the transcription jobs of this track of this meeting: what importing results for one
// track may claim.
JobClaimFilter trackJobFilter(const std::vector<ProcessingJob>& jobs, std::string_view meetingID,
                              std::string_view sourceID);

class TranscriptionWorker {
 public:
  TranscriptionWorker(Catalog& catalog, const Archive& archive, const Clock& clock, WorkerSettings settings = {});

  // Claims the next due transcription job the filter allows and runs it. None when no job is
  // due. Engine and validation failures fail the job (it is retried until its attempts run out);
  // only catalog failures are returned as errors.
  Result<std::optional<TranscriptionJobOutcome>> runNext(TranscriptionEngine& engine, JobClaimFilter filter = {});
  // Like runNext, limited to the transcription job of one track.
  Result<std::optional<TranscriptionJobOutcome>> runTrack(TranscriptionEngine& engine, std::string_view meetingID,
                                                          std::string_view sourceID);

 private:
  Result<TranscriptionJobOutcome> run(const ProcessingJob& job, TranscriptionEngine& engine);
  double now() const { return clock_.now().secondsSince1970; }

  Catalog& catalog_;
  const Archive& archive_;
  const Clock& clock_;
  WorkerSettings settings_;
};

}  // namespace korvel
