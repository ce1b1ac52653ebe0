// Spawning helper programs with posix_spawn and collecting their standard error through a pipe.

#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <fmt/format.h>

#include "platform/files.h"
#include "platform/interrupts.h"

extern char** environ;

namespace korvel {
namespace {

bool isExecutableFile(const std::filesystem::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Collects standard error until the program closes it; false when `interrupts` fired first.
bool collectErrorOutput(int descriptor, std::string& output, const InterruptWatch* interrupts) {
  char buffer[4096];
  while (true) {
    pollfd watched[2] = {{descriptor, POLLIN, 0}, {interrupts ? interrupts->wakeDescriptor() : -1, POLLIN, 0}};
    if (interrupts && interrupts->interrupted()) return false;
    if (::poll(watched, interrupts ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return true;
    }
    if (interrupts && interrupts->interrupted()) return false;
    if (watched[0].revents == 0) continue;
    const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    if (output.size() < 64 * 1024) output.append(buffer, static_cast<size_t>(got));
  }
}

// Asks the program's whole group to stop, then insists; the pipe closes once all of it is gone.
void stopGroup(pid_t group, int descriptor) {
  ::kill(-group, SIGTERM);
  pollfd watched{descriptor, POLLIN, 0};
  char buffer[4096];
  for (int waited = 0; waited < 20;) {
    const int ready = ::poll(&watched, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      ++waited;
      continue;
    }
    const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) break;
  }
  ::kill(-group, SIGKILL);
}

}  // namespace

std::optional<std::filesystem::path> findProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    if (isExecutableFile(name)) return std::filesystem::path(name);
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const auto colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    // An empty PATH entry means the current folder.
    const auto candidate = (entry.empty() ? std::filesystem::path(".") : std::filesystem::path(entry)) / name;
    if (isExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

Result<ProcessOutcome> runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                  const InterruptWatch* interrupts) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errnoError(errno, fmt::format("start {}", program));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);

  // A watched program gets its own process group, so that an interruption reaches whatever it
  // started too (a script's own children would otherwise keep running and hold the pipe open).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (interrupts) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return errnoError(spawned, fmt::format("start {}", program));
  }

  ProcessOutcome outcome;
  const bool finished = collectErrorOutput(pipeFds[0], outcome.errorOutput, interrupts);
  if (!finished) stopGroup(pid, pipeFds[0]);
  ::close(pipeFds[0]);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return errnoError(errno, fmt::format("wait for {}", program));
  }
  if (!finished) return makeError(ErrorCode::Cancelled, fmt::format("{} was stopped by an interruption.", program));
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace korvel
