// The tool's entry point: usage errors, help and exit codes.

#include <gtest/gtest.h>

#include "tests/apps/cli_invocation.h"

namespace korvel::cli {
namespace {

TEST(CliTest, HelpGoesToStandardOutputWithExitZero) {
  const auto result = invokeCli({"--help"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.out.find("Exit codes"), std::string::npos);
}

TEST(CliTest, UnknownCommandIsAUsageError) {
  const auto result = invokeCli({"no-such-command"});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_FALSE(result.err.empty());
}

}  // namespace
}  // namespace korvel::cli
