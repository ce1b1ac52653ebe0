// The manifest, its segments and event lines: JSON forms, the rules decoding enforces, derived values.

#include "core/archive/meeting.h"

#include <cmath>
#include <set>

#include <fmt/format.h>

#include "core/archive/record_decoding.h"
#include "platform/crypto.h"
#include "platform/enum_names.h"

namespace korvel {

namespace {

constexpr auto kSessionStateNames = enumNames<SessionState>("recording", "paused", "finalized", "incomplete");

}  // namespace

const char* toString(SessionState state) { return kSessionStateNames.name(state); }

std::optional<SessionState> parseSessionState(std::string_view text) { return kSessionStateNames.parse(text); }

bool isActive(SessionState state) { return state == SessionState::recording || state == SessionState::paused; }

Json Source::toJson() const { return Json{{"id", id}, {"name", name}, {"kind", kind}}; }

Result<Source> Source::fromJson(const Json& json) {
  JsonFields fields(json);
  Source source{fields.string("id"), fields.string("name"), fields.string("kind")};
  return finishDecoding(fields, "capture source", std::move(source));
}

namespace {

bool isLowercaseHexDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool withinMeeting(double seconds) { return std::isfinite(seconds) && seconds >= 0 && seconds <= kMaximumMeetingSeconds; }

}  // namespace

Json Segment::toJson() const {
  return Json{{"id", id},           {"sourceID", sourceID}, {"file", file},    {"start", start},
              {"duration", duration}, {"bytes", bytes},       {"sha256", sha256}};
}

Result<Segment> Segment::fromJson(const Json& json) {
  JsonFields fields(json);
  Segment segment;
  segment.id = fields.string("id");
  segment.sourceID = fields.string("sourceID");
  segment.file = fields.string("file");
  segment.start = fields.number("start");
  segment.duration = fields.number("duration");
  segment.bytes = fields.integer("bytes");
  segment.sha256 = fields.string("sha256");
  if (fields.ok()) {
    if (segment.id.empty()) fields.fail("empty id");
    else if (segment.file.empty()) fields.fail("empty file name");
    else if (!withinMeeting(segment.start)) fields.fail("start is not between 0 and ten years");
    else if (!withinMeeting(segment.duration) || segment.duration <= 0) fields.fail("duration is not positive");
    else if (segment.start + segment.duration > kMaximumMeetingSeconds) fields.fail("segment ends after ten years");
    else if (segment.bytes < 0) fields.fail("negative bytes");
    else if (!isLowercaseHexDigest(segment.sha256)) fields.fail("sha256 is not 64 lowercase hexadecimal digits");
  }
  return finishDecoding(fields, "media segment", std::move(segment));
}

std::string encodeSegmentRecord(const Segment& segment) { return encodePretty(segment.toJson()); }

Result<Segment> decodeSegmentRecord(std::string_view bytes) {
  auto json = parseJson(bytes);
  if (!json) return makeError(ErrorCode::Corrupt, "The segment record is not valid JSON.");
  return Segment::fromJson(*json);
}

Meeting Meeting::create(std::string title, double hostStart, std::vector<Source> sources,
                        std::optional<std::string> primaryMic, const Clock& clock, std::string timezone) {
  Meeting meeting;
  meeting.id = uuidString();
  meeting.title = std::move(title);
  // The manifest keeps whole seconds; so does the meeting from the start.
  meeting.startedAt = Date::fromUnix(std::floor(clock.now().secondsSince1970));
  meeting.timezone = std::move(timezone);
  meeting.hostStart = hostStart;
  meeting.sources = std::move(sources);
  meeting.primaryMic = std::move(primaryMic);
  return meeting;
}

double Meeting::duration() const {
  double end = 0;
  for (const auto& segment : segments) end = std::max(end, segment.start + segment.duration);
  return end;
}

RecordingOptions Meeting::effectiveRecordingOptions() const {
  if (recordingOptions) return *recordingOptions;
  RecordingOptions options;
  for (const auto& source : sources) {
    if (source.kind == "video") options.video = true;
    if (source.kind == "microphone") options.microphone = true;
    if (source.kind == "audio") options.applicationAudio = true;
  }
  options.transcription = true;
  return options;
}

std::string Meeting::captureDescription() const {
  const RecordingQuality used = quality ? quality->normalized() : RecordingQuality::standard();
  const std::string video =
      used.recordsVideo ? fmt::format("SDR H.264 up to {}p/{}fps; {} bps video target", resolutionHeight(used.resolution),
                                      used.frameRate, used.videoBitrate)
                        : std::string("audio only");
  const std::string audio = used.audioBitrate ? fmt::format("{} bps AAC target per track", *used.audioBitrate)
                                              : std::string("automatic AAC bitrate");
  return fmt::format("{} capture; {}; {}; 30s segments; app audio may mix browser tabs; selected microphone",
                     detection ? "Automatic" : "Manual", video, audio);
}

Json Meeting::toJson() const {
  Json json{{"schemaVersion", schemaVersion}, {"id", id},          {"title", title},
            {"startedAt", formatIso8601(startedAt)}, {"timezone", timezone}, {"hostStart", hostStart},
            {"state", toString(state)}};
  Json sourceList = Json::array();
  for (const auto& source : sources) sourceList.push_back(source.toJson());
  json["sources"] = std::move(sourceList);
  Json segmentList = Json::array();
  for (const auto& segment : segments) segmentList.push_back(segment.toJson());
  json["segments"] = std::move(segmentList);
  json["warnings"] = warnings;
  if (primaryMic) json["primaryMic"] = *primaryMic;
  if (automaticMicrophones) json["automaticMicrophones"] = *automaticMicrophones;
  if (detection) json["detection"] = *detection;
  if (calendarEvent) json["calendarEvent"] = *calendarEvent;
  if (calendarLinkReviewed) json["calendarLinkReviewed"] = *calendarLinkReviewed;
  if (titleEditedByUser) json["titleEditedByUser"] = *titleEditedByUser;
  if (recordingOptions) json["recordingOptions"] = recordingOptions->toJson();
  if (postRecordingProcessing) json["postRecordingProcessing"] = *postRecordingProcessing;
  if (quality) json["quality"] = quality->toJson();
  return json;
}

namespace {

std::optional<Json> nestedObject(JsonFields& fields, const char* key) {
  if (!fields.has(key)) return std::nullopt;
  const Json& object = fields.object(key);
  if (!fields.ok()) return std::nullopt;
  return object;
}

void checkIdentities(JsonFields& fields, const Meeting& meeting) {
  std::set<std::string> sourceIDs;
  for (const auto& source : meeting.sources)
    if (!sourceIDs.insert(source.id).second) return fields.fail(fmt::format("duplicate source id {}", source.id));
  std::set<std::string> segmentIDs;
  for (const auto& segment : meeting.segments) {
    if (!segmentIDs.insert(segment.id).second) return fields.fail(fmt::format("duplicate segment id {}", segment.id));
    if (!sourceIDs.count(segment.sourceID))
      return fields.fail(fmt::format("segment {} names unknown source {}", segment.id, segment.sourceID));
  }
}

}  // namespace

Result<Meeting> Meeting::fromJson(const Json& json) {
  JsonFields fields(json);
  Meeting meeting;
  meeting.schemaVersion = fields.integer("schemaVersion");
  if (fields.ok() && meeting.schemaVersion != kMeetingSchemaVersion)
    return makeError(ErrorCode::Corrupt,
                     fmt::format("The meeting manifest has format version {}, which this version of Korvel cannot read.",
                                 meeting.schemaVersion));
  meeting.id = fields.string("id");
  meeting.title = fields.string("title");
  meeting.startedAt = fields.isoDate("startedAt");
  meeting.timezone = fields.string("timezone");
  meeting.hostStart = fields.number("hostStart");
  const std::string state = fields.string("state");
  if (fields.ok()) {
    if (auto parsed = parseSessionState(state)) meeting.state = *parsed;
    else fields.fail(fmt::format("unknown state {}", state));
  }
  meeting.sources = decodeArray<Source>(fields, "sources");
  meeting.primaryMic = fields.optionalString("primaryMic");
  meeting.automaticMicrophones = fields.optionalBoolean("automaticMicrophones");
  meeting.detection = nestedObject(fields, "detection");
  meeting.calendarEvent = nestedObject(fields, "calendarEvent");
  meeting.calendarLinkReviewed = fields.optionalBoolean("calendarLinkReviewed");
  meeting.titleEditedByUser = fields.optionalBoolean("titleEditedByUser");
  decodeOptional(fields, "recordingOptions", meeting.recordingOptions);
  meeting.postRecordingProcessing = nestedObject(fields, "postRecordingProcessing");
  decodeOptional(fields, "quality", meeting.quality);
  meeting.segments = decodeArray<Segment>(fields, "segments");
  meeting.warnings = fields.stringArray("warnings");
  if (fields.ok() && !std::isfinite(meeting.hostStart)) fields.fail("hostStart is not finite");
  if (fields.ok()) checkIdentities(fields, meeting);
  return finishDecoding(fields, "meeting manifest", std::move(meeting));
}

std::string encodeManifest(const Meeting& meeting) { return encodePretty(meeting.toJson()); }

Result<Meeting> decodeManifest(std::string_view bytes) {
  auto json = parseJson(bytes);
  if (!json) return makeError(ErrorCode::Corrupt, "The meeting manifest is not valid JSON.");
  return Meeting::fromJson(*json);
}

Json MeetingEvent::toJson() const {
  return Json{{"detail", detail}, {"kind", kind}, {"uptime", uptime}, {"utc", formatIso8601(utc)}};
}

Result<MeetingEvent> MeetingEvent::fromJson(const Json& json) {
  JsonFields fields(json);
  MeetingEvent event;
  event.detail = fields.string("detail");
  event.kind = fields.string("kind");
  event.uptime = fields.number("uptime");
  event.utc = fields.isoDate("utc");
  if (fields.ok() && json.size() != 4) fields.fail("members other than detail, kind, uptime and utc");
  return finishDecoding(fields, "event log line", std::move(event));
}

std::string encodeEventLine(const MeetingEvent& event) { return encodeCompact(event.toJson()); }

Result<MeetingEvent> decodeEventLine(std::string_view line) {
  auto json = parseJson(line);
  if (!json) return makeError(ErrorCode::Corrupt, "The event log line is not valid JSON.");
  return MeetingEvent::fromJson(*json);
}

}  // namespace korvel
