#pragma once
// The recorder widget as the widget host sees it: its configuration, the timeline provider with
// its two timeline rules, and the actions behind its buttons.

#include <optional>
#include <string>
#include <vector>

#include "platform/date.h"
#include "platform/result.h"
#include "widgets/automation_registry.h"
#include "widgets/content.h"
#include "widgets/snapshot.h"
#include "widgets/snapshot_storage.h"

namespace korvel::widgets {

// Static configuration: no settings the user can edit.
struct KorvelRecorderWidget {
  std::string kind = kRecorderWidgetKind;
  std::string displayName = "Korvel Recorder";
  std::string description = "Recorder status and your recent meetings. Titles are hidden by default.";
  std::vector<WidgetFamily> supportedFamilies = {WidgetFamily::small, WidgetFamily::medium, WidgetFamily::large};
};

// The extension's bundle holds exactly this one widget.
struct KorvelWidgetBundle {
  std::vector<KorvelRecorderWidget> widgets = {KorvelRecorderWidget{}};
};

struct RecorderWidgetEntry {
  Date date;
  RecorderWidgetSnapshot snapshot;
  bool operator==(const RecorderWidgetEntry&) const = default;
};

struct RecorderWidgetTimeline {
  std::vector<RecorderWidgetEntry> entries;
  Date reloadAfter;  // the host asks for a new timeline after this date
  bool operator==(const RecorderWidgetTimeline&) const = default;
};

inline constexpr double kTimelineReloadSeconds = 60;

// Whether the host asks for the widget gallery's preview or for the real thing.
enum class PreviewRequest { preview, live };

// Stateless: every answer is computed from the status file and the given "now".
class RecorderWidgetProvider {
 public:
  // Without storage (no shared container) every entry shows the unavailable snapshot.
  explicit RecorderWidgetProvider(std::optional<WidgetSnapshotStorage> storage) : storage_(std::move(storage)) {}

  RecorderWidgetEntry placeholder(Date now) const { return sampleEntry(now); }
  RecorderWidgetEntry snapshot(Date now, PreviewRequest request) const;
  // The current entry, then the same snapshot at the moment it would go stale; reload in 60 s.
  RecorderWidgetTimeline timeline(Date now) const;
  RecorderWidgetEntry currentEntry(Date now) const;

  // Idle, no title, five placeholder meetings on today and the four days before.
  static RecorderWidgetEntry sampleEntry(Date now);

 private:
  std::optional<WidgetSnapshotStorage> storage_;
};

struct WidgetIntentDescription {
  WidgetIntent intent;
  std::string typeName;  // "WidgetStartRecordingIntent"
  std::string title;     // "Start Korvel Recording"
};

const std::vector<WidgetIntentDescription>& widgetIntentDescriptions();

// Runs a button's action; unlike the automation actions, failures come back as errors.
Status runWidgetIntent(WidgetIntent intent, const AutomationEnvironment& environment);

}  // namespace korvel::widgets
