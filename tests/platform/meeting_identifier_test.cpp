#include "platform/meeting_identifier.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel {
namespace {

TEST(MeetingIdentifierTest, AcceptsOnlyUnreservedAsciiUpTo128Characters) {
  for (std::string good : {std::string("A-1.b_2"), std::string("x"), std::string("..."), std::string(128, 'a')})
    EXPECT_TRUE(isValidMeetingID(good)) << good;
  for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"), std::string("a b"),
                          std::string("caf\xC3\xA9"), std::string("a\0b", 3), std::string(129, 'a')})
    EXPECT_FALSE(isValidMeetingID(bad)) << bad;
}

}  // namespace
}  // namespace korvel
