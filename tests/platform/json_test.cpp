#include "platform/json.h"

#include <gtest/gtest.h>

#include "tests/support/result_matchers.h"

namespace korvel {
namespace {

TEST(CanonicalJsonTest, CompactSortsKeysAndEscapesSlashes) {
  Json value = {{"b", 1}, {"a", "x/y"}, {"é", "ação"}, {"c", {{"z", true}, {"y", nullptr}}}};
  EXPECT_EQ(encodeCompact(value), R"({"a":"x\/y","b":1,"c":{"y":null,"z":true},"é":"ação"})");
  EXPECT_EQ(encodeCompact(value, Slashes::unescaped), R"({"a":"x/y","b":1,"c":{"y":null,"z":true},"é":"ação"})");
}

TEST(CanonicalJsonTest, NumbersAreIntegralOrShortestRoundTrip) {
  EXPECT_EQ(encodeCompact(Json::array({1.0, 2.5, 0.1, -3.0, 1e21, 123456789012LL})), "[1,2.5,0.1,-3,1e+21,123456789012]");
  const double awkward = 0.1 + 0.2;
  const std::string text = encodeCompact(Json(awkward));
  EXPECT_EQ(std::stod(text), awkward);
  EXPECT_EQ(text, "0.30000000000000004");
}

TEST(CanonicalJsonTest, PrettyUsesTwoSpacesAndSpacedColons) {
  Json value = {{"list", Json::array({1, 2})}, {"empty", Json::array()}, {"name", "a"}};
  EXPECT_EQ(encodePretty(value), "{\n  \"empty\" : [],\n  \"list\" : [\n    1,\n    2\n  ],\n  \"name\" : \"a\"\n}");
}

TEST(CanonicalJsonTest, ControlCharactersAreEscaped) {
  EXPECT_EQ(encodeCompact(Json("a\"b\\c\n\x01")), R"("a\"b\\c\n\u0001")");
}

TEST(JsonFieldsTest, ReportsFirstMissingOrMistypedField) {
  auto parsed = parseJson(R"({"name":"x","count":"3","when":"2026-03-04T14:15:00Z","whole":5.0})");
  ASSERT_TRUE(parsed.ok());
  JsonFields fields(*parsed);
  EXPECT_EQ(fields.string("name"), "x");
  EXPECT_EQ(fields.isoDate("when").secondsSince1970, 1772633700);
  EXPECT_EQ(fields.integer("whole"), 5);
  EXPECT_TRUE(fields.ok());
  fields.integer("count");
  EXPECT_FALSE(fields.ok());
  EXPECT_EQ(fields.problem(), "count is not an integer");
  fields.string("missing");
  EXPECT_EQ(fields.problem(), "count is not an integer");
}

TEST(JsonFieldsTest, OptionalFieldsMayBeAbsentButNotMistyped) {
  ASSERT_OK_AND_ASSIGN(const Json parsed, parseJson(R"({"a":null,"b":1})"));
  JsonFields fields(parsed);
  EXPECT_FALSE(fields.optionalString("a").has_value());
  EXPECT_FALSE(fields.optionalString("zzz").has_value());
  EXPECT_TRUE(fields.ok());
  fields.optionalString("b");
  EXPECT_FALSE(fields.ok());
}

TEST(JsonFieldsTest, RejectsNonObjectsAndInvalidText) {
  EXPECT_FALSE(parseJson("{\"a\":").ok());
  EXPECT_EQ(parseJson("nope").error().code, ErrorCode::Corrupt);
  JsonFields fields(Json::array());
  EXPECT_FALSE(fields.ok());
}

}  // namespace
}  // namespace korvel
