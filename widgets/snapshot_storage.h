#pragma once
// Writing and reading the status file: capped at 32768 bytes both ways, replaced atomically, and
// read without ever following a symbolic link.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/result.h"
#include "widgets/snapshot.h"

namespace korvel::widgets {

struct WidgetSnapshotStorage {
  static constexpr uint64_t maximumBytes = 32768;

  std::filesystem::path fileURL;
  const FileSystem* fileSystem = &FileSystem::posix();

  // The status file in the shared container; absent when this machine grants no container.
  static std::optional<WidgetSnapshotStorage> shared(const PlatformFolders& folders,
                                                     const FileSystem& fs = FileSystem::posix());
  // The status file directly inside `container`.
  static WidgetSnapshotStorage inContainer(const std::filesystem::path& container,
                                           const FileSystem& fs = FileSystem::posix());

  // Publishes the snapshot; a refused write leaves the previous file as it was.
  Status write(const RecorderWidgetSnapshot& snapshot) const;
  // The snapshot, or `unavailable` for every problem with the file.
  RecorderWidgetSnapshot read() const;
  // What read() does, but keeping the reason a file was refused, for tools that explain it.
  Result<RecorderWidgetSnapshot> readExplained() const;

  bool operator==(const WidgetSnapshotStorage&) const = default;
};

}  // namespace korvel::widgets
