#pragma once
// A FileSystem wrapper for tests: fails chosen calls, and forgets what was never made durable.
//
// Faults: `failNth(op, pathPart, n)` makes the n-th call of `op` (counted from now) on a path
// containing `pathPart` fail with the given errno, without doing anything; `failFrom` fails that
// call and every later one. Crashes: `dropUnsyncedChanges()` puts the files back the way storage
// would hold them after a power cut: file data beyond its last sync is cut off, and every entry
// created or renamed in a folder that was not synced afterwards is undone (the replaced file's
// old bytes come back). Thread-safe.

#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace korvel::testing {

// `anyChange` matches every call but `list`: failing all of them from the n-th on stops a
// writer there, as a crash would.
enum class FaultOp { open, write, sync, rename, list, mkdir, unlink, anyChange };

class FaultFileSystem final : public FileSystem {
 public:
  explicit FaultFileSystem(const FileSystem& base = FileSystem::posix()) : base_(base) {}

  void failNth(FaultOp op, std::string pathPart, int nth = 1, int err = EIO);
  void failFrom(FaultOp op, std::string pathPart, int nth = 1, int err = EIO);
  // Fails the n-th call of `op` on exactly this path (a folder's own sync, not its files').
  void failNthExactly(FaultOp op, const Path& path, int nth = 1, int err = EIO);
  void clearFaults();
  // Calls of `op` seen on paths containing `pathPart`, failed ones included.
  int calls(FaultOp op, const std::string& pathPart = "") const;
  // Puts storage back to what the last syncs made durable (see above), then forgets the history.
  void dropUnsyncedChanges();

  int open(const Path& where, int flags, mode_t mode, int& fd) const override;
  int openAt(int dirFd, const std::string& name, const Path& where, int flags, mode_t mode, int& fd) const override;
  int close(int fd) const override;
  int write(int fd, const Path& where, std::string_view bytes) const override;
  int read(int fd, const Path& where, char* buffer, size_t size, size_t& got) const override;
  int sync(int fd, const Path& where, bool dataOnly) const override;
  int stat(int fd, struct stat& out) const override { return base_.stat(fd, out); }
  int statAt(int dirFd, const std::string& name, const Path& where, struct stat& out) const override {
    return base_.statAt(dirFd, name, where, out);
  }
  int chmod(int fd, mode_t mode) const override { return base_.chmod(fd, mode); }
  int chmodAt(int dirFd, const std::string& name, const Path& where, mode_t mode) const override {
    return base_.chmodAt(dirFd, name, where, mode);
  }
  int mkdirAt(int dirFd, const std::string& name, const Path& where, mode_t mode) const override;
  int renameAt(int fromDirFd, const std::string& from, const Path& fromWhere, int toDirFd, const std::string& to,
               const Path& toWhere, bool noReplace) const override;
  int unlinkAt(int dirFd, const std::string& name, const Path& where, bool directory) const override;
  int list(int dirFd, const Path& where, std::vector<DirEntry>& out) const override;
  int lock(int fd, bool exclusive) const override { return base_.lock(fd, exclusive); }
  int unlock(int fd) const override { return base_.unlock(fd); }

  Result<int64_t> availableBytes(const Path& path) const override { return base_.availableBytes(path); }
  Result<Path> absolute(const Path& path) const override { return base_.absolute(path); }
  Result<Path> canonical(const Path& path) const override { return base_.canonical(path); }
  bool isSymlink(const Path& path) const override { return base_.isSymlink(path); }
  Status createDirectories(const Path& path, mode_t mode) const override {
    return base_.createDirectories(path, mode);
  }
  Result<Path> temporaryDirectory() const override { return base_.temporaryDirectory(); }
  Result<Path> makeTemporaryFolder(std::string_view prefix) const override {
    return base_.makeTemporaryFolder(prefix);
  }
  Status removeAll(const Path& path) const override { return base_.removeAll(path); }

 private:
  struct Fault {
    FaultOp op;
    std::string pathPart;
    int remaining;  // calls to let through first
    bool sticky;    // keep failing after the first
    int err;
    bool exact = false;
  };
  // A change to a folder's entries that is durable only once its folders are synced.
  struct Pending {
    enum class Kind { created, renamed } kind;
    std::string path;                      // what was created, or the rename's destination
    std::string from;                      // the rename's source
    std::optional<std::string> replaced;   // bytes of the file a rename replaced
    bool toSynced = false, fromSynced = false;
  };

  // Counts the call and returns the errno of a fault that fires on it, else 0. Holds no lock.
  int check(FaultOp op, const std::string& path) const;
  void remap(const std::string& from, const std::string& to) const;

  const FileSystem& base_;
  mutable std::mutex lock_;
  mutable std::vector<Fault> faults_;
  mutable std::vector<std::pair<FaultOp, std::string>> log_;
  mutable std::map<int, std::string> writable_;   // descriptor -> file path
  mutable std::map<std::string, uint64_t> synced_;  // file path -> bytes made durable
  mutable std::vector<Pending> pending_;
};

}  // namespace korvel::testing
