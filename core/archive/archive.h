#pragma once
// The on-disk archive of recordings: one folder per meeting under root/yyyy/MM/dd, and every
// safe access to a meeting folder (manifest, event log, segment records, media names, renaming).
//
// Folders are given as paths below the root (absolute, or relative to it) and are opened one
// component at a time from the root without following a symbolic link, so nothing reached
// through a planted link is read or written. The archive holds no locks: writes are atomic
// replacements, edits re-read before writing, and only "events.jsonl" appends take an advisory
// lock. Refusals carry one user-facing sentence and leave every file as it was.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/meeting.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

inline constexpr const char* kTrashFolderName = ".trash";

// A live meeting found in the archive.
struct ArchivedSession {
  std::filesystem::path folder;  // absolute: root / yyyy / MM / dd / name
  Meeting meeting;

  bool operator==(const ArchivedSession&) const = default;
};

// Where a segment commit stands, for tests that stop a committer part-way.
enum class SegmentCommitStep { mediaWritten, recordWritten };
using SegmentCommitProbe = std::function<void(SegmentCommitStep)>;

// Receives each manifest that exists but cannot be read; the walk goes on.
using ArchiveReport = std::function<void(const std::filesystem::path& manifest, const Error& error)>;
// Returns an error (normally ErrorCode::Cancelled) to stop before the next write.
using CancellationCheck = std::function<Status()>;

// Rename refusals, in the order they are checked.
namespace rename_messages {
inline constexpr const char* kInvalidTitle =
    "Use a meeting title of 1–300 characters (at most 1,000 bytes), without line breaks or control characters.";
inline constexpr const char* kDotComponent = "Choose the meeting's archive folder directly before renaming.";
inline constexpr const char* kOutsideArchive = "Choose a meeting inside the archive and outside Trash before renaming.";
inline constexpr const char* kSymbolicLink = "The meeting folder and its archive parents cannot be symbolic links.";
inline constexpr const char* kManifestNotRegular = "The meeting must have its own regular manifest file.";
inline constexpr const char* kOtherMeeting = "The meeting at this location has changed. Reload it before renaming.";
inline constexpr const char* kStillRecording = "Finish recording before renaming this meeting.";
inline constexpr const char* kTitleChanged = "The meeting title has changed. Reload it before renaming.";
inline constexpr const char* kManifestInvalid = "The meeting manifest is invalid.";
inline constexpr const char* kChangedWhileSaving =
    "The meeting changed while its title was being saved. Reload it and try again.";
}  // namespace rename_messages

struct MeetingTitle {
  static constexpr size_t kMaximumCharacters = 300;
  static constexpr size_t kMaximumBytes = 1000;
  // The title without surrounding white space; refuses line breaks and control characters anywhere.
  static Result<std::string> validated(std::string_view title);
};

class Archive {
 public:
  // `timeZone` is the zone whose calendar days name the date folders (the computer's own by default).
  // Every file access goes through `fileSystem`, which must outlive the archive.
  explicit Archive(std::filesystem::path root, const FileSystem& fileSystem = FileSystem::posix());
  Archive(std::filesystem::path root, const Clock& clock, std::string timeZone,
          const FileSystem& fileSystem = FileSystem::posix());

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path trashRoot() const { return root_ / kTrashFolderName; }
  const std::string& timeZone() const { return timeZone_; }
  const Clock& clock() const { return *clock_; }
  const FileSystem& fileSystem() const { return *fileSystem_; }
  // The same archive reached through another root path (the root with its links resolved, say).
  Archive withRoot(std::filesystem::path root) const;

  // Well-known locations on this machine.
  static std::filesystem::path applicationSupportRoot(const PlatformFolders& folders);
  static std::filesystem::path legacyRoot(const PlatformFolders& folders);
  static std::filesystem::path defaultRoot(const PlatformFolders& folders);
  static std::filesystem::path supportRoot(const std::filesystem::path& root, const PlatformFolders& folders);

  // The archive root, opened (links in the root's own path are the user's choice).
  Result<Dir> openRoot() const;
  // The root, created with its parents when missing.
  Result<Dir> createRoot() const;

  // Where `create` files the meeting: {yyyy, MM, dd (local), yyyyMMdd'T'HHmmss'Z'_id (UTC)}.
  // A start time with no calendar day (out of range, not finite) is refused, never filed under 0000.
  Result<std::vector<std::string>> folderComponents(const Meeting& meeting) const;
  // "yyyyMMdd'T'HHmmss'Z'_id", the meeting folder's own name.
  static Result<std::string> folderName(const Meeting& meeting);

  // The folder's components below the root, lexically; none for a folder outside the root,
  // the root itself, or one with "." or ".." components.
  std::optional<std::vector<std::string>> relativeComponents(const std::filesystem::path& folder) const;
  // The relative path joined with "/".
  std::optional<std::string> relativePath(const std::filesystem::path& folder) const;
  // Opens a meeting folder below the root, refusing a link at any level and anything in Trash.
  Result<Dir> openMeetingFolder(const std::filesystem::path& folder) const;
  // The meeting-folder rule for edits: inside the archive, outside Trash, no link on the way.
  Result<Dir> openFolderForEdit(const std::filesystem::path& folder) const;

  // Creates the meeting's folder (refusing one that exists), writes its manifest and the
  // "created" event, and returns the folder. A half-created folder is removed again.
  Result<std::filesystem::path> create(const Meeting& meeting) const;

  // Live meetings, newest startedAt first. Trash is not entered; unreadable manifests go to
  // `report` (files that vanish during the walk are skipped silently). A missing root is empty.
  std::vector<ArchivedSession> sessions(const ArchiveReport& report = {}) const;
  // The same walk for callers that act on what is missing (the catalog removes rows of meetings
  // it does not find): a folder that cannot be listed or opened fails the whole walk, and a
  // root that is missing or not a folder fails it with NotFound.
  Result<std::vector<ArchivedSession>> completeSessions(const ArchiveReport& report = {}) const;
  // The live meeting with this id; NotFound "No meeting with this identifier is in the archive."
  Result<ArchivedSession> find(const std::string& meetingID) const;

  Result<Meeting> read(const std::filesystem::path& folder) const;
  Status save(const Meeting& meeting, const std::filesystem::path& folder) const;
  // Appends one line to the folder's "events.jsonl" under an advisory lock, synced to storage.
  Status event(std::string_view kind, std::string_view detail, const std::filesystem::path& folder) const;
  // Turns a recording or paused meeting left by a crash into incomplete, adding the segments
  // whose records and media survived. Finalized and incomplete meetings come back unchanged.
  Result<Meeting> recover(const std::filesystem::path& folder) const;

  // Renames the meeting, refusing with the messages above; `expectedTitle` is what the user saw.
  Result<Meeting> renameMeeting(const std::filesystem::path& folder, const std::string& meetingID,
                                const std::string& expectedTitle, std::string_view title,
                                const CancellationCheck& cancelled = {}) const;

  // Folder-level operations for code that already holds an opened meeting folder.
  static Result<Meeting> readManifest(const Dir& folder);
  static Status saveManifest(const Meeting& meeting, const Dir& folder);
  Status appendEvent(std::string_view kind, std::string_view detail, const Dir& folder) const;
  // The decodable ".segment" records in the folder, by name; broken ones are skipped.
  static std::vector<Segment> segmentRecords(const Dir& folder);
  Result<Meeting> recover(const Dir& folder) const;
  // Commits one segment of a recording or paused meeting: writes `media` under `segment.file`
  // (never over an existing file), then the ".segment" record, then lists the segment in the
  // manifest; `bytes` and `sha256` are taken from `media`. The record is the commit point:
  // media without it is an unfinished file that recovery ignores, and a record whose listing
  // was lost is added back by recovery. Refusals (a finished meeting, an unknown track, an
  // unsafe or taken name, an id already committed) write nothing.
  static Result<Segment> commitSegment(const Dir& folder, Segment segment, std::string_view media,
                                       const SegmentCommitProbe& probe = {});

  // Lowercase hexadecimal SHA-256 of a file, read without following a link.
  static Result<std::string> hash(const std::filesystem::path& file, const FileSystem& fs = FileSystem::posix());
  static Result<std::string> hash(const Dir& folder, std::string_view name);
  // The media rule: a plain name, not a link, directly inside the folder. The file need not exist.
  static std::optional<std::filesystem::path> safeMediaURL(std::string_view name, const std::filesystem::path& folder,
                                                           const FileSystem& fs = FileSystem::posix());
  // Free bytes on the volume holding the path.
  static Result<int64_t> availableBytes(const std::filesystem::path& path, const FileSystem& fs = FileSystem::posix());

  // The archive's JSON reader and writer: whole-file, size-capped reads; pretty, sorted, atomic writes.
  static Result<Json> decode(const std::filesystem::path& file, uint64_t maxBytes = kMaximumManifestBytes,
                             const FileSystem& fs = FileSystem::posix());
  static Status encode(const Json& value, const std::filesystem::path& file, const FileSystem& fs = FileSystem::posix());

 private:
  std::filesystem::path root_;
  const FileSystem* fileSystem_;
  const Clock* clock_;
  std::string timeZone_;
};

}  // namespace korvel
