// Recovery of a session a crash left open: keep what the capture process committed, mark the rest.

#include <algorithm>
#include <set>

#include "core/archive/archive.h"

namespace korvel {

std::vector<Segment> Archive::segmentRecords(const Dir& folder) {
  std::vector<Segment> records;
  auto entries = folder.list();
  if (!entries) return records;
  const std::string_view suffix = kSegmentRecordSuffix;
  for (const auto& entry : *entries) {
    if (entry.kind != EntryKind::file || entry.name.size() <= suffix.size() ||
        entry.name.compare(entry.name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    auto bytes = folder.readFile(entry.name, kMaximumSegmentRecordBytes);
    if (!bytes) continue;
    if (auto segment = decodeSegmentRecord(*bytes)) records.push_back(std::move(*segment));
  }
  return records;
}

namespace {

// The media rule on an opened folder: a plain name of a regular file directly inside it.
bool mediaMatches(const Dir& folder, const Segment& segment) {
  if (!isSingleComponent(segment.file) || segment.file.find('\\') != std::string::npos) return false;
  auto info = folder.info(segment.file);
  return info && info->kind == EntryKind::file && static_cast<int64_t>(info->identity.size) == segment.bytes;
}

}  // namespace

Result<Meeting> Archive::recover(const Dir& folder) const {
  Meeting meeting = TRY(readManifest(folder));
  if (!isActive(meeting.state)) return meeting;

  std::set<std::string> known;
  for (const auto& segment : meeting.segments) known.insert(segment.id);
  std::set<std::string> sources;
  for (const auto& source : meeting.sources) sources.insert(source.id);

  std::vector<Segment> recovered;
  for (auto& record : segmentRecords(folder)) {
    if (known.count(record.id) || !sources.count(record.sourceID)) continue;
    if (!mediaMatches(folder, record)) continue;
    known.insert(record.id);
    recovered.push_back(std::move(record));
  }
  std::sort(recovered.begin(), recovered.end(),
            [](const Segment& a, const Segment& b) { return a.start != b.start ? a.start < b.start : a.id < b.id; });
  meeting.segments.insert(meeting.segments.end(), recovered.begin(), recovered.end());

  meeting.state = SessionState::incomplete;
  meeting.warnings.push_back(kRecoveryWarning);
  if (auto logged = appendEvent(kRecoveredEvent, kRecoveredEventDetail, folder); !logged)
    meeting.warnings.push_back("Cannot save recovery event: " + logged.error().message);
  TRY(saveManifest(meeting, folder));
  return meeting;
}

}  // namespace korvel
