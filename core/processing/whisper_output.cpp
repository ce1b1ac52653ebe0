// Parsing of engine output: every span must fall inside the segment the engine was given.

#include "core/processing/whisper_output.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/archive/meeting_time.h"
#include "platform/json.h"
#include "platform/text.h"

namespace korvel {
namespace {

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }
Error undecodable() { return makeError(ErrorCode::Corrupt, "Transcription output could not be decoded"); }

struct Span {
  double from = 0;
  double to = 0;
  std::string text;
};

Result<Span> decodeSpan(const Json& json) {
  if (!json.is_object()) return undecodable();
  JsonFields fields(json);
  const Json& offsets = fields.object("offsets");
  Span span;
  span.text = fields.string("text");
  if (!fields.ok()) return undecodable();
  JsonFields times(offsets);
  span.from = times.number("from");
  span.to = times.number("to");
  if (!times.ok()) return undecodable();
  return span;
}

}  // namespace

Result<WhisperOutput> WhisperOutput::parse(std::string_view json, std::string_view segmentID, double start,
                                           double duration) {
  const bool segmentOk = json.size() <= kMaximumBytes && !segmentID.empty() && std::isfinite(start) &&
                         std::isfinite(duration) && start >= 0 && duration > 0 &&
                         start + duration <= kMaximumMeetingSeconds;
  if (!segmentOk) return invalid("Invalid transcription segment");

  auto payload = parseJson(json);
  if (!payload || !payload->is_object()) return undecodable();
  JsonFields fields(*payload);
  const Json& result = fields.object("result");
  const Json& spans = fields.array("transcription");
  if (!fields.ok()) return undecodable();
  JsonFields resultFields(result);
  WhisperOutput output;
  output.language = resultFields.string("language");
  if (!resultFields.ok()) return undecodable();
  if (output.language.empty() || spans.size() > kMaximumSpans) return invalid("Invalid Whisper output");

  double previousFrom = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < spans.size(); ++i) {
    const Span span = TRY(decodeSpan(spans[i]));
    std::string text = trimWhitespace(span.text);
    // Silent spans still take their number, so utterance ids can have gaps.
    if (text.empty()) continue;
    const double from = span.from / 1000.0;
    const double to = span.to / 1000.0;
    const bool spanOk = std::isfinite(from) && std::isfinite(to) && from >= 0 && from < duration && from < to &&
                        from >= previousFrom && text.size() <= TranscriptUtterance::kMaximumTextBytes;
    if (!spanOk) return invalid("Whisper returned timestamps outside the committed segment");
    previousFrom = from;
    output.utterances.push_back(TranscriptUtterance{fmt::format("{}-{}", segmentID, i), start + from,
                                                    start + std::min(to, duration), std::move(text), {}, {}});
  }
  return output;
}

}  // namespace korvel
