#pragma once
// Moving the whole recording library to another location (another disk, usually): the checks
// that refuse a move before anything changes, and the move itself: copy into a hidden staging
// folder beside the destination, verify, keep queued jobs' identities, publish with one rename
// under a lock, and make the new location the user's default archive. The old library is never
// changed; removing it is left to the user.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "core/archive/archive.h"
#include "core/archive/library_move.h"
#include "platform/result.h"

namespace korvel {

enum class ArchiveMovePhase { copying, verifying, publishing };

// (phase, bytes done, bytes in all). Publishing reports (0, 0) once.
using ArchiveMoveProgress = std::function<void(ArchiveMovePhase phase, uint64_t done, uint64_t total)>;

struct ArchiveMovePlan {
  std::filesystem::path source;       // the archive's root
  std::filesystem::path destination;  // absolute
  LibraryInventory inventory;
  int64_t availableBytes = 0;  // free space where the destination would be
  bool operator==(const ArchiveMovePlan&) const = default;
};

struct ArchiveMoveOutcome {
  ArchiveMovePlan plan;
  size_t abandonedStagingRemoved = 0;
  // Set when the library was published but could not be recorded as the default archive.
  std::optional<Error> settingsError;
  bool operator==(const ArchiveMoveOutcome&) const = default;
};

// Everything a move checks before it changes anything; changes nothing. Refusals, one
// sentence each: "No archive at DIR."; "There is already a file or folder at DEST; choose a
// location that does not exist yet."; "The folder PARENT does not exist; create it first or
// choose another location."; "DEST is inside the archive; choose a location outside it."; the
// inventory's link and unreadable-folder refusals; "Stop recording “TITLE” before moving the
// archive."; "There is not enough free space at PARENT: the archive needs N and only M are
// available."
Result<ArchiveMovePlan> planArchiveMove(const Archive& archive, const std::filesystem::path& destination);

// Plans, then moves. Until the rename that publishes the destination, every failure removes
// the staging folder and leaves the destination absent; the archive itself is only read. After
// publishing, the settings file at `settingsFile` is made to name the destination; a failure
// there does not undo the move and comes back in `settingsError`. Failures before publishing
// read "The archive could not be moved and is still in use at SRC." with the cause on a second
// line.
Result<ArchiveMoveOutcome> moveArchive(const Archive& archive, const std::filesystem::path& destination,
                                       const std::filesystem::path& settingsFile,
                                       const ArchiveMoveProgress& progress = {});

}  // namespace korvel
