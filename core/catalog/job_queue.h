#pragma once
// Records of the processing job queue kept in the catalog's job table: what to do, and where
// each job stands. The queue operations themselves are members of Catalog (catalog.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

enum class ProcessingKind { transcription, summary, diarization, sentiment };
const char* toString(ProcessingKind kind);
std::optional<ProcessingKind> parseProcessingKind(std::string_view text);

enum class ProcessingJobState { queued, running, succeeded, failed };
const char* toString(ProcessingJobState state);
std::optional<ProcessingJobState> parseProcessingJobState(std::string_view text);

inline constexpr int64_t kMinimumJobAttempts = 1;
inline constexpr int64_t kMaximumJobAttempts = 10;
inline constexpr double kMinimumLeaseSeconds = 1;
inline constexpr double kMaximumLeaseSeconds = 3600;
inline constexpr double kMaximumRetryDelaySeconds = 86400;
inline constexpr size_t kMaximumRequestBytes = 65536;
inline constexpr size_t kMaximumJobErrorCharacters = 4096;

inline constexpr const char* kLeaseRecoveredMessage = "Previous worker lease expired; recovering interrupted work";
inline constexpr const char* kRetryLimitMessage = "Worker lease expired; retry limit reached";

// What to do.
struct ProcessingRequest {
  ProcessingKind kind = ProcessingKind::transcription;
  std::string meetingID;
  std::string directory;  // absolute path of the meeting folder
  // The folder the job's identity stays bound to after the recording has moved.
  std::optional<std::string> identityDirectory;
  std::string sourceID;
  std::string inputFingerprint;
  std::string model;
  std::string modelFingerprint;
  std::string language;
  std::optional<std::string> promptVersion;
  std::optional<std::string> transcriptVersionID;
  std::optional<int64_t> maximumAttempts;

  bool operator==(const ProcessingRequest&) const = default;
  Json toJson() const;
  static Result<ProcessingRequest> fromJson(const Json& json);
};

// The text a job's identifier hashes: the request bound to its identity folder, compact and sorted.
std::string processingIdentityText(const ProcessingRequest& request);
// 64 lowercase hexadecimal digits of SHA-256 over the identity text.
std::string processingJobID(const ProcessingRequest& request);

// One row of the job table.
struct ProcessingJob {
  std::string id;
  ProcessingRequest request;
  ProcessingJobState state = ProcessingJobState::queued;
  int64_t attempts = 0;
  int64_t maxAttempts = 3;
  double createdAt = 0;
  double availableAt = 0;
  std::optional<std::string> leaseToken;
  std::optional<double> leaseUntil;
  std::optional<std::string> lastError;

  bool operator==(const ProcessingJob&) const = default;
  Json toJson() const;
  static Result<ProcessingJob> fromJson(const Json& json);
  // The stored record: compact JSON with sorted keys.
  std::string encoded() const { return encodeCompact(toJson()); }
};

}  // namespace korvel
