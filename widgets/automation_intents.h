#pragma once
// The automation actions the platform's automation host runs (start, pause, resume, stop, mark a
// moment, get status), their texts, and the entity queries behind their pickers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "widgets/automation_registry.h"

namespace korvel::widgets {

enum class RecordingCommand { start, pause, resume, stop, markMoment };

// How an action presents itself to the automation host.
struct AutomationIntentDescription {
  std::string name;              // what the command line calls it, e.g. "start-recording"
  std::string typeName;          // e.g. "StartRecordingIntent"
  std::string title;             // e.g. "Start Recording"
  std::string parameterSummary;  // e.g. "Start recording"
  std::vector<std::string> parameters;
  std::string successDialog;     // empty for the status action, whose dialog is built from the answer
  bool operator==(const AutomationIntentDescription&) const = default;
};

// The five command actions in the order above, then the status action.
const std::vector<AutomationIntentDescription>& automationIntentDescriptions();
const AutomationIntentDescription& describe(RecordingCommand command);

struct StartRecordingParameters {
  std::optional<std::string> title;
  std::optional<RecordingMicrophoneEntity> microphone;
  std::optional<RecordingWindowEntity> window;
};

// A command action's answer: whether it worked, and the sentence the host shows either way.
struct RecordingCommandResult {
  bool value = false;
  std::string dialog;
  bool operator==(const RecordingCommandResult&) const = default;
};

// Fails only when cancelled; every other failure is a false result whose dialog is the reason.
Result<RecordingCommandResult> runRecordingCommand(RecordingCommand command, const AutomationEnvironment& environment,
                                                   const StartRecordingParameters& start = {});

// The recorder's status as an automation entity with the fixed identifier "recorder".
struct RecorderStatusEntity {
  static constexpr const char* identifier = "recorder";
  static constexpr const char* typeName = "Recorder Status";
  static constexpr const char* image = "record.circle";
  RecorderAutomationState state = RecorderAutomationState::idle;
  double elapsedSeconds = 0;
  std::string title;

  std::string displayTitle() const;     // "Recording"
  std::string displaySubtitle() const;  // "42 seconds"
  bool operator==(const RecorderStatusEntity&) const = default;
};

struct RecorderStatusResult {
  RecorderStatusEntity value;
  std::string dialog;  // "Korvel is recording. Elapsed time: 42 seconds."
  bool operator==(const RecorderStatusResult&) const = default;
};

// Failures, RecordingAutomationUnavailable included, are returned as errors.
Result<RecorderStatusResult> runGetRecorderStatus(const AutomationEnvironment& environment);

// Pickers: suggestions are the recorder's list; lookups keep the recorder's order.
Result<std::vector<RecordingMicrophoneEntity>> suggestedMicrophones(const AutomationEnvironment& environment);
Result<std::vector<RecordingMicrophoneEntity>> microphonesFor(const AutomationEnvironment& environment,
                                                              const std::vector<std::string>& identifiers);
Result<std::vector<RecordingWindowEntity>> suggestedWindows(const AutomationEnvironment& environment);
Result<std::vector<RecordingWindowEntity>> windowsFor(const AutomationEnvironment& environment,
                                                      const std::vector<std::string>& identifiers);
// Empty without contacting the recorder unless "recorder" is asked for.
Result<std::vector<RecorderStatusEntity>> recorderStatusFor(const AutomationEnvironment& environment,
                                                            const std::vector<std::string>& identifiers);

}  // namespace korvel::widgets
