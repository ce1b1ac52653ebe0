#pragma once
// The archive's own Trash: meeting folders moved whole into root/".trash" under a fresh name,
// remembering where they lived, and moved back on restore. Nothing is ever deleted.
//
// Every operation re-checks what it relies on immediately before its single folder move and
// never follows a symbolic link inside the archive; a move onto an existing destination is
// refused, not merged. Refusals leave every file where it was and carry one of the sentences in
// trash.cpp (ErrorCode InvalidInput, Denied or NotFound); failures of the move itself pass
// through as they are.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/archive.h"
#include "core/archive/meeting.h"
#include "platform/result.h"

namespace korvel {

struct TrashedSession {
  std::filesystem::path entry;  // root/.trash/<UUID>
  Meeting meeting;
};

// Receives each Trash item that is not a valid entry; the walk goes on.
using TrashReport = std::function<void(const std::filesystem::path& item, const Error& error)>;

// Moves a live, finished meeting folder into Trash and returns the new entry.
Result<std::filesystem::path> moveToTrash(const Archive& archive, const std::filesystem::path& folder,
                                          const std::string& meetingID);

// Valid Trash entries, newest startedAt first. Without a Trash folder the list is empty (and
// none is created); a Trash folder that is a link or escapes the archive is refused.
Result<std::vector<TrashedSession>> trashedSessions(const Archive& archive, const TrashReport& report = {});

// The item of this name directly in Trash, through the entry check (so an unfinished meeting
// is refused with "An active or paused meeting cannot be restored."); none when Trash holds no
// item of that name or `name` is not a single path component.
Result<std::optional<TrashedSession>> findTrashEntry(const Archive& archive, std::string_view name);

// Moves a Trash entry back to its saved path (or the date-based default) and returns it.
Result<std::filesystem::path> restoreFromTrash(const Archive& archive, const std::filesystem::path& entry,
                                               const std::string& meetingID);

}  // namespace korvel
