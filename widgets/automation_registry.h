#pragma once
// The contract between the automation actions and the recorder, the process-wide registry the
// recorder installs itself in, and the bounded wait for that registration.
//
// Single-threaded by design (the actions run on one main thread); the registry still locks so a
// recorder installing itself from another thread is safe.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/result.h"

namespace korvel::widgets {

enum class RecorderAutomationState { idle, recording, paused };

const char* rawValue(RecorderAutomationState state);
std::optional<RecorderAutomationState> recorderAutomationStateFromRaw(std::string_view raw);
// "Idle", "Recording", "Paused".
std::string displayName(RecorderAutomationState state);

struct RecorderAutomationStatus {
  RecorderAutomationState state = RecorderAutomationState::idle;
  std::string title;
  double elapsedSeconds = 0;
  bool operator==(const RecorderAutomationStatus&) const = default;
};

struct RecordingMicrophoneEntity {
  static constexpr const char* typeName = "Microphone";
  static constexpr const char* image = "mic";
  std::string id;
  std::string name;
  const std::string& displayTitle() const { return name; }
  bool operator==(const RecordingMicrophoneEntity&) const = default;
};

struct RecordingWindowEntity {
  static constexpr const char* typeName = "Recording Window";
  static constexpr const char* image = "macwindow";
  std::string id;
  std::string name;
  const std::string& displayTitle() const { return name; }
  bool operator==(const RecordingWindowEntity&) const = default;
};

// What the recorder implements; each operation reports failure as one user-facing sentence.
class RecordingAutomationActions {
 public:
  virtual ~RecordingAutomationActions() = default;
  virtual Result<RecorderAutomationStatus> status() = 0;
  // An absent argument leaves that choice to the recorder.
  virtual Status startRecording(const std::optional<std::string>& title,
                                const std::optional<std::string>& microphoneID,
                                const std::optional<std::string>& windowID) = 0;
  virtual Status pauseRecording() = 0;
  virtual Status resumeRecording() = 0;
  virtual Status stopRecording() = 0;
  virtual Status markMoment() = 0;
  virtual Result<std::vector<RecordingMicrophoneEntity>> microphones() = 0;
  virtual Result<std::vector<RecordingWindowEntity>> windows() = 0;
};

// Holds at most one recorder, weakly: it empties itself when the recorder goes away.
class RecordingAutomationRegistry {
 public:
  // The one registry of this process, which the recorder installs itself in.
  static RecordingAutomationRegistry& shared();

  void install(const std::shared_ptr<RecordingAutomationActions>& actions);
  void clear();
  std::shared_ptr<RecordingAutomationActions> current() const;

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<RecordingAutomationActions> actions_;
};

// Set by whoever may abandon a running action; the wait checks it before every round.
// Set from one thread (a signal watcher, the host cancelling) and read by the waiting one.
class CancellationFlag {
 public:
  void cancel() { cancelled_.store(true, std::memory_order_release); }
  bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> cancelled_{false};
};

inline constexpr int kRecorderLookupChecks = 100;
inline constexpr double kRecorderLookupInterval = 0.1;

// Error code Denied: "Korvel's recording library is unavailable. Open Korvel and finish setup, then try again."
Error recordingAutomationUnavailable();
// Error code Cancelled.
Error automationCancelled();

// Where an action finds the recorder and how it waits for it.
struct AutomationEnvironment {
  RecordingAutomationRegistry& registry;
  Sleeper& sleeper;
  const CancellationFlag* cancellation = nullptr;
};

// Checks the registry up to 100 times, sleeping 0.1 s between checks.
Result<std::shared_ptr<RecordingAutomationActions>> waitForRecordingActions(const AutomationEnvironment& environment);

}  // namespace korvel::widgets
