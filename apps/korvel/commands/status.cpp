// `korvel status show|write`: the recorder status file the widget reads, as the recorder publishes it.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/commands.h"
#include "apps/korvel/commands/widget_options.h"
#include "platform/text.h"
#include "widgets/snapshot_storage.h"

namespace korvel::cli {
namespace {

using widgets::RecorderWidgetSnapshot;
using widgets::WidgetMeeting;
using widgets::WidgetRecorderState;

struct ShowOptions {
  StatusFileOptions file;
  bool json = false;
};

struct WriteOptions {
  StatusFileOptions file;
  std::string state;
  std::string title;
  double elapsed = 0;
  std::vector<std::string> meetings;
  bool showTitles = false;
  bool json = false;
};

void showStatus(const ShowOptions& options, Context& context) {
  const auto storage = statusStorage(options.file, context);
  const Date now = statusNow(options.file, context);
  auto explained = storage.readExplained();
  const RecorderWidgetSnapshot snapshot = explained.valueOr(RecorderWidgetSnapshot::unavailable());
  const WidgetRecorderState state = snapshot.effectiveState(now);
  const auto timerStart = snapshot.timerStart(now);
  if (options.json) {
    Json json = {{"effectiveState", widgets::rawValue(state)}, {"snapshot", snapshot.toJson()}};
    if (timerStart) json["timerStart"] = formatIso8601(*timerStart);
    return printJson(context, json);
  }
  context.out << fmt::format("Status file: {}\n", storage.fileURL.string());
  if (!explained) context.out << fmt::format("Not usable: {}\n", explained.error().message);
  context.out << fmt::format("State: {}", widgets::rawValue(state));
  if (state != snapshot.state) context.out << fmt::format(" (the file says {})", widgets::rawValue(snapshot.state));
  context.out << "\n";
  if (!explained) return;
  context.out << fmt::format("Updated: {} ({:.0f} seconds ago)\n", formatIso8601(snapshot.updatedAt),
                             now.secondsSince(snapshot.updatedAt));
  context.out << fmt::format("Elapsed: {} seconds\n", snapshot.elapsedSeconds);
  if (timerStart) context.out << fmt::format("Timer started: {}\n", formatIso8601(*timerStart));
  context.out << fmt::format("Title: {}{}\n", snapshot.title, snapshot.showTitles ? "" : " (titles hidden)");
  context.out << fmt::format("Recent meetings: {}\n", snapshot.meetings.size());
  for (const auto& meeting : snapshot.meetings) {
    context.out << fmt::format("  {}  {}  {}  {} s{}\n", meeting.id, meeting.title, formatIso8601(meeting.startedAt),
                               meeting.durationSeconds, meeting.processing ? "  " + *meeting.processing : "");
  }
}

// ID,TITLE,STARTED,DURATION[,LABEL]; the title may itself hold commas, so the start date is found
// as the first field after the id that reads as a date and is followed by a number.
Result<WidgetMeeting> parseMeeting(const std::string& text) {
  const Error bad = makeError(
      ErrorCode::InvalidInput,
      fmt::format("The meeting \"{}\" is not ID,TITLE,STARTED,DURATION[,LABEL] with STARTED in ISO 8601.", text));
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (fields.size() < 4) return bad;
  for (size_t at = 2; at + 1 < fields.size(); ++at) {
    auto started = parseIso8601(fields[at]);
    if (!started) continue;
    size_t used = 0;
    double duration = 0;
    try {
      duration = std::stod(fields[at + 1], &used);
    } catch (const std::exception&) {
      continue;
    }
    if (used != fields[at + 1].size()) continue;
    if (at + 3 < fields.size()) continue;  // more than one label field: the date must come later
    std::string title = fields[1];
    for (size_t i = 2; i < at; ++i) title += "," + fields[i];
    std::optional<std::string_view> label;
    if (at + 2 < fields.size()) label = fields[at + 2];
    return WidgetMeeting::make(fields[0], title, *started, duration, label);
  }
  return bad;
}

void writeStatus(const WriteOptions& options, Context& context) {
  std::vector<WidgetMeeting> meetings;
  for (const auto& text : options.meetings) {
    auto meeting = parseMeeting(text);
    if (!meeting) {
      context.err << meeting.error().message << "\n";
      context.exitCode = kExitUsage;
      return;
    }
    meetings.push_back(std::move(*meeting));
  }
  if (options.title.size() > 0 && !isValidUtf8(options.title)) {
    context.err << "The title is not valid UTF-8.\n";
    context.exitCode = kExitUsage;
    return;
  }
  const auto state = widgets::widgetRecorderStateFromRaw(options.state).value_or(WidgetRecorderState::idle);
  const auto titles = options.showTitles ? widgets::TitleVisibility::shown : widgets::TitleVisibility::hidden;
  const auto snapshot =
      RecorderWidgetSnapshot::make(statusNow(options.file, context), state, options.elapsed, options.title, meetings, titles);
  const auto storage = statusStorage(options.file, context);
  if (auto written = storage.write(snapshot); !written) return reportFailure(context, written.error());
  if (options.json) return printJson(context, snapshot.toJson());
  context.out << fmt::format("Published the {} snapshot with {} recent meeting{} to {}\n", options.state,
                             snapshot.meetings.size(), snapshot.meetings.size() == 1 ? "" : "s",
                             storage.fileURL.string());
}

void addStatusCommands(CLI::App& app, Context& context) {
  auto* status = app.add_subcommand("status", "Read or publish the recorder status file the widget shows");
  status->require_subcommand(1);

  auto show = std::make_shared<ShowOptions>();
  auto* showCommand = status->add_subcommand(
      "show", "Show the status snapshot and the state the widget would display at --now (stale recordings "
              "older than 90 seconds show as unavailable)");
  addStatusFileOptions(showCommand, show->file);
  showCommand->add_flag("--json", show->json, "Print {effectiveState, timerStart, snapshot} as JSON");
  showCommand->callback([show, &context] { showStatus(*show, context); });

  auto write = std::make_shared<WriteOptions>();
  auto* writeCommand = status->add_subcommand(
      "write", "Publish a snapshot as the recorder does: titles hidden unless --show-titles, text cut to its "
               "limits, at most 8 meetings; --now sets its update time");
  addStatusFileOptions(writeCommand, write->file);
  writeCommand->add_option("--state", write->state, "idle, recording or paused")
      ->required()
      ->check(CLI::IsMember({"idle", "recording", "paused"}));
  writeCommand->add_option("--title", write->title, "The current recording's title (default: none)");
  writeCommand->add_option("--elapsed", write->elapsed, "Elapsed recording time in seconds (default: 0)");
  writeCommand->add_option("--meeting", write->meetings,
                           "A recent meeting as ID,TITLE,STARTED,DURATION[,LABEL] (repeatable, most recent first; default: none)");
  writeCommand->add_flag("--show-titles", write->showTitles, "Publish real titles instead of placeholders (default: placeholders)");
  writeCommand->add_flag("--json", write->json, "Print the published snapshot as JSON");
  writeCommand->callback([write, &context] { writeStatus(*write, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(10, addStatusCommands);

}  // namespace korvel::cli
