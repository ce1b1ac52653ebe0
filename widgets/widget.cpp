// The timeline provider and the widget's button actions.

#include "widgets/widget.h"

#include <algorithm>
#include <fmt/format.h>

namespace korvel::widgets {

RecorderWidgetEntry RecorderWidgetProvider::currentEntry(Date now) const {
  return {now, storage_ ? storage_->read() : RecorderWidgetSnapshot::unavailable()};
}

RecorderWidgetEntry RecorderWidgetProvider::snapshot(Date now, PreviewRequest request) const {
  return request == PreviewRequest::preview ? sampleEntry(now) : currentEntry(now);
}

RecorderWidgetTimeline RecorderWidgetProvider::timeline(Date now) const {
  const RecorderWidgetEntry current = currentEntry(now);
  // One second past the staleness window, so that the second entry is already unavailable.
  const Date boundary =
      std::max(current.snapshot.updatedAt.adding(kSnapshotStalenessSeconds + 1), now.adding(1));
  RecorderWidgetTimeline timeline;
  timeline.entries = {current, RecorderWidgetEntry{boundary, current.snapshot}};
  timeline.reloadAfter = now.adding(kTimelineReloadSeconds);
  return timeline;
}

RecorderWidgetEntry RecorderWidgetProvider::sampleEntry(Date now) {
  std::vector<WidgetMeeting> meetings;
  for (int i = 0; i < 5; ++i) {
    std::optional<std::string_view> processing;
    if (i == 0) processing = "Transcribing";
    meetings.push_back(WidgetMeeting::make(fmt::format("fixture-{}", i), fmt::format("Sample meeting {}", i + 1),
                                           now.adding(-86400.0 * i), 900, processing));
  }
  return {now, RecorderWidgetSnapshot::make(now, WidgetRecorderState::idle, 0, "", meetings, TitleVisibility::hidden)};
}

const std::vector<WidgetIntentDescription>& widgetIntentDescriptions() {
  static const std::vector<WidgetIntentDescription> descriptions = {
      {WidgetIntent::start, "WidgetStartRecordingIntent", "Start Korvel Recording"},
      {WidgetIntent::pause, "WidgetPauseRecordingIntent", "Pause Korvel Recording"},
      {WidgetIntent::resume, "WidgetResumeRecordingIntent", "Resume Korvel Recording"},
      {WidgetIntent::stop, "WidgetStopRecordingIntent", "Stop Korvel Recording"},
  };
  return descriptions;
}

Status runWidgetIntent(WidgetIntent intent, const AutomationEnvironment& environment) {
  auto actions = TRY(waitForRecordingActions(environment));
  switch (intent) {
    case WidgetIntent::start: return actions->startRecording(std::nullopt, std::nullopt, std::nullopt);
    case WidgetIntent::pause: return actions->pauseRecording();
    case WidgetIntent::resume: return actions->resumeRecording();
    case WidgetIntent::stop: return actions->stopRecording();
  }
  return okStatus();
}

}  // namespace korvel::widgets
