#pragma once
// The archive-level steps of moving a recording library to a new location: take stock of it
// without following links, copy it into a staging folder, check every copied file, mark the
// copy as a moved library, and publish it with one rename under a lock beside the destination.
// The order of the steps (and the processing preparation between them) is the caller's.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/date.h"
#include "platform/files.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

// The marker a moved library carries in its root.
inline constexpr const char* kLibraryMarkerFileName = ".korvel-library.json";
// Staging folders of a move are created beside the destination with this prefix and a UUID.
inline constexpr const char* kMoveStagingPrefix = ".korvel-move-";
// The lock file beside the destination that moves into one folder share.
inline constexpr const char* kMoveLockFileName = ".korvel-move.lock";

// What a segment record says a media file holds.
struct ExpectedMedia {
  int64_t bytes = 0;
  std::string sha256;
  bool operator==(const ExpectedMedia&) const = default;
};

struct LibraryEntry {
  std::vector<std::string> path;  // below the root
  EntryKind kind = EntryKind::file;  // file or directory
  uint64_t bytes = 0;                // files only
  mode_t mode = 0;
  std::optional<ExpectedMedia> media;  // a file a manifest lists as a segment
  bool operator==(const LibraryEntry&) const = default;
};

struct LibraryInventory {
  std::vector<LibraryEntry> entries;  // every folder before what it holds
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t mediaFiles = 0;
  uint64_t bytes = 0;
  std::vector<std::string> activeMeetings;  // titles of live meetings still recording or paused
  bool operator==(const LibraryInventory&) const = default;
};

// "812 bytes", "3.4 MB" (decimal units), for messages.
std::string describeByteCount(uint64_t bytes);

// "a/b/c", for messages.
std::string joinedPath(const std::vector<std::string>& components);

// Walks the library below `root` without following links. Refusals: "The archive contains a
// symbolic link at PATH; move or remove it before moving the archive." (InvalidInput) and
// "The archive folder PATH could not be read." (Io); other kinds of entry (sockets, devices)
// are refused like links.
Result<LibraryInventory> takeLibraryInventory(const Dir& root);

// (bytes done, bytes in all); called after each chunk.
using LibraryProgress = std::function<void(uint64_t done, uint64_t total)>;

// Copies every entry of the inventory from `source` into the empty folder `target`, each file
// written to a new name and synced, then every folder synced. Fails on the first error.
Status copyLibrary(const Dir& source, const Dir& target, const LibraryInventory& inventory,
                   const LibraryProgress& progress = {});

// Re-reads every copied file: media by size and SHA-256 against their segment records, every
// other file byte for byte against the original. Refusals name the file (Corrupt).
Status verifyLibraryCopy(const Dir& source, const Dir& copy, const LibraryInventory& inventory,
                         const LibraryProgress& progress = {});

struct LibraryMarker {
  static constexpr int kVersion = 1;
  std::string movedFrom;  // the library's previous root
  Date movedAt;
  bool operator==(const LibraryMarker&) const = default;
  Json toJson() const;
  static Result<LibraryMarker> fromJson(const Json& json);
};

// An exclusive flock on ".korvel-move.lock" in a folder, held until destroyed. Moves into one
// folder take it for their whole run, so a staging folder found while holding it was left by a
// move that died.
class MoveLock {
 public:
  MoveLock(MoveLock&& other) noexcept;
  MoveLock& operator=(MoveLock&&) = delete;
  ~MoveLock();
  // Waits for the lock; creates the lock file (0600) when missing.
  static Result<MoveLock> acquire(const Dir& folder);

 private:
  MoveLock(const FileSystem& files, int fd) : files_(&files), fd_(fd) {}
  const FileSystem* files_;
  int fd_ = -1;
};

// Removes the staging folders of earlier moves that died (call only under the MoveLock) and
// returns how many there were.
Result<size_t> removeAbandonedStaging(const Dir& folder);

}  // namespace korvel
