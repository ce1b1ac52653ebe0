#pragma once
// The korvel command-line tool: one entry point with injectable streams, environment and time.
//
// Exit codes: 0 success; 1 the operation was refused or failed (the reason is one sentence on
// standard error); 2 the command line itself was wrong.

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/folders.h"

namespace CLI {
class App;
}

namespace korvel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Context {
  std::ostream& out;
  std::ostream& err;
  EnvironmentLookup environment;
  PlatformFolders folders;
  Clock& clock;
  Sleeper& sleeper;
  bool outIsTerminal = false;  // progress bars only on a terminal
  int exitCode = kExitOk;
  const FileSystem* fileSystem = &FileSystem::posix();  // every file the commands touch goes through it
};

int run(const std::vector<std::string>& arguments, Context& context);

}  // namespace korvel::cli
