// The snapshot's sanitising constructors, staleness rule, review links and JSON form.

#include "widgets/snapshot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/text.h"
#include "tests/support/result_matchers.h"

namespace korvel::widgets {
namespace {

using ::korvel::testing::IsOkAndHolds;

const Date kNow = Date::fromUnix(1772633700);

WidgetMeeting meeting(std::string id, std::string title = "Planning") {
  return WidgetMeeting::make(std::move(id), title, kNow.adding(-3600), 1800, std::nullopt);
}

RecorderWidgetSnapshot recordingAt(Date updatedAt, WidgetRecorderState state = WidgetRecorderState::recording) {
  return RecorderWidgetSnapshot::make(updatedAt, state, 125, "Weekly sync", {}, TitleVisibility::shown);
}

TEST(RecorderWidgetSnapshotTest, HiddenTitlesNeverReachTheSnapshot) {
  const std::vector<WidgetMeeting> meetings = {meeting("a", "Board review"), meeting("b", "1:1 with Sam")};
  const auto hidden =
      RecorderWidgetSnapshot::make(kNow, WidgetRecorderState::recording, 5, "Secret call", meetings, TitleVisibility::hidden);
  EXPECT_EQ(hidden.title, "Recording");
  for (const auto& m : hidden.meetings) EXPECT_EQ(m.title, "Meeting");
  EXPECT_FALSE(hidden.showTitles);

  const auto shown =
      RecorderWidgetSnapshot::make(kNow, WidgetRecorderState::recording, 5, "Secret call", meetings, TitleVisibility::shown);
  EXPECT_EQ(shown.title, "Secret call");
  EXPECT_EQ(shown.meetings[0].title, "Board review");
  EXPECT_EQ(shown.meetings[1].title, "1:1 with Sam");
  EXPECT_EQ(shown.version, 1);
}

TEST(RecorderWidgetSnapshotTest, KeepsTheFirstEightMeetingsInOrder) {
  std::vector<WidgetMeeting> ten;
  for (int i = 0; i < 10; ++i) ten.push_back(meeting("m" + std::to_string(i)));
  const auto snapshot = RecorderWidgetSnapshot::make(kNow, WidgetRecorderState::idle, 0, "", ten, TitleVisibility::shown);
  ASSERT_EQ(snapshot.meetings.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(snapshot.meetings[i].id, "m" + std::to_string(i));
}

TEST(RecorderWidgetSnapshotTest, ClampsElapsedAndDurations) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<double, double>> cases = {{-5, 0}, {nan, 0}, {inf, 0}, {-inf, 0}, {1e7, 604800},
                                                        {604800, 604800}, {604799.5, 604799.5}, {42.25, 42.25}};
  for (const auto& [given, expected] : cases) {
    const auto snapshot =
        RecorderWidgetSnapshot::make(kNow, WidgetRecorderState::recording, given, "", {}, TitleVisibility::hidden);
    EXPECT_EQ(snapshot.elapsedSeconds, expected) << given;
    EXPECT_EQ(WidgetMeeting::make("x", "", kNow, given, std::nullopt).durationSeconds, expected) << given;
  }
}

TEST(RecorderWidgetSnapshotTest, CutsTextsToUserPerceivedCharacters) {
  std::string longTitle;
  for (int i = 0; i < 200; ++i) longTitle += "e\xCC\x81";  // e + combining acute: one character, three bytes
  std::string longLabel(100, 'x');
  const auto m = WidgetMeeting::make("x", longTitle, kNow, 1, std::string_view(longLabel));
  EXPECT_EQ(graphemeCount(m.title), 160u);
  EXPECT_EQ(m.title.size(), 160u * 3);
  EXPECT_EQ(m.processing, std::string(80, 'x'));

  const auto snapshot = RecorderWidgetSnapshot::make(kNow, WidgetRecorderState::idle, 0, longTitle, {m}, TitleVisibility::shown);
  EXPECT_EQ(graphemeCount(snapshot.title), 160u);
  EXPECT_EQ(graphemeCount(snapshot.meetings[0].title), 160u);
}

TEST(RecorderWidgetSnapshotTest, RecordingAndPausedGoStaleAfterNinetySeconds) {
  for (auto state : {WidgetRecorderState::recording, WidgetRecorderState::paused}) {
    const auto snapshot = recordingAt(kNow, state);
    EXPECT_EQ(snapshot.effectiveState(kNow), state);
    EXPECT_EQ(snapshot.effectiveState(kNow.adding(90)), state);
    EXPECT_EQ(snapshot.effectiveState(kNow.adding(90.5)), WidgetRecorderState::unavailable);
    EXPECT_EQ(snapshot.effectiveState(kNow.adding(-1)), WidgetRecorderState::unavailable);  // from the future
  }
  const auto idle = recordingAt(kNow, WidgetRecorderState::idle);
  EXPECT_EQ(idle.effectiveState(kNow.adding(365 * 86400.0)), WidgetRecorderState::idle);
  auto other = recordingAt(kNow, WidgetRecorderState::idle);
  other.version = 2;
  EXPECT_EQ(other.effectiveState(kNow), WidgetRecorderState::unavailable);
}

TEST(RecorderWidgetSnapshotTest, TimerRunsOnlyForAFreshRecording) {
  const auto recording = recordingAt(kNow);
  EXPECT_EQ(recording.timerStart(kNow.adding(30)), kNow.adding(-125));
  EXPECT_EQ(recording.timerStart(kNow.adding(91)), std::nullopt);
  EXPECT_EQ(recordingAt(kNow, WidgetRecorderState::paused).timerStart(kNow), std::nullopt);
}

TEST(RecorderWidgetSnapshotTest, UnavailableIsFixed) {
  const auto unavailable = RecorderWidgetSnapshot::unavailable();
  EXPECT_EQ(unavailable.version, 1);
  EXPECT_EQ(unavailable.updatedAt, Date::distantPast());
  EXPECT_EQ(unavailable.state, WidgetRecorderState::unavailable);
  EXPECT_EQ(unavailable.title, "Recording");
  EXPECT_TRUE(unavailable.meetings.empty());
  EXPECT_FALSE(unavailable.showTitles);
}

TEST(WidgetMeetingTest, ReviewLinkOnlyForSafeIdentifiers) {
  EXPECT_EQ(meeting("abc_1.2-x").reviewURL(), "korvel://meeting/abc_1.2-x");
  EXPECT_TRUE(meeting(std::string(128, 'a')).reviewURL());
  for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                          std::string("caf\xC3\xA9"), std::string(129, 'a'), std::string("a b")}) {
    EXPECT_EQ(meeting(bad).reviewURL(), std::nullopt) << bad;
  }
}

TEST(RecorderWidgetSnapshotTest, JsonUsesReferenceDatesAndRoundTrips) {
  const auto snapshot = RecorderWidgetSnapshot::make(
      Date::fromReference(794326500.25), WidgetRecorderState::paused, 61.5, "Sync",
      {WidgetMeeting::make("m-1", "Plan", Date::fromReference(794224800), 1800, std::string_view("Transcribing")),
       WidgetMeeting::make("m-2", "", Date::fromReference(794138400), 60, std::nullopt)},
      TitleVisibility::shown);
  const Json json = snapshot.toJson();
  EXPECT_EQ(json["updatedAt"], 794326500.25);
  EXPECT_EQ(json["state"], "paused");
  EXPECT_EQ(json["meetings"][0]["startedAt"], 794224800);
  EXPECT_FALSE(json["meetings"][1].contains("processing"));
  EXPECT_EQ(encodeCompact(json).find(' '), std::string::npos);
  ASSERT_OK_AND_ASSIGN(const Json reparsed, parseJson(encodeCompact(json)));
  EXPECT_THAT(RecorderWidgetSnapshot::fromJson(reparsed), IsOkAndHolds(snapshot));

  Json nullLabel = json;
  nullLabel["meetings"][0]["processing"] = nullptr;
  ASSERT_OK_AND_ASSIGN(const RecorderWidgetSnapshot withNullLabel, RecorderWidgetSnapshot::fromJson(nullLabel));
  ASSERT_FALSE(withNullLabel.meetings.empty());
  EXPECT_EQ(withNullLabel.meetings[0].processing, std::nullopt);
}

TEST(RecorderWidgetSnapshotTest, DecodingRefusesMissingMembersAndUnknownStates) {
  const Json valid = recordingAt(kNow).toJson();
  for (const char* key : {"version", "updatedAt", "state", "elapsedSeconds", "title", "meetings", "showTitles"}) {
    Json broken = valid;
    broken.erase(key);
    EXPECT_FALSE(RecorderWidgetSnapshot::fromJson(broken)) << key;
  }
  Json starting = valid;
  starting["state"] = "starting";
  EXPECT_FALSE(RecorderWidgetSnapshot::fromJson(starting));
  Json wrongType = valid;
  wrongType["showTitles"] = "yes";
  EXPECT_FALSE(RecorderWidgetSnapshot::fromJson(wrongType));
  Json badMeeting = valid;
  badMeeting["meetings"] = Json::array({Json{{"id", "x"}, {"title", "t"}, {"startedAt", 1}}});
  EXPECT_FALSE(RecorderWidgetSnapshot::fromJson(badMeeting));
}

}  // namespace
}  // namespace korvel::widgets
