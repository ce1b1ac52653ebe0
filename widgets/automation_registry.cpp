// The recorder registry and the waiting lookup every action goes through.

#include "widgets/automation_registry.h"

#include "platform/enum_names.h"

namespace korvel::widgets {

namespace {
constexpr auto kStateNames = enumNames<RecorderAutomationState>("idle", "recording", "paused");
}  // namespace

const char* rawValue(RecorderAutomationState state) { return kStateNames.name(state); }

std::optional<RecorderAutomationState> recorderAutomationStateFromRaw(std::string_view raw) {
  return kStateNames.parse(raw);
}

std::string displayName(RecorderAutomationState state) {
  std::string name = rawValue(state);
  if (!name.empty()) name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

RecordingAutomationRegistry& RecordingAutomationRegistry::shared() {
  static RecordingAutomationRegistry registry;
  return registry;
}

void RecordingAutomationRegistry::install(const std::shared_ptr<RecordingAutomationActions>& actions) {
  std::lock_guard lock(mutex_);
  actions_ = actions;
}

void RecordingAutomationRegistry::clear() {
  std::lock_guard lock(mutex_);
  actions_.reset();
}

std::shared_ptr<RecordingAutomationActions> RecordingAutomationRegistry::current() const {
  std::lock_guard lock(mutex_);
  return actions_.lock();
}

Error recordingAutomationUnavailable() {
  return makeError(ErrorCode::Denied,
                   "Korvel's recording library is unavailable. Open Korvel and finish setup, then try again.");
}

Error automationCancelled() { return makeError(ErrorCode::Cancelled, "The action was cancelled."); }

Result<std::shared_ptr<RecordingAutomationActions>> waitForRecordingActions(const AutomationEnvironment& environment) {
  int rounds = 0;
  while (true) {
    if (environment.cancellation && environment.cancellation->cancelled()) return automationCancelled();
    if (auto actions = environment.registry.current()) return actions;
    environment.sleeper.sleep(kRecorderLookupInterval);
    if (++rounds == kRecorderLookupChecks) return recordingAutomationUnavailable();
  }
}

}  // namespace korvel::widgets
