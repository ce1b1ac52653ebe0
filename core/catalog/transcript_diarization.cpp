// Diarization evidence: its JSON form and the rules a stored copy must keep.

#include "core/catalog/transcript_diarization.h"

#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "core/catalog/transcript_document.h"

namespace korvel {
namespace {

// (model, revision) of each diarization runtime the recorder ships.
constexpr std::pair<const char*, const char*> kSupportedRuntimes[] = {
    {"nvidia/Nemotron-3-Diarization", "a435e9867d79e789e90053f9b6d6834053af564a"},
    {"FluidInference/nemotron-3-diarization-coreml", "25a90f97f254428d4b30374b76af9c74fdee8327"},
};

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }

}  // namespace

Json SpeakerTurn::toJson() const { return Json{{"speaker", speaker}, {"start", start}, {"end", end}}; }

Result<SpeakerTurn> SpeakerTurn::fromJson(const Json& json) {
  if (!json.is_object()) return invalid("Invalid speaker interval");
  JsonFields fields(json);
  SpeakerTurn turn{fields.integer("speaker"), fields.number("start"), fields.number("end")};
  if (!fields.ok()) return invalid("Invalid speaker interval");
  return turn;
}

Status DiarizationEvidence::validate() const {
  bool supported = false;
  for (const auto& [runtimeModel, runtimeRevision] : kSupportedRuntimes) {
    supported = supported || (model == runtimeModel && revision == runtimeRevision);
  }
  if (!supported) return invalid("Unsupported diarization result");
  if (turns.size() > kMaximumTurns) return invalid("Invalid speaker interval");
  double previousStart = -std::numeric_limits<double>::infinity();
  std::map<int64_t, double> speakerEnds;
  for (const SpeakerTurn& turn : turns) {
    const bool timesOk = std::isfinite(turn.start) && std::isfinite(turn.end) && turn.start >= 0 &&
                         turn.start >= previousStart && turn.start < turn.end && turn.end <= kMaximumMeetingSeconds;
    auto previousEnd = speakerEnds.find(turn.speaker);
    const bool overlapsOwnTurn = previousEnd != speakerEnds.end() && turn.start < previousEnd->second;
    if (turn.speaker < 0 || turn.speaker > 7 || !timesOk || overlapsOwnTurn) return invalid("Invalid speaker interval");
    speakerEnds[turn.speaker] = turn.end;
    previousStart = turn.start;
  }
  return okStatus();
}

Json DiarizationEvidence::toJson() const {
  Json list = Json::array();
  for (const SpeakerTurn& turn : turns) list.push_back(turn.toJson());
  return Json{{"model", model}, {"revision", revision}, {"turns", std::move(list)}};
}

Result<DiarizationEvidence> DiarizationEvidence::fromJson(const Json& json) {
  if (!json.is_object()) return invalid("Unsupported diarization result");
  JsonFields fields(json);
  DiarizationEvidence evidence;
  evidence.model = fields.string("model");
  evidence.revision = fields.string("revision");
  const Json& list = fields.array("turns");
  if (!fields.ok()) return invalid("Unsupported diarization result");
  if (list.size() > kMaximumTurns) return invalid("Invalid speaker interval");
  evidence.turns.reserve(list.size());
  for (const Json& item : list) evidence.turns.push_back(TRY(SpeakerTurn::fromJson(item)));
  return evidence;
}

}  // namespace korvel
