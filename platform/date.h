#pragma once
// Date: a point in time as double seconds, with the two wire forms the archive and widget use.

#include <compare>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace korvel {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of the widget's status file.
inline constexpr double kReferenceDateOffset = 978307200.0;

struct Date {
  double secondsSince1970 = 0;

  static Date fromUnix(double seconds) { return Date{seconds}; }
  static Date fromReference(double seconds) { return Date{seconds + kReferenceDateOffset}; }
  // 0001-01-01T00:00:00Z, the platform's "distant past".
  static Date distantPast() { return Date{-62135596800.0}; }

  double sinceReference() const { return secondsSince1970 - kReferenceDateOffset; }
  Date adding(double seconds) const { return Date{secondsSince1970 + seconds}; }
  double secondsSince(Date other) const { return secondsSince1970 - other.secondsSince1970; }

  auto operator<=>(const Date&) const = default;
};

// "2026-03-04T14:15:00Z": UTC, whole seconds (fractions are dropped toward the past).
std::string formatIso8601(Date date);

// Accepts exactly YYYY-MM-DDTHH:MM:SSZ or with a numeric offset (+HH:MM / -HH:MM); nothing fractional.
Result<Date> parseIso8601(std::string_view text);

}  // namespace korvel
