#pragma once
// When a finished meeting may be transcribed, which of its tracks are, and the user's explicit
// request for processing stored in its manifest.
//
// All refusals are ErrorCode::InvalidInput with one fixed sentence; file-system failures pass
// through with their own codes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/archive.h"
#include "platform/date.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

// The manifest's "postRecordingProcessing" record.
struct PostRecordingProcessingRequest {
  Date requestedAt;
  std::optional<std::string> summarySettingsFingerprint;

  bool operator==(const PostRecordingProcessingRequest&) const = default;
  Json toJson() const;
  static Result<PostRecordingProcessingRequest> fromJson(const Json& json);
};

namespace PostRecordingProcessing {

inline constexpr const char* manifestKey = "postRecordingProcessing";

// Whether automatic processing is switched on in the recorder's settings.
enum class Automatic { off, on };

// Transcription is permitted by the recording options or by an explicit request.
bool permitsTranscription(const Meeting& meeting);
bool isEligible(const Meeting& meeting, Automatic automatic);
// Judged as if a request were present: some track to transcribe has a committed segment.
bool hasTranscribableAudio(const Meeting& meeting);
// Finished, not yet permitted, and with audio to transcribe.
bool canRequest(const Meeting& meeting);

}  // namespace PostRecordingProcessing

namespace ProcessingPlanner {

// Track ids to transcribe, in manifest source order; empty when transcription is not permitted.
std::vector<std::string> transcriptionSourceIDs(const Meeting& meeting);
// The track's committed segments ordered by start, checked for gaps in the rules:
// "Processing waits until recording finishes", "Unknown audio source", "Source has no committed
// audio", "Invalid or overlapping committed source segments".
Result<std::vector<Segment>> segments(const Meeting& meeting, std::string_view sourceID);
// Lowercase hexadecimal SHA-256 of the segment list's sorted-key JSON.
std::string fingerprint(const std::vector<Segment>& segments);
// Decoded audio is 16 kHz mono 32-bit float: 64,000 bytes a second, within 0.1 s of the committed duration.
bool acceptsDecodedAudio(int64_t bytes, double committedDuration);

}  // namespace ProcessingPlanner

// Stores a processing request in the meeting's manifest, keeping every other member as read.
// Refuses with "Choose the meeting's archive folder directly before requesting processing.",
// "The meeting at this location has changed. Reload it before requesting processing.",
// "Finish recording before transcribing this meeting.", "This meeting has no saved audio to
// transcribe." and "The meeting changed while processing was being requested. Reload it and try again.".
Result<Meeting> requestPostRecordingProcessing(const Archive& archive, const std::filesystem::path& folder,
                                               const std::string& meetingID, Date requestedAt,
                                               const std::optional<std::string>& summarySettingsFingerprint);

}  // namespace korvel
