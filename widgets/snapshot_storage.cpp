// The status file on disk: size checks before and after reading, atomic replacement on writing.

#include "widgets/snapshot_storage.h"

#include <cmath>

#include <fmt/format.h>

#include "platform/files.h"
#include "platform/json.h"

namespace korvel::widgets {
namespace {

Error refusedFile(std::string message) { return makeError(ErrorCode::Corrupt, std::move(message)); }

Status validateDecoded(const RecorderWidgetSnapshot& snapshot) {
  if (snapshot.version != kSnapshotFormatVersion) {
    return refusedFile(fmt::format("The status file has version {}, which this widget does not read.", snapshot.version));
  }
  if (snapshot.meetings.size() > kSnapshotMaximumMeetings) {
    return refusedFile("The status file lists more than 8 recent meetings.");
  }
  if (!std::isfinite(snapshot.elapsedSeconds)) {
    return refusedFile("The status file's elapsed time is not a finite number.");
  }
  return okStatus();
}

}  // namespace

std::optional<WidgetSnapshotStorage> WidgetSnapshotStorage::shared(const PlatformFolders& folders,
                                                                   const FileSystem& fs) {
  if (folders.sharedContainer.empty()) return std::nullopt;
  return inContainer(folders.sharedContainer, fs);
}

WidgetSnapshotStorage WidgetSnapshotStorage::inContainer(const std::filesystem::path& container,
                                                         const FileSystem& fs) {
  return WidgetSnapshotStorage{container / kRecorderStatusFileName, &fs};
}

Status WidgetSnapshotStorage::write(const RecorderWidgetSnapshot& snapshot) const {
  const std::string data = encodeCompact(snapshot.toJson());
  if (data.size() > maximumBytes) {
    return makeError(ErrorCode::Io,
                     "The status file couldn't be saved because there isn't enough space for a snapshot over 32768 bytes.");
  }
  const Dir folder = TRY(Dir::createRoot(*fileSystem, fileURL.parent_path()));
  const std::string name = fileURL.filename().string();
  auto existing = folder.info(name);
  if (existing && existing->kind == EntryKind::symlink) {
    return makeError(ErrorCode::Denied, "The status file is a symbolic link, so Korvel will not replace it.");
  }
  TRY(folder.writeAtomic(name, data));
  return okStatus();
}

RecorderWidgetSnapshot WidgetSnapshotStorage::read() const {
  return readExplained().valueOr(RecorderWidgetSnapshot::unavailable());
}

Result<RecorderWidgetSnapshot> WidgetSnapshotStorage::readExplained() const {
  auto folder = Dir::openRoot(*fileSystem, fileURL.parent_path());
  if (!folder) return makeError(ErrorCode::NotFound, "The recorder has not published a status file yet.");
  const std::string name = fileURL.filename().string();
  // The size is checked on the attributes first, so a hostile file is never loaded.
  auto info = folder->info(name);
  if (!info) {
    if (info.error().code == ErrorCode::NotFound) {
      return makeError(ErrorCode::NotFound, "The recorder has not published a status file yet.");
    }
    return makeError(ErrorCode::Denied, "The status file could not be read.");
  }
  if (info->kind == EntryKind::symlink) {
    return makeError(ErrorCode::Denied, "The status file is a symbolic link, which Korvel never follows.");
  }
  if (info->kind != EntryKind::file) return makeError(ErrorCode::Denied, "The status file is not a regular file.");
  const Error oversize = refusedFile("The status file is larger than 32768 bytes.");
  if (info->identity.size > maximumBytes) return oversize;
  auto data = folder->readFile(name, maximumBytes);
  if (!data) {
    if (data.error().code == ErrorCode::InvalidInput) return oversize;  // it grew after the check
    return makeError(ErrorCode::Denied, "The status file could not be read.");
  }
  auto json = parseJson(*data);
  if (!json) return refusedFile("The status file is not valid JSON.");
  RecorderWidgetSnapshot snapshot = TRY(RecorderWidgetSnapshot::fromJson(*json));
  TRY(validateDecoded(snapshot));
  return snapshot;
}

}  // namespace korvel::widgets
