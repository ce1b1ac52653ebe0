// One split of a duration into hours, minutes, seconds and milliseconds behind every timecode.

#include "platform/timecode.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace korvel {
namespace {

struct ClockParts {
  int64_t hours;
  int64_t minutes;
  int64_t seconds;
  int64_t milliseconds;
};

ClockParts split(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  return ClockParts{milliseconds / 3'600'000, milliseconds / 60'000 % 60, milliseconds / 1000 % 60,
                    milliseconds % 1000};
}

// Whole seconds as milliseconds; anything past the int64 range of milliseconds is clamped there.
int64_t wholeMilliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  constexpr double kLargest = 9.2e15;  // seconds whose milliseconds still fit in int64
  return static_cast<int64_t>(std::floor(std::min(seconds, kLargest))) * 1000;
}

}  // namespace

std::string paddedTimecode(double seconds) {
  const ClockParts parts = split(wholeMilliseconds(seconds));
  return fmt::format("{:02}:{:02}:{:02}", parts.hours, parts.minutes, parts.seconds);
}

std::string compactTimecode(double seconds) {
  const ClockParts parts = split(wholeMilliseconds(seconds));
  if (parts.hours == 0) return fmt::format("{}:{:02}", parts.minutes, parts.seconds);
  return fmt::format("{}:{:02}:{:02}", parts.hours, parts.minutes, parts.seconds);
}

std::string millisecondTimecode(int64_t milliseconds) {
  const ClockParts parts = split(milliseconds);
  return fmt::format("{:02}:{:02}:{:02}.{:03}", parts.hours, parts.minutes, parts.seconds, parts.milliseconds);
}

}  // namespace korvel
