// Titles, the meeting-folder rule for edits, and renaming by optimistic replacement of the manifest.

#include <fmt/format.h>

#include "core/archive/archive.h"
#include "platform/text.h"

namespace korvel {
namespace fs = std::filesystem;
namespace msg = rename_messages;

Result<std::string> MeetingTitle::validated(std::string_view title) {
  if (!isValidUtf8(title) || containsControlOrLineBreak(title)) return makeError(ErrorCode::InvalidInput, msg::kInvalidTitle);
  std::string trimmed = trimWhitespace(title);
  const size_t characters = graphemeCount(trimmed);
  if (characters < 1 || characters > kMaximumCharacters || trimmed.size() > kMaximumBytes)
    return makeError(ErrorCode::InvalidInput, msg::kInvalidTitle);
  return trimmed;
}

Result<Dir> Archive::openFolderForEdit(const fs::path& folder) const {
  auto components = relativeComponents(folder);
  if (!components || components->front() == kTrashFolderName)
    return makeError(ErrorCode::InvalidInput, msg::kOutsideArchive);
  Dir root = TRY(openRoot());
  auto opened = root.openPath(*components);
  if (!opened) {
    // A missing or non-folder step is as unusable as a link: the folder is not the one shown.
    const ErrorCode code = opened.error().code;
    if (code == ErrorCode::Denied || code == ErrorCode::NotFound || code == ErrorCode::InvalidInput)
      return makeError(ErrorCode::Denied, msg::kSymbolicLink);
    return makeError(code, "The meeting folder could not be opened.");
  }
  return opened;
}

namespace {

bool hasDotComponent(const fs::path& folder) {
  for (const auto& part : folder)
    if (part == "." || part == "..") return true;
  return false;
}

}  // namespace

Result<Meeting> Archive::renameMeeting(const fs::path& folder, const std::string& meetingID,
                                       const std::string& expectedTitle, std::string_view title,
                                       const CancellationCheck& cancelled) const {
  const std::string newTitle = TRY(MeetingTitle::validated(title));
  if (hasDotComponent(folder)) return makeError(ErrorCode::InvalidInput, msg::kDotComponent);
  Dir dir = TRY(openFolderForEdit(folder));

  auto info = dir.info(kManifestFileName);
  if (!info || info->kind != EntryKind::file) return makeError(ErrorCode::Denied, msg::kManifestNotRegular);
  auto read = dir.readFile(kManifestFileName, kMaximumManifestBytes);
  if (!read) return rephrased(read.error(), "The meeting manifest could not be read.");
  const std::string kept = std::move(*read);
  Meeting meeting = TRY(decodeManifest(kept));

  if (meeting.id.empty() || meeting.id != meetingID) return makeError(ErrorCode::InvalidInput, msg::kOtherMeeting);
  if (isActive(meeting.state)) return makeError(ErrorCode::InvalidInput, msg::kStillRecording);
  if (meeting.title != expectedTitle) return makeError(ErrorCode::InvalidInput, msg::kTitleChanged);
  if (newTitle == meeting.title) return meeting;

  // Members this version does not know belong to someone; edit the document, not our model of it.
  auto document = parseJson(kept);
  if (!document || !document->is_object()) return makeError(ErrorCode::Corrupt, msg::kManifestInvalid);
  (*document)["title"] = newTitle;
  (*document)["titleEditedByUser"] = true;
  const std::string replacement = encodePretty(*document);

  if (cancelled) TRY(cancelled());
  auto again = dir.readFile(kManifestFileName, kMaximumManifestBytes);
  if (!again || *again != kept) return makeError(ErrorCode::InvalidInput, msg::kChangedWhileSaving);
  auto written = dir.writeAtomic(kManifestFileName, replacement);
  if (!written) return rephrased(written.error(), "The meeting manifest could not be saved.");

  meeting.title = newTitle;
  meeting.titleEditedByUser = true;
  return meeting;
}

}  // namespace korvel
