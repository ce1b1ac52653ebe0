// Running the automation actions: wait for the recorder, call it, turn the outcome into a dialog.

#include "widgets/automation_intents.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace korvel::widgets {
namespace {

long long wholeSeconds(double seconds) { return std::isfinite(seconds) ? static_cast<long long>(seconds) : 0; }

Status callRecorder(RecordingCommand command, RecordingAutomationActions& actions,
                    const StartRecordingParameters& start) {
  switch (command) {
    case RecordingCommand::start: {
      std::optional<std::string> microphoneID, windowID;
      if (start.microphone) microphoneID = start.microphone->id;
      if (start.window) windowID = start.window->id;
      return actions.startRecording(start.title, microphoneID, windowID);
    }
    case RecordingCommand::pause: return actions.pauseRecording();
    case RecordingCommand::resume: return actions.resumeRecording();
    case RecordingCommand::stop: return actions.stopRecording();
    case RecordingCommand::markMoment: return actions.markMoment();
  }
  return okStatus();
}

template <class Entity>
std::vector<Entity> keepRequested(const std::vector<Entity>& all, const std::vector<std::string>& identifiers) {
  std::vector<Entity> kept;
  for (const auto& entity : all) {
    if (std::find(identifiers.begin(), identifiers.end(), entity.id) != identifiers.end()) kept.push_back(entity);
  }
  return kept;
}

}  // namespace

const std::vector<AutomationIntentDescription>& automationIntentDescriptions() {
  static const std::vector<AutomationIntentDescription> descriptions = {
      {"start-recording", "StartRecordingIntent", "Start Recording", "Start recording",
       {"Title", "Microphone", "Window"}, "Recording started"},
      {"pause-recording", "PauseRecordingIntent", "Pause Recording", "Pause recording", {}, "Recording paused"},
      {"resume-recording", "ResumeRecordingIntent", "Resume Recording", "Resume recording", {}, "Recording resumed"},
      {"stop-recording", "StopRecordingIntent", "Stop Recording", "Stop recording", {}, "Recording stopped"},
      {"mark-moment", "MarkMomentIntent", "Mark Moment", "Mark a moment", {}, "Moment marked"},
      {"get-recorder-status", "GetRecorderStatusIntent", "Get Recorder Status", "Get recorder status", {}, ""},
  };
  return descriptions;
}

const AutomationIntentDescription& describe(RecordingCommand command) {
  return automationIntentDescriptions()[static_cast<size_t>(command)];
}

Result<RecordingCommandResult> runRecordingCommand(RecordingCommand command, const AutomationEnvironment& environment,
                                                   const StartRecordingParameters& start) {
  const std::string successDialog = describe(command).successDialog;
  auto actions = waitForRecordingActions(environment);
  Status outcome = actions ? callRecorder(command, **actions, start) : Status(actions.error());
  if (outcome.ok()) return RecordingCommandResult{true, successDialog};
  if (outcome.error().code == ErrorCode::Cancelled) return outcome.error();
  return RecordingCommandResult{false, outcome.error().message};
}

std::string RecorderStatusEntity::displayTitle() const { return displayName(state); }

std::string RecorderStatusEntity::displaySubtitle() const {
  return fmt::format("{} seconds", wholeSeconds(elapsedSeconds));
}

Result<RecorderStatusResult> runGetRecorderStatus(const AutomationEnvironment& environment) {
  auto actions = TRY(waitForRecordingActions(environment));
  const RecorderAutomationStatus status = TRY(actions->status());
  RecorderStatusResult result;
  result.value = RecorderStatusEntity{status.state, status.elapsedSeconds, status.title};
  result.dialog = fmt::format("Korvel is {}. Elapsed time: {} seconds.", rawValue(status.state),
                              wholeSeconds(status.elapsedSeconds));
  return result;
}

Result<std::vector<RecordingMicrophoneEntity>> suggestedMicrophones(const AutomationEnvironment& environment) {
  auto actions = TRY(waitForRecordingActions(environment));
  return actions->microphones();
}

Result<std::vector<RecordingMicrophoneEntity>> microphonesFor(const AutomationEnvironment& environment,
                                                              const std::vector<std::string>& identifiers) {
  return keepRequested(TRY(suggestedMicrophones(environment)), identifiers);
}

Result<std::vector<RecordingWindowEntity>> suggestedWindows(const AutomationEnvironment& environment) {
  auto actions = TRY(waitForRecordingActions(environment));
  return actions->windows();
}

Result<std::vector<RecordingWindowEntity>> windowsFor(const AutomationEnvironment& environment,
                                                      const std::vector<std::string>& identifiers) {
  return keepRequested(TRY(suggestedWindows(environment)), identifiers);
}

Result<std::vector<RecorderStatusEntity>> recorderStatusFor(const AutomationEnvironment& environment,
                                                            const std::vector<std::string>& identifiers) {
  if (std::find(identifiers.begin(), identifiers.end(), RecorderStatusEntity::identifier) == identifiers.end()) {
    return std::vector<RecorderStatusEntity>{};
  }
  const RecorderStatusResult result = TRY(runGetRecorderStatus(environment));
  return std::vector<RecorderStatusEntity>{result.value};
}

}  // namespace korvel::widgets
