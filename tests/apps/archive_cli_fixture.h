#pragma once
// A real archive under KORVEL_HOME and the tool run against it, for the archive commands' tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/apps/cli_invocation.h"
#include "tests/core/archive/trash_fixtures.h"

namespace korvel::cli {

// KORVEL_HOME is the temporary folder, so the tool's default archive is the fixture's `root`
// and its default catalog lives beside it; date folders are UTC days.
struct ArchiveCliFixture : korvel::testing::ArchiveFixture {
  CliResult korvel(const std::vector<std::string>& arguments, Terminal terminal = Terminal::no) {
    return invokeCli(arguments, {{"KORVEL_HOME", temp.path().string()}, {"TZ", "UTC"}}, &clock, nullptr, terminal,
                     fileSystem);
  }

  // Every file call of the tool goes through it when set (a fault-injecting wrapper, say).
  const FileSystem* fileSystem = nullptr;

  // A refused command: exit 1, the sentence alone on standard error, nothing changed.
  void expectRefusal(const std::vector<std::string>& arguments, const std::string& message) {
    const std::string before = korvel::testing::treeFingerprint(temp.path());
    const auto result = korvel(arguments);
    EXPECT_EQ(result.code, kExitFailed);
    EXPECT_EQ(result.err, message + "\n");
    EXPECT_EQ(korvel::testing::treeFingerprint(temp.path()), before);
  }
};

}  // namespace korvel::cli
