// The automation actions against a registered recorder and against none, with the wait counted.

#include <gtest/gtest.h>

#include "tests/support/result_matchers.h"
#include "widgets/automation_intents.h"
#include "widgets/widget.h"

namespace korvel::widgets {
namespace {

using ::korvel::testing::IsOkAndHolds;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// A recorder that records what it was asked and can be told to fail.
class FakeRecorder final : public RecordingAutomationActions {
 public:
  std::vector<std::string> calls;
  std::optional<Error> failure;
  RecorderAutomationStatus current{RecorderAutomationState::recording, "Sync", 42.9};
  std::optional<std::string> title, microphoneID, windowID;

  Result<RecorderAutomationStatus> status() override {
    calls.push_back("status");
    if (failure) return *failure;
    return current;
  }
  Status startRecording(const std::optional<std::string>& t, const std::optional<std::string>& m,
                        const std::optional<std::string>& w) override {
    title = t, microphoneID = m, windowID = w;
    return record("start");
  }
  Status pauseRecording() override { return record("pause"); }
  Status resumeRecording() override { return record("resume"); }
  Status stopRecording() override { return record("stop"); }
  Status markMoment() override { return record("mark"); }
  Result<std::vector<RecordingMicrophoneEntity>> microphones() override {
    calls.push_back("microphones");
    return std::vector<RecordingMicrophoneEntity>{{"mic-1", "Built-in"}, {"mic-2", "USB"}, {"mic-3", "Headset"}};
  }
  Result<std::vector<RecordingWindowEntity>> windows() override {
    calls.push_back("windows");
    return std::vector<RecordingWindowEntity>{{"101", "Call"}, {"202", "Browser"}};
  }

 private:
  Status record(std::string call) {
    calls.push_back(std::move(call));
    if (failure) return *failure;
    return okStatus();
  }
};

// Installs the recorder once the clock has passed a given time, as a slow-starting recorder would.
class InstallingSleeper final : public Sleeper {
 public:
  InstallingSleeper(RecordingAutomationRegistry& registry, std::shared_ptr<FakeRecorder> recorder, double at)
      : registry_(registry), recorder_(std::move(recorder)), at_(at) {}
  void sleep(double seconds) override {
    sleeps.push_back(seconds);
    elapsed += seconds;
    if (elapsed >= at_) registry_.install(recorder_);
  }
  std::vector<double> sleeps;
  double elapsed = 0;

 private:
  RecordingAutomationRegistry& registry_;
  std::shared_ptr<FakeRecorder> recorder_;
  double at_;
};

class AutomationTest : public ::testing::Test {
 protected:
  RecordingAutomationRegistry registry;
  ManualClock clock;
  RecordingSleeper sleeper{&clock};
  AutomationEnvironment environment{registry, sleeper};
  std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
};

const char* kUnavailable = "Korvel's recording library is unavailable. Open Korvel and finish setup, then try again.";

TEST_F(AutomationTest, WithNoRecorderEveryActionGivesUpAfterAHundredChecks) {
  auto result = runRecordingCommand(RecordingCommand::start, environment);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, (RecordingCommandResult{false, kUnavailable}));
  EXPECT_EQ(sleeper.sleeps(), std::vector<double>(100, 0.1));

  RecordingSleeper second;
  const AutomationEnvironment other{registry, second};
  auto status = runGetRecorderStatus(other);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().message, kUnavailable);
  EXPECT_EQ(second.sleeps().size(), 100u);
  EXPECT_EQ(runWidgetIntent(WidgetIntent::stop, other).error().message, kUnavailable);
  EXPECT_EQ(second.sleeps().size(), 200u);
}

TEST_F(AutomationTest, ARegisteredRecorderIsCalledAtOnce) {
  registry.install(recorder);
  const std::vector<std::pair<RecordingCommand, std::string>> expected = {
      {RecordingCommand::start, "Recording started"}, {RecordingCommand::pause, "Recording paused"},
      {RecordingCommand::resume, "Recording resumed"}, {RecordingCommand::stop, "Recording stopped"},
      {RecordingCommand::markMoment, "Moment marked"}};
  for (const auto& [command, dialog] : expected) {
    EXPECT_THAT(runRecordingCommand(command, environment), IsOkAndHolds(RecordingCommandResult{true, dialog}));
  }
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start", "pause", "resume", "stop", "mark"}));
  EXPECT_EQ(recorder->title, std::nullopt);
  EXPECT_EQ(recorder->microphoneID, std::nullopt);
  EXPECT_EQ(recorder->windowID, std::nullopt);
  EXPECT_TRUE(sleeper.sleeps().empty());
}

TEST_F(AutomationTest, ARecorderRegisteringLateIsFoundAtTheNextCheck) {
  InstallingSleeper installing(registry, recorder, 0.35);
  const AutomationEnvironment late{registry, installing};
  ASSERT_OK_AND_ASSIGN(const RecordingCommandResult result, runRecordingCommand(RecordingCommand::pause, late));
  EXPECT_TRUE(result.value);
  EXPECT_EQ(installing.sleeps.size(), 4u);  // found at the fifth check, 0.4 s in
  EXPECT_NEAR(installing.elapsed, 0.4, 1e-9);
}

TEST_F(AutomationTest, StartPassesTheChosenEntitiesIdentifiers) {
  registry.install(recorder);
  StartRecordingParameters parameters{"Standup", RecordingMicrophoneEntity{"mic-2", "USB"},
                                      RecordingWindowEntity{"202", "Browser"}};
  ASSERT_OK_AND_ASSIGN(const RecordingCommandResult result,
                       runRecordingCommand(RecordingCommand::start, environment, parameters));
  EXPECT_TRUE(result.value);
  EXPECT_EQ(recorder->title, "Standup");
  EXPECT_EQ(recorder->microphoneID, "mic-2");
  EXPECT_EQ(recorder->windowID, "202");
}

TEST_F(AutomationTest, RecorderErrorsBecomeAFalseResultWithTheirSentence) {
  registry.install(recorder);
  recorder->failure = makeError(ErrorCode::InvalidInput, "Nothing is being recorded.");
  EXPECT_THAT(runRecordingCommand(RecordingCommand::pause, environment),
              IsOkAndHolds(RecordingCommandResult{false, "Nothing is being recorded."}));
  // The widget's buttons hand the same error to the host instead.
  EXPECT_EQ(runWidgetIntent(WidgetIntent::pause, environment).error().message, "Nothing is being recorded.");
}

TEST_F(AutomationTest, CancellationEndsTheActionAtOnce) {
  CancellationFlag flag;
  flag.cancel();
  const AutomationEnvironment cancelled{registry, sleeper, &flag};
  auto result = runRecordingCommand(RecordingCommand::stop, cancelled);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ErrorCode::Cancelled);
  EXPECT_TRUE(sleeper.sleeps().empty());
}

TEST_F(AutomationTest, StatusDialogAndEntityTruncateTheElapsedTime) {
  registry.install(recorder);
  auto result = runGetRecorderStatus(environment);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->dialog, "Korvel is recording. Elapsed time: 42 seconds.");
  EXPECT_EQ(result->value.displayTitle(), "Recording");
  EXPECT_EQ(result->value.displaySubtitle(), "42 seconds");
  EXPECT_EQ(result->value.title, "Sync");
  recorder->current = {RecorderAutomationState::idle, "", 0};
  ASSERT_OK_AND_ASSIGN(const RecorderStatusResult idle, runGetRecorderStatus(environment));
  EXPECT_EQ(idle.dialog, "Korvel is idle. Elapsed time: 0 seconds.");
}

TEST_F(AutomationTest, QueriesKeepTheRecordersOrder) {
  registry.install(recorder);
  EXPECT_THAT(suggestedMicrophones(environment), IsOkAndHolds(SizeIs(3)));
  ASSERT_OK_AND_ASSIGN(const auto mics, microphonesFor(environment, {"mic-3", "missing", "mic-1"}));
  ASSERT_EQ(mics.size(), 2u);
  EXPECT_EQ(mics[0].id, "mic-1");
  EXPECT_EQ(mics[1].id, "mic-3");
  ASSERT_OK_AND_ASSIGN(const auto windows, windowsFor(environment, {"202"}));
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].displayTitle(), "Browser");

  recorder->calls.clear();
  EXPECT_THAT(recorderStatusFor(environment, {"other"}), IsOkAndHolds(IsEmpty()));
  EXPECT_TRUE(recorder->calls.empty());
  ASSERT_OK_AND_ASSIGN(const auto statuses, recorderStatusFor(environment, {"recorder"}));
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].state, RecorderAutomationState::recording);
}

TEST_F(AutomationTest, RegistryHoldsTheRecorderWeakly) {
  registry.install(recorder);
  EXPECT_EQ(registry.current(), recorder);
  recorder.reset();
  EXPECT_EQ(registry.current(), nullptr);
  auto another = std::make_shared<FakeRecorder>();
  registry.install(another);
  registry.clear();
  EXPECT_EQ(registry.current(), nullptr);
}

TEST(AutomationDescriptionsTest, TitlesAndSummaries) {
  const auto& all = automationIntentDescriptions();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(describe(RecordingCommand::start).parameters, (std::vector<std::string>{"Title", "Microphone", "Window"}));
  EXPECT_EQ(describe(RecordingCommand::markMoment).title, "Mark Moment");
  EXPECT_EQ(describe(RecordingCommand::markMoment).parameterSummary, "Mark a moment");
  EXPECT_EQ(all.back().title, "Get Recorder Status");
  EXPECT_EQ(widgetIntentDescriptions()[0].title, "Start Korvel Recording");
  EXPECT_EQ(displayName(RecorderAutomationState::paused), "Paused");
  EXPECT_EQ(recorderAutomationStateFromRaw("recording"), RecorderAutomationState::recording);
  EXPECT_EQ(recorderAutomationStateFromRaw("unavailable"), std::nullopt);
}

}  // namespace
}  // namespace korvel::widgets
