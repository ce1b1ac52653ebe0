// `korvel intent list|run`: the automation actions and the widget's button actions, run as the
// automation host would, against the recorder registered in this process.

#include <CLI/CLI.hpp>

#include <ostream>

#include <fmt/format.h>

#include "apps/korvel/commands.h"
#include "apps/korvel/commands/widget_options.h"
#include "widgets/automation_intents.h"
#include "widgets/widget.h"

namespace korvel::cli {
namespace {

using widgets::AutomationEnvironment;

struct RunOptions {
  std::string name;
  std::optional<std::string> title;
  std::optional<std::string> microphone;
  std::optional<std::string> window;
  bool json = false;
};

// Command-line names of the widget's button actions: "widget-start-recording" and so on.
std::string widgetIntentName(widgets::WidgetIntent intent) {
  static const char* names[] = {"widget-start-recording", "widget-pause-recording", "widget-resume-recording",
                                "widget-stop-recording"};
  return names[static_cast<int>(intent)];
}

void listIntents(bool json, Context& context) {
  const auto& actions = widgets::automationIntentDescriptions();
  const auto& buttons = widgets::widgetIntentDescriptions();
  if (json) {
    Json items = Json::array();
    for (const auto& action : actions) {
      items.push_back({{"name", action.name}, {"type", action.typeName}, {"title", action.title},
                       {"parameterSummary", action.parameterSummary}, {"parameters", action.parameters}});
    }
    for (const auto& button : buttons) {
      items.push_back({{"name", widgetIntentName(button.intent)}, {"type", button.typeName}, {"title", button.title},
                       {"parameters", Json::array()}});
    }
    return printJson(context, items);
  }
  for (const auto& action : actions) {
    std::string parameters;
    for (const auto& parameter : action.parameters) parameters += (parameters.empty() ? "" : ", ") + parameter;
    context.out << fmt::format("{:<26}{:<22}{}{}\n", action.name, action.title, action.parameterSummary,
                               parameters.empty() ? "" : " (" + parameters + ")");
  }
  for (const auto& button : buttons) {
    context.out << fmt::format("{:<26}{}\n", widgetIntentName(button.intent), button.title);
  }
}

// Finds the recorder's entity with the identifier the user gave, as the host's pickers do.
template <class Entity, class Lookup>
Result<std::optional<Entity>> resolveEntity(const std::optional<std::string>& identifier, const char* what,
                                            Lookup lookup) {
  if (!identifier) return std::optional<Entity>();
  auto found = TRY(lookup(std::vector<std::string>{*identifier}));
  if (found.empty()) {
    return makeError(ErrorCode::NotFound,
                     fmt::format("The recorder has no {} with the identifier \"{}\".", what, *identifier));
  }
  return std::optional<Entity>(found.front());
}

Result<widgets::StartRecordingParameters> startParameters(const RunOptions& options,
                                                          const AutomationEnvironment& environment) {
  widgets::StartRecordingParameters parameters;
  parameters.title = options.title;
  parameters.microphone = TRY(resolveEntity<widgets::RecordingMicrophoneEntity>(
      options.microphone, "microphone", [&](const auto& ids) { return widgets::microphonesFor(environment, ids); }));
  parameters.window = TRY(resolveEntity<widgets::RecordingWindowEntity>(
      options.window, "window", [&](const auto& ids) { return widgets::windowsFor(environment, ids); }));
  return parameters;
}

void runCommandIntent(widgets::RecordingCommand command, const RunOptions& options,
                      const AutomationEnvironment& environment, Context& context) {
  widgets::StartRecordingParameters parameters;
  if (command == widgets::RecordingCommand::start) {
    auto resolved = startParameters(options, environment);
    if (!resolved) return reportFailure(context, resolved.error());
    parameters = std::move(*resolved);
  }
  auto result = widgets::runRecordingCommand(command, environment, parameters);
  if (!result) return reportFailure(context, result.error());
  if (options.json) printJson(context, {{"value", result->value}, {"dialog", result->dialog}});
  if (!result->value) {
    if (!options.json) context.err << result->dialog << "\n";
    context.exitCode = kExitFailed;
    return;
  }
  if (!options.json) context.out << result->dialog << "\n";
}

void runStatusIntent(const RunOptions& options, const AutomationEnvironment& environment, Context& context) {
  auto result = widgets::runGetRecorderStatus(environment);
  if (!result) return reportFailure(context, result.error());
  const auto& entity = result->value;
  if (options.json) {
    return printJson(
        context, {{"value",
                   {{"id", widgets::RecorderStatusEntity::identifier}, {"state", widgets::rawValue(entity.state)},
                    {"elapsedSeconds", entity.elapsedSeconds}, {"title", entity.title},
                    {"displayTitle", entity.displayTitle()}, {"displaySubtitle", entity.displaySubtitle()}}},
                  {"dialog", result->dialog}});
  }
  context.out << result->dialog << "\n";
}

void runIntent(const RunOptions& options, Context& context) {
  const bool startOnly = options.title || options.microphone || options.window;
  if (startOnly && options.name != "start-recording") {
    context.err << "--title, --microphone and --window are parameters of start-recording only.\n";
    context.exitCode = kExitUsage;
    return;
  }
  const AutomationEnvironment environment{widgets::RecordingAutomationRegistry::shared(), context.sleeper};
  if (!environment.registry.current() && context.outIsTerminal) {
    context.err << "Waiting up to 10 seconds for Korvel's recorder to register…\n";
  }
  const auto& actions = widgets::automationIntentDescriptions();
  for (size_t i = 0; i + 1 < actions.size(); ++i) {
    if (actions[i].name == options.name) {
      return runCommandIntent(static_cast<widgets::RecordingCommand>(i), options, environment, context);
    }
  }
  if (options.name == actions.back().name) return runStatusIntent(options, environment, context);
  for (const auto& button : widgets::widgetIntentDescriptions()) {
    if (widgetIntentName(button.intent) != options.name) continue;
    if (auto done = widgets::runWidgetIntent(button.intent, environment); !done) reportFailure(context, done.error());
    return;
  }
  context.err << fmt::format("There is no action named \"{}\"; `korvel intent list` shows them.\n", options.name);
  context.exitCode = kExitUsage;
}

void addIntentCommands(CLI::App& app, Context& context) {
  auto* intent = app.add_subcommand("intent", "List or run the recorder's automation actions");
  intent->require_subcommand(1);

  auto listJson = std::make_shared<bool>(false);
  auto* list = intent->add_subcommand("list", "The automation actions and widget button actions, with their texts");
  list->add_flag("--json", *listJson, "Print the actions as JSON");
  list->callback([listJson, &context] { listIntents(*listJson, context); });

  auto run = std::make_shared<RunOptions>();
  auto* runCommand = intent->add_subcommand(
      "run", "Run one action against the recorder registered in this process; without one it gives up after "
             "100 checks 0.1 s apart (exit 1)");
  runCommand->add_option("name", run->name, "The action, as `korvel intent list` names it")->required();
  runCommand->add_option("--title", run->title, "start-recording: the recording's title (default: the recorder's own)");
  runCommand->add_option("--microphone", run->microphone, "start-recording: the microphone's identifier (default: the recorder's choice)");
  runCommand->add_option("--window", run->window, "start-recording: the window's identifier (default: the recorder's choice)");
  runCommand->add_flag("--json", run->json, "Print {value, dialog} as JSON");
  runCommand->callback([run, &context] { runIntent(*run, context); });
}

}  // namespace

KORVEL_COMMAND_GROUP(12, addIntentCommands);

}  // namespace korvel::cli
