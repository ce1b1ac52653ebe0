#pragma once
// The worker side of transcription: claim a track's job, have an engine transcribe each
// committed segment, and publish the revision atomically with the job's completion.
//
// The engine itself stays outside: `TranscriptionEngine` hands a segment's audio to whatever
// runs the model and returns its JSON result.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/archive.h"
#include "core/catalog/catalog.h"
#include "platform/clock.h"
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
// program writes its JSON result to the output file and exits 0.
std::unique_ptr<TranscriptionEngine> makeProgramEngine(std::string program,
                                                       const FileSystem& fs = FileSystem::posix());

// Engine output already on disk (what `korvel process import` is given), one file per segment in order.
std::unique_ptr<TranscriptionEngine> makePreparedEngine(std::vector<std::filesystem::path> outputs,
                                                        const FileSystem& fs = FileSystem::posix());

struct TranscriptionJobOutcome {
  enum class Result { published, failed, leaseLost };
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
