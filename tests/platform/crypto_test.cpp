#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <set>

namespace korvel {
namespace {

TEST(CryptoTest, Sha256MatchesKnownVectorsInOneOrManyUpdates) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 hasher;
  hasher.update("a");
  hasher.update("bc");
  EXPECT_EQ(hexEncode(hasher.finish()), sha256Hex("abc"));
}

TEST(CryptoTest, UuidsAreUpperCaseVersionFourAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = uuidString();
    ASSERT_TRUE(isUuidString(id)) << id;
    EXPECT_EQ(id[14], '4');
    for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'z') << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_FALSE(isUuidString("not-a-uuid"));
}

TEST(CryptoTest, Base64RoundTripsAndRejectsGarbage) {
  for (std::string text : {std::string(""), std::string("f"), std::string("fo"), std::string("foo"), std::string("\0\xff\x10", 3)}) {
    auto decoded = base64Decode(base64Encode(text));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(*decoded, text);
  }
  EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64UrlEncode("\xfb\xff"), "-_8");
  EXPECT_FALSE(base64Decode("Zm9v!").ok());
  EXPECT_FALSE(base64Decode("Zm=v").ok());
}

}  // namespace
}  // namespace korvel
