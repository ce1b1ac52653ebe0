#pragma once
// Speaker turns found by diarization, as a transcript revision keeps them for provenance.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

struct SpeakerTurn {
  int64_t speaker = 0;  // 0 to 7
  double start = 0;
  double end = 0;

  bool operator==(const SpeakerTurn&) const = default;
  Json toJson() const;
  static Result<SpeakerTurn> fromJson(const Json& json);
};

struct DiarizationEvidence {
  static constexpr size_t kMaximumTurns = 1'000'000;

  std::string model;
  std::string revision;
  std::vector<SpeakerTurn> turns;

  bool operator==(const DiarizationEvidence&) const = default;
  // Refuses a model the recorder does not run ("Unsupported diarization result") and
  // unordered or self-overlapping turns ("Invalid speaker interval").
  Status validate() const;
  Json toJson() const;
  static Result<DiarizationEvidence> fromJson(const Json& json);
};

}  // namespace korvel
