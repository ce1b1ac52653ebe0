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

// A glance must tell recording from paused without relying on colour, so each carries its own
// drawing beside its word.
std::string stateBadge(WidgetRecorderState state) {
  if (state == WidgetRecorderState::recording) {
    return R"(<svg class="badge" data-badge="recording" viewBox="0 0 16 16" aria-hidden="true">)"
           R"(<circle cx="8" cy="8" r="5.5" fill="currentColor"/></svg>)";
  }
  if (state == WidgetRecorderState::paused) {
    return R"(<svg class="badge" data-badge="paused" viewBox="0 0 16 16" aria-hidden="true">)"
           R"(<rect x="3" y="2.5" width="3.5" height="11" rx="1" fill="currentColor"/>)"
           R"(<rect x="9.5" y="2.5" width="3.5" height="11" rx="1" fill="currentColor"/></svg>)";
  }
  return "";
}

// Where the family stacks its status, the running time gets a line of its own in large digits,
// and the paused line's separator shows only where the word and the time share a line.
std::string statusLine(const RecorderWidgetContent& content, const WidgetStatusLine& status) {
  const bool stacked = content.family != WidgetFamily::large;
  std::string word = status.text;
  std::string time;
  if (status.timerSeconds) {
    time = fmt::format(R"(<span class="time" data-timer="{}">{}</span>)", *status.timerSeconds,
                       compactTimecode(*status.timerSeconds));
  } else if (const size_t dot = status.text.find(" · "); content.state() == WidgetRecorderState::paused &&
                                                         dot != std::string::npos) {
    word = status.text.substr(0, dot);
    time = fmt::format(R"(<span class="sep" aria-hidden="true"> · </span><span class="time">{}</span>)",
                       escape(status.text.substr(dot + std::string_view(" · ").size())));
  }
  return fmt::format(
      R"(<div class="status {} state-{} lines-{}" data-role="status">)"
      R"(<span class="word">{}<span>{}</span></span>{}</div>)",
      stacked && !time.empty() ? "stacked" : "inline", rawValue(content.state()), status.maximumLines,
      stateBadge(content.state()), escape(word), time.empty() ? "" : " " + time);
}

// The current recording's title, only when the recorder published real titles: with titles
// hidden the snapshot holds a placeholder, and an idle or stale snapshot has no current recording.
std::string currentTitle(const RecorderWidgetContent& content) {
  const WidgetRecorderState state = content.state();
  const bool live = state == WidgetRecorderState::recording || state == WidgetRecorderState::paused;
  if (!live || !content.snapshot.showTitles || content.snapshot.title.empty()) return "";
  return fmt::format(R"(<div class="current-title" data-role="title" title="{0}">{0}</div>)",
                     escape(content.snapshot.title));
}

// Icon-only buttons are hard to aim at and to read, so every button shows a short word.
std::string visibleLabel(const WidgetControl& control) {
  if (!control.label.empty()) return control.label;
  if (!control.intent) return control.accessibilityLabel;
  switch (*control.intent) {
    case WidgetIntent::start: return "Start";
    case WidgetIntent::pause: return "Pause";
    case WidgetIntent::resume: return "Resume";
    case WidgetIntent::stop: return "Stop";
  }
  return control.accessibilityLabel;
}

std::string controls(const std::vector<WidgetControl>& items) {
  std::string out = R"(<div class="controls">)";
  for (const auto& control : items) {
    const std::string label = "<span>" + escape(visibleLabel(control)) + "</span>";
    if (control.intent) {
      out += fmt::format(R"(<button type="button" class="control" data-role="control" data-intent="{}" )"
                         R"(aria-label="{}">{}{}</button>)",
                         intentTypeName(*control.intent), escape(control.accessibilityLabel),
                         symbol(control.symbol), label);
    } else {
      out += fmt::format(R"(<a class="control" data-role="control" href="{}" aria-label="{}">{}{}</a>)",
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

// Colours come in a light and a dark set that follow the desktop's appearance; recording red and
// paused amber are picked per set to stay readable on its background.
constexpr const char* kStyle = R"(
:root{color-scheme:light dark;--page:#d9dde3;--surface:#f5f5f7;--text:#1d1d1f;--secondary:#6e6e73;--fill:rgba(0,0,0,.08);--fill-hover:rgba(0,0,0,.14);--line:rgba(0,0,0,.14);--recording:#d70015;--paused:#a15c00;--shadow:0 1px 4px rgba(0,0,0,.2)}
@media (prefers-color-scheme:dark){:root{--page:#0f1012;--surface:#2c2c2e;--text:#f5f5f7;--secondary:#a1a1a6;--fill:rgba(255,255,255,.14);--fill-hover:rgba(255,255,255,.22);--line:rgba(255,255,255,.16);--recording:#ff6961;--paused:#ffb340;--shadow:0 1px 4px rgba(0,0,0,.6)}}
*{box-sizing:border-box;margin:0}
body{background:var(--page);font-family:system-ui,-apple-system,"Helvetica Neue",Arial,sans-serif;color:var(--text);padding:24px}
.widget{position:relative;overflow:hidden;border-radius:22px;padding:16px;background:var(--surface);color:var(--text);display:flex;gap:8px;box-shadow:var(--shadow)}
.widget.small,.widget.large{flex-direction:column}
.backdrop{position:absolute;inset:0;z-index:0}
.column,.header,.status,.current-title,.controls,.divider,.heading,.rows,.empty,.top{position:relative;z-index:1}
.column{display:flex;flex-direction:column;gap:2px;width:150px;flex:none}
.small{gap:4px}
.header{height:24px;flex:none;display:flex;align-items:center;justify-content:space-between;font-size:17px;font-weight:600}
.brand{display:flex;align-items:center;gap:4px}
.brand .symbol{width:17px;height:17px}
.open{width:24px;height:24px;display:flex;align-items:center;justify-content:center;color:var(--secondary)}
.open .symbol{width:16px;height:16px}
.status{font-size:15px;line-height:20px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;font-variant-numeric:tabular-nums;flex:none}
.status.inline{height:20px;display:flex;align-items:center;gap:0 5px}
.status.inline .word{flex:none}
.status.inline .time{min-width:0;overflow:hidden;text-overflow:ellipsis}
.large .status.inline{font-size:19px;line-height:28px;height:28px}
.status.lines-2{font-size:12px;line-height:16px;white-space:normal;height:32px}
.large .status.lines-2,.small .status.lines-2{font-size:14px;line-height:18px;height:36px}
.small .status.inline.lines-1{font-size:17px;line-height:22px;height:22px}
.status.stacked{display:flex;flex-direction:column;height:52px}
.status.stacked .word{height:20px;line-height:20px}
.status.stacked .sep{display:none}
.status.stacked .time{font-size:28px;line-height:32px;height:32px;font-weight:600;letter-spacing:-.5px}
.word{display:inline-flex;align-items:center;gap:5px;max-width:100%;overflow:hidden}
.badge{width:14px;height:14px;flex:none}
.large .badge{width:17px;height:17px}
.state-idle,.state-unavailable{color:var(--secondary)}
.state-recording .word{color:var(--recording);font-weight:600}
.state-paused .word,.state-paused .sep{color:var(--paused);font-weight:600}
.time{font-variant-numeric:tabular-nums}
.current-title{height:18px;flex:none;font-size:13px;line-height:18px;font-weight:500;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.top{display:flex;align-items:center;justify-content:space-between;gap:8px;min-width:0}
.top .current-title{flex:1;min-width:0}
.large{gap:6px}
.controls{height:28px;flex:none;display:flex;gap:6px}
.small .controls,.column .controls{margin-top:auto}
.control{height:28px;min-width:28px;padding:0 10px;border-radius:14px;border:none;background:var(--fill);color:var(--text);font:600 13px/28px system-ui,-apple-system,"Helvetica Neue",Arial,sans-serif;display:inline-flex;align-items:center;justify-content:center;gap:5px;text-decoration:none;white-space:nowrap;cursor:pointer}
.control:hover{background:var(--fill-hover)}
.control:focus-visible{outline:2px solid var(--text);outline-offset:1px}
.control .symbol{width:12px;height:12px;flex:none}
.control[data-intent=WidgetStopRecordingIntent] .symbol{color:var(--recording)}
.small .control{flex:1 1 auto;padding:0 6px;font-size:12px;gap:4px}
.column .control{padding:0 9px}
.divider{flex:none;background:var(--line)}
.small .divider,.large .divider{height:1px}
.medium .divider{width:1px}
.heading{height:16px;flex:none;font-size:12px;line-height:16px;font-weight:600;color:var(--secondary)}
.rows{display:flex;flex-direction:column;gap:6px;min-width:0;flex:1}
.medium .rows{gap:10px}
.row{display:flex;flex-direction:column;gap:2px;color:inherit;text-decoration:none;min-width:0;border-radius:6px}
.row:hover .row-title{text-decoration:underline}
.row-title{height:20px;font-size:15px;line-height:20px;font-weight:500;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
/* Two meetings leave room for their whole titles over two lines. */
.medium .row-title{height:auto;max-height:40px;white-space:normal;display:-webkit-box;-webkit-box-orient:vertical;-webkit-line-clamp:2;overflow-wrap:anywhere}
.row-details{height:16px;display:flex;gap:4px;font-size:11px;line-height:16px;color:var(--secondary);white-space:nowrap;overflow:hidden}
.medium .row-details{font-size:12px}
.duration{margin-left:auto;font-size:12px;font-variant-numeric:tabular-nums}
.empty{font-size:12px;line-height:16px;color:var(--secondary)}
.medium .empty{flex:1}
)";

// Lets a one-line status shrink to 85 % before it truncates, and counts the timer up from the
// value it was rendered with, as the platform's timer style does.
constexpr const char* kPageScript = R"(
(function(){var s=document.querySelector('.status.inline.lines-1');if(!s)return;
var base=parseFloat(getComputedStyle(s).fontSize);
for(var f=95;f>=85&&s.scrollWidth>s.clientWidth;f-=5)s.style.fontSize=(base*f/100)+'px'})();
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
  const std::string status = statusLine(content, content.statusLine());
  const std::string buttons = controls(content.controls());
  const std::string top = header() + status + currentTitle(content) + buttons;
  std::string body;
  switch (content.family) {
    case WidgetFamily::small: body = top; break;
    case WidgetFamily::medium:
      body = R"(<div class="column">)" + top + R"(</div><div class="divider"></div>)" + meetings(content);
      break;
    case WidgetFamily::large:
      // The large family's height goes to meetings, so the buttons share the title's row.
      body = header() + status + R"(<div class="top">)" + currentTitle(content) + buttons + "</div>" +
             R"(<div class="divider"></div>)" + meetings(content);
      break;
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
