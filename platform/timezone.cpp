// Zone lookups and calendar fields through ICU's Gregorian calendar.

#include "platform/timezone.h"

#include <cmath>
#include <memory>

#include <fmt/format.h>
#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace korvel {

std::string currentTimeZoneIdentifier() {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
  icu::UnicodeString id;
  if (zone) zone->getID(id);
  std::string text;
  id.toUTF8String(text);
  if (text.empty() || text == "Etc/Unknown") return "UTC";
  return text;
}

Result<CivilTime> civilTime(Date date, const std::string& timeZone) {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone)));
  icu::UnicodeString resolved;
  if (zone) zone->getID(resolved);
  if (!zone || resolved == icu::UnicodeString("Etc/Unknown"))
    return makeError(ErrorCode::InvalidInput, fmt::format("The time zone {} is not known.", timeZone));
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(zone.release(), status);
  if (U_FAILURE(status)) return makeError(ErrorCode::Io, "The calendar could not be set up.");
  calendar.setTime(std::floor(date.secondsSince1970) * 1000.0, status);
  CivilTime civil;
  civil.year = calendar.get(UCAL_EXTENDED_YEAR, status);
  civil.month = calendar.get(UCAL_MONTH, status) + 1;
  civil.day = calendar.get(UCAL_DATE, status);
  civil.hour = calendar.get(UCAL_HOUR_OF_DAY, status);
  civil.minute = calendar.get(UCAL_MINUTE, status);
  civil.second = calendar.get(UCAL_SECOND, status);
  if (U_FAILURE(status)) return makeError(ErrorCode::Io, "The calendar could not read the date.");
  return civil;
}

}  // namespace korvel
