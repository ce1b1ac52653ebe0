#pragma once
// Seconds written the way clocks and subtitle cues show them. Fractions of a second are cut,
// and a non-finite or negative time is shown as zero.

#include <cstdint>
#include <string>

namespace korvel {

// "HH:MM:SS", hours in two digits or more: "00:01:05", "123:00:00".
std::string paddedTimecode(double seconds);
// "M:SS" under an hour, "H:MM:SS" from an hour on: "1:05", "1:00:00".
std::string compactTimecode(double seconds);
// "HH:MM:SS.mmm" from whole milliseconds, the cue times of WebVTT.
std::string millisecondTimecode(int64_t milliseconds);

}  // namespace korvel
