#pragma once
// Running a helper program directly (never through a shell), with its standard error kept for
// the message when it fails.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace korvel {

class InterruptWatch;

struct ProcessOutcome {
  int exitCode = 0;         // the program's exit status; 128 + signal when killed
  std::string errorOutput;  // what it wrote on standard error (at most 64 KiB)
};

// The program's full path, searched on PATH like the shell would; none when it is not installed
// or not an executable regular file.
std::optional<std::filesystem::path> findProgram(const std::string& name);

// Starts `program` (a path, or a name searched on PATH) with `arguments`, standard input and
// output on /dev/null, and waits for it. Fails only when it cannot be started, or with
// ErrorCode::Cancelled when `interrupts` sees a signal first: then the program and everything it
// started (its own process group) get SIGTERM, SIGKILL after two seconds, and are waited for.
Result<ProcessOutcome> runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                  const InterruptWatch* interrupts = nullptr);

// Whether this process's standard error is a terminal (progress bars are drawn only there).
bool standardErrorIsTerminal();

}  // namespace korvel
