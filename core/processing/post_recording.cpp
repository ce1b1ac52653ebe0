// Transcription permission, the tracks a finished meeting transcribes, and processing requests.

#include "core/processing/post_recording.h"

#include <algorithm>
#include <cmath>

#include "platform/crypto.h"

namespace korvel {
namespace {

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }

bool isFinished(const Meeting& meeting) {
  return meeting.state == SessionState::finalized || meeting.state == SessionState::incomplete;
}

bool hasCommittedSegment(const Meeting& meeting, const std::string& sourceID) {
  return std::any_of(meeting.segments.begin(), meeting.segments.end(),
                     [&](const Segment& segment) { return segment.sourceID == sourceID; });
}

// The tracks to transcribe, ignoring whether transcription is permitted.
std::vector<std::string> candidateSourceIDs(const Meeting& meeting) {
  const bool automatic = meeting.automaticMicrophones.value_or(false);
  std::vector<std::string> ids;
  for (const Source& source : meeting.sources) {
    const bool wanted = source.kind == "audio" ||
                        (source.kind == "microphone" &&
                         (automatic ? hasCommittedSegment(meeting, source.id) : meeting.primaryMic == source.id));
    if (wanted) ids.push_back(source.id);
  }
  return ids;
}

}  // namespace

Json PostRecordingProcessingRequest::toJson() const {
  Json json{{"requestedAt", formatIso8601(requestedAt)}};
  if (summarySettingsFingerprint) json["summarySettingsFingerprint"] = *summarySettingsFingerprint;
  return json;
}

Result<PostRecordingProcessingRequest> PostRecordingProcessingRequest::fromJson(const Json& json) {
  if (!json.is_object()) return makeError(ErrorCode::Corrupt, "The processing request is invalid.");
  JsonFields fields(json);
  PostRecordingProcessingRequest request{fields.isoDate("requestedAt"),
                                         fields.optionalString("summarySettingsFingerprint")};
  if (!fields.ok()) return makeError(ErrorCode::Corrupt, "The processing request is invalid.");
  return request;
}

namespace PostRecordingProcessing {

bool permitsTranscription(const Meeting& meeting) {
  return !meeting.recordingOptions || meeting.recordingOptions->transcription || meeting.postRecordingProcessing;
}

bool isEligible(const Meeting& meeting, Automatic automatic) {
  if (!permitsTranscription(meeting)) return false;
  return automatic == Automatic::on || meeting.postRecordingProcessing.has_value();
}

bool hasTranscribableAudio(const Meeting& meeting) {
  const auto ids = candidateSourceIDs(meeting);
  return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) { return hasCommittedSegment(meeting, id); });
}

bool canRequest(const Meeting& meeting) {
  return isFinished(meeting) && !permitsTranscription(meeting) && hasTranscribableAudio(meeting);
}

}  // namespace PostRecordingProcessing

namespace ProcessingPlanner {

std::vector<std::string> transcriptionSourceIDs(const Meeting& meeting) {
  if (!PostRecordingProcessing::permitsTranscription(meeting)) return {};
  return candidateSourceIDs(meeting);
}

Result<std::vector<Segment>> segments(const Meeting& meeting, std::string_view sourceID) {
  if (!isFinished(meeting)) return invalid("Processing waits until recording finishes");
  const bool known = std::any_of(meeting.sources.begin(), meeting.sources.end(), [&](const Source& source) {
    return source.id == sourceID && source.kind != "video";
  });
  if (!known) return invalid("Unknown audio source");
  std::vector<Segment> track;
  for (const Segment& segment : meeting.segments) {
    if (segment.sourceID == sourceID) track.push_back(segment);
  }
  if (track.empty()) return invalid("Source has no committed audio");
  std::stable_sort(track.begin(), track.end(), [](const Segment& a, const Segment& b) { return a.start < b.start; });

  double previousStart = -INFINITY;
  double largestEnd = 0;
  for (const Segment& segment : track) {
    const bool valid = std::isfinite(segment.start) && segment.start >= 0 && segment.start > previousStart &&
                       std::isfinite(segment.duration) && segment.duration > 0 &&
                       segment.start + segment.duration <= kMaximumMeetingSeconds && segment.bytes >= 1 &&
                       !segment.sha256.empty() && segment.start >= largestEnd - 0.000001;
    if (!valid) return invalid("Invalid or overlapping committed source segments");
    previousStart = segment.start;
    largestEnd = std::max(largestEnd, segment.start + segment.duration);
  }
  return track;
}

std::string fingerprint(const std::vector<Segment>& segments) {
  Json list = Json::array();
  for (const Segment& segment : segments) list.push_back(segment.toJson());
  return sha256Hex(encodeCompact(list));
}

bool acceptsDecodedAudio(int64_t bytes, double committedDuration) {
  return bytes > 0 && bytes % 4 == 0 && static_cast<double>(bytes) / 64'000.0 <= committedDuration + 0.1;
}

}  // namespace ProcessingPlanner

Result<Meeting> requestPostRecordingProcessing(const Archive& archive, const std::filesystem::path& folder,
                                               const std::string& meetingID, Date requestedAt,
                                               const std::optional<std::string>& summarySettingsFingerprint) {
  auto opened = archive.openFolderForEdit(folder);
  if (!opened) {
    if (opened.error().code == ErrorCode::Io) return std::move(opened).error();
    return invalid("Choose the meeting's archive folder directly before requesting processing.");
  }
  const Dir& dir = *opened;
  const char* changed = "The meeting at this location has changed. Reload it before requesting processing.";
  auto entry = dir.info(kManifestFileName);
  if (!entry || entry->kind != EntryKind::file) return invalid(changed);
  const std::string bytes = TRY(dir.readFile(kManifestFileName, kMaximumManifestBytes));
  auto meeting = decodeManifest(bytes);
  if (!meeting || meeting->id != meetingID) return invalid(changed);
  if (!isFinished(*meeting)) return invalid("Finish recording before transcribing this meeting.");
  if (!PostRecordingProcessing::hasTranscribableAudio(*meeting)) {
    return invalid("This meeting has no saved audio to transcribe.");
  }

  const PostRecordingProcessingRequest request{requestedAt, summarySettingsFingerprint};
  Json manifest = TRY(parseJson(bytes));
  manifest[PostRecordingProcessing::manifestKey] = request.toJson();
  meeting->postRecordingProcessing = request.toJson();

  // The capture process or another editor may have written meanwhile; never overwrite that.
  auto reread = dir.readFile(kManifestFileName, kMaximumManifestBytes);
  if (!reread || *reread != bytes) {
    return invalid("The meeting changed while processing was being requested. Reload it and try again.");
  }
  TRY(dir.writeAtomic(kManifestFileName, encodePretty(manifest)));
  return *meeting;
}

}  // namespace korvel
