#pragma once
// The built korvel program run as a real process, for what only a process shows (signals).

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvel::cli {

// CTest names the build folder; run by hand, the test finds it above its own executable.
inline std::filesystem::path korvelProgram() {
  if (const char* build = std::getenv("KORVEL_BUILD_DIR"); build && *build) {
    return std::filesystem::path(build) / "apps" / "korvel" / "korvel";
  }
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() / "apps" /
         "korvel" / "korvel";
}

// Waits for `condition`, checking every 10 ms for at most 20 s.
inline bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// Starts korvel with exactly `environment`, standard output discarded and standard error into
// `errors`; the process id, or none when it could not start.
inline std::optional<pid_t> startKorvel(std::vector<std::string> arguments, std::vector<std::string> environment,
                                        const std::filesystem::path& errors) {
  const std::string program = korvelProgram().string();
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv, envp;
  for (auto& argument : arguments) argv.push_back(argument.data());
  for (auto& variable : environment) envp.push_back(variable.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  return pid;
}

// The exit status once the process has ended; none (and the process killed) after 20 s.
inline std::optional<int> waitForExit(pid_t pid) {
  int status = 0;
  if (eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) return status;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return std::nullopt;
}

}  // namespace korvel::cli
