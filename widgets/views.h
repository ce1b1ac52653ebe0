#pragma once
// Our own drawing of the content model: plain text for a terminal, and a self-contained HTML
// page (inline CSS and symbols, no outside resources) sized to the family's box.

#include <string>

#include "widgets/content.h"

namespace korvel::widgets {

// Every visible text, one per line: header, status line, controls (icon-only buttons by their
// accessibility label, in brackets), then the recent meetings.
std::string renderWidgetText(const RecorderWidgetContent& content);

// One HTML page holding the widget at its family's size in CSS pixels (one per point).
std::string renderWidgetHtml(const RecorderWidgetContent& content);

// "Meeting  Mar 4 · Transcribing  15:00": the text form of one row.
std::string meetingRowText(const WidgetMeetingRow& row);

}  // namespace korvel::widgets
