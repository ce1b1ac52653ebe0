#pragma once
// Time zones by identifier (for example Europe/Lisbon), through ICU: the computer's own zone and
// the local calendar fields of an instant in any zone.

#include <string>

#include "platform/date.h"
#include "platform/result.h"

namespace korvel {

// Calendar fields of an instant as seen in one zone (Gregorian, whole seconds).
struct CivilTime {
  int year = 0;
  int month = 0;  // 1–12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool operator==(const CivilTime&) const = default;
};

// The computer's zone identifier (TZ when set, else the system setting); "UTC" when unknown.
std::string currentTimeZoneIdentifier();

// Refuses an identifier the zone database does not know (ErrorCode::InvalidInput).
Result<CivilTime> civilTime(Date date, const std::string& timeZone);

}  // namespace korvel
