// The widget as one self-contained HTML page: inline CSS, inline SVG symbols, no outside resources.

#include <fmt/format.h>

#include "platform/enum_names.h"
#include "platform/timecode.h"
#include "widgets/views.h"

namespace korvel::widgets {
namespace {

std::string escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// Small drawings standing in for the platform's symbols, named after them.
std::string symbol(std::string_view name) {
  std::string shape;
  if (name == "record.circle") {
    shape = R"(<circle cx="8" cy="8" r="6.5" fill="none" stroke="currentColor" stroke-width="1.5"/><circle cx="8" cy="8" r="3.5" fill="currentColor"/>)";
  } else if (name == "pause.fill") {
    shape = R"(<rect x="3.5" y="2.5" width="3" height="11" rx="1" fill="currentColor"/><rect x="9.5" y="2.5" width="3" height="11" rx="1" fill="currentColor"/>)";
  } else if (name == "stop.fill") {
    shape = R"(<rect x="3" y="3" width="10" height="10" rx="2" fill="currentColor"/>)";
  } else if (name == "play.fill") {
    shape = R"(<path d="M4 2.5v11l9.5-5.5z" fill="currentColor"/>)";
  } else {  // arrow.up.forward.app
    shape = R"(<rect x="1.5" y="1.5" width="13" height="13" rx="3" fill="none" stroke="currentColor" stroke-width="1.5"/><path d="M6 10l4.5-4.5M7 5.5h3.5V9" fill="none" stroke="currentColor" stroke-width="1.5"/>)";
  }
  return fmt::format(R"(<svg class="symbol" data-symbol="{}" viewBox="0 0 16 16" aria-hidden="true">{}</svg>)", name,
                     shape);
}

constexpr auto kIntentTypeNames = enumNames<WidgetIntent>("WidgetStartRecordingIntent", "WidgetPauseRecordingIntent",
                                                          "WidgetResumeRecordingIntent", "WidgetStopRecordingIntent");

std::string intentTypeName(WidgetIntent intent) { return kIntentTypeNames.name(intent); }

std::string header() {
  return fmt::format(
      R"(<div class="header"><span class="brand">{}<span>Korvel</span></span>)"
      R"(<a class="open" href="{}" aria-label="Open Korvel">{}</a></div>)",
      symbol("record.circle"), kBrowseURL, symbol("arrow.up.forward.app"));
}

std::string statusLine(const WidgetStatusLine& status) {
  static const char* tones[] = {"secondary", "recording", "primary"};
  std::string timer;
  if (status.timerSeconds) {
    timer = fmt::format(R"( <span class="timer" data-timer="{}">{}</span>)", *status.timerSeconds,
                        compactTimecode(*status.timerSeconds));
  }
  return fmt::format(R"(<div class="status tone-{} lines-{}" data-role="status"><span>{}</span>{}</div>)",
                     tones[static_cast<int>(status.tone)], status.maximumLines, escape(status.text), timer);
}

std::string controls(const std::vector<WidgetControl>& items) {
  std::string out = R"(<div class="controls">)";
  for (const auto& control : items) {
    const std::string label = control.label.empty() ? "" : "<span>" + escape(control.label) + "</span>";
    const char* shape = control.label.empty() ? "icon" : "labelled";
    if (control.intent) {
      out += fmt::format(R"(<button type="button" class="control {}" data-role="control" data-intent="{}" )"
                         R"(aria-label="{}">{}{}</button>)",
                         shape, intentTypeName(*control.intent), escape(control.accessibilityLabel),
                         symbol(control.symbol), label);
    } else {
      out += fmt::format(R"(<a class="control {}" data-role="control" href="{}" aria-label="{}">{}{}</a>)", shape,
                         escape(control.url.value_or(kBrowseURL)), escape(control.accessibilityLabel),
                         symbol(control.symbol), label);
    }
  }
  return out + "</div>";
}

std::string meetings(const RecorderWidgetContent& content) {
  std::string out;
  if (content.family == WidgetFamily::large) {
    out += fmt::format(R"(<div class="heading">{}</div>)", kRecentMeetingsHeading);
  }
  const auto rows = content.meetingRows();
  if (rows.empty()) return out + fmt::format(R"(<div class="empty" data-role="empty">{}</div>)", kNoRecentMeetings);
  out += R"(<div class="rows">)";
  for (const auto& row : rows) {
    std::string label;
    if (row.processing) {
      label = fmt::format(R"(<span aria-hidden="true">·</span><span class="label">{}</span>)", escape(*row.processing));
    }
    out += fmt::format(
        R"(<a class="row" data-role="row" href="{}"><span class="row-title">{}</span>)"
        R"(<span class="row-details"><span class="date">{}</span>{}<span class="duration">{}</span></span></a>)",
        escape(row.url), escape(row.title), escape(row.dateLabel), label, escape(row.duration));
  }
  return out + "</div>";
}

constexpr const char* kStyle = R"(
*{box-sizing:border-box;margin:0}
body{background:#d9dde3;font-family:system-ui,-apple-system,"Helvetica Neue",Arial,sans-serif;color:#1d1d1f;padding:24px}
.widget{position:relative;overflow:hidden;border-radius:22px;padding:16px;background:#f5f5f7;display:flex;gap:8px;box-shadow:0 1px 4px rgba(0,0,0,.2)}
.widget.small,.widget.large{flex-direction:column}
.backdrop{position:absolute;inset:0;z-index:0}
.column,.header,.status,.controls,.divider,.heading,.rows,.empty{position:relative;z-index:1}
.column{display:flex;flex-direction:column;gap:2px;width:150px;flex:none}
.header{height:24px;display:flex;align-items:center;justify-content:space-between;font-size:17px;font-weight:600}
.brand{display:flex;align-items:center;gap:4px}
.brand .symbol{width:17px;height:17px}
.open{width:24px;height:24px;display:flex;align-items:center;justify-content:center;color:#86868b}
.open .symbol{width:16px;height:16px}
.status{font-size:15px;line-height:20px;height:20px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;font-variant-numeric:tabular-nums}
.status.lines-2{font-size:12px;white-space:normal;height:40px}
.tone-secondary{color:#86868b}.tone-recording>span:first-child{color:#e0282e}
.controls{height:22px;display:flex;gap:6px}
.control{height:22px;min-width:14px;min-height:16px;padding:0 9px;border-radius:11px;border:none;background:rgba(0,0,0,.08);color:#1d1d1f;font:600 12px/22px system-ui,sans-serif;display:inline-flex;align-items:center;justify-content:center;gap:4px;text-decoration:none;white-space:nowrap;cursor:pointer}
.control .symbol{width:12px;height:12px}
.small .control{flex:1}
.divider{flex:none;background:rgba(0,0,0,.15)}
.small .divider,.large .divider{height:1px}
.medium .divider{width:1px}
.heading{height:16px;font-size:12px;line-height:16px;font-weight:600;color:#86868b}
.rows{display:flex;flex-direction:column;gap:6px;min-width:0;flex:1}
.row{display:flex;flex-direction:column;gap:2px;color:inherit;text-decoration:none;min-width:0}
.row-title{height:20px;font-size:15px;line-height:20px;font-weight:500;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.row-details{height:16px;display:flex;gap:4px;font-size:11px;line-height:16px;color:#86868b;white-space:nowrap;overflow:hidden}
.duration{margin-left:auto;font-size:12px;font-variant-numeric:tabular-nums}
.empty{font-size:12px;line-height:16px;color:#86868b}
.medium .empty{flex:1}
)";

// Lets a one-line status shrink to 85 % before it truncates, and counts the timer up from the
// value it was rendered with, as the platform's timer style does.
constexpr const char* kPageScript = R"(
(function(){var s=document.querySelector('.status.lines-1');if(!s)return;
for(var f=95;f>=85&&s.scrollWidth>s.clientWidth;f-=5)s.style.fontSize=(15*f/100)+'px'})();
(function(){var t=document.querySelector('[data-timer]');if(!t)return;var base=parseFloat(t.dataset.timer),start=Date.now();
function pad(n){return n<10?'0'+n:''+n}
function show(){var s=Math.floor(base+(Date.now()-start)/1000),h=Math.floor(s/3600),m=Math.floor(s/60)%60;
t.textContent=h>0?h+':'+pad(m)+':'+pad(s%60):m+':'+pad(s%60)}setInterval(show,1000)})();
)";

}  // namespace

std::string renderWidgetHtml(const RecorderWidgetContent& content) {
  const WidgetSize size = widgetSize(content.family);
  const std::string family = rawValue(content.family);
  const std::string state = rawValue(content.state());
  const std::string top = header() + statusLine(content.statusLine()) + controls(content.controls());
  std::string body;
  switch (content.family) {
    case WidgetFamily::small: body = top; break;
    case WidgetFamily::medium:
      body = R"(<div class="column">)" + top + R"(</div><div class="divider"></div>)" + meetings(content);
      break;
    case WidgetFamily::large: body = top + R"(<div class="divider"></div>)" + meetings(content); break;
  }
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Korvel Recorder ({family}, {state})</title><style>{style}</style></head><body>\n"
      "<div class=\"widget {family}\" id=\"widget\" data-kind=\"{kind}\" data-family=\"{family}\" data-state=\"{state}\" "
      "style=\"width:{width}px;height:{height}px\">"
      "<a class=\"backdrop\" href=\"{browse}\" aria-label=\"Open Korvel\"></a>{body}</div>\n"
      "<script>{script}</script></body></html>\n",
      fmt::arg("family", family), fmt::arg("state", state), fmt::arg("style", kStyle),
      fmt::arg("kind", kRecorderWidgetKind), fmt::arg("width", size.width), fmt::arg("height", size.height),
      fmt::arg("browse", kBrowseURL), fmt::arg("body", body), fmt::arg("script", kPageScript));
}

}  // namespace korvel::widgets
