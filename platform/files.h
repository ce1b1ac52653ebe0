#pragma once
// Descriptor-based file access that never follows a symbolic link below the folder it starts from.
//
// A Dir is an open directory descriptor; every name passed to it is a single path component
// resolved with O_NOFOLLOW, so a link planted anywhere below the root is refused rather than
// followed. Writes are atomic (temporary file in the same folder, fsync, rename, fsync of the
// folder); JSON-lines appends take an exclusive flock so concurrent writers never interleave.
//
// Every call goes through the FileSystem the root was opened with, and every Dir and File opened
// from it carries the same one, so a test's fault-injecting file system reaches all of them.
//
// Error codes: NotFound (no such entry), Denied (a symbolic link, a non-regular file, or
// permission), InvalidInput (a bad name, or a file over the caller's size cap), Io (anything else).
// Messages are technical; callers that face users map the code to their own sentence.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/result.h"

namespace korvel {

// Enough of stat() to tell whether a file is still the same file and unchanged.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanos = 0;
  int64_t changedNanos = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct EntryInfo {
  EntryKind kind = EntryKind::other;
  FileIdentity identity;
  mode_t mode = 0;
};

// True for a single, non-empty path component other than "." and "..", without "/" or NUL.
bool isSingleComponent(std::string_view name);

class File;

// Whether an atomic write may replace an existing file.
enum class Replace { allowed, refuseExisting };

// What a write or move that took effect can promise. `unconfirmed`: the change is visible but
// syncing it to storage failed, so a crash may still undo it. The caller decides what that means
// (the operation did happen: reporting it as failed would make a retry trip over it).
enum class Durability { confirmed, unconfirmed };

class Dir {
 public:
  Dir() = default;
  ~Dir();
  Dir(Dir&& other) noexcept;
  Dir& operator=(Dir&& other) noexcept;
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;

  // Opens the root the caller chose. The root path itself may pass through links (the user
  // picked it); everything opened from it afterwards does not.
  static Result<Dir> openRoot(const FileSystem& fs, const std::filesystem::path& path);
  // Opens the root, creating it and missing parents with the given mode first.
  static Result<Dir> createRoot(const FileSystem& fs, const std::filesystem::path& path, mode_t mode = 0755);

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }
  const FileSystem& fileSystem() const { return *fs_; }

  Result<Dir> openDir(std::string_view name) const;
  // Opens a chain of components one at a time, each without following links.
  Result<Dir> openPath(const std::vector<std::string>& components) const;
  // Creates the folder if missing (mode applied only on creation, and this folder synced so the
  // new entry survives a crash), then opens it.
  Result<Dir> createDir(std::string_view name, mode_t mode = 0755) const;
  // Creates the folder; fails with InvalidInput when it already exists.
  Result<Dir> createNewDir(std::string_view name, mode_t mode = 0755) const;

  Result<EntryInfo> info(std::string_view name) const;  // lstat semantics
  Result<EntryInfo> selfInfo() const;
  bool exists(std::string_view name) const;

  // Entries other than "." and "..", sorted by name. A listing cut short by an error fails whole:
  // callers act on what is missing from it.
  Result<std::vector<DirEntry>> list() const;

  Result<File> openFile(std::string_view name) const;  // read-only, regular files only
  Result<std::string> readFile(std::string_view name, uint64_t maxBytes) const;

  // Temporary file, fsync, rename over the name, fsync of this folder. An error means the name
  // still holds what it held before.
  Result<Durability> writeAtomic(std::string_view name, std::string_view bytes, mode_t mode = 0644,
                                 Replace replace = Replace::allowed) const;
  // Appends under an exclusive advisory lock; creates the file with the mode when missing.
  Status appendLocked(std::string_view name, std::string_view bytes, mode_t mode = 0644) const;

  // Moves an entry, then syncs both folders. An error means nothing moved.
  Result<Durability> rename(std::string_view from, const Dir& toDir, std::string_view to, Replace replace) const;
  Status removeFile(std::string_view name) const;
  // Removes a folder and everything in it without following links inside it.
  Status removeTree(std::string_view name) const;
  Status chmod(std::string_view name, mode_t mode) const;
  Status syncSelf() const;

 private:
  Dir(const FileSystem& fs, int fd, std::filesystem::path path) : fs_(&fs), fd_(fd), path_(std::move(path)) {}
  Result<Dir> openNamed(const std::string& name) const;
  const FileSystem* fs_ = &FileSystem::posix();
  int fd_ = -1;
  std::filesystem::path path_;
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  int fd() const { return fd_; }
  Result<FileIdentity> identity() const;
  // Reads up to size bytes; returns fewer only at end of file.
  Result<size_t> read(char* buffer, size_t size);
  Result<std::string> readAll(uint64_t maxBytes);

 private:
  friend class Dir;
  File(const FileSystem& fs, int fd, std::filesystem::path path) : fs_(&fs), fd_(fd), path_(std::move(path)) {}
  const FileSystem* fs_ = &FileSystem::posix();
  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace korvel
