// The archive's layout, creation, listing and its folder-level reads and writes.

#include "core/archive/archive.h"

#include <algorithm>

#include <fmt/format.h>

#include "platform/crypto.h"
#include "platform/paths.h"
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
    case ErrorCode::NotFound: return rephrased(error, "The meeting folder does not exist.");
    case ErrorCode::Denied: return rephrased(error, "The meeting folder and its archive parents cannot be symbolic links.");
    default: return rephrased(error, "The meeting folder could not be opened.");
  }
}

// Absolute, lexically normal, without a trailing separator: the form paths are compared in. A
// relative path whose working folder is gone stays relative, and so matches no absolute one.
fs::path standardized(const FileSystem& fileSystem, const fs::path& path) {
  return fileSystem.absolute(path).valueOr(standardizedPath(path));
}

constexpr const char* kUndatable = "The meeting's start time cannot be placed on a calendar day.";

}  // namespace

Archive::Archive(fs::path root, const FileSystem& fileSystem)
    : Archive(std::move(root), systemClock(), currentTimeZoneIdentifier(), fileSystem) {}

Archive::Archive(fs::path root, const Clock& clock, std::string timeZone, const FileSystem& fileSystem)
    : root_(standardized(fileSystem, root)), fileSystem_(&fileSystem), clock_(&clock), timeZone_(std::move(timeZone)) {}

Archive Archive::withRoot(fs::path root) const { return Archive(std::move(root), *clock_, timeZone_, *fileSystem_); }

fs::path Archive::applicationSupportRoot(const PlatformFolders& folders) { return folders.applicationSupport; }
fs::path Archive::legacyRoot(const PlatformFolders& folders) { return applicationSupportRoot(folders) / "Archive"; }
fs::path Archive::defaultRoot(const PlatformFolders& folders) { return folders.archiveRoot; }

fs::path Archive::supportRoot(const fs::path& root, const PlatformFolders& folders) {
  const FileSystem& files = FileSystem::posix();
  const fs::path standard = standardized(files, root);
  if (standard == standardized(files, defaultRoot(folders)) || standard == standardized(files, legacyRoot(folders)))
    return applicationSupportRoot(folders);
  return standard.parent_path();
}

Result<Dir> Archive::openRoot() const {
  auto root = Dir::openRoot(*fileSystem_, root_);
  if (!root) {
    if (root.error().code == ErrorCode::NotFound)
      return makeError(ErrorCode::NotFound, fmt::format("The archive folder {} does not exist.", root_.string()));
    return rephrased(root.error(), fmt::format("The archive folder {} could not be opened.", root_.string()));
  }
  return root;
}

Result<Dir> Archive::createRoot() const {
  auto root = Dir::createRoot(*fileSystem_, root_);
  if (!root) return rephrased(root.error(), fmt::format("The archive folder {} could not be created.", root_.string()));
  return root;
}

// A year outside 1...9999 has no four-digit folder name, so it is refused like no date at all.
static Result<CivilTime> calendarDay(Date startedAt, const std::string& timeZone) {
  auto time = civilTime(startedAt, timeZone);
  if (!time || time->year < 1 || time->year > 9999) return makeError(ErrorCode::InvalidInput, kUndatable);
  return time;
}

Result<std::string> Archive::folderName(const Meeting& meeting) {
  const CivilTime utc = TRY(calendarDay(meeting.startedAt, "UTC"));
  return fmt::format("{:04}{:02}{:02}T{:02}{:02}{:02}Z_{}", utc.year, utc.month, utc.day, utc.hour, utc.minute,
                     utc.second, meeting.id);
}

Result<std::vector<std::string>> Archive::folderComponents(const Meeting& meeting) const {
  auto local = calendarDay(meeting.startedAt, timeZone_);
  if (!local) local = calendarDay(meeting.startedAt, "UTC");
  const CivilTime day = TRY(std::move(local));
  std::string name = TRY(folderName(meeting));
  return std::vector<std::string>{fmt::format("{:04}", day.year), fmt::format("{:02}", day.month),
                                  fmt::format("{:02}", day.day), std::move(name)};
}

std::optional<std::vector<std::string>> Archive::relativeComponents(const fs::path& folder) const {
  return componentsBelow(root_, folder.is_absolute() ? folder : root_ / folder);
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
  const auto components = TRY(folderComponents(meeting));
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
    return rephrased(folder.error(), "The meeting folder could not be created.");
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

// Lenient walks report a folder that cannot be listed and go on; strict ones stop there, since
// their callers act on what is missing from the result.
enum class Walk { lenient, strict };

Status walk(const Dir& dir, const fs::path& path, const ArchiveReport& report, Walk mode,
            std::vector<ArchivedSession>& found) {
  auto entries = dir.list();
  if (!entries) {
    const Error failure = makeError(entries.error().code == ErrorCode::NotFound ? ErrorCode::Io : entries.error().code,
                                    fmt::format("The archive folder {} could not be listed.", path.string()));
    if (mode == Walk::strict) return failure;
    if (report && entries.error().code != ErrorCode::NotFound) report(path, failure);
    return okStatus();
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
    if (child) {
      TRY(walk(*child, path / entry.name, report, mode, found));
    } else if (child.error().code != ErrorCode::NotFound) {
      // A folder that vanished during the walk holds nothing; one that cannot be opened might.
      if (mode == Walk::strict)
        return rephrased(child.error(), fmt::format("The archive folder {} could not be opened.",
                                                         (path / entry.name).string()));
      if (report) report(path / entry.name, folderOpenError(child.error()));
    }
  }
  return okStatus();
}

void sortNewestFirst(std::vector<ArchivedSession>& found) {
  std::sort(found.begin(), found.end(), [](const ArchivedSession& a, const ArchivedSession& b) {
    if (a.meeting.startedAt != b.meeting.startedAt) return a.meeting.startedAt > b.meeting.startedAt;
    // Within one second, the later capture-host reading was started later.
    if (a.meeting.hostStart != b.meeting.hostStart) return a.meeting.hostStart > b.meeting.hostStart;
    return a.folder < b.folder;
  });
}

}  // namespace

std::vector<ArchivedSession> Archive::sessions(const ArchiveReport& report) const {
  std::vector<ArchivedSession> found;
  auto root = openRoot();
  if (!root) {
    if (report && root.error().code != ErrorCode::NotFound) report(root_, root.error());
    return found;
  }
  (void)walk(*root, root_, report, Walk::lenient, found);
  sortNewestFirst(found);
  return found;
}

Result<std::vector<ArchivedSession>> Archive::completeSessions(const ArchiveReport& report) const {
  std::vector<ArchivedSession> found;
  // A missing root is an unreachable archive (a mistyped path, an unmounted drive), not an
  // empty one: callers remove what they do not find.
  Dir root = TRY(openRoot());
  TRY(walk(root, root_, report, Walk::strict, found));
  sortNewestFirst(found);
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
  // A manifest whose folder sync failed is still the one in place; reporting the save as failed
  // would have the caller retry an edit that already happened.
  auto written = folder.writeAtomic(kManifestFileName, bytes);
  if (!written) return rephrased(written.error(), "The meeting manifest could not be saved.");
  return okStatus();
}

Status Archive::appendEvent(std::string_view kind, std::string_view detail, const Dir& folder) const {
  const MeetingEvent event{std::string(kind), std::string(detail), clock_->monotonicSeconds(), clock_->now()};
  auto appended = folder.appendLocked(kEventLogFileName, encodeEventLine(event) + "\n");
  if (!appended) {
    if (appended.error().code == ErrorCode::Denied)
      return makeError(ErrorCode::Denied, "The meeting's event log must be a regular file, not a symbolic link.");
    return rephrased(appended.error(), "The meeting's event log could not be written.");
  }
  return okStatus();
}

Result<std::string> Archive::hash(const Dir& folder, std::string_view name) {
  auto file = folder.openFile(name);
  if (!file) {
    if (file.error().code == ErrorCode::NotFound) return makeError(ErrorCode::NotFound, "The media file does not exist.");
    return rephrased(file.error(), "The media file must be a regular file, not a symbolic link.");
  }
  Sha256 hasher;
  std::string buffer(1 << 20, '\0');
  while (true) {
    auto got = file->read(buffer.data(), buffer.size());
    if (!got) return rephrased(got.error(), "The media file could not be read.");
    hasher.update(buffer.data(), *got);
    if (*got < buffer.size()) break;
  }
  return hexEncode(hasher.finish());
}

Result<std::string> Archive::hash(const fs::path& file, const FileSystem& fileSystem) {
  auto parent = Dir::openRoot(fileSystem, file.parent_path().empty() ? fs::path(".") : file.parent_path());
  if (!parent) return rephrased(parent.error(), "The media file's folder could not be opened.");
  return hash(*parent, file.filename().string());
}

std::optional<fs::path> Archive::safeMediaURL(std::string_view name, const fs::path& folder,
                                              const FileSystem& fileSystem) {
  // A single component cannot leave the folder; only a link in its place could.
  if (!isSingleComponent(name) || name.find('\\') != std::string_view::npos) return std::nullopt;
  fs::path candidate = folder / std::string(name);
  if (fileSystem.isSymlink(candidate)) return std::nullopt;
  return candidate;
}

Result<int64_t> Archive::availableBytes(const fs::path& path, const FileSystem& fileSystem) {
  auto bytes = fileSystem.availableBytes(path);
  if (!bytes) return rephrased(bytes.error(), "The free space of the archive's volume could not be read.");
  return bytes;
}

Result<Json> Archive::decode(const fs::path& file, uint64_t maxBytes, const FileSystem& fileSystem) {
  auto parent = Dir::openRoot(fileSystem, file.parent_path());
  if (!parent) return std::move(parent).error();
  const std::string bytes = TRY(parent->readFile(file.filename().string(), maxBytes));
  return parseJson(bytes);
}

Status Archive::encode(const Json& value, const fs::path& file, const FileSystem& fileSystem) {
  auto parent = Dir::openRoot(fileSystem, file.parent_path());
  if (!parent) return std::move(parent).error();
  TRY(parent->writeAtomic(file.filename().string(), encodePretty(value)));
  return okStatus();
}

}  // namespace korvel
