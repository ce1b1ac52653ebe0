// The order of a library move: refuse early, copy and check under the destination's lock,
// prepare the copy's processing identities, publish, then record the new default archive.

#include "core/processing/archive_move.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/archive/user_settings.h"
#include "core/processing/archive_relocation.h"
#include "platform/crypto.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

Error refuse(std::string message) { return makeError(ErrorCode::InvalidInput, std::move(message)); }

// Whether anything (a link included) has this name in the folder.
bool occupied(const Dir& folder, const std::string& name) {
  auto existing = folder.info(name);
  return existing.ok() || existing.error().code != ErrorCode::NotFound;
}

bool isWithin(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

}  // namespace

Result<ArchiveMovePlan> planArchiveMove(const Archive& archive, const fs::path& destination) {
  const FileSystem& files = archive.fileSystem();
  const fs::path source = archive.root();
  auto root = archive.openRoot();
  if (!root) return makeError(ErrorCode::NotFound, fmt::format("No archive at {}.", source.string()));

  const fs::path target = TRY(files.absolute(destination));
  if (target.filename().empty() || target == target.root_path())
    return refuse(fmt::format("There is already a file or folder at {}; choose a location that does not exist yet.",
                              target.string()));
  const fs::path parent = target.parent_path();
  auto parentDir = Dir::openRoot(files, parent);
  if (!parentDir)
    return refuse(fmt::format("The folder {} does not exist; create it first or choose another location.",
                              parent.string()));
  if (occupied(*parentDir, target.filename().string()))
    return refuse(fmt::format("There is already a file or folder at {}; choose a location that does not exist yet.",
                              target.string()));
  // Compared with links resolved, so that a link to the archive's disk cannot hide the nesting.
  const fs::path realSource = TRY(files.canonical(source));
  const fs::path realTarget = TRY(files.canonical(parent)) / target.filename();
  if (isWithin(realTarget, realSource) || isWithin(target, source))
    return refuse(fmt::format("{} is inside the archive; choose a location outside it.", target.string()));

  // Taken before the plan is built: GCC leaks members already built when a statement expression
  // returns from inside an aggregate initialiser.
  auto inventory = TRY(takeLibraryInventory(*root));
  ArchiveMovePlan plan{source, target, std::move(inventory), 0};
  if (!plan.inventory.activeMeetings.empty())
    return refuse(fmt::format("Stop recording “{}” before moving the archive.", plan.inventory.activeMeetings.front()));
  plan.availableBytes = TRY(files.availableBytes(parent));
  if (plan.availableBytes < 0 || static_cast<uint64_t>(plan.availableBytes) < plan.inventory.bytes)
    return refuse(fmt::format("There is not enough free space at {}: the archive needs {} and only {} are available.",
                              parent.string(), describeByteCount(plan.inventory.bytes),
                              describeByteCount(static_cast<uint64_t>(std::max<int64_t>(0, plan.availableBytes)))));
  return plan;
}

Result<ArchiveMoveOutcome> moveArchive(const Archive& archive, const fs::path& destination, const fs::path& settingsFile,
                                       const ArchiveMoveProgress& progress) {
  auto planned = TRY(planArchiveMove(archive, destination));
  ArchiveMoveOutcome outcome{std::move(planned), 0, std::nullopt};
  const ArchiveMovePlan& plan = outcome.plan;
  const FileSystem& files = archive.fileSystem();
  const std::string name = plan.destination.filename().string();
  const auto failed = [&](const Error& cause) {
    return makeError(cause.code, fmt::format("The archive could not be moved and is still in use at {}.\n{}",
                                             plan.source.string(), cause.message));
  };

  auto parentDir = Dir::openRoot(files, plan.destination.parent_path());
  if (!parentDir) return failed(parentDir.error());
  auto lock = MoveLock::acquire(*parentDir);
  if (!lock) return failed(lock.error());
  auto removed = removeAbandonedStaging(*parentDir);
  if (!removed) return failed(removed.error());
  outcome.abandonedStagingRemoved = *removed;
  // Another move may have published here while this one waited for the lock.
  if (occupied(*parentDir, name))
    return refuse(fmt::format("There is already a file or folder at {}; choose a location that does not exist yet.",
                              plan.destination.string()));

  const std::string staging = kMoveStagingPrefix + uuidString();
  const auto published = [&]() -> Status {
    const Dir source = TRY(archive.openRoot());
    const Dir copy = TRY(parentDir->createNewDir(staging, 0755));
    const auto report = [&](ArchiveMovePhase phase) -> LibraryProgress {
      if (!progress) return {};
      return [&progress, phase](uint64_t done, uint64_t total) { progress(phase, done, total); };
    };
    if (progress) progress(ArchiveMovePhase::copying, 0, plan.inventory.bytes);
    TRY(copyLibrary(source, copy, plan.inventory, report(ArchiveMovePhase::copying)));
    if (progress) progress(ArchiveMovePhase::verifying, 0, plan.inventory.bytes);
    TRY(verifyLibraryCopy(source, copy, plan.inventory, report(ArchiveMovePhase::verifying)));
    const Archive staged(parentDir->path() / staging, archive.clock(), archive.timeZone(), files);
    TRY(ProcessingArchiveRelocation::prepare(staged, plan.source, plan.destination));
    const LibraryMarker marker{plan.source.string(), archive.clock().now()};
    TRY(copy.writeAtomic(kLibraryMarkerFileName, encodePretty(marker.toJson()) + "\n", 0644));
    if (progress) progress(ArchiveMovePhase::publishing, 0, 0);
    TRY(parentDir->rename(staging, *parentDir, name, Replace::refuseExisting));
    return okStatus();
  }();
  if (!published) {
    // The staging folder is the only thing this move created; the next move into this folder
    // removes it too if this removal fails.
    (void)parentDir->removeTree(staging);
    return failed(published.error());
  }

  UserSettings settings;
  auto current = readUserSettings(files, settingsFile);
  if (current) settings = *current;
  settings.archiveRoot = plan.destination;
  if (auto written = writeUserSettings(files, settingsFile, settings); !written) outcome.settingsError = written.error();
  return outcome;
}

}  // namespace korvel
