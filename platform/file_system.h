#pragma once
// The operating-system calls every file in Korvel goes through, behind one interface so that
// tests can fail a chosen write, sync, rename or listing, or drop what was never synced.
//
// Descriptor calls return 0 (or fill an out-parameter) on success and an errno value on failure,
// exactly as the system call they stand for; `where` is the full path the call acts on, used for
// messages and for choosing which calls a test fails. Path calls return Results. Implementations
// are thread-safe; `FileSystem::posix()` is the real one and lives for the whole program.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace korvel {

enum class EntryKind { file, directory, symlink, other };

// The kind a stat() mode names.
EntryKind entryKindOf(mode_t mode);

struct DirEntry {
  std::string name;
  EntryKind kind = EntryKind::other;
};

using Path = std::filesystem::path;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The real file system of this machine.
  static const FileSystem& posix();

  // --- Descriptor calls (errno results) ---
  virtual int open(const Path& where, int flags, mode_t mode, int& fd) const = 0;
  virtual int openAt(int dirFd, const std::string& name, const Path& where, int flags, mode_t mode,
                     int& fd) const = 0;
  virtual int close(int fd) const = 0;
  // Writes every byte, retrying short writes and interruptions.
  virtual int write(int fd, const Path& where, std::string_view bytes) const = 0;
  virtual int read(int fd, const Path& where, char* buffer, size_t size, size_t& got) const = 0;
  // fsync of a file or a folder; `dataOnly` allows fdatasync.
  virtual int sync(int fd, const Path& where, bool dataOnly = false) const = 0;
  virtual int stat(int fd, struct stat& out) const = 0;
  virtual int statAt(int dirFd, const std::string& name, const Path& where, struct stat& out) const = 0;
  virtual int chmod(int fd, mode_t mode) const = 0;
  virtual int chmodAt(int dirFd, const std::string& name, const Path& where, mode_t mode) const = 0;
  virtual int mkdirAt(int dirFd, const std::string& name, const Path& where, mode_t mode) const = 0;
  // `noReplace` refuses an existing destination (EEXIST) instead of replacing it.
  virtual int renameAt(int fromDirFd, const std::string& from, const Path& fromWhere, int toDirFd,
                       const std::string& to, const Path& toWhere, bool noReplace) const = 0;
  virtual int unlinkAt(int dirFd, const std::string& name, const Path& where, bool directory) const = 0;
  // Every entry but "." and "..", in no particular order. A listing cut short is an error.
  virtual int list(int dirFd, const Path& where, std::vector<DirEntry>& out) const = 0;
  virtual int lock(int fd, bool exclusive) const = 0;
  virtual int unlock(int fd) const = 0;

  // --- Path calls ---
  // Free bytes for an unprivileged writer on the volume holding the path.
  virtual Result<int64_t> availableBytes(const Path& path) const = 0;
  // Absolute and lexically normal, without a trailing separator; needs the working folder only
  // for a relative path.
  virtual Result<Path> absolute(const Path& path) const = 0;
  // The absolute form with every existing link resolved; a missing tail is kept as written.
  virtual Result<Path> canonical(const Path& path) const = 0;
  // Whether the last component is a symbolic link (false when it does not exist).
  virtual bool isSymlink(const Path& path) const = 0;
  // Creates the folder and its missing parents; the mode applies to the folders it creates.
  virtual Status createDirectories(const Path& path, mode_t mode) const = 0;
  // The folder for scratch files ($TMPDIR, else /tmp).
  virtual Result<Path> temporaryDirectory() const = 0;
  // A new private folder (0700) in the scratch folder whose name starts with the prefix.
  virtual Result<Path> makeTemporaryFolder(std::string_view prefix) const = 0;
  // Removes a path and everything below it without following links; a missing path is fine.
  virtual Status removeAll(const Path& path) const = 0;
};

// Errno to an Error with our code mapping; `what` names the operation and the file.
Error errnoError(int err, std::string_view what);

}  // namespace korvel
