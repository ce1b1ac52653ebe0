#pragma once
// The bound on every time inside a meeting (segments, utterances, spans, moments).

namespace korvel {

// Seconds from meeting start never exceed ten 365.25-day years.
inline constexpr double kMaximumMeetingSeconds = 315'576'000.0;

}  // namespace korvel
