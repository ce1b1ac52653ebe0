// Builds the command tree and maps parse errors and results to exit codes.

#include "apps/korvel/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <optional>
#include <exception>
#include <ostream>
#include <utility>

#include <fmt/format.h>

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

constexpr size_t kHelpColumns = 100;

// Help pages wrapped at 100 columns: a long line breaks at spaces and continues under the start
// of its own text (the description column for an option or command).
class WrappingFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    const std::string page = CLI::Formatter::make_help(app, std::move(name), mode);
    std::string wrapped;
    size_t start = 0;
    while (start < page.size()) {
      size_t end = page.find('\n', start);
      if (end == std::string::npos) end = page.size();
      wrapped += wrapLine(page.substr(start, end - start));
      if (end < page.size()) wrapped += '\n';
      start = end + 1;
    }
    return wrapped;
  }

 private:
  static std::string wrapLine(const std::string& line) {
    if (line.size() <= kHelpColumns) return line;
    // Continuation lines start where the text after the name column starts, else under the
    // line's own first character.
    size_t indent = line.find_first_not_of(' ');
    const size_t gap = line.find("  ", indent);
    if (gap != std::string::npos) {
      const size_t text = line.find_first_not_of(' ', gap);
      if (text != std::string::npos && text < kHelpColumns / 2) indent = text;
    }
    std::string out;
    std::string current = line;
    while (current.size() > kHelpColumns) {
      size_t cut = current.rfind(' ', kHelpColumns);
      if (cut == std::string::npos || cut <= indent) cut = current.find(' ', kHelpColumns);
      if (cut == std::string::npos) break;
      out += current.substr(0, cut) + "\n";
      const size_t next = current.find_first_not_of(' ', cut);
      current = std::string(indent, ' ') + (next == std::string::npos ? "" : current.substr(next));
    }
    return out + current;
  }
};

// Edit distance between two command names, for suggesting the one the user meant.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "korvel has no command “serch”. Did you mean search?", or nothing when `word` is a command or
// an option, or resembles no command.
std::optional<std::string> unknownCommand(const CLI::App& app, const std::string& word) {
  if (word.empty() || word.front() == '-') return std::nullopt;
  std::string nearest;
  size_t best = std::string::npos;
  for (const CLI::App* command : app.get_subcommands({})) {
    const std::string& name = command->get_name();
    if (name == word) return std::nullopt;
    const size_t distance = editDistance(word, name);
    if (distance < best) {
      best = distance;
      nearest = name;
    }
  }
  std::string message = fmt::format("korvel has no command “{}”.", word);
  if (best <= std::max<size_t>(2, word.size() / 3)) message += fmt::format(" Did you mean {}?", nearest);
  else message += " Run korvel --help to see the commands.";
  return message;
}

int parseAndRun(const std::vector<std::string>& arguments, Context& context) {
  CLI::App app{"Korvel: your local archive of recorded meetings, its catalog and the recorder widget.", "korvel"};
  app.formatter(std::make_shared<WrappingFormatter>());
  app.get_formatter()->column_width(32);
  app.set_version_flag("--version", fmt::format("korvel {}", KORVEL_VERSION), "Print the version and exit");
  app.require_subcommand(1);
  app.footer("Exit codes: 0 success, 1 refused or failed (reason on standard error), 2 usage error.\n"
             "KORVEL_HOME moves every folder Korvel uses; KORVEL_ARCHIVE moves the archive.");

  auto groups = commandGroups();
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [order, add] : groups) add(app, context);

  if (!arguments.empty()) {
    if (auto unknown = unknownCommand(app, arguments.front())) {
      context.err << *unknown << "\n";
      return kExitUsage;
    }
  }

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
