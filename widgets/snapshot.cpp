// Sanitising constructors, staleness and the status file's JSON form.

#include "widgets/snapshot.h"

#include <cmath>

#include "platform/enum_names.h"
#include "platform/meeting_identifier.h"
#include "platform/text.h"

namespace korvel::widgets {
namespace {

bool isFresh(const RecorderWidgetSnapshot& snapshot, Date date) {
  const double age = date.secondsSince(snapshot.updatedAt);
  return age >= 0 && age <= kSnapshotStalenessSeconds;
}

}  // namespace

constexpr auto kWidgetStateNames = enumNames<WidgetRecorderState>("idle", "recording", "paused", "unavailable");

const char* rawValue(WidgetRecorderState state) { return kWidgetStateNames.name(state); }

std::optional<WidgetRecorderState> widgetRecorderStateFromRaw(std::string_view raw) {
  return kWidgetStateNames.parse(raw);
}

double clampDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return 0;
  if (seconds >= kSnapshotDurationCeiling) return kSnapshotDurationCeiling;
  return seconds;
}

WidgetMeeting WidgetMeeting::make(std::string id, std::string_view title, Date startedAt, double durationSeconds,
                                  std::optional<std::string_view> processing) {
  WidgetMeeting meeting;
  meeting.id = std::move(id);
  meeting.title = graphemePrefix(title, kSnapshotTitleLimit);
  meeting.startedAt = startedAt;
  meeting.durationSeconds = clampDuration(durationSeconds);
  if (processing) meeting.processing = graphemePrefix(*processing, kSnapshotProcessingLimit);
  return meeting;
}

std::optional<std::string> WidgetMeeting::reviewURL() const {
  // Every character that passes the test is unreserved, so the path needs no percent-encoding.
  if (!isValidMeetingID(id)) return std::nullopt;
  return "korvel://meeting/" + id;
}

Json WidgetMeeting::toJson() const {
  Json json = {{"id", id}, {"title", title}, {"startedAt", startedAt.sinceReference()},
               {"durationSeconds", durationSeconds}};
  if (processing) json["processing"] = *processing;
  return json;
}

Result<WidgetMeeting> WidgetMeeting::fromJson(const Json& json) {
  JsonFields fields(json);
  WidgetMeeting meeting;
  meeting.id = fields.string("id");
  meeting.title = fields.string("title");
  meeting.startedAt = fields.referenceDate("startedAt");
  meeting.durationSeconds = fields.number("durationSeconds");
  meeting.processing = fields.optionalString("processing");
  if (!fields.ok()) return makeError(ErrorCode::Corrupt, "A recent meeting in the status file is malformed.");
  return meeting;
}

RecorderWidgetSnapshot RecorderWidgetSnapshot::make(Date updatedAt, WidgetRecorderState state, double elapsedSeconds,
                                                    std::string_view title,
                                                    const std::vector<WidgetMeeting>& meetings,
                                                    TitleVisibility titles) {
  const bool show = titles == TitleVisibility::shown;
  RecorderWidgetSnapshot snapshot;
  snapshot.version = kSnapshotFormatVersion;
  snapshot.updatedAt = updatedAt;
  snapshot.state = state;
  snapshot.elapsedSeconds = clampDuration(elapsedSeconds);
  snapshot.title = show ? graphemePrefix(title, kSnapshotTitleLimit) : std::string(kHiddenRecordingTitle);
  for (size_t i = 0; i < meetings.size() && i < kSnapshotMaximumMeetings; ++i) {
    const WidgetMeeting& given = meetings[i];
    std::optional<std::string_view> processing;
    if (given.processing) processing = *given.processing;
    snapshot.meetings.push_back(WidgetMeeting::make(given.id, show ? given.title : kHiddenMeetingTitle,
                                                    given.startedAt, given.durationSeconds, processing));
  }
  snapshot.showTitles = show;
  return snapshot;
}

RecorderWidgetSnapshot RecorderWidgetSnapshot::unavailable() {
  RecorderWidgetSnapshot snapshot;
  snapshot.version = kSnapshotFormatVersion;
  snapshot.updatedAt = Date::distantPast();
  snapshot.state = WidgetRecorderState::unavailable;
  snapshot.elapsedSeconds = 0;
  snapshot.title = kHiddenRecordingTitle;
  snapshot.showTitles = false;
  return snapshot;
}

WidgetRecorderState RecorderWidgetSnapshot::effectiveState(Date date) const {
  if (version != kSnapshotFormatVersion) return WidgetRecorderState::unavailable;
  if (state == WidgetRecorderState::idle || state == WidgetRecorderState::unavailable) return state;
  return isFresh(*this, date) ? state : WidgetRecorderState::unavailable;
}

std::optional<Date> RecorderWidgetSnapshot::timerStart(Date date) const {
  if (version != kSnapshotFormatVersion || state != WidgetRecorderState::recording || !isFresh(*this, date)) {
    return std::nullopt;
  }
  return updatedAt.adding(-elapsedSeconds);
}

Json RecorderWidgetSnapshot::toJson() const {
  Json meetingsJson = Json::array();
  for (const auto& meeting : meetings) meetingsJson.push_back(meeting.toJson());
  return {{"version", version},
          {"updatedAt", updatedAt.sinceReference()},
          {"state", rawValue(state)},
          {"elapsedSeconds", elapsedSeconds},
          {"title", title},
          {"meetings", std::move(meetingsJson)},
          {"showTitles", showTitles}};
}

Result<RecorderWidgetSnapshot> RecorderWidgetSnapshot::fromJson(const Json& json) {
  const Error malformed = makeError(ErrorCode::Corrupt, "The status file is malformed.");
  JsonFields fields(json);
  RecorderWidgetSnapshot snapshot;
  snapshot.version = fields.integer("version");
  snapshot.updatedAt = fields.referenceDate("updatedAt");
  const std::string state = fields.string("state");
  snapshot.elapsedSeconds = fields.number("elapsedSeconds");
  snapshot.title = fields.string("title");
  const Json& meetings = fields.array("meetings");
  snapshot.showTitles = fields.boolean("showTitles");
  if (!fields.ok()) return malformed;
  auto decodedState = widgetRecorderStateFromRaw(state);
  if (!decodedState) return malformed;
  snapshot.state = *decodedState;
  for (const auto& item : meetings) snapshot.meetings.push_back(TRY(WidgetMeeting::fromJson(item)));
  return snapshot;
}

}  // namespace korvel::widgets
