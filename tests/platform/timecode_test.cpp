#include "platform/timecode.h"

#include <gtest/gtest.h>

#include <limits>

namespace korvel {
namespace {

TEST(TimecodeTest, PaddedKeepsTwoDigitHoursAndGrowsPastThem) {
  EXPECT_EQ(paddedTimecode(0), "00:00:00");
  EXPECT_EQ(paddedTimecode(65.99), "00:01:05");
  EXPECT_EQ(paddedTimecode(3725), "01:02:05");
  EXPECT_EQ(paddedTimecode(123 * 3600.0), "123:00:00");
  EXPECT_EQ(paddedTimecode(315'576'000.0), "87660:00:00");
}

TEST(TimecodeTest, CompactDropsHoursUnderAnHour) {
  EXPECT_EQ(compactTimecode(0), "0:00");
  EXPECT_EQ(compactTimecode(125.9), "2:05");
  EXPECT_EQ(compactTimecode(3599), "59:59");
  EXPECT_EQ(compactTimecode(3600), "1:00:00");
  EXPECT_EQ(compactTimecode(3725), "1:02:05");
}

TEST(TimecodeTest, MillisecondsForCues) {
  EXPECT_EQ(millisecondTimecode(0), "00:00:00.000");
  EXPECT_EQ(millisecondTimecode(3'725'042), "01:02:05.042");
  EXPECT_EQ(millisecondTimecode(-1), "00:00:00.000");
}

TEST(TimecodeTest, BadSecondsShowAsZero) {
  for (double bad : {-4.0, std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(paddedTimecode(bad), "00:00:00");
    EXPECT_EQ(compactTimecode(bad), "0:00");
  }
  EXPECT_EQ(paddedTimecode(std::numeric_limits<double>::infinity()), "00:00:00");
}

}  // namespace
}  // namespace korvel
