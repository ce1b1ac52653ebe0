// Reading the relocation identity file of a meeting folder.

#include "core/processing/processing_location.h"
#include "platform/paths.h"

namespace korvel {
namespace {

Error invalid(const char* message) { return makeError(ErrorCode::InvalidInput, message); }

bool isAbsoluteWithoutNul(const std::string& path) {
  return path.starts_with('/') && path.find('\0') == std::string::npos;
}

}  // namespace

Json ProcessingLocation::toJson() const {
  return Json{{"version", version}, {"meetingID", meetingID}, {"directory", directory},
              {"identityDirectory", identityDirectory}};
}

Result<ProcessingLocation> ProcessingLocation::fromJson(const Json& json) {
  JsonFields fields(json);
  ProcessingLocation location{fields.integer("version"), fields.string("meetingID"), fields.string("directory"),
                              fields.string("identityDirectory")};
  if (!json.is_object() || !fields.ok()) return invalid("Invalid processing relocation metadata");
  return location;
}

std::string standardizedFolderPath(std::string_view path) { return standardizedPath(std::filesystem::path(path)).string(); }

Result<std::optional<ProcessingLocation>> readProcessingLocation(const Dir& meetingFolder,
                                                                 std::string_view meetingID) {
  return readProcessingLocation(meetingFolder, meetingID, meetingFolder.path().string());
}

Result<std::optional<ProcessingLocation>> readProcessingLocation(const Dir& meetingFolder, std::string_view meetingID,
                                                                 std::string_view expectedDirectory) {
  auto entry = meetingFolder.info(ProcessingLocation::kFileName);
  if (!entry) {
    if (entry.error().code == ErrorCode::NotFound) return std::optional<ProcessingLocation>{};
    return std::move(entry).error();
  }
  if (entry->kind != EntryKind::file || entry->identity.size > ProcessingLocation::kMaximumBytes) {
    return invalid("Invalid processing relocation metadata");
  }
  auto bytes = meetingFolder.readFile(ProcessingLocation::kFileName, ProcessingLocation::kMaximumBytes);
  if (!bytes) {
    const ErrorCode code = bytes.error().code;
    if (code == ErrorCode::Denied || code == ErrorCode::InvalidInput) return invalid("Invalid processing relocation metadata");
    return std::move(bytes).error();
  }
  auto json = parseJson(*bytes);
  if (!json) return invalid("Invalid processing relocation metadata");
  const ProcessingLocation location = TRY(ProcessingLocation::fromJson(*json));
  const bool belongs = location.version == 1 && location.meetingID == meetingID &&
                       isAbsoluteWithoutNul(location.directory) && isAbsoluteWithoutNul(location.identityDirectory) &&
                       standardizedFolderPath(location.directory) == standardizedFolderPath(expectedDirectory);
  if (!belongs) return invalid("Processing relocation metadata belongs to another recording");
  return std::optional<ProcessingLocation>(location);
}

}  // namespace korvel
