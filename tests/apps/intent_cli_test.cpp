// `korvel intent`: listing the actions, and running them with and without a registered recorder.

#include <gtest/gtest.h>

#include "platform/json.h"
#include "tests/apps/cli_invocation.h"
#include "tests/support/result_matchers.h"
#include "widgets/automation_registry.h"

namespace korvel::cli {
namespace {

using korvel::testing::IsOkAndHolds;
using widgets::RecordingAutomationRegistry;

class ScriptedRecorder final : public widgets::RecordingAutomationActions {
 public:
  std::vector<std::string> calls;
  Result<widgets::RecorderAutomationStatus> status() override {
    return widgets::RecorderAutomationStatus{widgets::RecorderAutomationState::paused, "Sync", 61.7};
  }
  Status startRecording(const std::optional<std::string>& title, const std::optional<std::string>& microphone,
                        const std::optional<std::string>& window) override {
    calls.push_back("start " + title.value_or("-") + " " + microphone.value_or("-") + " " + window.value_or("-"));
    return okStatus();
  }
  Status pauseRecording() override { return makeError(ErrorCode::InvalidInput, "Nothing is being recorded."); }
  Status resumeRecording() override { return okStatus(); }
  Status stopRecording() override {
    calls.push_back("stop");
    return okStatus();
  }
  Status markMoment() override { return okStatus(); }
  Result<std::vector<widgets::RecordingMicrophoneEntity>> microphones() override {
    return std::vector<widgets::RecordingMicrophoneEntity>{{"mic-1", "Built-in"}};
  }
  Result<std::vector<widgets::RecordingWindowEntity>> windows() override {
    return std::vector<widgets::RecordingWindowEntity>{{"7", "Call"}};
  }
};

// The tool uses the process's registry, so each test leaves it empty again.
class IntentCliTest : public ::testing::Test {
 protected:
  void TearDown() override { RecordingAutomationRegistry::shared().clear(); }
  ManualClock clock;
  RecordingSleeper sleeper{&clock};
};

TEST_F(IntentCliTest, ListNamesEveryAction) {
  auto list = invokeCli({"intent", "list", "--json"});
  ASSERT_EQ(list.code, kExitOk);
  ASSERT_OK_AND_ASSIGN(const Json json, parseJson(list.out));
  ASSERT_EQ(json.size(), 10u);
  EXPECT_EQ(json[0]["title"], "Start Recording");
  EXPECT_EQ(json[0]["parameters"], Json::array({"Title", "Microphone", "Window"}));
  EXPECT_EQ(json[9]["title"], "Stop Korvel Recording");
}

TEST_F(IntentCliTest, WithoutARecorderTheRunFailsAfterTheWait) {
  auto run = invokeCli({"intent", "run", "start-recording"}, {}, &clock, &sleeper);
  EXPECT_EQ(run.code, kExitFailed);
  EXPECT_EQ(run.err, "Korvel's recording library is unavailable. Open Korvel and finish setup, then try again.\n");
  EXPECT_EQ(sleeper.sleeps(), std::vector<double>(100, 0.1));

  RecordingSleeper second(&clock);
  auto status = invokeCli({"intent", "run", "get-recorder-status"}, {}, &clock, &second);
  EXPECT_EQ(status.code, kExitFailed);
  EXPECT_EQ(second.sleeps().size(), 100u);
}

TEST_F(IntentCliTest, ARegisteredRecorderRunsAtOnce) {
  auto recorder = std::make_shared<ScriptedRecorder>();
  RecordingAutomationRegistry::shared().install(recorder);
  auto start = invokeCli({"intent", "run", "start-recording", "--title", "Standup", "--microphone", "mic-1",
                          "--window", "7"}, {}, &clock, &sleeper);
  EXPECT_EQ(start.code, kExitOk) << start.err;
  EXPECT_EQ(start.out, "Recording started\n");
  EXPECT_EQ(recorder->calls, std::vector<std::string>{"start Standup mic-1 7"});

  auto unknownMic = invokeCli({"intent", "run", "start-recording", "--microphone", "mic-9"}, {}, &clock, &sleeper);
  EXPECT_EQ(unknownMic.code, kExitFailed);
  EXPECT_EQ(unknownMic.err, "The recorder has no microphone with the identifier \"mic-9\".\n");

  auto pause = invokeCli({"intent", "run", "pause-recording", "--json"}, {}, &clock, &sleeper);
  EXPECT_EQ(pause.code, kExitFailed);
  EXPECT_THAT(parseJson(pause.out), IsOkAndHolds(Json{{"value", false}, {"dialog", "Nothing is being recorded."}}));

  auto status = invokeCli({"intent", "run", "get-recorder-status"}, {}, &clock, &sleeper);
  EXPECT_EQ(status.out, "Korvel is paused. Elapsed time: 61 seconds.\n");
  EXPECT_EQ(invokeCli({"intent", "run", "widget-stop-recording"}, {}, &clock, &sleeper).code, kExitOk);
  EXPECT_EQ(recorder->calls.back(), "stop");
  EXPECT_TRUE(sleeper.sleeps().empty());
}

TEST_F(IntentCliTest, UnknownActionsAndMisplacedParametersAreUsageErrors) {
  EXPECT_EQ(invokeCli({"intent", "run", "dance"}).code, kExitUsage);
  EXPECT_EQ(invokeCli({"intent", "run", "stop-recording", "--title", "x"}).code, kExitUsage);
}

}  // namespace
}  // namespace korvel::cli
