// The tool's entry point: usage errors, help and exit codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/apps/cli_invocation.h"

namespace korvel::cli {
namespace {

TEST(CliTest, HelpGoesToStandardOutputWithExitZero) {
  const auto result = invokeCli({"--help"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.out.find("Exit codes"), std::string::npos);
}

TEST(CliTest, UnknownCommandIsAUsageErrorThatSuggestsTheNearestOne) {
  const auto result = invokeCli({"no-such-command"});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_EQ(result.err, "korvel has no command “no-such-command”. Run korvel --help to see the commands.\n");
  const auto typo = invokeCli({"serch", "budget"});
  EXPECT_EQ(typo.code, kExitUsage);
  EXPECT_EQ(typo.err, "korvel has no command “serch”. Did you mean search?\n");
  EXPECT_EQ(invokeCli({"trnscripts", "list", "X"}).err, "korvel has no command “trnscripts”. Did you mean transcripts?\n");
}

TEST(CliTest, VersionGoesToStandardOutput) {
  const auto result = invokeCli({"--version"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_EQ(result.out.rfind("korvel ", 0), 0u) << result.out;
  EXPECT_EQ(result.out.back(), '\n');
}

// Every help page, with its longest descriptions, fits in 100 columns.
TEST(CliTest, HelpPagesWrapAtOneHundredColumns) {
  const std::vector<std::vector<std::string>> pages = {
      {},
      {"list"},
      {"rename"},
      {"recover"},
      {"trash"},
      {"restore"},
      {"verify"},
      {"search"},
      {"catalog", "refresh"},
      {"catalog", "rebuild"},
      {"capture", "simulate"},
      {"status", "write"},
      {"widget", "render"},
      {"widget", "timeline"},
      {"intent", "run"},
      {"transcripts", "show"},
      {"transcripts", "export"},
      {"process", "work"},
  };
  for (auto arguments : pages) {
    arguments.push_back("--help");
    const auto result = invokeCli(arguments);
    ASSERT_EQ(result.code, kExitOk) << arguments.front();
    size_t start = 0;
    while (start < result.out.size()) {
      size_t end = result.out.find('\n', start);
      if (end == std::string::npos) end = result.out.size();
      const std::string line = result.out.substr(start, end - start);
      // Columns, not bytes: count the code points.
      const auto columns = std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; });
      EXPECT_LE(columns, 100) << line;
      start = end + 1;
    }
  }
  EXPECT_NE(invokeCli({"search", "--help"}).out.find("default"), std::string::npos);
}

}  // namespace
}  // namespace korvel::cli
