// The archive's layout, creation, listing and its folder-level reads and writes.

#include "core/archive/archive.h"

#include <sys/statvfs.h>

#include <algorithm>

#include <fmt/format.h>

#include "platform/crypto.h"
#include "platform/timezone.h"

namespace korvel {
namespace fs = std::filesystem;

namespace {

const SystemClock& systemClock() {
  static const SystemClock clock;
  return clock;
}

// A user-facing sentence for a failed manifest read; the code is kept so that callers can tell
// a vanished file from a broken one.
Error manifestReadError(const Error& error) {
  switch (error.code) {
    case ErrorCode::NotFound: return makeError(ErrorCode::NotFound, "The meeting folder has no manifest.");
    case ErrorCode::Denied:
      return makeError(ErrorCode::Denied, "The meeting manifest must be a regular file, not a symbolic link.");
    case ErrorCode::InvalidInput:
      return makeError(ErrorCode::Corrupt, "The meeting manifest is larger than the archive allows.");
    default: return makeError(error.code, "The meeting manifest could not be read.");
  }
}

Error folderOpenError(const Error& error) {
  switch (error.code) {
    case ErrorCode::NotFound: return makeError(ErrorCode::NotFound, "The meeting folder does not exist.");
    case ErrorCode::Denied:
      return makeError(ErrorCode::Denied, "The meeting folder and its archive parents cannot be symbolic links.");
    default: return makeError(error.code, "The meeting folder could not be opened.");
  }
}

// Absolute, lexically normal, without a trailing separator: the form paths are compared in.
fs::path standardized(const fs::path& path) {
  fs::path result = fs::absolute(path).lexically_normal();
  if (!result.has_filename() && result != result.root_path()) result = result.parent_path();
  return result;
}

}  // namespace

Archive::Archive(fs::path root) : Archive(std::move(root), systemClock(), currentTimeZoneIdentifier()) {}

Archive::Archive(fs::path root, const Clock& clock, std::string timeZone)
    : root_(standardized(root)), clock_(&clock), timeZone_(std::move(timeZone)) {}

fs::path Archive::applicationSupportRoot(const PlatformFolders& folders) { return folders.applicationSupport; }
fs::path Archive::legacyRoot(const PlatformFolders& folders) { return applicationSupportRoot(folders) / "Archive"; }
fs::path Archive::defaultRoot(const PlatformFolders& folders) { return folders.archiveRoot; }

fs::path Archive::supportRoot(const fs::path& root, const PlatformFolders& folders) {
  const fs::path standard = standardized(root);
  if (standard == standardized(defaultRoot(folders)) || standard == standardized(legacyRoot(folders)))
    return applicationSupportRoot(folders);
  return standard.parent_path();
}

Result<Dir> Archive::openRoot() const {
  auto root = Dir::openRoot(root_);
  if (!root) {
    if (root.error().code == ErrorCode::NotFound)
      return makeError(ErrorCode::NotFound, fmt::format("The archive folder {} does not exist.", root_.string()));
    return makeError(root.error().code, fmt::format("The archive folder {} could not be opened.", root_.string()));
  }
  return root;
}

Result<Dir> Archive::createRoot() const {
  auto root = Dir::createRoot(root_);
  if (!root) return makeError(root.error().code, fmt::format("The archive folder {} could not be created.", root_.string()));
  return root;
}

std::string Archive::folderName(const Meeting& meeting) {
  const CivilTime utc = civilTime(meeting.startedAt, "UTC").valueOr(CivilTime{});
  return fmt::format("{:04}{:02}{:02}T{:02}{:02}{:02}Z_{}", utc.year, utc.month, utc.day, utc.hour, utc.minute,
                     utc.second, meeting.id);
}

std::vector<std::string> Archive::folderComponents(const Meeting& meeting) const {
  auto local = civilTime(meeting.startedAt, timeZone_);
  if (!local) local = civilTime(meeting.startedAt, "UTC");
  const CivilTime day = local.valueOr(CivilTime{});
  return {fmt::format("{:04}", day.year), fmt::format("{:02}", day.month), fmt::format("{:02}", day.day),
          folderName(meeting)};
}

std::optional<std::vector<std::string>> Archive::relativeComponents(const fs::path& folder) const {
  const fs::path full = folder.is_absolute() ? folder : root_ / folder;
  std::vector<std::string> parts;
  for (const auto& part : full) {
    const std::string text = part.string();
    if (text == "." || text == "..") return std::nullopt;
    if (!text.empty()) parts.push_back(text);
  }
  std::vector<std::string> rootParts;
  for (const auto& part : root_)
    if (!part.empty()) rootParts.push_back(part.string());
  if (parts.size() <= rootParts.size() || !std::equal(rootParts.begin(), rootParts.end(), parts.begin()))
    return std::nullopt;
  return std::vector<std::string>(parts.begin() + static_cast<long>(rootParts.size()), parts.end());
}

std::optional<std::string> Archive::relativePath(const fs::path& folder) const {
  auto components = relativeComponents(folder);
  if (!components) return std::nullopt;
  std::string joined;
  for (const auto& component : *components) joined += (joined.empty() ? "" : "/") + component;
  return joined;
}

Result<Dir> Archive::openMeetingFolder(const fs::path& folder) const {
  auto components = relativeComponents(folder);
  if (!components) return makeError(ErrorCode::InvalidInput, "The meeting folder must be inside the archive.");
  Dir root = TRY(openRoot());
  auto opened = root.openPath(*components);
  if (!opened) return folderOpenError(opened.error());
  return opened;
}

Result<fs::path> Archive::create(const Meeting& meeting) const {
  if (!isValidMeetingID(meeting.id))
    return makeError(ErrorCode::InvalidInput,
                     "A meeting identifier is 1 to 128 letters, digits, hyphens, dots or underscores.");
  const auto components = folderComponents(meeting);
  Dir root = TRY(createRoot());
  Dir parent = std::move(root);
  for (size_t i = 0; i + 1 < components.size(); ++i) {
    auto next = parent.createDir(components[i]);
    if (!next) return folderOpenError(next.error());
    parent = std::move(*next);
  }
  const std::string& name = components.back();
  auto folder = parent.createNewDir(name);
  if (!folder) {
    if (folder.error().code == ErrorCode::InvalidInput)
      return makeError(ErrorCode::InvalidInput, "A meeting folder with this name already exists.");
    return makeError(folder.error().code, "The meeting folder could not be created.");
  }
  Status written = saveManifest(meeting, *folder);
  if (written) written = appendEvent(kCreatedEvent, meeting.captureDescription(), *folder);
  if (!written) {
    // A folder without its manifest and first event is not a meeting; leave nothing behind.
    (void)parent.removeTree(name);
    return std::move(written).error();
  }
  fs::path path = root_;
  for (const auto& component : components) path /= component;
  return path;
}

namespace {

void walk(const Dir& dir, const fs::path& path, const ArchiveReport& report, std::vector<ArchivedSession>& found) {
  auto entries = dir.list();
  if (!entries) {
    if (report && entries.error().code != ErrorCode::NotFound)
      report(path, makeError(entries.error().code, "The archive folder could not be listed."));
    return;
  }
  for (const auto& entry : *entries) {
    if (entry.name == kTrashFolderName) continue;
    if (entry.name == kManifestFileName) {
      auto meeting = Archive::readManifest(dir);
      if (meeting) found.push_back({path, std::move(*meeting)});
      else if (report && meeting.error().code != ErrorCode::NotFound) report(path / entry.name, meeting.error());
      continue;
    }
    if (entry.kind != EntryKind::directory) continue;
    auto child = dir.openDir(entry.name);
    if (child) walk(*child, path / entry.name, report, found);
    else if (report && child.error().code != ErrorCode::NotFound)
      report(path / entry.name, folderOpenError(child.error()));
  }
}

}  // namespace

std::vector<ArchivedSession> Archive::sessions(const ArchiveReport& report) const {
  std::vector<ArchivedSession> found;
  auto root = openRoot();
  if (!root) {
    if (report && root.error().code != ErrorCode::NotFound) report(root_, root.error());
    return found;
  }
  walk(*root, root_, report, found);
  std::sort(found.begin(), found.end(), [](const ArchivedSession& a, const ArchivedSession& b) {
    if (a.meeting.startedAt != b.meeting.startedAt) return a.meeting.startedAt > b.meeting.startedAt;
    // Within one second, the later capture-host reading was started later.
    if (a.meeting.hostStart != b.meeting.hostStart) return a.meeting.hostStart > b.meeting.hostStart;
    return a.folder < b.folder;
  });
  return found;
}

Result<ArchivedSession> Archive::find(const std::string& meetingID) const {
  for (auto& session : sessions())
    if (session.meeting.id == meetingID) return std::move(session);
  return makeError(ErrorCode::NotFound, "No meeting with this identifier is in the archive.");
}

Result<Meeting> Archive::read(const fs::path& folder) const { return readManifest(TRY(openMeetingFolder(folder))); }

Status Archive::save(const Meeting& meeting, const fs::path& folder) const {
  return saveManifest(meeting, TRY(openMeetingFolder(folder)));
}

Status Archive::event(std::string_view kind, std::string_view detail, const fs::path& folder) const {
  return appendEvent(kind, detail, TRY(openMeetingFolder(folder)));
}

Result<Meeting> Archive::recover(const fs::path& folder) const { return recover(TRY(openMeetingFolder(folder))); }

Result<Meeting> Archive::readManifest(const Dir& folder) {
  auto bytes = folder.readFile(kManifestFileName, kMaximumManifestBytes);
  if (!bytes) return manifestReadError(bytes.error());
  return decodeManifest(*bytes);
}

Status Archive::saveManifest(const Meeting& meeting, const Dir& folder) {
  auto existing = folder.info(kManifestFileName);
  if (existing && existing->kind != EntryKind::file)
    return makeError(ErrorCode::Denied, "The meeting manifest must be a regular file, not a symbolic link.");
  // Every rule a reader enforces is enforced here too: a manifest that would not read back is never written.
  const std::string bytes = encodeManifest(meeting);
  TRY(decodeManifest(bytes));
  auto written = folder.writeAtomic(kManifestFileName, bytes);
  if (!written) return makeError(written.error().code, "The meeting manifest could not be saved.");
  return okStatus();
}

Status Archive::appendEvent(std::string_view kind, std::string_view detail, const Dir& folder) const {
  const MeetingEvent event{std::string(kind), std::string(detail), clock_->monotonicSeconds(), clock_->now()};
  auto appended = folder.appendLocked(kEventLogFileName, encodeEventLine(event) + "\n");
  if (!appended) {
    if (appended.error().code == ErrorCode::Denied)
      return makeError(ErrorCode::Denied, "The meeting's event log must be a regular file, not a symbolic link.");
    return makeError(appended.error().code, "The meeting's event log could not be written.");
  }
  return okStatus();
}

Result<std::string> Archive::hash(const Dir& folder, std::string_view name) {
  auto file = folder.openFile(name);
  if (!file) {
    if (file.error().code == ErrorCode::NotFound) return makeError(ErrorCode::NotFound, "The media file does not exist.");
    return makeError(file.error().code, "The media file must be a regular file, not a symbolic link.");
  }
  Sha256 hasher;
  std::string buffer(1 << 20, '\0');
  while (true) {
    auto got = file->read(buffer.data(), buffer.size());
    if (!got) return makeError(got.error().code, "The media file could not be read.");
    hasher.update(buffer.data(), *got);
    if (*got < buffer.size()) break;
  }
  return hexEncode(hasher.finish());
}

Result<std::string> Archive::hash(const fs::path& file) {
  auto parent = Dir::openRoot(file.parent_path().empty() ? fs::path(".") : file.parent_path());
  if (!parent) return makeError(parent.error().code, "The media file's folder could not be opened.");
  return hash(*parent, file.filename().string());
}

std::optional<fs::path> Archive::safeMediaURL(std::string_view name, const fs::path& folder) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const fs::path candidate = folder / std::string(name);
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(candidate, error))) return std::nullopt;
  const fs::path resolvedFolder = fs::weakly_canonical(folder, error);
  if (error) return std::nullopt;
  const fs::path resolvedParent = fs::weakly_canonical(candidate.parent_path(), error);
  if (error || resolvedParent != resolvedFolder) return std::nullopt;
  return candidate;
}

Result<int64_t> Archive::availableBytes(const fs::path& path) {
  struct statvfs info;
  if (::statvfs(path.c_str(), &info) != 0)
    return makeError(ErrorCode::Io, "The free space of the archive's volume could not be read.");
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

Result<Json> Archive::decode(const fs::path& file, uint64_t maxBytes) {
  auto parent = Dir::openRoot(file.parent_path());
  if (!parent) return std::move(parent).error();
  const std::string bytes = TRY(parent->readFile(file.filename().string(), maxBytes));
  return parseJson(bytes);
}

Status Archive::encode(const Json& value, const fs::path& file) {
  auto parent = Dir::openRoot(file.parent_path());
  if (!parent) return std::move(parent).error();
  return parent->writeAtomic(file.filename().string(), encodePretty(value));
}

}  // namespace korvel
