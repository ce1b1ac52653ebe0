#include "platform/text.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(TextTest, CountsUserPerceivedCharacters) {
  EXPECT_EQ(graphemeCount(""), 0u);
  EXPECT_EQ(graphemeCount("abc"), 3u);
  EXPECT_EQ(graphemeCount("e\xCC\x81"), 1u);                                    // e + combining acute
  EXPECT_EQ(graphemeCount("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"), 1u);  // man ZWJ woman
  EXPECT_EQ(graphemePrefix("he\xCC\x81llo", 2), "he\xCC\x81");
}

TEST(TextTest, TrimsUnicodeWhitespaceAndNewlines) {
  EXPECT_EQ(trimWhitespace(" \t\n\xC2\xA0 Planning \xE2\x80\x83\r\n"), "Planning");
  EXPECT_TRUE(isBlank(" \xE3\x80\x80\n"));
  EXPECT_FALSE(isBlank(" a "));
}

TEST(TextTest, FoldsCaseDiacriticsAndWidth) {
  EXPECT_EQ(foldForSearch("Ação"), "acao");
  EXPECT_EQ(foldForSearch("ＡＣＡＯ"), "acao");
  EXPECT_EQ(foldForSearch("Straße"), "strasse");
  EXPECT_EQ(lowercase("ÉCOLE"), "école");
}

TEST(TextTest, ValidatesUtf8) {
  EXPECT_TRUE(isValidUtf8("ação"));
  EXPECT_FALSE(isValidUtf8("\xC3"));
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // an encoded surrogate
}

}  // namespace
}  // namespace korvel
