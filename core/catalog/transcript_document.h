#pragma once
// Immutable transcript revisions of a meeting's tracks: the record, its rules, and the
// "transcripts/<id>/" folders that publish it whole or not at all.
//
// Every limit is checked both when a revision is written and when it is read back. All refusals
// are ErrorCode::InvalidInput with one of the fixed sentences below; file-system failures pass
// through with their own codes. Readers take no lock: a revision folder appears by one rename
// and is never changed afterwards.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/meeting_time.h"
#include "core/catalog/transcript_diarization.h"
#include "platform/date.h"
#include "platform/files.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

// One timed stretch of speech.
struct TranscriptUtterance {
  static constexpr size_t kMaximumTextBytes = 1'048'576;

  std::string id;
  double start = 0;  // seconds from meeting start
  double end = 0;
  std::string text;
  std::optional<std::string> speaker;    // display name
  std::optional<std::string> speakerID;  // stable speaker identity

  bool operator==(const TranscriptUtterance&) const = default;
  Json toJson() const;
  static Result<TranscriptUtterance> fromJson(const Json& json);
};

// One revision of one track's transcript, stored as transcripts/<id>/transcript.json.
struct TranscriptDocument {
  enum class RevisionOrigin { userCorrection, speakerAttribution };

  static constexpr int64_t kSchemaVersion = 1;
  static constexpr size_t kMaximumUtterances = 1'000'000;
  // Read cap for transcript.json: a million utterances of maximal text cannot be a real file,
  // so this bounds memory rather than the format.
  static constexpr uint64_t kMaximumDocumentBytes = 2ull << 30;

  int64_t schemaVersion = kSchemaVersion;
  std::string id;  // also the revision's folder name
  std::string meetingID;
  std::string sourceID;
  std::string model;
  std::string language;
  Date createdAt;
  std::optional<std::string> parentVersionID;  // absent for a machine transcript
  std::optional<RevisionOrigin> revisionOrigin;
  std::optional<std::string> processingJobID;
  std::optional<std::string> inputFingerprint;
  std::optional<std::string> modelFingerprint;
  std::optional<std::string> engineVersion;
  std::optional<std::string> speakerEvidenceFingerprint;
  std::optional<int64_t> speakerAttributionVersion;
  std::optional<DiarizationEvidence> diarization;
  std::vector<TranscriptUtterance> utterances;

  bool operator==(const TranscriptDocument&) const = default;

  // The first broken rule, in a fixed order: "Invalid transcript metadata", "Invalid speaker
  // evidence fingerprint", "Invalid speaker attribution version", the diarization's own
  // messages, "Invalid, duplicate or unordered transcript utterance", "Invalid transcript
  // speaker name", "Invalid transcript speaker identity".
  Status validate() const;

  Json toJson() const;
  // Decodes without validating; decode() below is the reader's entry point.
  static Result<TranscriptDocument> fromJson(const Json& json);
  // Pretty-printed, sorted keys, ISO-8601 dates: the bytes of transcript.json.
  std::string encoded() const;
  // Parses, decodes and validates the bytes of a transcript.json.
  static Result<TranscriptDocument> decode(std::string_view bytes);
};

const char* revisionOriginName(TranscriptDocument::RevisionOrigin origin);
std::optional<TranscriptDocument::RevisionOrigin> parseRevisionOrigin(std::string_view name);

// 1 to 128 characters, each a Unicode letter, mark or digit, "-" or "_".
bool isValidRevisionID(std::string_view id);

// Where publication stands, for tests that stop a publisher part-way.
enum class PublishStep { stagingCreated, documentWritten, renditionWritten };
using PublishProbe = std::function<void(PublishStep)>;

// The transcripts/ folder of one meeting folder. Every path below the meeting folder is opened
// without following symbolic links.
class TranscriptArtifacts {
 public:
  static constexpr const char* kFolderName = "transcripts";
  static constexpr const char* kDocumentName = "transcript.json";
  static constexpr const char* kRenditionName = "transcript.vtt";
  static constexpr const char* kStagingPrefix = ".staging-";

  // Validates, writes a complete ".staging-<UUID>" folder and renames it to the revision id.
  // Refuses an existing id with "Transcript revision already exists"; a failed publication
  // leaves neither a revision nor a staging folder.
  static Status save(const TranscriptDocument& document, const Dir& meetingFolder,
                     const PublishProbe& probe = {});
  static Status save(const TranscriptDocument& document, const std::filesystem::path& meetingFolder,
                     const FileSystem& fs = FileSystem::posix());

  // The loaders read the folder of the meeting `meetingID`: a document that names another
  // meeting is refused with "Transcript belongs to another meeting", never returned as this
  // meeting's.

  // The revision, or none when its folder does not exist.
  static Result<std::optional<TranscriptDocument>> loadRevision(std::string_view id, const Dir& meetingFolder,
                                                                std::string_view meetingID);
  static Result<std::optional<TranscriptDocument>> loadRevision(std::string_view id,
                                                                const std::filesystem::path& meetingFolder,
                                                                std::string_view meetingID,
                                                         const FileSystem& fs = FileSystem::posix());

  // Every revision of the meeting in lineage order (by createdAt, ties by id, parents first).
  // One unreadable, invalid or foreign revision, a cycle or a foreign parent fails the whole load.
  static Result<std::vector<TranscriptDocument>> loadAll(const Dir& meetingFolder, std::string_view meetingID);
  static Result<std::vector<TranscriptDocument>> loadAll(const std::filesystem::path& meetingFolder,
                                                         std::string_view meetingID,
                                                         const FileSystem& fs = FileSystem::posix());

  // Staging folders are normally removed by their publisher; one killed mid-way leaves its
  // folder behind. Removes those last modified at least `minimumAgeSeconds` before `now`, so
  // a publication still in progress elsewhere is left alone. Returns how many were removed.
  static Result<size_t> removeAbandonedStaging(const Dir& meetingFolder, Date now, double minimumAgeSeconds);

  // The WebVTT rendering stored beside each revision.
  static std::string vtt(const TranscriptDocument& document);
};

// The latest revision of each track (the last of that track in lineage order), by source id.
std::map<std::string, TranscriptDocument> latestRevisionsBySource(const std::vector<TranscriptDocument>& lineage);

}  // namespace korvel
