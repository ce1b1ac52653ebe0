#include "platform/date.h"

#include <gtest/gtest.h>

#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

using testing::IsOkAndHolds;

TEST(DateTest, FormatsWholeSecondsInUtc) {
  EXPECT_EQ(formatIso8601(Date::fromUnix(1772633700.9)), "2026-03-04T14:15:00Z");
  EXPECT_EQ(formatIso8601(Date::fromUnix(0)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(formatIso8601(Date::fromUnix(-0.5)), "1969-12-31T23:59:59Z");
  EXPECT_EQ(formatIso8601(Date::distantPast()), "0001-01-01T00:00:00Z");
  EXPECT_EQ(formatIso8601(Date::fromReference(0)), "2001-01-01T00:00:00Z");
}

TEST(DateTest, ParsesZuluAndOffsets) {
  EXPECT_THAT(parseIso8601("2026-03-04T14:15:00Z"), IsOkAndHolds(Date::fromUnix(1772633700)));
  EXPECT_THAT(parseIso8601("2026-03-04T15:15:00+01:00"), IsOkAndHolds(Date::fromUnix(1772633700)));
  EXPECT_THAT(parseIso8601("2024-02-29T00:00:00Z"), IsOkAndHolds(Date::fromUnix(1709164800)));
}

TEST(DateTest, RefusesOtherForms) {
  for (const char* text : {"2026-03-04T14:15:00.5Z", "2026-03-04 14:15:00Z", "2026-03-04T14:15:00", "2026-02-30T00:00:00Z",
                           "2026-13-01T00:00:00Z", "2026-03-04T24:00:00Z", "", "1772633700"})
    EXPECT_FALSE(parseIso8601(text).ok()) << text;
}

}  // namespace
}  // namespace korvel
