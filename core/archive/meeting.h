#pragma once
// The meeting manifest and the small records that travel with a capture, with their JSON forms.
//
// Every record decodes strictly: a missing non-optional key, a wrong type, a date that is not
// "YYYY-MM-DDTHH:MM:SSZ", an unknown enumeration case or a broken limit fails with
// ErrorCode::Corrupt and one sentence naming the record. Encoders write the field names as
// keys and leave absent optionals out; the archive's writer sorts keys and pretty-prints.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/meeting_time.h"
#include "platform/clock.h"
#include "platform/date.h"
#include "platform/json.h"
#include "platform/meeting_identifier.h"
#include "platform/result.h"

namespace korvel {

inline constexpr int kMeetingSchemaVersion = 1;

enum class SessionState { recording, paused, finalized, incomplete };
const char* toString(SessionState state);
std::optional<SessionState> parseSessionState(std::string_view text);
// Recording or paused: a capture may still be writing into the folder.
bool isActive(SessionState state);

// One capture track.
struct Source {
  std::string id;
  std::string name;
  std::string kind;  // "video", "audio" (the meeting application's audio) or "microphone"

  bool operator==(const Source&) const = default;
  Json toJson() const;
  static Result<Source> fromJson(const Json& json);
};

// One committed media file; also the content of a ".segment" record.
struct Segment {
  std::string id;
  std::string sourceID;
  std::string file;  // a single name inside the meeting folder
  double start = 0;
  double duration = 0;
  int64_t bytes = 0;
  std::string sha256;  // 64 lowercase hexadecimal digits

  bool operator==(const Segment&) const = default;
  Json toJson() const;
  // Refuses a non-finite or negative start, a non-finite or non-positive duration, times past
  // the ten-year bound, negative bytes and a malformed digest.
  static Result<Segment> fromJson(const Json& json);
};

inline constexpr const char* kSegmentRecordSuffix = ".segment";
// A segment record is one small object.
inline constexpr uint64_t kMaximumSegmentRecordBytes = 64 * 1024;
// The archive's spelling of a ".segment" record.
std::string encodeSegmentRecord(const Segment& segment);
Result<Segment> decodeSegmentRecord(std::string_view bytes);

struct RecordingOptions {
  bool video = false;
  bool microphone = false;
  bool applicationAudio = false;
  bool transcription = false;

  bool hasAudio() const { return microphone || applicationAudio; }
  bool hasMedia() const { return video || hasAudio(); }
  bool requiresWindow() const { return video || applicationAudio; }
  bool isValid() const { return !validationMessage().has_value(); }
  // The sentence to show for an invalid choice; none when valid.
  std::optional<std::string> validationMessage() const;

  bool operator==(const RecordingOptions&) const = default;
  Json toJson() const;
  static Result<RecordingOptions> fromJson(const Json& json);
};

struct RecordingQuality {
  enum class Resolution { p720, p1080, p1440, p2160 };

  bool recordsVideo = true;
  Resolution resolution = Resolution::p1080;
  int64_t frameRate = 15;
  int64_t videoBitrate = 3'000'000;
  std::optional<int64_t> audioBitrate;

  static constexpr int64_t frameRates[] = {5, 10, 15, 24, 30, 60};
  static constexpr int64_t audioBitrates[] = {64000, 96000, 128000, 192000, 256000};
  static constexpr int64_t minimumVideoBitrate = 500'000;
  static constexpr int64_t maximumVideoBitrate = 20'000'000;

  // Normalises like `normalized()`.
  static RecordingQuality make(bool recordsVideo, Resolution resolution, int64_t frameRate, int64_t videoBitrate,
                               std::optional<int64_t> audioBitrate);
  static RecordingQuality standard();
  static RecordingQuality compact();
  static RecordingQuality detailed();

  // Unknown frame rates become 15, out-of-range video bitrates 3000000, unknown audio bitrates absent.
  RecordingQuality normalized() const;

  bool operator==(const RecordingQuality&) const = default;
  Json toJson() const;
  static Result<RecordingQuality> fromJson(const Json& json);
};

const char* toString(RecordingQuality::Resolution resolution);
std::optional<RecordingQuality::Resolution> parseResolution(std::string_view text);
int resolutionHeight(RecordingQuality::Resolution resolution);
std::string resolutionLabel(RecordingQuality::Resolution resolution);

struct LiveTranscriptionConfiguration {
  std::string pythonPath;
  std::string modelPath;

  bool operator==(const LiveTranscriptionConfiguration&) const = default;
  Json toJson() const;
  static Result<LiveTranscriptionConfiguration> fromJson(const Json& json);
};

// What the recorder hands its capture process.
struct CaptureRequest {
  std::optional<LiveTranscriptionConfiguration> liveTranscription;
  std::string directory;  // URL of the meeting folder ("file://…")
  std::optional<uint32_t> windowID;
  std::vector<std::string> microphoneIDs;
  std::optional<bool> capturesAllMicrophones;
  std::optional<std::string> microphoneSourceID;
  std::optional<RecordingOptions> recordingOptions;
  std::optional<RecordingQuality> quality;

  bool operator==(const CaptureRequest&) const = default;
  Json toJson() const;
  static Result<CaptureRequest> fromJson(const Json& json);
};

struct LiveTranscriptUpdate {
  std::string id;
  std::string sourceID;
  double start = 0;
  double end = 0;
  std::string text;

  bool operator==(const LiveTranscriptUpdate&) const = default;
  Json toJson() const;
  static Result<LiveTranscriptUpdate> fromJson(const Json& json);
};

// The state of one capture track as the capture process reports it.
struct TrackHealth {
  std::string id;
  std::optional<double> lastCallback;
  std::optional<double> startedAt;
  std::optional<double> audioLevel;
  double writtenThrough = 0;
  double committedThrough = 0;
  int64_t committedBytes = 0;
  int64_t dropped = 0;
  std::optional<std::string> error;

  TrackHealth() = default;
  explicit TrackHealth(std::string sourceID) : id(std::move(sourceID)) {}

  // The text shown for the track; `now` is on the capture host's clock, like lastCallback.
  std::string status(double now) const;

  bool operator==(const TrackHealth&) const = default;
  Json toJson() const;
  static Result<TrackHealth> fromJson(const Json& json);
};

// One message from the capture process.
struct WorkerMessage {
  std::string kind;
  std::optional<std::string> detail;
  std::optional<std::vector<TrackHealth>> health;
  std::optional<int64_t> committedBytes;
  std::optional<LiveTranscriptUpdate> liveTranscript;

  bool operator==(const WorkerMessage&) const = default;
  Json toJson() const;
  static Result<WorkerMessage> fromJson(const Json& json);
};

// The manifest of one recording, "manifest.json" in its meeting folder.
struct Meeting {
  int64_t schemaVersion = kMeetingSchemaVersion;
  std::string id;
  std::string title;
  Date startedAt;
  std::string timezone;
  double hostStart = 0;
  SessionState state = SessionState::recording;
  std::vector<Source> sources;
  std::optional<std::string> primaryMic;
  std::optional<bool> automaticMicrophones;
  // Records of other subsystems, kept as the nested objects they are.
  std::optional<Json> detection;
  std::optional<Json> calendarEvent;
  std::optional<bool> calendarLinkReviewed;
  std::optional<bool> titleEditedByUser;
  std::optional<RecordingOptions> recordingOptions;
  std::optional<Json> postRecordingProcessing;
  std::optional<RecordingQuality> quality;
  std::vector<Segment> segments;
  std::vector<std::string> warnings;

  // A new recording: a fresh upper-case UUID, started now in `timezone`, state recording.
  static Meeting create(std::string title, double hostStart, std::vector<Source> sources,
                        std::optional<std::string> primaryMic, const Clock& clock, std::string timezone);

  // The end of the last segment; 0 without segments.
  double duration() const;
  // recordingOptions, or what the sources imply (with transcription on).
  RecordingOptions effectiveRecordingOptions() const;
  // The "created" event's detail: how this meeting is being captured.
  std::string captureDescription() const;

  bool operator==(const Meeting&) const = default;
  Json toJson() const;
  // Refuses an unknown schemaVersion, duplicate source or segment ids, and segments of unknown sources.
  static Result<Meeting> fromJson(const Json& json);
};

inline constexpr const char* kManifestFileName = "manifest.json";
inline constexpr const char* kEventLogFileName = "events.jsonl";
// Real manifests are a few hundred kilobytes at most.
inline constexpr uint64_t kMaximumManifestBytes = 16ull << 20;

// The archive's spelling of a manifest: pretty-printed, sorted keys, trailing line feed.
std::string encodeManifest(const Meeting& meeting);
Result<Meeting> decodeManifest(std::string_view bytes);

// One line of "events.jsonl".
struct MeetingEvent {
  std::string kind;
  std::string detail;
  double uptime = 0;  // host uptime in seconds when written
  Date utc;

  bool operator==(const MeetingEvent&) const = default;
  Json toJson() const;
  // Exactly the four members, with the right types.
  static Result<MeetingEvent> fromJson(const Json& json);
};

// The compact line, without its line feed.
std::string encodeEventLine(const MeetingEvent& event);
Result<MeetingEvent> decodeEventLine(std::string_view line);

inline constexpr const char* kCreatedEvent = "created";
inline constexpr const char* kRecoveredEvent = "recovered";
inline constexpr const char* kRecoveredEventDetail = "Unfinished session marked incomplete";
inline constexpr const char* kRecoveryWarning =
    "Capture interrupted. Committed segments recovered; unfinished files retained. Missing media was not recovered.";

}  // namespace korvel
