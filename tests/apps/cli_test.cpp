// The tool's entry point: usage errors, help and exit codes.

#include <gtest/gtest.h>

#include <sstream>

#include "apps/korvel/cli.h"

namespace korvel::cli {
namespace {

struct Invocation {
  int code;
  std::string out;
  std::string err;
};

Invocation invoke(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  ManualClock clock;
  RecordingSleeper sleeper(&clock);
  EnvironmentLookup environment = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
  Context context{out, err, environment, resolveFolders(environment), clock, sleeper};
  const int code = run(arguments, context);
  return {code, out.str(), err.str()};
}

TEST(CliTest, HelpGoesToStandardOutputWithExitZero) {
  const auto result = invoke({"--help"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.out.find("Exit codes"), std::string::npos);
}

TEST(CliTest, UnknownCommandIsAUsageError) {
  const auto result = invoke({"no-such-command"});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_FALSE(result.err.empty());
}

}  // namespace
}  // namespace korvel::cli
