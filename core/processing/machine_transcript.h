#pragma once
// A track's first transcript revision, assembled from the engine's output for each of its
// committed segments.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/meeting.h"
#include "core/catalog/transcript_document.h"
#include "platform/date.h"
#include "platform/result.h"

namespace korvel {

// Where the revision came from, recorded in it for provenance.
struct MachineTranscriptProvenance {
  std::string model;
  std::optional<std::string> modelFingerprint;
  std::optional<std::string> inputFingerprint;
  std::optional<std::string> processingJobID;
  std::optional<std::string> engineVersion;
  Date createdAt;
};

// `engineOutputs[i]` is the engine's JSON for `segments[i]` (the track's committed segments in
// order). The revision gets a fresh identifier and the language the engine detected first.
// Refuses a count mismatch ("Give one engine output per committed segment of the track.") and
// passes every parse and validation refusal through.
Result<TranscriptDocument> machineTranscript(const Meeting& meeting, std::string_view sourceID,
                                             const std::vector<Segment>& segments,
                                             const std::vector<std::string>& engineOutputs,
                                             const MachineTranscriptProvenance& provenance);

}  // namespace korvel
