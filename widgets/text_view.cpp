// The widget as lines of text, in the order the views draw them.

#include <fmt/format.h>

#include "platform/timecode.h"
#include "widgets/views.h"

namespace korvel::widgets {

std::string meetingRowText(const WidgetMeetingRow& row) {
  std::string details = row.dateLabel;
  if (row.processing) details += " · " + *row.processing;
  return fmt::format("{}  {}  {}", row.title, details, row.duration);
}

std::string renderWidgetText(const RecorderWidgetContent& content) {
  std::string out = "Korvel\n";
  const WidgetStatusLine status = content.statusLine();
  out += status.text;
  if (status.timerSeconds) out += " " + compactTimecode(*status.timerSeconds);
  out += "\n";
  for (const auto& control : content.controls()) {
    out += fmt::format("[{}]\n", control.label.empty() ? control.accessibilityLabel : control.label);
  }
  if (!content.showsMeetings()) return out;
  if (content.family == WidgetFamily::large) out += std::string(kRecentMeetingsHeading) + "\n";
  const auto rows = content.meetingRows();
  if (rows.empty()) out += std::string(kNoRecentMeetings) + "\n";
  for (const auto& row : rows) out += meetingRowText(row) + "\n";
  return out;
}

}  // namespace korvel::widgets
