#pragma once
// The widget's content model: what each effective state shows in each family (status line,
// controls, recent meetings), independent of how it is drawn.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date.h"
#include "widgets/snapshot.h"

namespace korvel::widgets {

enum class WidgetFamily { small, medium, large };

const char* rawValue(WidgetFamily family);
std::optional<WidgetFamily> widgetFamilyFromRaw(std::string_view raw);

// The family's size in points, the box every view must fit in.
struct WidgetSize {
  double width = 0;
  double height = 0;
};
WidgetSize widgetSize(WidgetFamily family);

// The actions behind the widget's buttons.
enum class WidgetIntent { start, pause, resume, stop };

inline constexpr const char* kBrowseURL = "korvel://browse";

enum class StatusTone { secondary, recording, primary };

struct WidgetStatusLine {
  std::string text;                    // "Ready to record", "Recording", "Paused · 1:02:05", …
  std::optional<double> timerSeconds;  // a running timer's value at the content's date
  std::optional<Date> timerStart;
  StatusTone tone = StatusTone::primary;
  int maximumLines = 1;
  bool operator==(const WidgetStatusLine&) const = default;
};

// A button running a widget action, or (for unavailable) the link that opens the recorder.
struct WidgetControl {
  std::optional<WidgetIntent> intent;
  std::optional<std::string> url;
  std::string label;  // visible text; empty for an icon-only button
  std::string symbol;
  std::string accessibilityLabel;
  bool operator==(const WidgetControl&) const = default;
};

struct WidgetMeetingRow {
  std::string title;                      // "Untitled meeting" for an empty title
  std::string dateLabel;                  // "Mar 4"
  std::optional<std::string> processing;  // large family only
  std::string duration;                   // "15:00"
  std::string url;
  bool operator==(const WidgetMeetingRow&) const = default;
};

struct RecorderWidgetContent {
  RecorderWidgetSnapshot snapshot;
  Date date;
  WidgetFamily family = WidgetFamily::small;

  // Everything below keys on this, never on the snapshot's raw state.
  WidgetRecorderState state() const { return snapshot.effectiveState(date); }
  WidgetStatusLine statusLine() const;
  std::vector<WidgetControl> controls() const;
  bool showsMeetings() const { return family != WidgetFamily::small; }
  // The rows the family has room for; only meetings with a review link count.
  std::vector<WidgetMeetingRow> meetingRows() const;
};

inline constexpr const char* kNoRecentMeetings = "No recent meetings";
inline constexpr const char* kRecentMeetingsHeading = "Recent meetings";

// "Mar 4", in UTC.
std::string abbreviatedMonthDay(Date date);

// Heights in points shared by the layout fit and the HTML view, so both agree on what fits.
struct WidgetMetrics {
  static constexpr double padding = 16;
  static constexpr double outerSpacing = 8;
  static constexpr double rowSpacing = 6;
  static constexpr double detailSpacing = 4;
  static constexpr double rowInnerSpacing = 2;
  static constexpr double headerHeight = 24;
  static constexpr double statusHeight = 20;
  static constexpr double controlHeight = 22;
  static constexpr double dividerHeight = 1;
  static constexpr double headingHeight = 16;
  static constexpr double rowTitleHeight = 20;
  static constexpr double rowDetailHeight = 16;
};

// The large family's meeting limit: the first of 5, 4, 3, 2, 1 whose layout fits its height.
size_t largeMeetingLimit(const WidgetStatusLine& status);

}  // namespace korvel::widgets
