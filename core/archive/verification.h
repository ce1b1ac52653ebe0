#pragma once
// Original media verification: re-reads a finished meeting's committed segments and compares
// each with the size and SHA-256 its manifest recorded, trusting no path on the way.
//
// The archive root is opened by path; the meeting folder, the manifest and every media file are
// then opened by descriptor, one component at a time, never following a symbolic link. Each
// file's identity is taken before and after it is read, so a file replaced or appended to while
// it is checked is reported as changed rather than verified. Nothing is repaired or written.
//
// Per-file problems become results. Problems with the archive, the folder or the manifest end
// the verification with one of the sentences in verification.cpp and no report; cancellation
// ends it with ErrorCode::Cancelled. One verification runs at a time per verifier object.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/archive/meeting.h"
#include "platform/clock.h"
#include "platform/date.h"
#include "platform/file_system.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

enum class OriginalMediaVerificationStatus {
  verified,
  missing,
  sizeMismatch,
  hashMismatch,
  unreadable,
  unsupported,
  changedDuringRead,
};

const char* toString(OriginalMediaVerificationStatus status);
std::optional<OriginalMediaVerificationStatus> parseOriginalMediaVerificationStatus(const std::string& text);

// The outcome for one segment's media file.
struct OriginalMediaVerificationResult {
  std::string id;  // a new UUID for every result
  std::string segmentID;
  std::string sourceID;
  std::string file;
  OriginalMediaVerificationStatus status = OriginalMediaVerificationStatus::verified;
  int64_t expectedBytes = 0;
  std::optional<int64_t> actualBytes;  // the size found, when known
  std::optional<std::string> detail;   // absent only for verified

  bool operator==(const OriginalMediaVerificationResult&) const = default;
  Json toJson() const;
};

struct OriginalMediaVerificationProgress {
  int64_t completedFiles = 0;
  int64_t totalFiles = 0;
  int64_t bytesRead = 0;
  std::optional<int64_t> totalBytes;  // absent when the saved sizes cannot be summed
  std::optional<std::string> currentFile;

  bool operator==(const OriginalMediaVerificationProgress&) const = default;
  Json toJson() const;
};

struct OriginalMediaVerificationReport {
  std::string meetingID;
  Date completedAt;
  std::vector<OriginalMediaVerificationResult> results;  // one per segment, in manifest order

  // An empty report is never all verified.
  bool allVerified() const;
  bool operator==(const OriginalMediaVerificationReport&) const = default;
  Json toJson() const;
};

class OriginalMediaVerifier {
 public:
  // The part of "manifest.json" the verifier relies on, decoded with the manifest's own rules.
  struct Inventory {
    std::string id;
    Date startedAt;
    SessionState state = SessionState::recording;
    std::vector<Source> sources;
    std::vector<Segment> segments;

    bool operator==(const Inventory&) const = default;
    static Result<Inventory> fromJson(const Json& json);
  };

  static constexpr size_t kReadBufferBytes = 1'048'576;

  using ProgressHandler = std::function<void(const OriginalMediaVerificationProgress&)>;
  // Returns an error (normally ErrorCode::Cancelled) to stop; checked between reads.
  using CancellationCheck = std::function<Status()>;

  explicit OriginalMediaVerifier(const Clock& clock, const FileSystem& fileSystem = FileSystem::posix())
      : clock_(clock), fileSystem_(fileSystem) {}

  // `meetingID` and `startedAt` are what the caller showed the user; a manifest describing
  // anything else is refused. `progress` is called after every read and every file.
  Result<OriginalMediaVerificationReport> verify(const std::filesystem::path& directory,
                                                 const std::filesystem::path& archiveRoot,
                                                 const std::string& meetingID, Date startedAt,
                                                 const ProgressHandler& progress = {},
                                                 const CancellationCheck& checkCancellation = {});

 private:
  const Clock& clock_;
  const FileSystem& fileSystem_;
  std::mutex running_;
};

}  // namespace korvel
