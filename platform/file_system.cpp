// The real file system: thin wrappers over the POSIX and Linux calls, errno passed through.

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fmt/format.h>

#include "platform/paths.h"

namespace korvel {
namespace {

int lastError() { return errno != 0 ? errno : EIO; }

class PosixFileSystem final : public FileSystem {
 public:
  int open(const Path& where, int flags, mode_t mode, int& fd) const override {
    fd = ::open(where.c_str(), flags | O_CLOEXEC, mode);
    return fd < 0 ? lastError() : 0;
  }

  int openAt(int dirFd, const std::string& name, const Path&, int flags, mode_t mode, int& fd) const override {
    fd = ::openat(dirFd, name.c_str(), flags | O_CLOEXEC, mode);
    return fd < 0 ? lastError() : 0;
  }

  int close(int fd) const override { return ::close(fd) != 0 ? lastError() : 0; }

  int write(int fd, const Path&, std::string_view bytes) const override {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return lastError();
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    return 0;
  }

  int read(int fd, const Path&, char* buffer, size_t size, size_t& got) const override {
    for (;;) {
      ssize_t n = ::read(fd, buffer, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        got = 0;
        return lastError();
      }
      got = static_cast<size_t>(n);
      return 0;
    }
  }

  int sync(int fd, const Path&, bool dataOnly) const override {
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) != 0 ? lastError() : 0;
  }

  int stat(int fd, struct stat& out) const override { return ::fstat(fd, &out) != 0 ? lastError() : 0; }

  int statAt(int dirFd, const std::string& name, const Path&, struct stat& out) const override {
    return ::fstatat(dirFd, name.c_str(), &out, AT_SYMLINK_NOFOLLOW) != 0 ? lastError() : 0;
  }

  int chmod(int fd, mode_t mode) const override { return ::fchmod(fd, mode) != 0 ? lastError() : 0; }

  int chmodAt(int dirFd, const std::string& name, const Path&, mode_t mode) const override {
    return ::fchmodat(dirFd, name.c_str(), mode, 0) != 0 ? lastError() : 0;
  }

  int mkdirAt(int dirFd, const std::string& name, const Path&, mode_t mode) const override {
    return ::mkdirat(dirFd, name.c_str(), mode) != 0 ? lastError() : 0;
  }

  int renameAt(int fromDirFd, const std::string& from, const Path&, int toDirFd, const std::string& to, const Path&,
               bool noReplace) const override {
    return ::renameat2(fromDirFd, from.c_str(), toDirFd, to.c_str(), noReplace ? RENAME_NOREPLACE : 0) != 0
               ? lastError()
               : 0;
  }

  int unlinkAt(int dirFd, const std::string& name, const Path&, bool directory) const override {
    return ::unlinkat(dirFd, name.c_str(), directory ? AT_REMOVEDIR : 0) != 0 ? lastError() : 0;
  }

  int list(int dirFd, const Path&, std::vector<DirEntry>& out) const override {
    int copy = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return lastError();
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
      int err = lastError();
      ::close(copy);
      return err;
    }
    out.clear();
    for (;;) {
      // readdir reports failure only through errno, so it must be cleared before each call.
      errno = 0;
      struct dirent* e = ::readdir(dir);
      if (!e) break;
      std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      EntryKind kind = EntryKind::other;
      switch (e->d_type) {
        case DT_REG: kind = EntryKind::file; break;
        case DT_DIR: kind = EntryKind::directory; break;
        case DT_LNK: kind = EntryKind::symlink; break;
        case DT_UNKNOWN: {
          struct stat st;
          if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) kind = entryKindOf(st.st_mode);
          break;
        }
        default: break;
      }
      out.push_back({std::string(name), kind});
    }
    const int err = errno;
    ::closedir(dir);
    return err;
  }

  int lock(int fd, bool exclusive) const override {
    while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
      if (errno != EINTR) return lastError();
    }
    return 0;
  }

  int unlock(int fd) const override { return ::flock(fd, LOCK_UN) != 0 ? lastError() : 0; }

  Result<int64_t> availableBytes(const Path& path) const override {
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) != 0)
      return errnoError(errno, fmt::format("read the free space of the volume holding {}", path.string()));
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
  }

  Result<Path> absolute(const Path& path) const override {
    std::error_code error;
    Path result = std::filesystem::absolute(path, error);
    if (error)
      return makeError(ErrorCode::Io, fmt::format("The path {} could not be made absolute because the working "
                                                  "folder is unavailable: {}.",
                                                  path.string(), error.message()));
    return standardizedPath(result);
  }

  Result<Path> canonical(const Path& path) const override {
    Path normal = TRY(absolute(path));
    std::error_code error;
    Path real = std::filesystem::weakly_canonical(normal, error);
    if (error) return normal;
    return standardizedPath(real);
  }

  bool isSymlink(const Path& path) const override {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }

  Status createDirectories(const Path& path, mode_t mode) const override {
    std::error_code error;
    Path current;
    for (const auto& part : path) {
      current /= part;
      if (part.empty() || current == current.root_path()) continue;
      if (::mkdir(current.c_str(), mode) == 0) continue;
      const int err = errno;
      struct stat st;
      if (err == EEXIST && ::stat(current.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      return errnoError(err == EEXIST ? ENOTDIR : err, fmt::format("create the folder {}", current.string()));
    }
    return okStatus();
  }

  Result<Path> temporaryDirectory() const override {
    const char* configured = ::getenv("TMPDIR");
    Path folder = configured && *configured ? Path(configured) : Path("/tmp");
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return makeError(ErrorCode::NotFound,
                       fmt::format("The temporary folder {} does not exist; set TMPDIR to a folder that does.",
                                   folder.string()));
    return absolute(folder);
  }

  Result<Path> makeTemporaryFolder(std::string_view prefix) const override {
    const Path base = TRY(temporaryDirectory());
    std::string pattern = (base / fmt::format("{}XXXXXX", prefix)).string();
    if (!::mkdtemp(pattern.data()))
      return errnoError(errno, fmt::format("create a temporary folder in {}", base.string()));
    return Path(pattern);
  }

  Status removeAll(const Path& path) const override {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error && error != std::errc::no_such_file_or_directory)
      return makeError(ErrorCode::Io, fmt::format("Could not remove {}: {}.", path.string(), error.message()));
    return okStatus();
  }
};

}  // namespace

EntryKind entryKindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::file;
  if (S_ISDIR(mode)) return EntryKind::directory;
  if (S_ISLNK(mode)) return EntryKind::symlink;
  return EntryKind::other;
}

const FileSystem& FileSystem::posix() {
  static const PosixFileSystem instance;
  return instance;
}

Error errnoError(int err, std::string_view what) {
  ErrorCode code = ErrorCode::Io;
  if (err == ENOENT || err == ENOTDIR) code = ErrorCode::NotFound;
  if (err == ELOOP || err == EACCES || err == EPERM) code = ErrorCode::Denied;
  if (err == EEXIST || err == ENOTEMPTY) code = ErrorCode::InvalidInput;
  std::string sentence = fmt::format("Could not {}: {}.", what, std::strerror(err));
  return Error{code, sentence, sentence};
}

}  // namespace korvel
