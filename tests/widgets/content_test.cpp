// The content model per effective state and family, and the two views drawn from it.

#include "widgets/content.h"

#include <gtest/gtest.h>

#include "widgets/views.h"

namespace korvel::widgets {
namespace {

const Date kNow = Date::fromUnix(1772633700);  // 2026-03-04T14:15:00Z

RecorderWidgetContent content(WidgetRecorderState state, WidgetFamily family, std::vector<WidgetMeeting> meetings = {},
                              double elapsed = 3725, TitleVisibility titles = TitleVisibility::shown) {
  return {RecorderWidgetSnapshot::make(kNow.adding(-30), state, elapsed, "Sync", meetings, titles), kNow, family};
}

std::vector<WidgetMeeting> meetings(int count) {
  std::vector<WidgetMeeting> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(WidgetMeeting::make("m" + std::to_string(i), "Meeting " + std::to_string(i),
                                      kNow.adding(-86400.0 * i), 60.0 * i,
                                      i == 0 ? std::optional<std::string_view>("Transcribing") : std::nullopt));
  }
  return out;
}

std::vector<std::string> accessibilityLabels(const RecorderWidgetContent& c) {
  std::vector<std::string> labels;
  for (const auto& control : c.controls()) labels.push_back(control.accessibilityLabel);
  return labels;
}

TEST(RecorderWidgetContentTest, EachStateOffersItsOwnControls) {
  const auto idle = content(WidgetRecorderState::idle, WidgetFamily::small);
  EXPECT_EQ(idle.statusLine().text, "Ready to record");
  ASSERT_EQ(idle.controls().size(), 1u);
  EXPECT_EQ(idle.controls()[0].intent, WidgetIntent::start);
  EXPECT_EQ(idle.controls()[0].label, "Start");
  EXPECT_EQ(idle.controls()[0].symbol, "record.circle");

  const auto recording = content(WidgetRecorderState::recording, WidgetFamily::small);
  EXPECT_EQ(recording.statusLine().text, "Recording");
  EXPECT_EQ(recording.statusLine().timerSeconds, 3755);
  EXPECT_EQ(accessibilityLabels(recording), (std::vector<std::string>{"Pause recording", "Stop recording"}));

  const auto paused = content(WidgetRecorderState::paused, WidgetFamily::small);
  EXPECT_EQ(paused.statusLine().text, "Paused · 1:02:05");
  EXPECT_EQ(paused.statusLine().timerSeconds, std::nullopt);
  EXPECT_EQ(accessibilityLabels(paused), (std::vector<std::string>{"Resume recording", "Stop recording"}));
  EXPECT_EQ(paused.controls()[0].intent, WidgetIntent::resume);

  auto stale = content(WidgetRecorderState::recording, WidgetFamily::small);
  stale.date = kNow.adding(61);
  EXPECT_EQ(stale.statusLine().text, "Open Korvel to refresh");
  EXPECT_EQ(stale.statusLine().maximumLines, 2);
  ASSERT_EQ(stale.controls().size(), 1u);
  EXPECT_EQ(stale.controls()[0].intent, std::nullopt);
  EXPECT_EQ(stale.controls()[0].url, "korvel://browse");
  EXPECT_EQ(stale.controls()[0].label, "Open Korvel");
}

TEST(RecorderWidgetContentTest, MonthDays) {
  EXPECT_EQ(abbreviatedMonthDay(Date::fromUnix(1772633700)), "Mar 4");
  EXPECT_EQ(abbreviatedMonthDay(Date::fromUnix(1767225599)), "Dec 31");
}

TEST(RecorderWidgetContentTest, FamiliesLimitTheMeetingsAndSkipUnlinkableOnes) {
  EXPECT_TRUE(content(WidgetRecorderState::idle, WidgetFamily::small, meetings(8)).meetingRows().empty());
  EXPECT_EQ(content(WidgetRecorderState::idle, WidgetFamily::medium, meetings(8)).meetingRows().size(), 2u);
  EXPECT_EQ(content(WidgetRecorderState::idle, WidgetFamily::large, meetings(8)).meetingRows().size(), 5u);

  auto mixed = meetings(4);
  mixed[0].id = "bad/id";
  mixed[2].id = "..";
  const auto rows = content(WidgetRecorderState::idle, WidgetFamily::medium, mixed).meetingRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].url, "korvel://meeting/m1");
  EXPECT_EQ(rows[1].url, "korvel://meeting/m3");
}

TEST(RecorderWidgetContentTest, RowTextsAndTheProcessingLabelInLargeOnly) {
  auto list = meetings(2);
  list[1].title = "";
  const auto large = content(WidgetRecorderState::idle, WidgetFamily::large, list).meetingRows();
  EXPECT_EQ(large[0].processing, "Transcribing");
  EXPECT_EQ(large[0].dateLabel, "Mar 4");
  EXPECT_EQ(large[1].title, "Untitled meeting");
  EXPECT_EQ(large[1].duration, "1:00");
  const auto medium = content(WidgetRecorderState::idle, WidgetFamily::medium, list).meetingRows();
  EXPECT_EQ(medium[0].processing, std::nullopt);
  const auto hidden =
      content(WidgetRecorderState::idle, WidgetFamily::medium, list, 0, TitleVisibility::hidden).meetingRows();
  EXPECT_EQ(hidden[0].title, "Meeting");
}

TEST(RecorderWidgetContentTest, TextViewListsEveryVisibleText) {
  EXPECT_EQ(renderWidgetText(content(WidgetRecorderState::paused, WidgetFamily::medium, meetings(1))),
            "Korvel\nPaused · 1:02:05\n[Resume recording]\n[Stop recording]\nMeeting 0  Mar 4  0:00\n");
  EXPECT_EQ(renderWidgetText(content(WidgetRecorderState::recording, WidgetFamily::small)),
            "Korvel\nRecording 1:02:35\n[Pause recording]\n[Stop recording]\n");
  EXPECT_EQ(renderWidgetText({RecorderWidgetSnapshot::unavailable(), kNow, WidgetFamily::large}),
            "Korvel\nOpen Korvel to refresh\n[Open Korvel]\nRecent meetings\nNo recent meetings\n");
}

TEST(RecorderWidgetContentTest, HtmlViewIsSelfContainedAndEscapesTitles) {
  auto list = meetings(1);
  list[0].title = "<script>alert(1)</script> & co";
  const std::string html = renderWidgetHtml(content(WidgetRecorderState::idle, WidgetFamily::large, list));
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; co"), std::string::npos);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_NE(html.find("width:364px;height:382px"), std::string::npos);
  EXPECT_NE(html.find("data-intent=\"WidgetStartRecordingIntent\""), std::string::npos);
  for (const char* external : {"http:", "https:", "src=", "<link", "@import"}) {
    EXPECT_EQ(html.find(external), std::string::npos) << external;
  }
}

// A file the recorder wrote with titles hidden may still carry a real title (the reader trusts the
// publisher), so the page keys on showTitles, and on a live recording, not on the text.
TEST(RecorderWidgetContentTest, HtmlViewShowsTheCurrentTitleOnlyWhenPublishedAndLive) {
  const auto withTitle = [](WidgetRecorderState state, bool showTitles) {
    RecorderWidgetContent c = content(state, WidgetFamily::medium);
    c.snapshot.title = "Board <offsite>";
    c.snapshot.showTitles = showTitles;
    return renderWidgetHtml(c);
  };
  EXPECT_NE(withTitle(WidgetRecorderState::recording, true).find("Board &lt;offsite&gt;"), std::string::npos);
  EXPECT_NE(withTitle(WidgetRecorderState::paused, true).find("Board &lt;offsite&gt;"), std::string::npos);
  EXPECT_EQ(withTitle(WidgetRecorderState::recording, false).find("Board"), std::string::npos);
  EXPECT_EQ(withTitle(WidgetRecorderState::idle, true).find("Board"), std::string::npos);
  EXPECT_EQ(withTitle(WidgetRecorderState::unavailable, true).find("Board"), std::string::npos);
}

TEST(RecorderWidgetContentTest, HtmlViewLabelsIconButtonsAndBadgesLiveStates) {
  const std::string recording = renderWidgetHtml(content(WidgetRecorderState::recording, WidgetFamily::small));
  EXPECT_NE(recording.find("aria-label=\"Pause recording\">"), std::string::npos);
  EXPECT_NE(recording.find("<span>Pause</span></button>"), std::string::npos);
  EXPECT_NE(recording.find("<span>Stop</span></button>"), std::string::npos);
  EXPECT_NE(recording.find("data-badge=\"recording\""), std::string::npos);
  const std::string paused = renderWidgetHtml(content(WidgetRecorderState::paused, WidgetFamily::large));
  EXPECT_NE(paused.find("<span>Resume</span></button>"), std::string::npos);
  EXPECT_NE(paused.find("data-badge=\"paused\""), std::string::npos);
  EXPECT_NE(paused.find("prefers-color-scheme:dark"), std::string::npos);
  const std::string idle = renderWidgetHtml(content(WidgetRecorderState::idle, WidgetFamily::large));
  EXPECT_EQ(idle.find("data-badge="), std::string::npos);
}

}  // namespace
}  // namespace korvel::widgets
