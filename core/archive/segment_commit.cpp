// Committing one media segment of a recording: media, then its ".segment" record, then the manifest.

#include <algorithm>

#include "core/archive/archive.h"
#include "platform/crypto.h"

namespace korvel {
namespace {

constexpr const char* kNotRecording = "Segments can be committed only while the meeting is recording or paused.";
constexpr const char* kUnknownSource = "The segment's track is not a source of this meeting.";
constexpr const char* kBadName = "A segment's identifier and media name must be plain file names inside the meeting folder.";
constexpr const char* kAlreadyCommitted = "A segment with this identifier is already committed.";
constexpr const char* kMediaExists = "The segment's media file already exists.";
constexpr const char* kNotListed =
    "The segment is committed, but the manifest could not list it; recovering the meeting will add it.";

Error refuse(const char* message) { return makeError(ErrorCode::InvalidInput, message); }

bool isPlainName(const std::string& name) {
  return isSingleComponent(name) && name.find('\\') == std::string::npos;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool lists(const Meeting& meeting, const std::string& segmentID) {
  return std::any_of(meeting.segments.begin(), meeting.segments.end(),
                     [&](const Segment& listed) { return listed.id == segmentID; });
}

// Everything the commit relies on, checked before the first write so that a refusal writes nothing.
Status checkCommit(const Dir& folder, const Meeting& meeting, const Segment& segment) {
  if (!isActive(meeting.state)) return refuse(kNotRecording);
  const bool known = std::any_of(meeting.sources.begin(), meeting.sources.end(),
                                 [&](const Source& source) { return source.id == segment.sourceID; });
  if (!known) return refuse(kUnknownSource);
  // The media must not take the name of a record, the manifest or the log.
  if (!isPlainName(segment.id) || !isPlainName(segment.file) || endsWith(segment.file, kSegmentRecordSuffix) ||
      segment.file == kManifestFileName || segment.file == kEventLogFileName) {
    return refuse(kBadName);
  }
  if (lists(meeting, segment.id) || folder.exists(segment.id + kSegmentRecordSuffix)) return refuse(kAlreadyCommitted);
  if (folder.exists(segment.file)) return refuse(kMediaExists);
  // The record must read back as what recovery accepts.
  TRY(decodeSegmentRecord(encodeSegmentRecord(segment)));
  return okStatus();
}

}  // namespace

Result<Segment> Archive::commitSegment(const Dir& folder, Segment segment, std::string_view media,
                                       const SegmentCommitProbe& probe) {
  segment.bytes = static_cast<int64_t>(media.size());
  segment.sha256 = sha256Hex(media);
  TRY(checkCommit(folder, TRY(readManifest(folder)), segment));

  TRY(folder.writeAtomic(segment.file, media, 0644, Replace::refuseExisting));
  if (probe) probe(SegmentCommitStep::mediaWritten);
  const std::string recordName = segment.id + kSegmentRecordSuffix;
  if (auto recorded = folder.writeAtomic(recordName, encodeSegmentRecord(segment), 0644, Replace::refuseExisting);
      !recorded) {
    // The media is this call's own (it refused to replace anything); without its record it
    // would only be an unfinished file.
    (void)folder.removeFile(segment.file);
    return std::move(recorded).error();
  }
  if (probe) probe(SegmentCommitStep::recordWritten);

  // The record is the commit; the manifest is read again so that a change made since the
  // check (a pause, say) is kept.
  auto meeting = readManifest(folder);
  if (!meeting) return rephrased(meeting.error(), kNotListed);
  if (!lists(*meeting, segment.id)) {
    meeting->segments.push_back(segment);
    if (!saveManifest(*meeting, folder)) return makeError(ErrorCode::Io, kNotListed);
  }
  return segment;
}

}  // namespace korvel
