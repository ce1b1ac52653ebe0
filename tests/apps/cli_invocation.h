#pragma once
// Runs the korvel tool in-process with its own streams, environment and manual clock.

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "apps/korvel/cli.h"
#include "platform/clock.h"

namespace korvel::cli {

struct CliResult {
  int code = 0;
  std::string out;
  std::string err;
};

// Environment variables the tool sees; nothing from the real process environment leaks in.
using CliEnvironment = std::map<std::string, std::string>;

// Whether the tool believes standard output is a terminal (progress bars are drawn only then).
enum class Terminal { no, yes };

inline CliResult invokeCli(const std::vector<std::string>& arguments, const CliEnvironment& variables = {},
                           ManualClock* clock = nullptr, RecordingSleeper* sleeper = nullptr,
                           Terminal terminal = Terminal::no, const FileSystem* fileSystem = nullptr) {
  std::ostringstream out, err;
  ManualClock ownClock;
  ManualClock& usedClock = clock ? *clock : ownClock;
  RecordingSleeper ownSleeper(&usedClock);
  RecordingSleeper& usedSleeper = sleeper ? *sleeper : ownSleeper;
  EnvironmentLookup environment = [variables](const std::string& name) -> std::optional<std::string> {
    auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  };
  Context context{out, err, environment, resolveFolders(environment), usedClock, usedSleeper};
  context.outIsTerminal = terminal == Terminal::yes;
  if (fileSystem) context.fileSystem = fileSystem;
  const int code = run(arguments, context);
  return {code, out.str(), err.str()};
}

}  // namespace korvel::cli
