// POSIX implementation of the no-follow file layer: openat, fstatat, renameat2 and flock.

#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "platform/crypto.h"

namespace korvel {
namespace {

EntryKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::file;
  if (S_ISDIR(mode)) return EntryKind::directory;
  if (S_ISLNK(mode)) return EntryKind::symlink;
  return EntryKind::other;
}

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = static_cast<uint64_t>(st.st_size);
  id.modifiedNanos = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changedNanos = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

Status badName(std::string_view name) {
  return makeError(ErrorCode::InvalidInput, fmt::format("“{}” is not a single file name.", name));
}

bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Error errnoError(int err, std::string_view what) {
  ErrorCode code = ErrorCode::Io;
  if (err == ENOENT || err == ENOTDIR) code = ErrorCode::NotFound;
  if (err == ELOOP || err == EACCES || err == EPERM) code = ErrorCode::Denied;
  if (err == EEXIST || err == ENOTEMPTY) code = ErrorCode::InvalidInput;
  return makeError(code, fmt::format("Could not {}: {}.", what, std::strerror(err)));
}

bool isSingleComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

Dir::~Dir() {
  if (fd_ >= 0) ::close(fd_);
}

Dir::Dir(Dir&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

Dir& Dir::operator=(Dir&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Result<Dir> Dir::openRoot(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errnoError(errno, fmt::format("open the folder {}", path.string()));
  return Dir(fd, path);
}

Result<Dir> Dir::createRoot(const std::filesystem::path& path, mode_t mode) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::filesystem::create_directories(path, ec);
    if (ec) return makeError(ErrorCode::Io, fmt::format("Could not create the folder {}: {}.", path.string(), ec.message()));
    ::chmod(path.c_str(), mode);
  }
  return openRoot(path);
}

Result<Dir> Dir::openDir(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  int fd = ::openat(fd_, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    // O_DIRECTORY|O_NOFOLLOW on a link yields ENOTDIR; report it as the link it is.
    struct stat st;
    if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) err = ELOOP;
    return errnoError(err, fmt::format("open the folder {}", (path_ / n).string()));
  }
  return Dir(fd, path_ / n);
}

Result<Dir> Dir::openPath(const std::vector<std::string>& components) const {
  if (components.empty()) return makeError(ErrorCode::InvalidInput, "An empty path was given.");
  Result<Dir> current = openDir(components.front());
  for (size_t i = 1; i < components.size() && current.ok(); ++i) current = current->openDir(components[i]);
  return current;
}

Result<Dir> Dir::createDir(std::string_view name, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  if (::mkdirat(fd_, n.c_str(), mode) != 0 && errno != EEXIST)
    return errnoError(errno, fmt::format("create the folder {}", (path_ / n).string()));
  return openDir(name);
}

Result<Dir> Dir::createNewDir(std::string_view name, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  if (::mkdirat(fd_, n.c_str(), mode) != 0)
    return errnoError(errno, fmt::format("create the folder {}", (path_ / n).string()));
  return openDir(name);
}

Result<EntryInfo> Dir::info(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  struct stat st;
  const std::string n(name);
  if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errnoError(errno, fmt::format("inspect {}", (path_ / n).string()));
  return EntryInfo{kindOf(st.st_mode), identityOf(st), st.st_mode & 07777};
}

Result<EntryInfo> Dir::selfInfo() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errnoError(errno, fmt::format("inspect {}", path_.string()));
  return EntryInfo{kindOf(st.st_mode), identityOf(st), st.st_mode & 07777};
}

bool Dir::exists(std::string_view name) const {
  if (!isSingleComponent(name)) return false;
  struct stat st;
  return ::fstatat(fd_, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

Result<std::vector<DirEntry>> Dir::list() const {
  int copy = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return errnoError(errno, fmt::format("list {}", path_.string()));
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    int err = errno;
    ::close(copy);
    return errnoError(err, fmt::format("list {}", path_.string()));
  }
  std::vector<DirEntry> entries;
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    EntryKind kind = EntryKind::other;
    switch (e->d_type) {
      case DT_REG: kind = EntryKind::file; break;
      case DT_DIR: kind = EntryKind::directory; break;
      case DT_LNK: kind = EntryKind::symlink; break;
      case DT_UNKNOWN: {
        struct stat st;
        if (::fstatat(fd_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) kind = kindOf(st.st_mode);
        break;
      }
      default: break;
    }
    entries.push_back({std::string(name), kind});
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return entries;
}

Result<File> Dir::openFile(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  int fd = ::openat(fd_, n.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errnoError(errno, fmt::format("open {}", (path_ / n).string()));
  File file(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) return errnoError(errno, fmt::format("inspect {}", (path_ / n).string()));
  if (!S_ISREG(st.st_mode))
    return makeError(ErrorCode::Denied, fmt::format("{} is not a regular file.", (path_ / n).string()));
  // Drop O_NONBLOCK (it only kept a FIFO from blocking the open).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return file;
}

Result<std::string> Dir::readFile(std::string_view name, uint64_t maxBytes) const {
  File file = TRY(openFile(name));
  return file.readAll(maxBytes);
}

Status Dir::writeAtomic(std::string_view name, std::string_view bytes, mode_t mode, Replace replace) const {
  if (!isSingleComponent(name)) return badName(name);
  const std::string target(name);
  const std::string temp = fmt::format(".{}.tmp-{}", target.substr(0, 64), hexEncode(randomBytes(8)));
  int fd = ::openat(fd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return errnoError(errno, fmt::format("create a temporary file in {}", path_.string()));
  const auto abandon = [&](int err, std::string_view what) {
    ::close(fd);
    ::unlinkat(fd_, temp.c_str(), 0);
    return errnoError(err, fmt::format("{} {}", what, (path_ / target).string()));
  };
  if (::fchmod(fd, mode) != 0) return abandon(errno, "set the mode of");
  if (!writeAll(fd, bytes)) return abandon(errno, "write");
  if (::fsync(fd) != 0) return abandon(errno, "flush");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlinkat(fd_, temp.c_str(), 0);
    return errnoError(err, fmt::format("close {}", (path_ / target).string()));
  }
  const unsigned flags = replace == Replace::refuseExisting ? RENAME_NOREPLACE : 0;
  if (::renameat2(fd_, temp.c_str(), fd_, target.c_str(), flags) != 0) {
    int err = errno;
    ::unlinkat(fd_, temp.c_str(), 0);
    return errnoError(err, fmt::format("replace {}", (path_ / target).string()));
  }
  return syncSelf();
}

Status Dir::appendLocked(std::string_view name, std::string_view bytes, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name);
  const std::string n(name);
  int fd = ::openat(fd_, n.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return errnoError(errno, fmt::format("open {} for appending", (path_ / n).string()));
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return makeError(ErrorCode::Denied, fmt::format("{} is not a regular file.", (path_ / n).string()));
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      int err = errno;
      ::close(fd);
      return errnoError(err, fmt::format("lock {}", (path_ / n).string()));
    }
  }
  const bool written = writeAll(fd, bytes);
  int err = errno;
  const bool synced = written && ::fdatasync(fd) == 0;
  if (written && !synced) err = errno;
  ::flock(fd, LOCK_UN);
  ::close(fd);
  if (!written || !synced) return errnoError(err, fmt::format("append to {}", (path_ / n).string()));
  return okStatus();
}

Status Dir::rename(std::string_view from, const Dir& toDir, std::string_view to, Replace replace) const {
  if (!isSingleComponent(from)) return badName(from);
  if (!isSingleComponent(to)) return badName(to);
  const unsigned flags = replace == Replace::refuseExisting ? RENAME_NOREPLACE : 0;
  if (::renameat2(fd_, std::string(from).c_str(), toDir.fd_, std::string(to).c_str(), flags) != 0)
    return errnoError(errno, fmt::format("move {} to {}", (path_ / std::string(from)).string(),
                                         (toDir.path_ / std::string(to)).string()));
  TRY(syncSelf());
  if (toDir.fd_ != fd_) TRY(toDir.syncSelf());
  return okStatus();
}

Status Dir::removeFile(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name);
  if (::unlinkat(fd_, std::string(name).c_str(), 0) != 0)
    return errnoError(errno, fmt::format("remove {}", (path_ / std::string(name)).string()));
  return okStatus();
}

Status Dir::removeTree(std::string_view name) const {
  auto entry = TRY(info(name));
  if (entry.kind != EntryKind::directory) return removeFile(name);
  Dir child = TRY(openDir(name));
  auto entries = TRY(child.list());
  for (const auto& e : entries) {
    if (e.kind == EntryKind::directory) {
      TRY(child.removeTree(e.name));
    } else {
      TRY(child.removeFile(e.name));
    }
  }
  if (::unlinkat(fd_, std::string(name).c_str(), AT_REMOVEDIR) != 0)
    return errnoError(errno, fmt::format("remove {}", (path_ / std::string(name)).string()));
  return okStatus();
}

Status Dir::chmod(std::string_view name, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name);
  if (::fchmodat(fd_, std::string(name).c_str(), mode, 0) != 0)
    return errnoError(errno, fmt::format("set the mode of {}", (path_ / std::string(name)).string()));
  return okStatus();
}

Status Dir::syncSelf() const {
  if (::fsync(fd_) != 0) return errnoError(errno, fmt::format("flush the folder {}", path_.string()));
  return okStatus();
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Result<FileIdentity> File::identity() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errnoError(errno, "inspect an open file");
  return identityOf(st);
}

Result<size_t> File::read(char* buffer, size_t size) {
  size_t total = 0;
  while (total < size) {
    ssize_t n = ::read(fd_, buffer + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errnoError(errno, "read a file");
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  return total;
}

Result<std::string> File::readAll(uint64_t maxBytes) {
  auto id = TRY(identity());
  if (id.size > maxBytes)
    return makeError(ErrorCode::InvalidInput, fmt::format("The file is larger than {} bytes.", maxBytes));
  std::string out;
  out.resize(static_cast<size_t>(id.size));
  size_t got = TRY(read(out.data(), out.size()));
  out.resize(got);
  // The file may have grown since fstat; one more byte past the cap means it is too large now.
  if (got == id.size) {
    char extra[4096];
    for (;;) {
      size_t more = TRY(read(extra, sizeof extra));
      if (more == 0) break;
      if (out.size() + more > maxBytes)
        return makeError(ErrorCode::InvalidInput, fmt::format("The file is larger than {} bytes.", maxBytes));
      out.append(extra, more);
    }
  }
  return out;
}

}  // namespace korvel
