// Fault injection and crash simulation over a real file system, for the durability tests.

#include "tests/support/fault_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

std::string key(const Path& path) { return path.lexically_normal().string(); }

bool isDirectory(const FileSystem& base, int fd) {
  struct stat st;
  return base.stat(fd, st) == 0 && S_ISDIR(st.st_mode);
}

bool under(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

std::optional<std::string> regularFileBytes(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

void FaultFileSystem::failNth(FaultOp op, std::string pathPart, int nth, int err) {
  std::lock_guard guard(lock_);
  faults_.push_back({op, std::move(pathPart), nth - 1, false, err});
}

void FaultFileSystem::failFrom(FaultOp op, std::string pathPart, int nth, int err) {
  std::lock_guard guard(lock_);
  faults_.push_back({op, std::move(pathPart), nth - 1, true, err});
}

void FaultFileSystem::failNthExactly(FaultOp op, const Path& path, int nth, int err) {
  std::lock_guard guard(lock_);
  faults_.push_back({op, key(path), nth - 1, false, err, true});
}

void FaultFileSystem::clearFaults() {
  std::lock_guard guard(lock_);
  faults_.clear();
}

int FaultFileSystem::calls(FaultOp op, const std::string& pathPart) const {
  std::lock_guard guard(lock_);
  return static_cast<int>(std::count_if(log_.begin(), log_.end(), [&](const auto& call) {
    const bool matches = call.first == op || (op == FaultOp::anyChange && call.first != FaultOp::list);
    return matches && call.second.find(pathPart) != std::string::npos;
  }));
}

int FaultFileSystem::check(FaultOp op, const std::string& path) const {
  log_.emplace_back(op, path);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    const bool matches = it->op == op || (it->op == FaultOp::anyChange && op != FaultOp::list);
    if (!matches || (it->exact ? path != it->pathPart : path.find(it->pathPart) == std::string::npos)) continue;
    if (it->remaining > 0) {
      --it->remaining;
      continue;
    }
    const int err = it->err;
    if (!it->sticky) faults_.erase(it);
    return err;
  }
  return 0;
}

void FaultFileSystem::remap(const std::string& from, const std::string& to) const {
  const auto moved = [&](const std::string& path) { return to + path.substr(from.size()); };
  std::map<std::string, uint64_t> synced;
  for (const auto& [path, size] : synced_) synced[under(path, from) ? moved(path) : path] = size;
  synced_ = std::move(synced);
  for (auto& [fd, path] : writable_)
    if (under(path, from)) path = moved(path);
}

int FaultFileSystem::open(const Path& where, int flags, mode_t mode, int& fd) const {
  {
    std::lock_guard guard(lock_);
    if (int err = check(FaultOp::open, key(where))) return err;
  }
  return base_.open(where, flags, mode, fd);
}

int FaultFileSystem::openAt(int dirFd, const std::string& name, const Path& where, int flags, mode_t mode,
                            int& fd) const {
  std::lock_guard guard(lock_);
  const std::string path = key(where);
  if (int err = check(FaultOp::open, path)) return err;
  struct stat st;
  const bool existed = base_.statAt(dirFd, name, where, st) == 0;
  if (int err = base_.openAt(dirFd, name, where, flags, mode, fd)) return err;
  if ((flags & O_ACCMODE) != O_RDONLY) {
    writable_[fd] = path;
    if (!existed) {
      synced_[path] = 0;
      pending_.push_back({Pending::Kind::created, path, "", std::nullopt, false, true});
    } else if (!synced_.count(path)) {
      synced_[path] = static_cast<uint64_t>(st.st_size);
    }
  }
  return 0;
}

int FaultFileSystem::close(int fd) const {
  {
    std::lock_guard guard(lock_);
    writable_.erase(fd);
  }
  return base_.close(fd);
}

int FaultFileSystem::write(int fd, const Path& where, std::string_view bytes) const {
  {
    std::lock_guard guard(lock_);
    if (int err = check(FaultOp::write, key(where))) return err;
  }
  return base_.write(fd, where, bytes);
}

int FaultFileSystem::read(int fd, const Path& where, char* buffer, size_t size, size_t& got) const {
  return base_.read(fd, where, buffer, size, got);
}

int FaultFileSystem::sync(int fd, const Path& where, bool dataOnly) const {
  std::lock_guard guard(lock_);
  const std::string path = key(where);
  if (int err = check(FaultOp::sync, path)) return err;
  if (int err = base_.sync(fd, where, dataOnly)) return err;
  if (isDirectory(base_, fd)) {
    // Entries of this folder are now durable; a rename needs both of its folders synced.
    for (Pending& change : pending_) {
      if (key(Path(change.path).parent_path()) == path) change.toSynced = true;
      if (change.kind == Pending::Kind::renamed && key(Path(change.from).parent_path()) == path)
        change.fromSynced = true;
    }
    std::erase_if(pending_, [](const Pending& change) { return change.toSynced && change.fromSynced; });
  } else {
    struct stat st;
    if (base_.stat(fd, st) == 0) synced_[writable_.count(fd) ? writable_[fd] : path] = static_cast<uint64_t>(st.st_size);
  }
  return 0;
}

int FaultFileSystem::mkdirAt(int dirFd, const std::string& name, const Path& where, mode_t mode) const {
  std::lock_guard guard(lock_);
  const std::string path = key(where);
  if (int err = check(FaultOp::mkdir, path)) return err;
  if (int err = base_.mkdirAt(dirFd, name, where, mode)) return err;
  pending_.push_back({Pending::Kind::created, path, "", std::nullopt, false, true});
  return 0;
}

int FaultFileSystem::renameAt(int fromDirFd, const std::string& from, const Path& fromWhere, int toDirFd,
                              const std::string& to, const Path& toWhere, bool noReplace) const {
  std::lock_guard guard(lock_);
  const std::string source = key(fromWhere), destination = key(toWhere);
  if (int err = check(FaultOp::rename, source + " -> " + destination)) return err;
  auto replaced = regularFileBytes(destination);
  if (int err = base_.renameAt(fromDirFd, from, fromWhere, toDirFd, to, toWhere, noReplace)) return err;
  synced_.erase(destination);
  remap(source, destination);
  pending_.push_back({Pending::Kind::renamed, destination, source, std::move(replaced)});
  return 0;
}

int FaultFileSystem::unlinkAt(int dirFd, const std::string& name, const Path& where, bool directory) const {
  std::lock_guard guard(lock_);
  const std::string path = key(where);
  if (int err = check(FaultOp::unlink, path)) return err;
  if (int err = base_.unlinkAt(dirFd, name, where, directory)) return err;
  synced_.erase(path);
  return 0;
}

int FaultFileSystem::list(int dirFd, const Path& where, std::vector<DirEntry>& out) const {
  {
    std::lock_guard guard(lock_);
    if (int err = check(FaultOp::list, key(where))) return err;
  }
  return base_.list(dirFd, where, out);
}

void FaultFileSystem::dropUnsyncedChanges() {
  std::lock_guard guard(lock_);
  std::error_code error;
  for (const auto& [path, size] : synced_) {
    if (fs::is_regular_file(fs::symlink_status(path, error)) && fs::file_size(path, error) > size)
      fs::resize_file(path, size, error);
  }
  for (auto change = pending_.rbegin(); change != pending_.rend(); ++change) {
    if (change->kind == Pending::Kind::created) {
      fs::remove_all(change->path, error);
      continue;
    }
    if (fs::exists(fs::symlink_status(change->path, error)) && !fs::exists(fs::symlink_status(change->from, error))) {
      fs::rename(change->path, change->from, error);
      // Older changes recorded their paths after this move; put them back where they were.
      for (auto older = std::next(change); older != pending_.rend(); ++older) {
        if (under(older->path, change->path)) older->path = change->from + older->path.substr(change->path.size());
        if (under(older->from, change->path)) older->from = change->from + older->from.substr(change->path.size());
      }
    }
    if (change->replaced) {
      std::ofstream out(change->path, std::ios::binary | std::ios::trunc);
      out << *change->replaced;
    }
  }
  pending_.clear();
  synced_.clear();
  writable_.clear();
}

}  // namespace korvel::testing
