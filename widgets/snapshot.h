#pragma once
// The recorder status shared with the widget: its records, their sanitising constructors and the
// staleness rule that turns a recording nobody refreshed into "unavailable".

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel::widgets {

enum class WidgetRecorderState { idle, recording, paused, unavailable };

const char* rawValue(WidgetRecorderState state);
std::optional<WidgetRecorderState> widgetRecorderStateFromRaw(std::string_view raw);

inline constexpr const char* kRecorderWidgetKind = "KorvelRecorder";
inline constexpr const char* kRecorderStatusFileName = "recorder-status.json";
inline constexpr int kSnapshotFormatVersion = 1;
inline constexpr double kSnapshotStalenessSeconds = 90;
inline constexpr size_t kSnapshotMaximumMeetings = 8;
inline constexpr size_t kSnapshotTitleLimit = 160;
inline constexpr size_t kSnapshotProcessingLimit = 80;
inline constexpr double kSnapshotDurationCeiling = 604800;
// What a snapshot published with titles hidden says instead of the real titles.
inline constexpr const char* kHiddenRecordingTitle = "Recording";
inline constexpr const char* kHiddenMeetingTitle = "Meeting";

// Non-finite and negative values become 0; anything from the ceiling on becomes the ceiling.
double clampDuration(double seconds);

struct WidgetMeeting {
  std::string id;
  std::string title;
  Date startedAt;
  double durationSeconds = 0;
  std::optional<std::string> processing;

  // Sanitising constructor: cuts the title and label, clamps the duration; the id stays as given.
  static WidgetMeeting make(std::string id, std::string_view title, Date startedAt, double durationSeconds,
                            std::optional<std::string_view> processing);

  // The recorder's link to this meeting, only for identifiers safe to put in a link.
  std::optional<std::string> reviewURL() const;

  Json toJson() const;
  static Result<WidgetMeeting> fromJson(const Json& json);
  bool operator==(const WidgetMeeting&) const = default;
};

// Whether the publisher let real titles into the file.
enum class TitleVisibility { hidden, shown };

struct RecorderWidgetSnapshot {
  int64_t version = kSnapshotFormatVersion;
  Date updatedAt;
  WidgetRecorderState state = WidgetRecorderState::unavailable;
  double elapsedSeconds = 0;
  std::string title;
  std::vector<WidgetMeeting> meetings;
  bool showTitles = false;

  // Sanitising constructor; with titles hidden every title becomes its placeholder.
  static RecorderWidgetSnapshot make(Date updatedAt, WidgetRecorderState state, double elapsedSeconds,
                                     std::string_view title, const std::vector<WidgetMeeting>& meetings,
                                     TitleVisibility titles);
  // Nothing trustworthy to show.
  static RecorderWidgetSnapshot unavailable();

  // The state to display at `date`: a recording or paused snapshot older than 90 seconds (or dated
  // in the future) is unavailable; idle never goes stale.
  WidgetRecorderState effectiveState(Date date) const;
  // When a live timer started, for a fresh recording snapshot only.
  std::optional<Date> timerStart(Date date) const;

  // The file's encoding: reference-date seconds, "processing" only when present.
  Json toJson() const;
  static Result<RecorderWidgetSnapshot> fromJson(const Json& json);
  bool operator==(const RecorderWidgetSnapshot&) const = default;
};

}  // namespace korvel::widgets
