// `korvel search TEXT`: keyword search over the catalog's current transcripts.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/catalog_options.h"
#include "apps/korvel/commands.h"
#include "platform/timecode.h"

namespace korvel::cli {
namespace {

struct SearchRequest {
  std::string text;
  std::string provider;
  std::string from;
  std::string through;
  std::string before;
  int64_t limit = 50;
};

enum class DayEdge { start, end };

// An ISO 8601 date-time, or a bare YYYY-MM-DD taken as that UTC day's first (or last) second.
std::optional<Date> parseDateArgument(const std::string& text, DayEdge edge) {
  if (auto full = parseIso8601(text)) return *full;
  if (text.size() != 10) return std::nullopt;
  auto day = parseIso8601(text + "T00:00:00Z");
  if (!day) return std::nullopt;
  return edge == DayEdge::start ? *day : day->adding(86399);
}

const CLI::Validator& dateValidator() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (parseDateArgument(text, DayEdge::start)) return {};
        return "Use a date like 2026-03-04 or 2026-03-04T14:15:00Z.";
      },
      "");
  return validator;
}

std::optional<Date> optionalDate(const std::string& text, DayEdge edge) {
  if (text.empty()) return std::nullopt;
  return parseDateArgument(text, edge);
}

void search(const SearchRequest& request, const ArchiveOptions& archiveOptions, const CatalogOptions& catalogOptions,
            Context& context) {
  const auto opened = openExistingArchiveOrReport(archiveOptions, context);
  if (!opened) return;
  const Archive& archive = *opened;
  auto catalog = openCatalogOrReport(catalogOptions, archive, context, CatalogAccess::readExisting);
  if (!catalog) return;
  TranscriptSearchQuery query{.text = request.text,
                              .from = optionalDate(request.from, DayEdge::start),
                              .through = optionalDate(request.through, DayEdge::end),
                              .before = optionalDate(request.before, DayEdge::start),
                              .limit = request.limit};
  if (!request.provider.empty()) query.provider = request.provider;
  auto hits = catalog->search(query);
  if (!hits) return reportFailure(context, hits.error());
  if (hits->empty()) {
    // An empty catalog finds nothing however full the archive is; say so rather than "No matches.".
    auto meetings = catalog->meetingCount();
    if (!meetings) return reportFailure(context, meetings.error());
    if (*meetings == 0) {
      return reportFailure(context, makeError(ErrorCode::NotFound,
                                              "The catalog holds no meetings; run korvel catalog refresh to index "
                                              "the archive."));
    }
  }
  if (archiveOptions.json) {
    Json items = Json::array();
    for (const TranscriptSearchHit& hit : *hits) items.push_back(hit.toJson());
    return printJson(context, items);
  }
  if (hits->empty()) {
    context.out << "No matches.\n";
    return;
  }
  for (const TranscriptSearchHit& hit : *hits) {
    context.out << fmt::format("{}  [{}] {} ({})\n    {}\n", hit.meetingID, paddedTimecode(hit.start), hit.title,
                               hit.sourceID, hit.text);
  }
}

void addSearchCommands(CLI::App& app, Context& context) {
  auto* command = app.add_subcommand(
      "search",
      "Find utterances in the meetings' current transcripts. Every word must match, ignoring case and accents; "
      "\"quoted words\" must appear together. Best matches first. Run `korvel catalog refresh` to index new "
      "transcripts.");
  auto archiveOptions = addArchiveOptions(*command, context);
  auto catalogOptions = addCatalogOptions(*command);
  auto request = std::make_shared<SearchRequest>();
  command->add_option("TEXT", request->text, "The words to find (not empty).")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.find_first_not_of(" \t\r\n") == std::string::npos ? "Give at least one word to search for."
                                                                          : std::string();
          },
          ""));
  command->add_option("--provider", request->provider,
                      "Only meetings detected on this provider, such as meet, zoom or teams (default: any).")
      ->type_name("P")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.empty() ? "Name a provider, such as meet, zoom or teams." : std::string();
          },
          ""));
  command->add_option("--from", request->from, "Only meetings that started at or after DATE (default: no bound).")
      ->check(dateValidator())
      ->type_name("DATE");
  command->add_option("--through", request->through, "Only meetings that started at or before DATE; a bare day counts whole (default: no bound).")
      ->check(dateValidator())
      ->type_name("DATE");
  command->add_option("--before", request->before, "Only meetings that started before DATE (default: no bound).")->check(dateValidator())->type_name("DATE");
  command->add_option("--limit", request->limit, "At most N results, 1 to 1000.")
      ->type_name("N")
      ->check(CLI::Range(int64_t{1}, int64_t{1000}).description(""))
      ->capture_default_str();
  command->callback([request, archiveOptions, catalogOptions, &context] {
    search(*request, *archiveOptions, *catalogOptions, context);
  });
}

}  // namespace

KORVEL_COMMAND_GROUP(41, addSearchCommands);

}  // namespace korvel::cli
