// The no-follow file layer over a FileSystem: openat, fstatat, renameat2 and flock semantics.

#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/crypto.h"

namespace korvel {
namespace {

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

}  // namespace

bool isSingleComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

OpenDescriptor::~OpenDescriptor() {
  if (fd_ >= 0) fs_->close(fd_);
}

OpenDescriptor::OpenDescriptor(OpenDescriptor&& other) noexcept
    : fs_(other.fs_), fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

OpenDescriptor& OpenDescriptor::operator=(OpenDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) fs_->close(fd_);
    fs_ = other.fs_;
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Result<Dir> Dir::openRoot(const FileSystem& fs, const std::filesystem::path& path) {
  int fd = -1;
  if (int err = fs.open(path, O_RDONLY | O_DIRECTORY, 0, fd))
    return errnoError(err, fmt::format("open the folder {}", path.string()));
  return Dir(fs, fd, path);
}

Result<Dir> Dir::createRoot(const FileSystem& fs, const std::filesystem::path& path, mode_t mode) {
  TRY(fs.createDirectories(path, mode));
  return openRoot(fs, path);
}

Result<Dir> Dir::openNamed(const std::string& n) const {
  const auto where = path_ / n;
  int fd = -1;
  if (int err = fs_->openAt(fd_, n, where, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0, fd)) {
    // O_DIRECTORY|O_NOFOLLOW on a link yields ENOTDIR; report it as the link it is.
    struct stat st;
    if (fs_->statAt(fd_, n, where, st) == 0 && S_ISLNK(st.st_mode)) err = ELOOP;
    return errnoError(err, fmt::format("open the folder {}", where.string()));
  }
  return Dir(*fs_, fd, where);
}

Result<Dir> Dir::openDir(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  return openNamed(std::string(name));
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
  const int err = fs_->mkdirAt(fd_, n, path_ / n, mode);
  if (err != 0 && err != EEXIST) return errnoError(err, fmt::format("create the folder {}", (path_ / n).string()));
  if (err == 0) (void)syncSelf();  // a folder that vanishes in a crash takes everything written into it along
  return openNamed(n);
}

Result<Dir> Dir::createNewDir(std::string_view name, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  if (int err = fs_->mkdirAt(fd_, n, path_ / n, mode))
    return errnoError(err, fmt::format("create the folder {}", (path_ / n).string()));
  (void)syncSelf();
  return openNamed(n);
}

Result<EntryInfo> Dir::info(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  struct stat st;
  const std::string n(name);
  if (int err = fs_->statAt(fd_, n, path_ / n, st)) return errnoError(err, fmt::format("inspect {}", (path_ / n).string()));
  return EntryInfo{entryKindOf(st.st_mode), identityOf(st), st.st_mode & 07777};
}

Result<EntryInfo> Dir::selfInfo() const {
  struct stat st;
  if (int err = fs_->stat(fd_, st)) return errnoError(err, fmt::format("inspect {}", path_.string()));
  return EntryInfo{entryKindOf(st.st_mode), identityOf(st), st.st_mode & 07777};
}

bool Dir::exists(std::string_view name) const {
  if (!isSingleComponent(name)) return false;
  struct stat st;
  const std::string n(name);
  return fs_->statAt(fd_, n, path_ / n, st) == 0;
}

Result<std::vector<DirEntry>> Dir::list() const {
  std::vector<DirEntry> entries;
  if (int err = fs_->list(fd_, path_, entries)) return errnoError(err, fmt::format("list {}", path_.string()));
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return entries;
}

Result<File> Dir::openFile(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string n(name);
  const auto where = path_ / n;
  int fd = -1;
  if (int err = fs_->openAt(fd_, n, where, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, fd))
    return errnoError(err, fmt::format("open {}", where.string()));
  File file(*fs_, fd, where);
  struct stat st;
  if (int err = fs_->stat(fd, st)) return errnoError(err, fmt::format("inspect {}", where.string()));
  if (!S_ISREG(st.st_mode))
    return makeError(ErrorCode::Denied, fmt::format("{} is not a regular file.", where.string()));
  // Drop O_NONBLOCK (it only kept a FIFO from blocking the open).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return file;
}

Result<std::string> Dir::readFile(std::string_view name, uint64_t maxBytes) const {
  File file = TRY(openFile(name));
  return file.readAll(maxBytes);
}

Result<Durability> Dir::writeAtomic(std::string_view name, std::string_view bytes, mode_t mode,
                                    Replace replace) const {
  if (!isSingleComponent(name)) return badName(name).error();
  const std::string target(name);
  const std::string temp = fmt::format(".{}.tmp-{}", target.substr(0, 64), hexEncode(randomBytes(8)));
  const auto tempPath = path_ / temp;
  const auto targetPath = path_ / target;
  int fd = -1;
  if (int err = fs_->openAt(fd_, temp, tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode, fd))
    return errnoError(err, fmt::format("create a temporary file in {}", path_.string()));
  const auto abandon = [&](int err, std::string_view what) {
    if (fd >= 0) fs_->close(fd);
    (void)fs_->unlinkAt(fd_, temp, tempPath, false);
    return errnoError(err, fmt::format("{} {}", what, targetPath.string()));
  };
  if (int err = fs_->chmod(fd, mode)) return abandon(err, "set the mode of");
  if (int err = fs_->write(fd, tempPath, bytes)) return abandon(err, "write");
  // The data must be on storage before the name points at it, or a crash leaves an empty file
  // where a complete one stood.
  if (int err = fs_->sync(fd, tempPath)) return abandon(err, "flush");
  const int closed = fs_->close(fd);
  fd = -1;
  if (closed != 0) return abandon(closed, "close");
  if (int err = fs_->renameAt(fd_, temp, tempPath, fd_, target, targetPath, replace == Replace::refuseExisting))
    return abandon(err, "replace");
  return syncSelf() ? Durability::confirmed : Durability::unconfirmed;
}

Status Dir::appendLocked(std::string_view name, std::string_view bytes, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name);
  const std::string n(name);
  const auto where = path_ / n;
  int fd = -1;
  if (int err = fs_->openAt(fd_, n, where, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, mode, fd))
    return errnoError(err, fmt::format("open {} for appending", where.string()));
  struct stat st;
  if (fs_->stat(fd, st) != 0 || !S_ISREG(st.st_mode)) {
    fs_->close(fd);
    return makeError(ErrorCode::Denied, fmt::format("{} is not a regular file.", where.string()));
  }
  if (int err = fs_->lock(fd, true)) {
    fs_->close(fd);
    return errnoError(err, fmt::format("lock {}", where.string()));
  }
  int err = fs_->write(fd, where, bytes);
  if (err == 0) err = fs_->sync(fd, where, true);
  fs_->unlock(fd);
  fs_->close(fd);
  if (err != 0) return errnoError(err, fmt::format("append to {}", where.string()));
  return okStatus();
}

Result<Durability> Dir::rename(std::string_view from, const Dir& toDir, std::string_view to, Replace replace) const {
  if (!isSingleComponent(from)) return badName(from).error();
  if (!isSingleComponent(to)) return badName(to).error();
  const std::string f(from), t(to);
  if (int err = fs_->renameAt(fd_, f, path_ / f, toDir.fd_, t, toDir.path_ / t, replace == Replace::refuseExisting))
    return errnoError(err, fmt::format("move {} to {}", (path_ / f).string(), (toDir.path_ / t).string()));
  bool synced = syncSelf().ok();
  if (toDir.fd_ != fd_) synced = toDir.syncSelf().ok() && synced;
  return synced ? Durability::confirmed : Durability::unconfirmed;
}

Status Dir::removeFile(std::string_view name) const {
  if (!isSingleComponent(name)) return badName(name);
  const std::string n(name);
  if (int err = fs_->unlinkAt(fd_, n, path_ / n, false)) return errnoError(err, fmt::format("remove {}", (path_ / n).string()));
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
  const std::string n(name);
  if (int err = fs_->unlinkAt(fd_, n, path_ / n, true)) return errnoError(err, fmt::format("remove {}", (path_ / n).string()));
  return okStatus();
}

Status Dir::chmod(std::string_view name, mode_t mode) const {
  if (!isSingleComponent(name)) return badName(name);
  const std::string n(name);
  if (int err = fs_->chmodAt(fd_, n, path_ / n, mode))
    return errnoError(err, fmt::format("set the mode of {}", (path_ / n).string()));
  return okStatus();
}

Status Dir::syncSelf() const {
  if (int err = fs_->sync(fd_, path_)) return errnoError(err, fmt::format("flush the folder {}", path_.string()));
  return okStatus();
}

Result<FileIdentity> File::identity() const {
  struct stat st;
  if (int err = fs_->stat(fd_, st)) return errnoError(err, fmt::format("inspect {}", path_.string()));
  return identityOf(st);
}

Result<size_t> File::read(char* buffer, size_t size) {
  size_t total = 0;
  while (total < size) {
    size_t got = 0;
    if (int err = fs_->read(fd_, path_, buffer + total, size - total, got))
      return errnoError(err, fmt::format("read {}", path_.string()));
    if (got == 0) break;
    total += got;
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
