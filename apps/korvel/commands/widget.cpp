// `korvel widget render|timeline`: the recorder widget drawn from the status file, and its timeline.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/commands.h"
#include "apps/korvel/commands/widget_options.h"
#include "widgets/views.h"
#include "widgets/widget.h"

namespace korvel::cli {
namespace {

using widgets::RecorderWidgetProvider;

struct RenderOptions {
  StatusFileOptions file;
  std::string family = "small";
  std::string format = "text";
  bool sample = false;
};

struct TimelineOptions {
  StatusFileOptions file;
  bool json = false;
};

void renderWidget(const RenderOptions& options, Context& context) {
  const RecorderWidgetProvider provider(statusStorage(options.file, context));
  const Date now = statusNow(options.file, context);
  const auto entry = options.sample ? RecorderWidgetProvider::sampleEntry(now) : provider.currentEntry(now);
  const widgets::RecorderWidgetContent content{entry.snapshot, entry.date,
                                               widgets::widgetFamilyFromRaw(options.family).value_or(widgets::WidgetFamily::small)};
  context.out << (options.format == "html" ? widgets::renderWidgetHtml(content) : widgets::renderWidgetText(content));
}

void showTimeline(const TimelineOptions& options, Context& context) {
  const RecorderWidgetProvider provider(statusStorage(options.file, context));
  const auto timeline = provider.timeline(statusNow(options.file, context));
  if (options.json) {
    Json entries = Json::array();
    for (const auto& entry : timeline.entries) {
      entries.push_back({{"date", formatIso8601(entry.date)},
                         {"effectiveState", widgets::rawValue(entry.snapshot.effectiveState(entry.date))},
                         {"snapshot", entry.snapshot.toJson()}});
    }
    return printJson(context, {{"entries", entries}, {"reloadAfter", formatIso8601(timeline.reloadAfter)}});
  }
  for (const auto& entry : timeline.entries) {
    const widgets::RecorderWidgetContent content{entry.snapshot, entry.date, widgets::WidgetFamily::small};
    context.out << fmt::format("{}  {}  {}\n", formatIso8601(entry.date), widgets::rawValue(content.state()),
                               content.statusLine().text);
  }
  context.out << fmt::format("reload after {}\n", formatIso8601(timeline.reloadAfter));
}

void addWidgetCommands(CLI::App& app, Context& context) {
  auto* widget = app.add_subcommand("widget", "Draw the recorder widget from the status file, or show its timeline");
  widget->require_subcommand(1);

  auto render = std::make_shared<RenderOptions>();
  auto* renderCommand = widget->add_subcommand(
      "render", "Draw the widget at --now: as text (every visible text, one per line) or as a self-contained HTML page");
  addStatusFileOptions(renderCommand, render->file);
  renderCommand->add_option("--family", render->family, "small, medium or large (default small)")
      ->check(CLI::IsMember({"small", "medium", "large"}));
  renderCommand->add_option("--format", render->format, "text or html (default text)")
      ->check(CLI::IsMember({"text", "html"}));
  renderCommand->add_flag("--sample", render->sample, "Draw the gallery's sample entry instead of the status file");
  renderCommand->callback([render, &context] { renderWidget(*render, context); });

  auto timeline = std::make_shared<TimelineOptions>();
  auto* timelineCommand = widget->add_subcommand(
      "timeline", "The timeline the widget host gets at --now: the current entry, the entry where a recording "
                  "goes stale, and when to reload");
  addStatusFileOptions(timelineCommand, timeline->file);
  timelineCommand->add_flag("--json", timeline->json, "Print {entries, reloadAfter} as JSON");
  timelineCommand->callback([timeline, &context] { showTimeline(*timeline, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(11, addWidgetCommands);

}  // namespace korvel::cli
