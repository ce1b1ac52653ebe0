// The timeline provider: the staleness boundary entry, the reload policy and the sample entry.

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "widgets/views.h"
#include "widgets/widget.h"

namespace korvel::widgets {
namespace {

const Date kNow = Date::fromUnix(1772633700);

class RecorderWidgetProviderTest : public ::testing::Test {
 protected:
  korvel::testing::TempDir temp;
  WidgetSnapshotStorage storage = WidgetSnapshotStorage::inContainer(temp.path());
  RecorderWidgetProvider provider{storage};

  void publish(WidgetRecorderState state, Date updatedAt) {
    ASSERT_TRUE(storage.write(RecorderWidgetSnapshot::make(updatedAt, state, 10, "", {}, TitleVisibility::hidden)));
  }
};

TEST_F(RecorderWidgetProviderTest, SecondEntryIsWhereAFreshRecordingGoesStale) {
  publish(WidgetRecorderState::recording, kNow.adding(-30));
  const auto timeline = provider.timeline(kNow);
  ASSERT_EQ(timeline.entries.size(), 2u);
  EXPECT_EQ(timeline.entries[0].date, kNow);
  EXPECT_EQ(timeline.entries[1].date, kNow.adding(61));  // updatedAt + 91 s
  EXPECT_EQ(timeline.entries[1].snapshot, timeline.entries[0].snapshot);
  EXPECT_EQ(timeline.reloadAfter, kNow.adding(60));

  const RecorderWidgetContent first{timeline.entries[0].snapshot, timeline.entries[0].date, WidgetFamily::small};
  const RecorderWidgetContent second{timeline.entries[1].snapshot, timeline.entries[1].date, WidgetFamily::small};
  EXPECT_EQ(first.statusLine().text, "Recording");
  EXPECT_EQ(second.statusLine().text, "Open Korvel to refresh");
}

TEST_F(RecorderWidgetProviderTest, AStaleOrIdleSnapshotGetsItsSecondEntryOneSecondOn) {
  publish(WidgetRecorderState::paused, kNow.adding(-200));
  EXPECT_EQ(provider.timeline(kNow).entries[1].date, kNow.adding(1));
  // Either side of the edge: 90 s old is still paused now, and the boundary lies one second later.
  publish(WidgetRecorderState::paused, kNow.adding(-90));
  const auto edge = provider.timeline(kNow);
  EXPECT_EQ(edge.entries[0].snapshot.effectiveState(edge.entries[0].date), WidgetRecorderState::paused);
  EXPECT_EQ(edge.entries[1].date, kNow.adding(1));
  EXPECT_EQ(edge.entries[1].snapshot.effectiveState(edge.entries[1].date), WidgetRecorderState::unavailable);

  publish(WidgetRecorderState::idle, kNow.adding(-86400));
  const auto idle = provider.timeline(kNow);
  EXPECT_EQ(idle.entries[1].date, kNow.adding(1));
  EXPECT_EQ(idle.entries[1].snapshot.effectiveState(idle.entries[1].date), WidgetRecorderState::idle);
  EXPECT_EQ(idle.reloadAfter, kNow.adding(60));
}

TEST_F(RecorderWidgetProviderTest, NoContainerOrNoFileShowsUnavailable) {
  const RecorderWidgetProvider without(std::nullopt);
  EXPECT_EQ(without.currentEntry(kNow).snapshot, RecorderWidgetSnapshot::unavailable());
  EXPECT_EQ(provider.currentEntry(kNow).snapshot, RecorderWidgetSnapshot::unavailable());
  EXPECT_EQ(provider.timeline(kNow).entries[1].date, kNow.adding(1));
}

TEST_F(RecorderWidgetProviderTest, PreviewsAndPlaceholdersShowTheSampleEntry) {
  publish(WidgetRecorderState::recording, kNow);
  EXPECT_EQ(provider.snapshot(kNow, PreviewRequest::preview), RecorderWidgetProvider::sampleEntry(kNow));
  EXPECT_EQ(provider.placeholder(kNow), RecorderWidgetProvider::sampleEntry(kNow));
  EXPECT_EQ(provider.snapshot(kNow, PreviewRequest::live).snapshot.state, WidgetRecorderState::recording);

  const auto sample = RecorderWidgetProvider::sampleEntry(kNow);
  const RecorderWidgetContent content{sample.snapshot, sample.date, WidgetFamily::large};
  EXPECT_EQ(renderWidgetText(content),
            "Korvel\nReady to record\n[Start]\nRecent meetings\n"
            "Meeting  Mar 4 · Transcribing  15:00\nMeeting  Mar 3  15:00\nMeeting  Mar 2  15:00\n"
            "Meeting  Mar 1  15:00\nMeeting  Feb 28  15:00\n");
  EXPECT_EQ(sample.snapshot.meetings[0].id, "fixture-0");
  EXPECT_EQ(sample.snapshot.meetings[4].startedAt, kNow.adding(-4 * 86400.0));
}

TEST(KorvelRecorderWidgetTest, ConfigurationAndBundle) {
  const KorvelWidgetBundle bundle;
  ASSERT_EQ(bundle.widgets.size(), 1u);
  const auto& widget = bundle.widgets[0];
  EXPECT_EQ(widget.kind, "KorvelRecorder");
  EXPECT_EQ(widget.displayName, "Korvel Recorder");
  EXPECT_EQ(widget.description, "Recorder status and your recent meetings. Titles are hidden by default.");
  EXPECT_EQ(widget.supportedFamilies,
            (std::vector<WidgetFamily>{WidgetFamily::small, WidgetFamily::medium, WidgetFamily::large}));
}

}  // namespace
}  // namespace korvel::widgets
