#pragma once
// The transcription engine's JSON result for one committed segment, checked and turned into utterances.

#include <string>
#include <string_view>
#include <vector>

#include "core/catalog/transcript_document.h"
#include "platform/result.h"

namespace korvel {

struct WhisperOutput {
  static constexpr size_t kMaximumBytes = 32'000'000;
  static constexpr size_t kMaximumSpans = 100'000;

  std::string language;
  std::vector<TranscriptUtterance> utterances;

  bool operator==(const WhisperOutput&) const = default;

  // `start` and `duration` place the segment on the meeting's timeline; span offsets are
  // milliseconds into the segment. Refusals are ErrorCode::InvalidInput: "Invalid transcription
  // segment", "Invalid Whisper output", "Whisper returned timestamps outside the committed
  // segment"; undecodable JSON is ErrorCode::Corrupt.
  static Result<WhisperOutput> parse(std::string_view json, std::string_view segmentID, double start, double duration);
};

}  // namespace korvel
