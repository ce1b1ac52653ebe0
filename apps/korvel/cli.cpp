// Builds the command tree and maps parse errors and results to exit codes.

#include "apps/korvel/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <ostream>
#include <utility>

#include "apps/korvel/commands.h"

namespace korvel::cli {
namespace {

std::vector<std::pair<int, CommandRegistrar>>& commandGroups() {
  static std::vector<std::pair<int, CommandRegistrar>> groups;
  return groups;
}

}  // namespace

bool registerCommandGroup(int order, CommandRegistrar add) {
  commandGroups().emplace_back(order, add);
  return true;
}

namespace {

int parseAndRun(const std::vector<std::string>& arguments, Context& context) {
  CLI::App app{"Korvel: your local archive of recorded meetings, its catalog and the recorder widget.", "korvel"};
  app.require_subcommand(1);
  app.footer("Exit codes: 0 success, 1 refused or failed (reason on standard error), 2 usage error.\n"
             "KORVEL_HOME moves every folder Korvel uses; KORVEL_ARCHIVE moves the archive.");

  auto groups = commandGroups();
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [order, add] : groups) add(app, context);

  // CLI11 consumes arguments from the back.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    // Help requests arrive here too, with exit code 0, and print to standard output.
    const int code = app.exit(e, context.out, context.err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return context.exitCode;
}

}  // namespace

int run(const std::vector<std::string>& arguments, Context& context) {
  // The last resort: anything thrown past a command (a library's exception, memory exhaustion)
  // ends the command with a sentence and exit 1 instead of aborting the process.
  try {
    return parseAndRun(arguments, context);
  } catch (const std::exception& e) {
    context.err << "Korvel stopped because of an unexpected problem: " << e.what() << "\n";
  } catch (...) {
    context.err << "Korvel stopped because of an unexpected problem.\n";
  }
  return kExitFailed;
}

}  // namespace korvel::cli
