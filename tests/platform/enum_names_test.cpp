#include "platform/enum_names.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

enum class Fruit { apple, pear, plum };
constexpr auto kFruitNames = enumNames<Fruit>("apple", "pear", "plum");

TEST(EnumNamesTest, NamesAndParsesEveryCaseBothWays) {
  for (Fruit fruit : {Fruit::apple, Fruit::pear, Fruit::plum}) EXPECT_EQ(kFruitNames.parse(kFruitNames.name(fruit)), fruit);
  EXPECT_STREQ(kFruitNames.name(Fruit::plum), "plum");
  static_assert(kFruitNames.parse("pear") == Fruit::pear);
}

TEST(EnumNamesTest, RefusesWhatIsNotACase) {
  for (const char* text : {"", "Apple", "apple ", "pea", "plums"}) EXPECT_EQ(kFruitNames.parse(text), std::nullopt) << text;
  EXPECT_STREQ(kFruitNames.name(static_cast<Fruit>(3)), "");
  EXPECT_STREQ(kFruitNames.name(static_cast<Fruit>(-1)), "");
}

}  // namespace
}  // namespace korvel
