// The transcript revision record: JSON form and the rules every stored revision keeps.

#include "core/catalog/transcript_document.h"

#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "platform/enum_names.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr size_t kMaximumRevisionIDCharacters = 128;
constexpr size_t kMaximumSpeakerCharacters = 240;
constexpr size_t kMaximumSpeakerBytes = 1'000;
constexpr size_t kMaximumSpeakerIDBytes = 512;

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }
Error undecodable() { return makeError(ErrorCode::Corrupt, "Transcript document could not be decoded"); }

bool isLowercaseHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool validSpeakerName(const std::string& name) {
  return isValidUtf8(name) && name.size() <= kMaximumSpeakerBytes && !isBlank(name) &&
         !containsControlOrLineBreak(name) && graphemeCount(name) <= kMaximumSpeakerCharacters;
}

bool validSpeakerID(const std::string& identity) {
  return isValidUtf8(identity) && identity.size() <= kMaximumSpeakerIDBytes && !isBlank(identity) &&
         !containsControlOrLineBreak(identity);
}

void putOptional(Json& json, const char* key, const std::optional<std::string>& value) {
  if (value) json[key] = *value;
}

constexpr auto kRevisionOriginNames =
    enumNames<TranscriptDocument::RevisionOrigin>("userCorrection", "speakerAttribution");

}  // namespace

const char* revisionOriginName(TranscriptDocument::RevisionOrigin origin) { return kRevisionOriginNames.name(origin); }

std::optional<TranscriptDocument::RevisionOrigin> parseRevisionOrigin(std::string_view name) {
  return kRevisionOriginNames.parse(name);
}

bool isValidRevisionID(std::string_view id) {
  if (id.empty() || !isLettersMarksDigits(id, "-_")) return false;
  return graphemeCount(id) <= kMaximumRevisionIDCharacters;
}

Json TranscriptUtterance::toJson() const {
  Json json{{"id", id}, {"start", start}, {"end", end}, {"text", text}};
  putOptional(json, "speaker", speaker);
  putOptional(json, "speakerID", speakerID);
  return json;
}

Result<TranscriptUtterance> TranscriptUtterance::fromJson(const Json& json) {
  if (!json.is_object()) return undecodable();
  JsonFields fields(json);
  TranscriptUtterance utterance;
  utterance.id = fields.string("id");
  utterance.start = fields.number("start");
  utterance.end = fields.number("end");
  utterance.text = fields.string("text");
  utterance.speaker = fields.optionalString("speaker");
  utterance.speakerID = fields.optionalString("speakerID");
  if (!fields.ok()) return undecodable();
  return utterance;
}

Status TranscriptDocument::validate() const {
  const bool metadataOk = schemaVersion == kSchemaVersion && isValidRevisionID(id) && !meetingID.empty() &&
                          !sourceID.empty() && !model.empty() && std::isfinite(createdAt.secondsSince1970) &&
                          utterances.size() <= kMaximumUtterances;
  if (!metadataOk) return invalid("Invalid transcript metadata");
  if (speakerEvidenceFingerprint && !isLowercaseHex64(*speakerEvidenceFingerprint)) {
    return invalid("Invalid speaker evidence fingerprint");
  }
  if (speakerAttributionVersion && *speakerAttributionVersion <= 0) return invalid("Invalid speaker attribution version");
  if (diarization) TRY(diarization->validate());

  std::set<std::string_view> seen;
  double previousStart = -std::numeric_limits<double>::infinity();
  for (const TranscriptUtterance& u : utterances) {
    const bool utteranceOk = !u.id.empty() && seen.insert(u.id).second && std::isfinite(u.start) &&
                             std::isfinite(u.end) && u.start >= 0 && u.start >= previousStart && u.start < u.end &&
                             u.end <= kMaximumMeetingSeconds && u.text.size() <= TranscriptUtterance::kMaximumTextBytes &&
                             isValidUtf8(u.text) && !isBlank(u.text);
    if (!utteranceOk) return invalid("Invalid, duplicate or unordered transcript utterance");
    if (u.speaker && !validSpeakerName(*u.speaker)) return invalid("Invalid transcript speaker name");
    if (u.speakerID && !validSpeakerID(*u.speakerID)) return invalid("Invalid transcript speaker identity");
    previousStart = u.start;
  }
  return okStatus();
}

Json TranscriptDocument::toJson() const {
  Json list = Json::array();
  for (const TranscriptUtterance& u : utterances) list.push_back(u.toJson());
  Json json{{"schemaVersion", schemaVersion}, {"id", id},         {"meetingID", meetingID},
            {"sourceID", sourceID},           {"model", model},   {"language", language},
            {"createdAt", formatIso8601(createdAt)},              {"utterances", std::move(list)}};
  putOptional(json, "parentVersionID", parentVersionID);
  if (revisionOrigin) json["revisionOrigin"] = revisionOriginName(*revisionOrigin);
  putOptional(json, "processingJobID", processingJobID);
  putOptional(json, "inputFingerprint", inputFingerprint);
  putOptional(json, "modelFingerprint", modelFingerprint);
  putOptional(json, "engineVersion", engineVersion);
  putOptional(json, "speakerEvidenceFingerprint", speakerEvidenceFingerprint);
  if (speakerAttributionVersion) json["speakerAttributionVersion"] = *speakerAttributionVersion;
  if (diarization) json["diarization"] = diarization->toJson();
  return json;
}

Result<TranscriptDocument> TranscriptDocument::fromJson(const Json& json) {
  if (!json.is_object()) return undecodable();
  JsonFields fields(json);
  TranscriptDocument document;
  document.schemaVersion = fields.integer("schemaVersion");
  document.id = fields.string("id");
  document.meetingID = fields.string("meetingID");
  document.sourceID = fields.string("sourceID");
  document.model = fields.string("model");
  document.language = fields.string("language");
  document.createdAt = fields.isoDate("createdAt");
  document.parentVersionID = fields.optionalString("parentVersionID");
  const std::optional<std::string> origin = fields.optionalString("revisionOrigin");
  document.processingJobID = fields.optionalString("processingJobID");
  document.inputFingerprint = fields.optionalString("inputFingerprint");
  document.modelFingerprint = fields.optionalString("modelFingerprint");
  document.engineVersion = fields.optionalString("engineVersion");
  document.speakerEvidenceFingerprint = fields.optionalString("speakerEvidenceFingerprint");
  document.speakerAttributionVersion = fields.optionalInteger("speakerAttributionVersion");
  const Json& list = fields.array("utterances");
  if (!fields.ok()) return undecodable();
  if (origin) {
    document.revisionOrigin = parseRevisionOrigin(*origin);
    if (!document.revisionOrigin) return undecodable();
  }
  if (const Json* evidence = fields.raw("diarization"); evidence && !evidence->is_null()) {
    document.diarization = TRY(DiarizationEvidence::fromJson(*evidence));
  }
  // Refused before decoding so an oversized file costs no more than its parse.
  if (list.size() > kMaximumUtterances) return invalid("Invalid transcript metadata");
  document.utterances.reserve(list.size());
  for (const Json& item : list) document.utterances.push_back(TRY(TranscriptUtterance::fromJson(item)));
  return document;
}

std::string TranscriptDocument::encoded() const { return encodePretty(toJson()); }

Result<TranscriptDocument> TranscriptDocument::decode(std::string_view bytes) {
  auto json = parseJson(bytes);
  if (!json) return undecodable();
  TranscriptDocument document = TRY(fromJson(*json));
  TRY(document.validate());
  return document;
}

std::map<std::string, TranscriptDocument> latestRevisionsBySource(const std::vector<TranscriptDocument>& lineage) {
  std::map<std::string, TranscriptDocument> latest;
  for (const TranscriptDocument& document : lineage) latest.insert_or_assign(document.sourceID, document);
  return latest;
}

}  // namespace korvel
