// `korvel status` and `korvel widget`: publishing, reading and drawing the status file.

#include <gtest/gtest.h>

#include "platform/json.h"
#include "tests/apps/cli_invocation.h"
#include "tests/support/result_matchers.h"
#include "tests/support/temp_dir.h"

namespace korvel::cli {
namespace {

using korvel::testing::IsOkAndHolds;
using korvel::testing::readText;
using korvel::testing::TempDir;
using korvel::testing::treeFingerprint;
using korvel::testing::writeText;

class WidgetCliTest : public ::testing::Test {
 protected:
  TempDir home;
  CliEnvironment env{{"KORVEL_HOME", home.path().string()}};
  std::filesystem::path statusFile =
      home / "group" / "T4NQ8ZP2LM.local.korvel.recorder.widgets" / "recorder-status.json";

  CliResult korvel(std::vector<std::string> args) { return invokeCli(args, env); }
};

TEST_F(WidgetCliTest, WriteThenShowRoundTripsThroughTheSharedContainer) {
  auto written = korvel({"status", "write", "--state", "recording", "--title", "Weekly sync", "--elapsed", "125",
                         "--now", "2026-03-04T14:15:00Z", "--meeting", "m-1,Plan, review,2026-03-03T10:00:00Z,1800,Transcribing",
                         "--meeting", "m-2,Standup,2026-03-02T09:00:00Z,900", "--show-titles"});
  ASSERT_EQ(written.code, kExitOk) << written.err;
  auto shown = korvel({"status", "show", "--json", "--now", "2026-03-04T14:15:30Z"});
  ASSERT_EQ(shown.code, kExitOk) << shown.err;
  ASSERT_OK_AND_ASSIGN(const Json json, parseJson(shown.out));
  EXPECT_EQ(json["effectiveState"], "recording");
  EXPECT_EQ(json["timerStart"], "2026-03-04T14:12:55Z");
  EXPECT_EQ(json["snapshot"]["title"], "Weekly sync");
  EXPECT_EQ(json["snapshot"]["meetings"][0]["title"], "Plan, review");
  EXPECT_EQ(json["snapshot"]["meetings"][0]["processing"], "Transcribing");
  EXPECT_FALSE(json["snapshot"]["meetings"][1].contains("processing"));
  EXPECT_EQ(json["snapshot"]["updatedAt"], 794326500);
  EXPECT_THAT(parseJson(readText(statusFile)), IsOkAndHolds(json["snapshot"]));

  auto stale = korvel({"status", "show", "--json", "--now", "2026-03-04T14:16:31Z"});
  ASSERT_OK_AND_ASSIGN(const Json staleJson, parseJson(stale.out));
  EXPECT_EQ(staleJson["effectiveState"], "unavailable");
  EXPECT_FALSE(staleJson.contains("timerStart"));
}

TEST_F(WidgetCliTest, TitlesAreHiddenUnlessAsked) {
  ASSERT_EQ(korvel({"status", "write", "--state", "idle", "--title", "Secret", "--meeting",
                    "m-1,Board,2026-03-03T10:00:00Z,60"}).code, kExitOk);
  const std::string file = readText(statusFile);
  EXPECT_EQ(file.find("Secret"), std::string::npos);
  EXPECT_EQ(file.find("Board"), std::string::npos);
}

TEST_F(WidgetCliTest, BadArgumentsAreUsageErrorsAndWriteNothing) {
  ASSERT_EQ(korvel({"status", "write", "--state", "paused", "--elapsed", "10"}).code, kExitOk);
  const std::string before = treeFingerprint(home.path());
  for (std::vector<std::string> args : {
           std::vector<std::string>{"status", "write", "--state", "starting"},
           {"status", "write", "--state", "idle", "--now", "yesterday"},
           {"status", "write", "--state", "idle", "--meeting", "m-1,Title,not-a-date,60"},
           {"status", "write", "--state", "idle", "--meeting", "m-1,Title,2026-03-03T10:00:00Z,long"},
           {"widget", "render", "--family", "huge"}}) {
    auto result = korvel(args);
    EXPECT_EQ(result.code, kExitUsage) << args.back();
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_EQ(treeFingerprint(home.path()), before);
}

TEST_F(WidgetCliTest, ShowExplainsARefusedFile) {
  std::filesystem::create_directories(statusFile.parent_path());
  writeText(statusFile, R"({"version":2})");
  auto shown = korvel({"status", "show"});
  EXPECT_EQ(shown.code, kExitOk);
  EXPECT_NE(shown.out.find("Not usable: The status file is malformed."), std::string::npos);
  EXPECT_NE(shown.out.find("State: unavailable"), std::string::npos);
  ASSERT_OK_AND_ASSIGN(const Json unavailable, parseJson(R"({"effectiveState":"unavailable",
      "snapshot":{"elapsedSeconds":0,"meetings":[],"showTitles":false,"state":"unavailable","title":"Recording",
      "updatedAt":-63113904000,"version":1}})"));
  EXPECT_THAT(parseJson(korvel({"status", "show", "--json"}).out), IsOkAndHolds(unavailable));
}

TEST_F(WidgetCliTest, RenderDrawsEachStateFromAnExplicitStatusFile) {
  const std::string file = (home / "custom.json").string();
  ASSERT_EQ(korvel({"status", "write", "--status-file", file, "--state", "paused", "--elapsed", "3725", "--now",
                    "2026-03-04T14:15:00Z"}).code, kExitOk);
  auto paused = korvel({"widget", "render", "--status-file", file, "--now", "2026-03-04T14:15:10Z", "--family", "medium"});
  EXPECT_EQ(paused.out, "Korvel\nPaused · 1:02:05\n[Resume recording]\n[Stop recording]\nNo recent meetings\n");
  auto stale = korvel({"widget", "render", "--status-file", file, "--now", "2026-03-04T14:20:00Z"});
  EXPECT_EQ(stale.out, "Korvel\nOpen Korvel to refresh\n[Open Korvel]\n");
  auto html = korvel({"widget", "render", "--status-file", file, "--now", "2026-03-04T14:15:10Z", "--format", "html",
                      "--family", "large"});
  EXPECT_NE(html.out.find("data-state=\"paused\""), std::string::npos);
  EXPECT_NE(html.out.find("width:364px;height:382px"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(statusFile));

  auto sample = korvel({"widget", "render", "--sample", "--family", "large"});
  EXPECT_NE(sample.out.find("Ready to record\n[Start]\n"), std::string::npos);
}

TEST_F(WidgetCliTest, TimelineShowsTheStalenessEntryAndReload) {
  ASSERT_EQ(korvel({"status", "write", "--state", "recording", "--now", "2026-03-04T14:15:00Z"}).code, kExitOk);
  auto timeline = korvel({"widget", "timeline", "--json", "--now", "2026-03-04T14:15:30Z"});
  ASSERT_EQ(timeline.code, kExitOk) << timeline.err;
  ASSERT_OK_AND_ASSIGN(const Json json, parseJson(timeline.out));
  ASSERT_EQ(json["entries"].size(), 2u);
  EXPECT_EQ(json["entries"][0]["date"], "2026-03-04T14:15:30Z");
  EXPECT_EQ(json["entries"][0]["effectiveState"], "recording");
  EXPECT_EQ(json["entries"][1]["date"], "2026-03-04T14:16:31Z");
  EXPECT_EQ(json["entries"][1]["effectiveState"], "unavailable");
  EXPECT_EQ(json["reloadAfter"], "2026-03-04T14:16:30Z");
  auto text = korvel({"widget", "timeline", "--now", "2026-03-04T14:15:30Z"});
  EXPECT_NE(text.out.find("2026-03-04T14:16:31Z  unavailable  Open Korvel to refresh"), std::string::npos);
}

}  // namespace
}  // namespace korvel::cli
