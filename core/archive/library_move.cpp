// Copying a library file by file without following links, checking the copy, and the lock and
// marker of a move.

#include "core/archive/library_move.h"

#include <fcntl.h>

#include <map>
#include <utility>

#include <fmt/format.h>

#include "core/archive/archive.h"
#include "platform/crypto.h"

namespace korvel {
namespace {

constexpr size_t kChunkBytes = 1 << 20;

Error linkRefusal(const std::vector<std::string>& path) {
  return makeError(ErrorCode::InvalidInput,
                   fmt::format("The archive contains a symbolic link at {}; move or remove it before moving the archive.",
                               joinedPath(path)));
}

Error unreadableFolder(const std::vector<std::string>& path) {
  return makeError(ErrorCode::Io,
                   fmt::format("The archive folder {} could not be read.", path.empty() ? "." : joinedPath(path)));
}

Error copyMismatch(const std::vector<std::string>& path, std::string_view how) {
  return makeError(ErrorCode::Corrupt, fmt::format("The copy of {} {}; nothing was published.", joinedPath(path), how));
}

class InventoryWalker {
 public:
  Status walk(const Dir& folder, std::vector<std::string>& path, bool inTrash) {
    auto entries = folder.list();
    if (!entries) return unreadableFolder(path);
    std::map<std::string, ExpectedMedia> media;
    for (const DirEntry& entry : *entries) {
      if (entry.name != kManifestFileName || entry.kind != EntryKind::file) continue;
      // A manifest that does not decode is still copied, byte for byte like any other file.
      if (auto meeting = Archive::readManifest(folder)) {
        for (const Segment& segment : meeting->segments) media[segment.file] = {segment.bytes, segment.sha256};
        if (!inTrash && isActive(meeting->state)) inventory_.activeMeetings.push_back(meeting->title);
      }
    }
    for (const DirEntry& entry : *entries) {
      path.push_back(entry.name);
      if (entry.kind != EntryKind::file && entry.kind != EntryKind::directory) return linkRefusal(path);
      auto info = folder.info(entry.name);
      if (!info) return info.error().code == ErrorCode::NotFound ? unreadableFolder(path) : info.error();
      if (info->kind != entry.kind) return linkRefusal(path);
      LibraryEntry item{path, entry.kind, 0, info->mode, std::nullopt};
      if (entry.kind == EntryKind::file) {
        item.bytes = info->identity.size;
        if (auto found = media.find(entry.name); found != media.end()) {
          item.media = found->second;
          ++inventory_.mediaFiles;
        }
        ++inventory_.files;
        inventory_.bytes += item.bytes;
        inventory_.entries.push_back(std::move(item));
      } else {
        ++inventory_.folders;
        inventory_.entries.push_back(std::move(item));
        auto child = folder.openDir(entry.name);
        if (!child) return child.error().code == ErrorCode::Denied ? linkRefusal(path) : unreadableFolder(path);
        TRY(walk(*child, path, inTrash || (path.size() == 1 && entry.name == kTrashFolderName)));
      }
      path.pop_back();
    }
    return okStatus();
  }

  LibraryInventory& inventory() { return inventory_; }

 private:
  LibraryInventory inventory_;
};

// The folder holding an entry, reopened only when the walk moves to another folder.
class ParentFolders {
 public:
  explicit ParentFolders(const Dir& root) : root_(root) {}

  Result<const Dir*> of(const std::vector<std::string>& path) {
    const std::vector<std::string> parent(path.begin(), path.end() - 1);
    if (parent.empty()) return &root_;
    if (!current_.valid() || parent != currentPath_) {
      current_ = TRY(root_.openPath(parent));
      currentPath_ = parent;
    }
    return &current_;
  }

 private:
  const Dir& root_;
  Dir current_;
  std::vector<std::string> currentPath_;
};

Status copyFile(const Dir& from, const Dir& to, const LibraryEntry& entry, std::string& buffer, uint64_t& done,
                uint64_t total, const LibraryProgress& progress) {
  const std::string& name = entry.path.back();
  File input = TRY(from.openFile(name));
  const FileSystem& files = to.fileSystem();
  const auto where = to.path() / name;
  int fd = -1;
  if (int err = files.openAt(to.fd(), name, where, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             entry.mode & 0777, fd))
    return errnoError(err, fmt::format("create {}", where.string()));
  const auto fail = [&](int err, std::string_view what) {
    files.close(fd);
    return errnoError(err, fmt::format("{} {}", what, where.string()));
  };
  for (;;) {
    auto got = input.read(buffer.data(), buffer.size());
    if (!got) {
      files.close(fd);
      return got.error();
    }
    if (*got == 0) break;
    if (int err = files.write(fd, where, std::string_view(buffer.data(), *got))) return fail(err, "write");
    done += *got;
    if (progress) progress(done, total);
  }
  if (int err = files.sync(fd, where)) return fail(err, "flush");
  if (int err = files.close(fd)) return errnoError(err, fmt::format("close {}", where.string()));
  return okStatus();
}

// Reads the whole file into the hash, returning its size.
Result<uint64_t> hashFile(File& file, Sha256& hash, std::string& buffer, uint64_t& done, uint64_t total,
                          const LibraryProgress& progress) {
  uint64_t size = 0;
  for (;;) {
    const size_t got = TRY(file.read(buffer.data(), buffer.size()));
    if (got == 0) return size;
    hash.update(buffer.data(), got);
    size += got;
    done += got;
    if (progress) progress(done, total);
  }
}

Status verifyFile(const Dir& sourceFolder, const Dir& copyFolder, const LibraryEntry& entry, std::string& buffer,
                  std::string& other, uint64_t& done, uint64_t total, const LibraryProgress& progress) {
  const std::string& name = entry.path.back();
  auto copied = copyFolder.openFile(name);
  if (!copied) return copyMismatch(entry.path, "cannot be read back");
  if (entry.media) {
    Sha256 hash;
    auto size = hashFile(*copied, hash, buffer, done, total, progress);
    if (!size) return copyMismatch(entry.path, "cannot be read back");
    if (static_cast<int64_t>(*size) != entry.media->bytes || hexEncode(hash.finish()) != entry.media->sha256)
      return copyMismatch(entry.path,
                          "does not match the size and SHA-256 its manifest records (check the original with "
                          "korvel verify)");
    return okStatus();
  }
  auto original = sourceFolder.openFile(name);
  if (!original) return copyMismatch(entry.path, "cannot be compared with its original");
  for (;;) {
    auto got = copied->read(buffer.data(), buffer.size());
    auto expected = original->read(other.data(), other.size());
    if (!got || !expected) return copyMismatch(entry.path, "cannot be compared with its original");
    if (std::string_view(buffer.data(), *got) != std::string_view(other.data(), *expected))
      return copyMismatch(entry.path, "differs from the original");
    if (*got == 0) return okStatus();
    done += *got;
    if (progress) progress(done, total);
  }
}

}  // namespace

std::string describeByteCount(uint64_t bytes) {
  if (bytes < 1000) return fmt::format("{} bytes", bytes);
  const char* units[] = {"kB", "MB", "GB", "TB", "PB"};
  double value = static_cast<double>(bytes) / 1000;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  return fmt::format("{:.1f} {}", value, units[unit]);
}

std::string joinedPath(const std::vector<std::string>& components) {
  std::string joined;
  for (const auto& component : components) joined += (joined.empty() ? "" : "/") + component;
  return joined;
}

Result<LibraryInventory> takeLibraryInventory(const Dir& root) {
  InventoryWalker walker;
  std::vector<std::string> path;
  TRY(walker.walk(root, path, false));
  return std::move(walker.inventory());
}

Status copyLibrary(const Dir& source, const Dir& target, const LibraryInventory& inventory,
                   const LibraryProgress& progress) {
  ParentFolders from(source), to(target);
  std::string buffer(kChunkBytes, '\0');
  uint64_t done = 0;
  for (const LibraryEntry& entry : inventory.entries) {
    const Dir* targetFolder = TRY(to.of(entry.path));
    if (entry.kind == EntryKind::directory) {
      TRY(targetFolder->createNewDir(entry.path.back(), (entry.mode & 0777) | 0700));
      continue;
    }
    const Dir* sourceFolder = TRY(from.of(entry.path));
    TRY(copyFile(*sourceFolder, *targetFolder, entry, buffer, done, inventory.bytes, progress));
  }
  // Every new name must be on storage before the copy can be published.
  for (const LibraryEntry& entry : inventory.entries) {
    if (entry.kind != EntryKind::directory) continue;
    const Dir folder = TRY(target.openPath(entry.path));
    TRY(folder.syncSelf());
  }
  return target.syncSelf();
}

Status verifyLibraryCopy(const Dir& source, const Dir& copy, const LibraryInventory& inventory,
                         const LibraryProgress& progress) {
  ParentFolders from(source), to(copy);
  std::string buffer(kChunkBytes, '\0'), other(kChunkBytes, '\0');
  uint64_t done = 0;
  for (const LibraryEntry& entry : inventory.entries) {
    if (entry.kind != EntryKind::file) continue;
    auto copyFolder = to.of(entry.path);
    if (!copyFolder) return copyMismatch(entry.path, "cannot be read back");
    auto sourceFolder = from.of(entry.path);
    if (!sourceFolder) return copyMismatch(entry.path, "cannot be compared with its original");
    TRY(verifyFile(**sourceFolder, **copyFolder, entry, buffer, other, done, inventory.bytes, progress));
  }
  return okStatus();
}

Json LibraryMarker::toJson() const {
  return Json{{"version", kVersion}, {"movedFrom", movedFrom}, {"movedAt", formatIso8601(movedAt)}};
}

Result<LibraryMarker> LibraryMarker::fromJson(const Json& json) {
  const auto invalid = [] { return makeError(ErrorCode::Corrupt, "The library marker is invalid."); };
  if (!json.is_object()) return invalid();
  JsonFields fields(json);
  const int64_t version = fields.integer("version");
  LibraryMarker marker{fields.string("movedFrom"), fields.isoDate("movedAt")};
  if (!fields.ok() || version != kVersion) return invalid();
  return marker;
}

MoveLock::MoveLock(MoveLock&& other) noexcept : files_(other.files_), fd_(std::exchange(other.fd_, -1)) {}

MoveLock::~MoveLock() {
  if (fd_ < 0) return;
  files_->unlock(fd_);
  files_->close(fd_);
}

Result<MoveLock> MoveLock::acquire(const Dir& folder) {
  const FileSystem& files = folder.fileSystem();
  const auto where = folder.path() / kMoveLockFileName;
  int fd = -1;
  if (int err = files.openAt(folder.fd(), kMoveLockFileName, where, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600, fd))
    return errnoError(err, fmt::format("open the lock file {}", where.string()));
  MoveLock lock(files, fd);
  if (int err = files.lock(fd, true)) return errnoError(err, fmt::format("lock {}", where.string()));
  return lock;
}

Result<size_t> removeAbandonedStaging(const Dir& folder) {
  const auto entries = TRY(folder.list());
  size_t removed = 0;
  for (const DirEntry& entry : entries) {
    if (entry.kind != EntryKind::directory || !entry.name.starts_with(kMoveStagingPrefix)) continue;
    TRY(folder.removeTree(entry.name));
    ++removed;
  }
  if (removed > 0) TRY(folder.syncSelf());
  return removed;
}

}  // namespace korvel
