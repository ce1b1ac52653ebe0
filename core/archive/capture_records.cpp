// Recording options and quality, and the records exchanged with the capture process.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/archive/meeting.h"
#include "core/archive/record_decoding.h"
#include "platform/enum_names.h"

namespace korvel {

std::optional<std::string> RecordingOptions::validationMessage() const {
  if (!hasMedia()) return std::string("Select at least one recording input.");
  if (transcription && !hasAudio()) return std::string("Transcription requires microphone or meeting audio.");
  return std::nullopt;
}

Json RecordingOptions::toJson() const {
  return Json{{"video", video}, {"microphone", microphone}, {"applicationAudio", applicationAudio},
              {"transcription", transcription}};
}

Result<RecordingOptions> RecordingOptions::fromJson(const Json& json) {
  JsonFields fields(json);
  RecordingOptions options;
  options.video = fields.boolean("video");
  options.microphone = fields.boolean("microphone");
  options.applicationAudio = fields.boolean("applicationAudio");
  options.transcription = fields.boolean("transcription");
  return finishDecoding(fields, "recording options", std::move(options));
}

namespace {

template <size_t N>
bool contains(const int64_t (&values)[N], int64_t value) {
  return std::find(std::begin(values), std::end(values), value) != std::end(values);
}

constexpr auto kResolutionNames = enumNames<RecordingQuality::Resolution>("p720", "p1080", "p1440", "p2160");

}  // namespace

const char* toString(RecordingQuality::Resolution resolution) { return kResolutionNames.name(resolution); }

std::optional<RecordingQuality::Resolution> parseResolution(std::string_view text) {
  return kResolutionNames.parse(text);
}

int resolutionHeight(RecordingQuality::Resolution resolution) {
  switch (resolution) {
    case RecordingQuality::Resolution::p720: return 720;
    case RecordingQuality::Resolution::p1080: return 1080;
    case RecordingQuality::Resolution::p1440: return 1440;
    case RecordingQuality::Resolution::p2160: return 2160;
  }
  return 1080;
}

std::string resolutionLabel(RecordingQuality::Resolution resolution) {
  if (resolution == RecordingQuality::Resolution::p2160) return "4K (2160p)";
  return fmt::format("{}p", resolutionHeight(resolution));
}

RecordingQuality RecordingQuality::make(bool recordsVideo, Resolution resolution, int64_t frameRate,
                                        int64_t videoBitrate, std::optional<int64_t> audioBitrate) {
  RecordingQuality quality;
  quality.recordsVideo = recordsVideo;
  quality.resolution = resolution;
  quality.frameRate = frameRate;
  quality.videoBitrate = videoBitrate;
  quality.audioBitrate = audioBitrate;
  return quality.normalized();
}

RecordingQuality RecordingQuality::standard() { return make(true, Resolution::p1080, 15, 3'000'000, std::nullopt); }
RecordingQuality RecordingQuality::compact() { return make(true, Resolution::p720, 10, 1'500'000, 96000); }
RecordingQuality RecordingQuality::detailed() { return make(true, Resolution::p1440, 30, 6'000'000, 192000); }

RecordingQuality RecordingQuality::normalized() const {
  RecordingQuality quality = *this;
  if (!contains(frameRates, quality.frameRate)) quality.frameRate = 15;
  if (quality.videoBitrate < minimumVideoBitrate || quality.videoBitrate > maximumVideoBitrate)
    quality.videoBitrate = 3'000'000;
  if (quality.audioBitrate && !contains(audioBitrates, *quality.audioBitrate)) quality.audioBitrate.reset();
  return quality;
}

Json RecordingQuality::toJson() const {
  Json json{{"recordsVideo", recordsVideo}, {"resolution", toString(resolution)}, {"frameRate", frameRate},
            {"videoBitrate", videoBitrate}};
  if (audioBitrate) json["audioBitrate"] = *audioBitrate;
  return json;
}

Result<RecordingQuality> RecordingQuality::fromJson(const Json& json) {
  JsonFields fields(json);
  RecordingQuality quality;
  quality.recordsVideo = fields.boolean("recordsVideo");
  const std::string resolution = fields.string("resolution");
  quality.frameRate = fields.integer("frameRate");
  quality.videoBitrate = fields.integer("videoBitrate");
  quality.audioBitrate = fields.optionalInteger("audioBitrate");
  if (fields.ok()) {
    if (auto parsed = parseResolution(resolution)) quality.resolution = *parsed;
    else fields.fail(fmt::format("unknown resolution {}", resolution));
  }
  return finishDecoding(fields, "recording quality", std::move(quality));
}

Json LiveTranscriptionConfiguration::toJson() const { return Json{{"pythonPath", pythonPath}, {"modelPath", modelPath}}; }

Result<LiveTranscriptionConfiguration> LiveTranscriptionConfiguration::fromJson(const Json& json) {
  JsonFields fields(json);
  LiveTranscriptionConfiguration configuration{fields.string("pythonPath"), fields.string("modelPath")};
  return finishDecoding(fields, "live transcription configuration", std::move(configuration));
}

Json CaptureRequest::toJson() const {
  Json json{{"directory", directory}, {"microphoneIDs", microphoneIDs}};
  if (liveTranscription) json["liveTranscription"] = liveTranscription->toJson();
  if (windowID) json["windowID"] = *windowID;
  if (capturesAllMicrophones) json["capturesAllMicrophones"] = *capturesAllMicrophones;
  if (microphoneSourceID) json["microphoneSourceID"] = *microphoneSourceID;
  if (recordingOptions) json["recordingOptions"] = recordingOptions->toJson();
  if (quality) json["quality"] = quality->toJson();
  return json;
}

Result<CaptureRequest> CaptureRequest::fromJson(const Json& json) {
  JsonFields fields(json);
  CaptureRequest request;
  request.directory = fields.string("directory");
  request.microphoneIDs = fields.stringArray("microphoneIDs");
  if (auto window = fields.optionalInteger("windowID")) {
    if (*window < 0 || *window > UINT32_MAX) fields.fail("windowID is out of range");
    else request.windowID = static_cast<uint32_t>(*window);
  }
  request.capturesAllMicrophones = fields.optionalBoolean("capturesAllMicrophones");
  request.microphoneSourceID = fields.optionalString("microphoneSourceID");
  decodeOptional(fields, "liveTranscription", request.liveTranscription);
  decodeOptional(fields, "recordingOptions", request.recordingOptions);
  decodeOptional(fields, "quality", request.quality);
  return finishDecoding(fields, "capture request", std::move(request));
}

Json LiveTranscriptUpdate::toJson() const {
  return Json{{"id", id}, {"sourceID", sourceID}, {"start", start}, {"end", end}, {"text", text}};
}

Result<LiveTranscriptUpdate> LiveTranscriptUpdate::fromJson(const Json& json) {
  JsonFields fields(json);
  LiveTranscriptUpdate update;
  update.id = fields.string("id");
  update.sourceID = fields.string("sourceID");
  update.start = fields.number("start");
  update.end = fields.number("end");
  update.text = fields.string("text");
  return finishDecoding(fields, "live transcript update", std::move(update));
}

std::string TrackHealth::status(double now) const {
  if (error) return "Degraded";
  if (!lastCallback) return "Waiting for samples";
  if (now - *lastCallback <= 5) return committedThrough > 0 ? "Capturing · segment verified" : "Capturing · uncommitted";
  return "Missing samples";
}

Json TrackHealth::toJson() const {
  Json json{{"id", id},
            {"writtenThrough", writtenThrough},
            {"committedThrough", committedThrough},
            {"committedBytes", committedBytes},
            {"dropped", dropped}};
  if (lastCallback) json["lastCallback"] = *lastCallback;
  if (startedAt) json["startedAt"] = *startedAt;
  if (audioLevel) json["audioLevel"] = *audioLevel;
  if (error) json["error"] = *error;
  return json;
}

Result<TrackHealth> TrackHealth::fromJson(const Json& json) {
  JsonFields fields(json);
  TrackHealth health(fields.string("id"));
  health.lastCallback = fields.optionalNumber("lastCallback");
  health.startedAt = fields.optionalNumber("startedAt");
  health.audioLevel = fields.optionalNumber("audioLevel");
  health.writtenThrough = fields.number("writtenThrough");
  health.committedThrough = fields.number("committedThrough");
  health.committedBytes = fields.integer("committedBytes");
  health.dropped = fields.integer("dropped");
  health.error = fields.optionalString("error");
  return finishDecoding(fields, "track health", std::move(health));
}

Json WorkerMessage::toJson() const {
  Json json{{"kind", kind}};
  if (detail) json["detail"] = *detail;
  if (health) {
    Json tracks = Json::array();
    for (const auto& track : *health) tracks.push_back(track.toJson());
    json["health"] = std::move(tracks);
  }
  if (committedBytes) json["committedBytes"] = *committedBytes;
  if (liveTranscript) json["liveTranscript"] = liveTranscript->toJson();
  return json;
}

Result<WorkerMessage> WorkerMessage::fromJson(const Json& json) {
  JsonFields fields(json);
  WorkerMessage message;
  message.kind = fields.string("kind");
  message.detail = fields.optionalString("detail");
  message.committedBytes = fields.optionalInteger("committedBytes");
  if (fields.has("health")) message.health = decodeArray<TrackHealth>(fields, "health");
  decodeOptional(fields, "liveTranscript", message.liveTranscript);
  return finishDecoding(fields, "capture message", std::move(message));
}

}  // namespace korvel
