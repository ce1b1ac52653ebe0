// Trash and restore: one folder move each way, with everything it relies on re-checked by
// descriptor just before the move.

#include "core/archive/trash.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/archive/restore_record.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace korvel {
namespace {

constexpr const char* kOutsideArchive = "The meeting must be inside the archive and outside Trash.";
constexpr const char* kFolderLink = "The meeting folder cannot be a symbolic link.";
constexpr const char* kNoOwnManifest = "The meeting must have its own valid manifest.";
constexpr const char* kOtherMeeting = "The meeting folder belongs to a different meeting.";
constexpr const char* kStillRecording = "Stop recording before moving this meeting to Trash.";
constexpr const char* kTrashLink = "The app Trash folder cannot be a symbolic link.";
constexpr const char* kTrashEscapes = "The app Trash folder must remain inside the archive.";
constexpr const char* kPreservedWithoutPath =
    "The recording is preserved in Trash, but saving its restoration path failed: ";
constexpr const char* kTrashInvalid = "Trash must be a folder inside this archive.";
constexpr const char* kNotInTrash = "Choose a meeting in Korvel’s Trash.";
constexpr const char* kEntryInvalid = "The Trash entry must have its own valid meeting folder and manifest.";
constexpr const char* kEntryActive = "An active or paused meeting cannot be restored.";
constexpr const char* kEntryOtherMeeting = "This Trash folder belongs to another meeting.";
constexpr const char* kIdentityLive =
    "A meeting with this identity already exists in the archive. Both copies have been kept.";
constexpr const char* kRecordLink = "Restoration metadata cannot be a symbolic link.";
constexpr const char* kPathThroughLink =
    "The restoration path cannot pass through a symbolic link. The recording remains in Trash.";
constexpr const char* kDestinationTaken =
    "The restoration destination is occupied or outside the archive. The recording remains in Trash.";

Error refuse(const char* message, ErrorCode code = ErrorCode::InvalidInput) { return makeError(code, message); }

// Absolute and lexically normal; a relative path without a working folder stays as written.
std::filesystem::path standardised(const Archive& archive, const std::filesystem::path& path) {
  return archive.fileSystem().absolute(path).valueOr(standardizedPath(path));
}

// Standardised, with every link on the way resolved (a missing tail is kept as written).
std::filesystem::path resolved(const Archive& archive, const std::filesystem::path& path) {
  return archive.fileSystem().canonical(path).valueOr(standardised(archive, path));
}

bool isLiveArchivePath(const std::optional<std::vector<std::string>>& parts) {
  return parts && !parts->empty() && parts->front() != kTrashFolderName;
}

// The Trash folder, which must be a real folder directly in the root.
Result<Dir> openTrash(const Dir& root) {
  auto entry = root.info(kTrashFolderName);
  if (!entry || entry->kind != EntryKind::directory) return refuse(kTrashInvalid);
  auto trash = root.openDir(kTrashFolderName);
  if (!trash) return refuse(kTrashInvalid);
  return std::move(*trash);
}

struct OpenedEntry {
  Dir folder;
  Meeting meeting;
};

// The entry check: a real folder in Trash with its own decodable, finished manifest.
Result<OpenedEntry> openEntry(const Dir& trash, const std::string& name) {
  auto entry = trash.info(name);
  if (!entry || entry->kind != EntryKind::directory) return refuse(kEntryInvalid);
  auto folder = trash.openDir(name);
  if (!folder) return refuse(kEntryInvalid);
  auto manifest = folder->info(kManifestFileName);
  if (!manifest || manifest->kind != EntryKind::file) return refuse(kEntryInvalid);
  auto meeting = Archive::readManifest(*folder);
  if (!meeting) return refuse(kEntryInvalid);
  if (isActive(meeting->state)) return refuse(kEntryActive);
  return OpenedEntry{std::move(*folder), std::move(*meeting)};
}

// The entry's name when `entry` is directly inside this archive's Trash folder.
std::optional<std::string> entryName(const Archive& archive, const std::filesystem::path& entry) {
  const auto path = standardised(archive, entry);
  const auto parent = path.parent_path();
  if (parent != standardised(archive, archive.trashRoot()) &&
      parent != resolved(archive, archive.root()) / kTrashFolderName)
    return std::nullopt;
  const std::string name = path.filename().string();
  if (!isSingleComponent(name)) return std::nullopt;
  return name;
}

// Where the entry goes back to: its saved path, or where the archive would file the meeting.
Result<std::vector<std::string>> restorationPath(const Archive& archive, const OpenedEntry& entry) {
  auto record = entry.folder.info(kRestoreRecordName);
  if (!record) {
    if (record.error().code == ErrorCode::NotFound) return archive.folderComponents(entry.meeting);
    return std::move(record).error();
  }
  if (record->kind == EntryKind::symlink) return refuse(kRecordLink, ErrorCode::Denied);
  auto bytes = entry.folder.readFile(kRestoreRecordName, kMaximumRestoreRecordBytes);
  if (!bytes) return decodeRestoreRecord("");
  return decodeRestoreRecord(*bytes);
}

// Opens (creating where missing) every folder above the destination and checks the destination
// is free. Nothing is created until the whole existing part of the path has been checked.
// Nothing comes back when the destination's parent is the root itself.
Result<std::optional<Dir>> prepareDestination(const Dir& root, const std::vector<std::string>& components) {
  std::optional<Dir> current;
  size_t existing = 0;
  for (; existing + 1 < components.size(); ++existing) {
    const Dir& at = current ? *current : root;
    auto entry = at.info(components[existing]);
    if (!entry) {
      if (entry.error().code == ErrorCode::NotFound) break;
      return std::move(entry).error();
    }
    if (entry->kind == EntryKind::symlink) return refuse(kPathThroughLink, ErrorCode::Denied);
    if (entry->kind != EntryKind::directory) return refuse(kDestinationTaken);
    auto next = at.openDir(components[existing]);
    if (!next) return refuse(kPathThroughLink, ErrorCode::Denied);
    current = std::move(*next);
  }
  if (existing + 1 == components.size()) {
    const Dir& at = current ? *current : root;
    auto destination = at.info(components.back());
    if (destination || destination.error().code != ErrorCode::NotFound) return refuse(kDestinationTaken);
  }
  for (; existing + 1 < components.size(); ++existing) {
    const Dir& at = current ? *current : root;
    auto next = at.createDir(components[existing]);
    if (!next) {
      if (next.error().code == ErrorCode::Denied) return refuse(kPathThroughLink, ErrorCode::Denied);
      return std::move(next).error();
    }
    current = std::move(*next);
  }
  return current;
}

std::filesystem::path joined(std::filesystem::path base, const std::vector<std::string>& components) {
  for (const auto& part : components) base /= part;
  return base;
}

}  // namespace

Result<std::filesystem::path> moveToTrash(const Archive& archive, const std::filesystem::path& folder,
                                          const std::string& meetingID) {
  const auto rootReal = resolved(archive, archive.root());
  const Archive real = archive.withRoot(rootReal);
  const auto lexical = standardised(archive, folder);
  // Links above the folder are resolved; the folder itself must not be one, but a link that
  // leads out of the archive is refused as being outside it.
  const auto withRealParents = resolved(archive, lexical.parent_path()) / lexical.filename();
  const auto parts = real.relativeComponents(withRealParents);
  if (!isLiveArchivePath(parts) || !isLiveArchivePath(real.relativeComponents(resolved(archive, lexical))))
    return refuse(kOutsideArchive);

  auto root = real.openRoot();
  if (!root) return refuse(kOutsideArchive);
  std::optional<Dir> parent;
  for (size_t i = 0; i + 1 < parts->size(); ++i) {
    auto next = (parent ? *parent : *root).openDir((*parts)[i]);
    if (!next) return refuse(kFolderLink, ErrorCode::Denied);
    parent = std::move(*next);
  }
  const Dir& parentDir = parent ? *parent : *root;
  const std::string& name = parts->back();
  auto entry = parentDir.info(name);
  if (!entry || entry->kind != EntryKind::directory) return refuse(kFolderLink, ErrorCode::Denied);
  auto meetingDir = parentDir.openDir(name);
  if (!meetingDir) return refuse(kFolderLink, ErrorCode::Denied);

  auto manifest = meetingDir->info(kManifestFileName);
  if (!manifest || manifest->kind != EntryKind::file) return refuse(kNoOwnManifest);
  auto meeting = Archive::readManifest(*meetingDir);
  if (!meeting) return refuse(kNoOwnManifest);
  if (meeting->id.empty() || meeting->id != meetingID) return refuse(kOtherMeeting);
  if (isActive(meeting->state)) return refuse(kStillRecording);

  auto trashEntry = root->info(kTrashFolderName);
  if (trashEntry && trashEntry->kind == EntryKind::symlink) return refuse(kTrashLink, ErrorCode::Denied);
  auto trash = root->createDir(kTrashFolderName);
  if (!trash) return refuse(kTrashEscapes, ErrorCode::Denied);

  const std::string entryName = uuidString();
  // Once the folder has moved, the trash must write its restoration record even when syncing
  // the move failed: the folder is in Trash either way, and without the record it could not go
  // back where it came from.
  TRY(parentDir.rename(name, *trash, entryName, Replace::refuseExisting));

  auto entryDir = trash->openDir(entryName);
  Status written = entryDir ? Status(okStatus()) : Status(entryDir.error());
  if (entryDir) {
    auto record = entryDir->writeAtomic(kRestoreRecordName, encodeRestoreRecord(*parts));
    if (!record) written = std::move(record).error();
  }
  if (!written) {
    Error failure = std::move(written).error();
    if (!trash->rename(entryName, parentDir, name, Replace::refuseExisting))
      return makeError(failure.code, kPreservedWithoutPath + failure.message);
    return failure;
  }
  return archive.trashRoot() / entryName;
}

Result<std::vector<TrashedSession>> trashedSessions(const Archive& archive, const TrashReport& report) {
  std::vector<TrashedSession> sessions;
  auto root = archive.openRoot();
  if (!root) {
    if (root.error().code == ErrorCode::NotFound) return sessions;
    return refuse(kTrashInvalid);
  }
  auto present = root->info(kTrashFolderName);
  if (!present && present.error().code == ErrorCode::NotFound) return sessions;
  Dir trash = TRY(openTrash(*root));
  auto items = trash.list();
  if (!items) return refuse(kTrashInvalid);
  for (const auto& item : *items) {
    auto entry = openEntry(trash, item.name);
    if (entry) {
      sessions.push_back({archive.trashRoot() / item.name, std::move(entry->meeting)});
    } else if (report) {
      report(archive.trashRoot() / item.name, entry.error());
    }
  }
  std::stable_sort(sessions.begin(), sessions.end(), [](const TrashedSession& a, const TrashedSession& b) {
    return a.meeting.startedAt > b.meeting.startedAt;
  });
  return sessions;
}

Result<std::optional<TrashedSession>> findTrashEntry(const Archive& archive, std::string_view name) {
  std::optional<TrashedSession> none;
  if (!isSingleComponent(name)) return none;
  auto root = archive.openRoot();
  if (!root) return refuse(kTrashInvalid);
  auto present = root->info(kTrashFolderName);
  if (!present && present.error().code == ErrorCode::NotFound) return none;
  Dir trash = TRY(openTrash(*root));
  auto item = trash.info(name);
  if (!item && item.error().code == ErrorCode::NotFound) return none;
  OpenedEntry entry = TRY(openEntry(trash, std::string(name)));
  return std::optional<TrashedSession>(TrashedSession{archive.trashRoot() / std::string(name), std::move(entry.meeting)});
}

Result<std::filesystem::path> restoreFromTrash(const Archive& archive, const std::filesystem::path& entry,
                                               const std::string& meetingID) {
  auto root = archive.openRoot();
  if (!root) return refuse(kTrashInvalid);
  Dir trash = TRY(openTrash(*root));
  const auto name = entryName(archive, entry);
  if (!name) return refuse(kNotInTrash);
  OpenedEntry opened = TRY(openEntry(trash, *name));
  if (opened.meeting.id != meetingID) return refuse(kEntryOtherMeeting);

  for (const auto& live : archive.sessions())
    if (live.meeting.id == opened.meeting.id) return refuse(kIdentityLive);

  const auto components = TRY(restorationPath(archive, opened));
  const std::optional<Dir> parent = TRY(prepareDestination(*root, components));
  auto moved = trash.rename(*name, parent ? *parent : *root, components.back(), Replace::refuseExisting);
  if (!moved) {
    if (moved.error().code == ErrorCode::InvalidInput) return refuse(kDestinationTaken);
    return std::move(moved).error();
  }
  return joined(archive.root(), components);
}

}  // namespace korvel
