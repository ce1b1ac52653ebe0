// Walking a copied library, checking it whole, then binding its meetings' jobs to their first location.

#include "core/processing/archive_relocation.h"

#include <optional>
#include <string>
#include <vector>

#include "core/archive/restore_record.h"
#include "core/processing/planner.h"
#include "core/processing/post_recording.h"
#include "core/processing/processing_location.h"
#include "platform/paths.h"

namespace korvel::ProcessingArchiveRelocation {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSameLocations = "Processing relocation needs separate archive locations";
constexpr const char* kUnreadable = "The copied recording archive could not be read";
constexpr const char* kLink = "The copied archive contains a symbolic link";
constexpr const char* kSharedFolder = "A meeting must have its own archive folder";
constexpr const char* kTrashedLocation = "A trashed meeting has an invalid archive location";
constexpr const char* kTrashedRestorePath = "A trashed recording has an invalid restoration path";
constexpr const char* kForeignRequest = "A processing request belongs to a different recording location";

Error refuse(const char* message) { return makeError(ErrorCode::InvalidInput, message); }
Error unreadable() { return makeError(ErrorCode::Io, kUnreadable); }

// One meeting of the copy: where its folder is in the copy, and where it lives (or, for a
// trashed one, comes back to) below a library root.
struct CopiedMeeting {
  std::vector<std::string> copy;
  std::vector<std::string> location;
  Meeting meeting;
};

// A file the preparation will write into a meeting folder of the copy.
struct PlannedWrite {
  std::vector<std::string> folder;
  std::vector<std::string> subfolder;
  std::string name;
  std::string bytes;
};

fs::path standardized(const FileSystem& files, const fs::path& path) {
  return files.absolute(path).valueOr(standardizedPath(path));
}

fs::path below(fs::path root, const std::vector<std::string>& components) {
  for (const auto& component : components) root /= component;
  return root;
}

// The folder's entries; a symbolic link anywhere in the copy is refused, never followed.
Result<std::vector<DirEntry>> listCopy(const Dir& folder) {
  auto entries = folder.list();
  if (!entries) return unreadable();
  for (const DirEntry& entry : *entries) {
    if (entry.kind == EntryKind::symlink) return refuse(kLink);
  }
  return entries;
}

Result<Dir> openCopy(const Dir& parent, const std::string& name) {
  auto opened = parent.openDir(name);
  if (!opened) return opened.error().code == ErrorCode::Denied ? refuse(kLink) : unreadable();
  return opened;
}

bool hasManifest(const std::vector<DirEntry>& entries) {
  for (const DirEntry& entry : entries) {
    if (entry.name == kManifestFileName && entry.kind == EntryKind::file) return true;
  }
  return false;
}

class CopyWalker {
 public:
  explicit CopyWalker(const Archive& staging) : staging_(staging) {}

  Status walkRoot(const Dir& root) {
    const auto entries = TRY(listCopy(root));
    if (hasManifest(entries)) return refuse(kSharedFolder);
    for (const DirEntry& entry : entries) {
      if (entry.kind != EntryKind::directory) continue;
      const Dir child = TRY(openCopy(root, entry.name));
      if (entry.name == kTrashFolderName) {
        TRY(walkTrash(child));
      } else {
        std::vector<std::string> path{entry.name};
        TRY(walkLive(child, path, false));
      }
    }
    return okStatus();
  }

  std::vector<CopiedMeeting>& meetings() { return meetings_; }

 private:
  // Live folders: every folder with a readable manifest is a meeting, and none may lie inside
  // another. An unreadable manifest has no jobs to keep, so it is only walked past.
  Status walkLive(const Dir& folder, std::vector<std::string>& path, bool insideMeeting) {
    const auto entries = TRY(listCopy(folder));
    const bool isMeeting = hasManifest(entries);
    if (isMeeting) {
      if (insideMeeting) return refuse(kSharedFolder);
      if (auto meeting = Archive::readManifest(folder)) meetings_.push_back({path, path, std::move(*meeting)});
    }
    for (const DirEntry& entry : entries) {
      if (entry.kind != EntryKind::directory) continue;
      const Dir child = TRY(openCopy(folder, entry.name));
      path.push_back(entry.name);
      TRY(walkLive(child, path, insideMeeting || isMeeting));
      path.pop_back();
    }
    return okStatus();
  }

  // Trash entries are meetings whose location is their restoration path. Stray files in Trash
  // are no meetings and are left alone.
  Status walkTrash(const Dir& trash) {
    for (const DirEntry& entry : TRY(listCopy(trash))) {
      if (entry.kind != EntryKind::directory) continue;
      const Dir folder = TRY(openCopy(trash, entry.name));
      const auto entries = TRY(listCopy(folder));
      if (!hasManifest(entries)) return refuse(kTrashedLocation);
      auto meeting = Archive::readManifest(folder);
      if (!meeting || !isValidMeetingID(meeting->id)) return refuse(kTrashedLocation);
      std::vector<std::string> location = TRY(restorationPath(folder, *meeting));
      std::vector<std::string> path{kTrashFolderName, entry.name};
      for (const DirEntry& inner : entries) {
        if (inner.kind != EntryKind::directory) continue;
        const Dir child = TRY(openCopy(folder, inner.name));
        path.push_back(inner.name);
        TRY(walkLive(child, path, true));
        path.pop_back();
      }
      meetings_.push_back({{kTrashFolderName, entry.name}, std::move(location), std::move(*meeting)});
    }
    return okStatus();
  }

  Result<std::vector<std::string>> restorationPath(const Dir& entry, const Meeting& meeting) const {
    auto record = entry.info(kRestoreRecordName);
    if (!record) {
      if (record.error().code == ErrorCode::NotFound) return staging_.folderComponents(meeting);
      return unreadable();
    }
    if (record->kind != EntryKind::file) return refuse(kTrashedRestorePath);
    auto bytes = entry.readFile(kRestoreRecordName, kMaximumRestoreRecordBytes);
    if (!bytes) return refuse(kTrashedRestorePath);
    auto components = decodeRestoreRecord(*bytes);
    if (!components) return refuse(kTrashedRestorePath);
    return components;
  }

  const Archive& staging_;
  std::vector<CopiedMeeting> meetings_;
};

bool isFinished(const Meeting& meeting) {
  return meeting.state == SessionState::finalized || meeting.state == SessionState::incomplete;
}

// The request files of a meeting folder, by name, with their JSON; files that do not decode
// are left out.
Result<std::vector<std::pair<std::string, Json>>> requestFiles(const Dir& folder) {
  std::vector<std::pair<std::string, Json>> files;
  auto requests = folder.openPath({ProcessingPlanner::kRequestsFolder, ProcessingPlanner::kRequestsSubfolder});
  if (!requests) {
    if (requests.error().code == ErrorCode::NotFound) return files;
    return requests.error().code == ErrorCode::Denied ? refuse(kLink) : unreadable();
  }
  for (const DirEntry& entry : TRY(listCopy(*requests))) {
    if (entry.kind != EntryKind::file || !entry.name.ends_with(".json") || entry.name.starts_with(".")) continue;
    auto bytes = requests->readFile(entry.name, 4 * kMaximumRequestBytes);
    if (!bytes) continue;
    auto json = parseJson(*bytes);
    if (!json || !ProcessingRequest::fromJson(*json)) continue;
    files.emplace_back(entry.name, std::move(*json));
  }
  return files;
}

// What preparing one meeting writes: nothing when it has no pending processing.
Status planMeeting(const Dir& root, const CopiedMeeting& copied, const fs::path& legacyRoot,
                   const fs::path& destinationRoot, std::vector<PlannedWrite>& writes) {
  const Dir folder = TRY(root.openPath(copied.copy));
  const std::string legacy = below(legacyRoot, copied.location).string();
  const std::string destination = below(destinationRoot, copied.location).string();
  const Meeting& meeting = copied.meeting;

  // An identity recorded by an earlier move (or by an earlier run of this preparation) stays.
  auto recorded = readProcessingLocation(folder, meeting.id, legacy);
  if (!recorded) recorded = readProcessingLocation(folder, meeting.id, destination);
  const std::optional<ProcessingLocation> existing = TRY(std::move(recorded));
  const std::string identity = existing ? existing->identityDirectory : legacy;

  const auto requests = TRY(requestFiles(folder));
  for (const auto& [name, json] : requests) {
    const ProcessingRequest request = TRY(ProcessingRequest::fromJson(json));
    const std::string directory = standardizedFolderPath(request.directory);
    const bool here = directory == standardizedFolderPath(legacy) || directory == standardizedFolderPath(destination);
    if (request.meetingID != meeting.id || !here ||
        standardizedFolderPath(request.identityDirectory.value_or(request.directory)) !=
            standardizedFolderPath(identity)) {
      return refuse(kForeignRequest);
    }
    Json moved = json;
    moved["directory"] = destination;
    moved["identityDirectory"] = identity;
    if (moved != json) {
      writes.push_back({copied.copy, {ProcessingPlanner::kRequestsFolder, ProcessingPlanner::kRequestsSubfolder},
                        name, encodePretty(moved)});
    }
  }

  const bool plannable = isFinished(meeting) && PostRecordingProcessing::permitsTranscription(meeting) &&
                         PostRecordingProcessing::hasTranscribableAudio(meeting);
  // An identity recorded earlier follows the meeting whatever it has pending: left pointing at
  // the old folder, it would make every later planning of the meeting fail.
  if (requests.empty() && !plannable && !existing) return okStatus();
  const ProcessingLocation location{1, meeting.id, destination, identity};
  if (existing != location) writes.push_back({copied.copy, {}, ProcessingLocation::kFileName, encodePretty(location.toJson())});
  return okStatus();
}

}  // namespace

Status prepare(const Archive& staging, const fs::path& legacyRoot, const fs::path& destinationRoot) {
  const FileSystem& files = staging.fileSystem();
  const fs::path stagingPath = standardized(files, staging.root());
  const fs::path legacy = standardized(files, legacyRoot);
  const fs::path destination = standardized(files, destinationRoot);
  if (stagingPath == legacy || stagingPath == destination || legacy == destination) return refuse(kSameLocations);

  auto root = Dir::openRoot(files, stagingPath);
  if (!root) return unreadable();
  CopyWalker walker(staging);
  TRY(walker.walkRoot(*root));

  std::vector<PlannedWrite> writes;
  for (const CopiedMeeting& copied : walker.meetings()) TRY(planMeeting(*root, copied, legacy, destination, writes));
  for (const PlannedWrite& write : writes) {
    std::vector<std::string> path = write.folder;
    path.insert(path.end(), write.subfolder.begin(), write.subfolder.end());
    const Dir folder = TRY(root->openPath(path));
    TRY(folder.writeAtomic(write.name, write.bytes));
  }
  return okStatus();
}

}  // namespace korvel::ProcessingArchiveRelocation
