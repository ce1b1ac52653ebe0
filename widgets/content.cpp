// What each state shows: status texts, buttons, recent meetings, and the large family's fit.

#include "widgets/content.h"

#include <cmath>

#include <fmt/format.h>

#include "platform/enum_names.h"
#include "platform/timecode.h"

namespace korvel::widgets {
namespace {

constexpr auto kFamilyNames = enumNames<WidgetFamily>("small", "medium", "large");

WidgetControl button(WidgetIntent intent, std::string label, std::string symbol, std::string accessibility) {
  return WidgetControl{intent, std::nullopt, std::move(label), std::move(symbol), std::move(accessibility)};
}

WidgetControl stopButton() { return button(WidgetIntent::stop, "", "stop.fill", "Stop recording"); }

double largeLayoutHeight(const WidgetStatusLine& status, size_t rows) {
  using M = WidgetMetrics;
  const double statusHeight = M::statusHeight * status.maximumLines;
  const double row = M::rowTitleHeight + M::rowInnerSpacing + M::rowDetailHeight;
  const double list = rows * row + (rows > 0 ? (rows - 1) * M::rowSpacing : 0);
  return 2 * M::padding + M::headerHeight + statusHeight + M::controlHeight + M::dividerHeight + M::headingHeight +
         list + 5 * M::outerSpacing;
}

}  // namespace

const char* rawValue(WidgetFamily family) { return kFamilyNames.name(family); }

std::optional<WidgetFamily> widgetFamilyFromRaw(std::string_view raw) {
  return kFamilyNames.parse(raw);
}

WidgetSize widgetSize(WidgetFamily family) {
  switch (family) {
    case WidgetFamily::small: return {170, 170};
    case WidgetFamily::medium: return {364, 170};
    case WidgetFamily::large: return {364, 382};
  }
  return {170, 170};
}

std::string abbreviatedMonthDay(Date date) {
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The ISO form already does the calendar arithmetic: YYYY-MM-DD…
  const std::string iso = formatIso8601(date);
  const size_t dash = iso.find('-', 1);
  const int month = std::stoi(iso.substr(dash + 1, 2));
  const int day = std::stoi(iso.substr(dash + 4, 2));
  return fmt::format("{} {}", months[month - 1], day);
}

WidgetStatusLine RecorderWidgetContent::statusLine() const {
  WidgetStatusLine line;
  switch (state()) {
    case WidgetRecorderState::idle:
      line.text = "Ready to record";
      line.tone = StatusTone::secondary;
      break;
    case WidgetRecorderState::recording:
      line.text = "Recording";
      line.tone = StatusTone::recording;
      line.timerStart = snapshot.timerStart(date);
      if (line.timerStart) line.timerSeconds = date.secondsSince(*line.timerStart);
      break;
    case WidgetRecorderState::paused:
      line.text = "Paused · " + compactTimecode(snapshot.elapsedSeconds);
      break;
    case WidgetRecorderState::unavailable:
      line.text = "Open Korvel to refresh";
      line.tone = StatusTone::secondary;
      line.maximumLines = 2;
      break;
  }
  return line;
}

std::vector<WidgetControl> RecorderWidgetContent::controls() const {
  switch (state()) {
    case WidgetRecorderState::idle: return {button(WidgetIntent::start, "Start", "record.circle", "Start recording")};
    case WidgetRecorderState::recording:
      return {button(WidgetIntent::pause, "", "pause.fill", "Pause recording"), stopButton()};
    case WidgetRecorderState::paused:
      return {button(WidgetIntent::resume, "", "play.fill", "Resume recording"), stopButton()};
    case WidgetRecorderState::unavailable:
      return {WidgetControl{std::nullopt, kBrowseURL, "Open Korvel", "arrow.up.forward.app", "Open Korvel"}};
  }
  return {};
}

size_t largeMeetingLimit(const WidgetStatusLine& status) {
  const double available = widgetSize(WidgetFamily::large).height;
  for (size_t n = 5; n >= 1; --n) {
    if (largeLayoutHeight(status, n) <= available) return n;
  }
  return 0;
}

std::vector<WidgetMeetingRow> RecorderWidgetContent::meetingRows() const {
  size_t limit = 0;
  if (family == WidgetFamily::medium) limit = 2;
  if (family == WidgetFamily::large) limit = largeMeetingLimit(statusLine());
  std::vector<WidgetMeetingRow> rows;
  for (const auto& meeting : snapshot.meetings) {
    if (rows.size() >= limit) break;
    auto url = meeting.reviewURL();
    if (!url) continue;
    WidgetMeetingRow row;
    row.title = meeting.title.empty() ? "Untitled meeting" : meeting.title;
    row.dateLabel = abbreviatedMonthDay(meeting.startedAt);
    if (family == WidgetFamily::large) row.processing = meeting.processing;
    row.duration = compactTimecode(meeting.durationSeconds);
    row.url = *url;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace korvel::widgets
