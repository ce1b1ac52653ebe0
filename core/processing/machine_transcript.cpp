// Joining per-segment engine output into one validated revision.

#include "core/processing/machine_transcript.h"

#include "core/processing/whisper_output.h"
#include "platform/crypto.h"

namespace korvel {

Result<TranscriptDocument> machineTranscript(const Meeting& meeting, std::string_view sourceID,
                                             const std::vector<Segment>& segments,
                                             const std::vector<std::string>& engineOutputs,
                                             const MachineTranscriptProvenance& provenance) {
  if (segments.empty() || segments.size() != engineOutputs.size()) {
    return makeError(ErrorCode::InvalidInput, "Give one engine output per committed segment of the track.");
  }
  TranscriptDocument document;
  document.id = uuidString();
  document.meetingID = meeting.id;
  document.sourceID = std::string(sourceID);
  document.model = provenance.model;
  document.createdAt = provenance.createdAt;
  document.processingJobID = provenance.processingJobID;
  document.inputFingerprint = provenance.inputFingerprint;
  document.modelFingerprint = provenance.modelFingerprint;
  document.engineVersion = provenance.engineVersion;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& segment = segments[i];
    WhisperOutput output = TRY(WhisperOutput::parse(engineOutputs[i], segment.id, segment.start, segment.duration));
    if (document.language.empty()) document.language = output.language;
    for (auto& utterance : output.utterances) document.utterances.push_back(std::move(utterance));
  }
  TRY(document.validate());
  return document;
}

}  // namespace korvel
