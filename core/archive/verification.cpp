// Verification of original media through no-follow descriptors, with identity checks around every read.

#include "core/archive/verification.h"

#include <limits>
#include <memory>
#include <utility>

#include "platform/crypto.h"
#include "platform/enum_names.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace korvel {
namespace {

constexpr const char* kOutsideArchive = "The meeting must be in the local archive.";
constexpr const char* kNoLongerAvailable = "The meeting is no longer in the available archive.";
constexpr const char* kArchiveUnreadable = "The archive directory could not be read.";
constexpr const char* kFolderUnsafe = "The meeting directory could not be read safely.";
constexpr const char* kManifestNotRegular = "The meeting manifest is not a regular file.";
constexpr const char* kManifestBadSize = "The meeting manifest has an invalid size.";
constexpr const char* kManifestGrew = "The meeting manifest grew while being read. Run verification again.";
constexpr const char* kManifestChanged = "The meeting manifest changed while being read. Run verification again.";
constexpr const char* kIdentityChanged =
    "The meeting identity or archive format changed. Reopen the meeting before checking.";
constexpr const char* kNotFinished = "Originals can be verified after recording has finished.";
constexpr const char* kFileReplaced = "The file changed while checking. Run verification again.";
constexpr const char* kInventoryChanged = "The original-file inventory changed while checking. Run verification again.";
constexpr const char* kFolderMoved = "The meeting moved or changed while checking. Run verification again.";

constexpr const char* kDetailMissing = "The original file is missing.";
constexpr const char* kDetailSize = "The file size differs from the saved byte count.";
constexpr const char* kDetailHash = "The file's SHA-256 differs from the saved checksum.";
constexpr const char* kDetailNotOpened = "The original could not be opened as a regular file.";
constexpr const char* kDetailNoMetadata = "The original file's metadata could not be read.";
constexpr const char* kDetailIncomplete = "The original could not be completely read.";
constexpr const char* kDetailNotRegular = "Only regular original files can be checked.";
constexpr const char* kDetailChanged = "The file changed while checking.";

using Status_ = OriginalMediaVerificationStatus;

// The meeting folder's components below the root, or nothing when it is not strictly below it.
std::optional<std::vector<std::string>> meetingComponents(const FileSystem& fileSystem,
                                                          const std::filesystem::path& root,
                                                          const std::filesystem::path& folder) {
  auto normalRoot = fileSystem.absolute(root);
  auto normalFolder = fileSystem.absolute(folder);
  if (!normalRoot || !normalFolder) return std::nullopt;
  auto below = componentsBelow(*normalRoot, *normalFolder);
  if (!below) return std::nullopt;
  for (const auto& part : *below)
    if (!isSingleComponent(part) || part.find('\\') != std::string::npos) return std::nullopt;
  return below;
}

Result<Dir> openMeetingFolder(const FileSystem& fileSystem, const std::filesystem::path& root,
                              const std::vector<std::string>& components) {
  auto rootDir = Dir::openRoot(fileSystem, root);
  if (!rootDir) {
    if (rootDir.error().code == ErrorCode::NotFound) return makeError(ErrorCode::NotFound, kNoLongerAvailable);
    return makeError(ErrorCode::Io, kArchiveUnreadable);
  }
  Dir current = std::move(*rootDir);
  for (const auto& component : components) {
    auto next = current.openDir(component);
    if (!next) {
      if (next.error().code == ErrorCode::NotFound) return makeError(ErrorCode::NotFound, kNoLongerAvailable);
      return makeError(ErrorCode::Denied, kFolderUnsafe);
    }
    current = std::move(*next);
  }
  return current;
}

struct ManifestSnapshot {
  std::string bytes;
  FileIdentity identity;
};

Result<ManifestSnapshot> readManifest(const Dir& folder) {
  auto opened = folder.openFile(kManifestFileName);
  if (!opened) return makeError(ErrorCode::Corrupt, kManifestNotRegular);
  File file = std::move(*opened);
  auto before = file.identity();
  if (!before) return makeError(ErrorCode::Io, kManifestBadSize);
  if (before->size == 0 || before->size > kMaximumManifestBytes)
    return makeError(ErrorCode::Corrupt, kManifestBadSize);
  ManifestSnapshot snapshot;
  snapshot.identity = *before;
  snapshot.bytes.resize(static_cast<size_t>(before->size));
  auto got = file.read(snapshot.bytes.data(), snapshot.bytes.size());
  if (!got || *got != snapshot.bytes.size()) return makeError(ErrorCode::Io, kManifestChanged);
  char extra = 0;
  auto more = file.read(&extra, 1);
  if (!more) return makeError(ErrorCode::Io, kManifestChanged);
  if (*more > 0) return makeError(ErrorCode::Io, kManifestGrew);
  auto after = file.identity();
  if (!after || !(*after == *before)) return makeError(ErrorCode::Io, kManifestChanged);
  return snapshot;
}

// Sums the saved sizes; nothing when one is negative or the total would overflow.
std::optional<int64_t> totalExpectedBytes(const std::vector<Segment>& segments) {
  int64_t total = 0;
  for (const auto& segment : segments) {
    if (segment.bytes < 0 || total > std::numeric_limits<int64_t>::max() - segment.bytes) return std::nullopt;
    total += segment.bytes;
  }
  return total;
}

// One file's check; `seen` is set when the outcome rests on a stable identity the final
// look-up must still find.
struct FileCheck {
  OriginalMediaVerificationResult result;
  std::optional<FileIdentity> seen;
};

class Run {
 public:
  Run(const Dir& folder, const OriginalMediaVerifier::ProgressHandler& progress,
      const OriginalMediaVerifier::CancellationCheck& checkCancellation, OriginalMediaVerificationProgress& state)
      : folder_(folder), progress_(progress), checkCancellation_(checkCancellation), state_(state) {}

  Result<FileCheck> check(const Segment& segment) {
    FileCheck check;
    auto& result = check.result;
    result.id = uuidString();
    result.segmentID = segment.id;
    result.sourceID = segment.sourceID;
    result.file = segment.file;
    result.expectedBytes = segment.bytes;
    const auto outcome = [&](Status_ status, const char* detail) -> Result<FileCheck> {
      result.status = status;
      if (detail) result.detail = detail;
      return check;
    };

    if (!isSingleComponent(segment.file) || segment.file.find('\\') != std::string::npos)
      return outcome(Status_::unreadable, kDetailNotOpened);
    auto opened = folder_.openFile(segment.file);
    if (!opened) {
      if (opened.error().code == ErrorCode::NotFound) return outcome(Status_::missing, kDetailMissing);
      if (opened.error().code == ErrorCode::Denied) {
        // The open refuses links and non-regular files alike; the entry itself tells them apart.
        auto entry = folder_.info(segment.file);
        if (entry && entry->kind == EntryKind::symlink) return outcome(Status_::unsupported, kDetailNotOpened);
        if (entry && entry->kind != EntryKind::file) return outcome(Status_::unsupported, kDetailNotRegular);
      }
      return outcome(Status_::unreadable, kDetailNotOpened);
    }
    File file = std::move(*opened);
    auto before = file.identity();
    if (!before) return outcome(Status_::unreadable, kDetailNoMetadata);
    const auto size = static_cast<int64_t>(before->size);
    result.actualBytes = size;
    if (size != segment.bytes) {
      check.seen = *before;
      return outcome(Status_::sizeMismatch, kDetailSize);
    }

    Sha256 hasher;
    uint64_t hashed = 0;
    for (;;) {
      if (checkCancellation_) TRY(checkCancellation_());
      auto got = file.read(buffer_.get(), OriginalMediaVerifier::kReadBufferBytes);
      if (!got) return outcome(Status_::unreadable, kDetailIncomplete);
      if (*got == 0) break;
      hasher.update(buffer_.get(), *got);
      hashed += *got;
      state_.bytesRead += static_cast<int64_t>(*got);
      report();
    }
    auto after = file.identity();
    if (!after) return outcome(Status_::unreadable, kDetailNoMetadata);
    // A file renamed over this one may leave the old inode's times untouched within the
    // clock's granularity; the name no longer leading to it gives it away.
    auto named = folder_.info(segment.file);
    if (!(*after == *before) || !named || !(named->identity == *after)) {
      result.actualBytes = static_cast<int64_t>(after->size);
      return outcome(Status_::changedDuringRead, kDetailChanged);
    }
    if (hashed != before->size) return outcome(Status_::unreadable, kDetailIncomplete);
    check.seen = *after;
    if (hexEncode(hasher.finish()) != segment.sha256) return outcome(Status_::hashMismatch, kDetailHash);
    return outcome(Status_::verified, nullptr);
  }

  void report() const {
    if (progress_) progress_(state_);
  }

 private:
  const Dir& folder_;
  const OriginalMediaVerifier::ProgressHandler& progress_;
  const OriginalMediaVerifier::CancellationCheck& checkCancellation_;
  OriginalMediaVerificationProgress& state_;
  std::unique_ptr<char[]> buffer_{new char[OriginalMediaVerifier::kReadBufferBytes]};
};

// The manifest's date rule: UTC, whole seconds, "Z" (offsets are another format).
Date manifestDate(JsonFields& fields, const char* key) {
  const std::string text = fields.string(key);
  if (!fields.ok()) return {};
  auto date = parseIso8601(text);
  if (text.size() != 20 || text.back() != 'Z' || !date) {
    fields.fail(std::string(key) + " is not a manifest date");
    return {};
  }
  return *date;
}

template <class T>
std::vector<T> decodeEach(JsonFields& fields, const char* key) {
  std::vector<T> values;
  const Json& items = fields.array(key);
  for (const auto& item : items) {
    if (!fields.ok()) break;
    auto decoded = T::fromJson(item);
    if (decoded) values.push_back(std::move(*decoded));
    else fields.fail(decoded.error().message);
  }
  return values;
}

}  // namespace

Result<OriginalMediaVerifier::Inventory> OriginalMediaVerifier::Inventory::fromJson(const Json& json) {
  if (!json.is_object()) return makeError(ErrorCode::Corrupt, "The original-file inventory is not an object.");
  JsonFields fields(json);
  Inventory inventory;
  const int64_t version = fields.integer("schemaVersion");
  inventory.id = fields.string("id");
  inventory.startedAt = manifestDate(fields, "startedAt");
  const std::string state = fields.string("state");
  inventory.sources = decodeEach<Source>(fields, "sources");
  inventory.segments = decodeEach<Segment>(fields, "segments");
  const auto parsedState = parseSessionState(state);
  if (!fields.ok() || version != kMeetingSchemaVersion || !parsedState)
    return makeError(ErrorCode::Corrupt, "The original-file inventory could not be decoded.");
  inventory.state = *parsedState;
  return inventory;
}

namespace {

constexpr auto kStatusNames = enumNames<Status_>("verified", "missing", "sizeMismatch", "hashMismatch", "unreadable",
                                                 "unsupported", "changedDuringRead");

}  // namespace

const char* toString(OriginalMediaVerificationStatus status) { return kStatusNames.name(status); }

std::optional<OriginalMediaVerificationStatus> parseOriginalMediaVerificationStatus(const std::string& text) {
  return kStatusNames.parse(text);
}

Json OriginalMediaVerificationResult::toJson() const {
  Json json = {{"id", id},         {"segmentID", segmentID},
               {"sourceID", sourceID}, {"file", file},
               {"status", korvel::toString(status)}, {"expectedBytes", expectedBytes}};
  if (actualBytes) json["actualBytes"] = *actualBytes;
  if (detail) json["detail"] = *detail;
  return json;
}

Json OriginalMediaVerificationProgress::toJson() const {
  Json json = {{"completedFiles", completedFiles}, {"totalFiles", totalFiles}, {"bytesRead", bytesRead}};
  if (totalBytes) json["totalBytes"] = *totalBytes;
  if (currentFile) json["currentFile"] = *currentFile;
  return json;
}

bool OriginalMediaVerificationReport::allVerified() const {
  if (results.empty()) return false;
  for (const auto& result : results)
    if (result.status != Status_::verified) return false;
  return true;
}

Json OriginalMediaVerificationReport::toJson() const {
  Json items = Json::array();
  for (const auto& result : results) items.push_back(result.toJson());
  return {{"meetingID", meetingID}, {"completedAt", formatIso8601(completedAt)}, {"results", items}};
}

Result<OriginalMediaVerificationReport> OriginalMediaVerifier::verify(const std::filesystem::path& directory,
                                                                      const std::filesystem::path& archiveRoot,
                                                                      const std::string& meetingID, Date startedAt,
                                                                      const ProgressHandler& progress,
                                                                      const CancellationCheck& checkCancellation) {
  std::lock_guard<std::mutex> one(running_);
  const auto components = meetingComponents(fileSystem_, archiveRoot, directory);
  if (!components) return makeError(ErrorCode::InvalidInput, kOutsideArchive);
  Dir folder = TRY(openMeetingFolder(fileSystem_, archiveRoot, *components));
  auto folderIdentity = folder.selfInfo();
  if (!folderIdentity) return makeError(ErrorCode::Denied, kFolderUnsafe);

  const ManifestSnapshot manifest = TRY(readManifest(folder));
  auto parsed = parseJson(manifest.bytes);
  if (!parsed) return makeError(ErrorCode::InvalidInput, kIdentityChanged);
  auto inventory = Inventory::fromJson(*parsed);
  if (!inventory || inventory->id != meetingID || inventory->startedAt != startedAt)
    return makeError(ErrorCode::InvalidInput, kIdentityChanged);
  if (inventory->state != SessionState::finalized && inventory->state != SessionState::incomplete)
    return makeError(ErrorCode::InvalidInput, kNotFinished);

  OriginalMediaVerificationProgress state;
  state.totalFiles = static_cast<int64_t>(inventory->segments.size());
  state.totalBytes = totalExpectedBytes(inventory->segments);
  Run run(folder, progress, checkCancellation, state);
  run.report();

  OriginalMediaVerificationReport report;
  report.meetingID = inventory->id;
  std::vector<std::pair<std::string, FileIdentity>> seen;
  for (const auto& segment : inventory->segments) {
    if (checkCancellation) TRY(checkCancellation());
    state.currentFile = segment.file;
    FileCheck check = TRY(run.check(segment));
    if (check.seen) seen.emplace_back(segment.file, *check.seen);
    report.results.push_back(std::move(check.result));
    state.completedFiles += 1;
    run.report();
  }
  state.currentFile.reset();

  // Files already reported as changed stand on their own result; the rest must still be the
  // very files that were read, under the same names, in the same folder.
  for (const auto& [name, identity] : seen) {
    auto now = folder.info(name);
    if (!now || now->kind != EntryKind::file || !(now->identity == identity))
      return makeError(ErrorCode::Io, kFileReplaced);
  }
  auto again = readManifest(folder);
  if (!again || again->bytes != manifest.bytes) return makeError(ErrorCode::Io, kInventoryChanged);
  auto reopened = openMeetingFolder(fileSystem_, archiveRoot, *components);
  auto reopenedIdentity = reopened ? reopened->selfInfo() : Result<EntryInfo>(reopened.error());
  if (!reopenedIdentity || reopenedIdentity->identity.device != folderIdentity->identity.device ||
      reopenedIdentity->identity.inode != folderIdentity->identity.inode)
    return makeError(ErrorCode::Io, kFolderMoved);

  report.completedAt = clock_.now();
  return report;
}

}  // namespace korvel
