#pragma once
// ".korvel-processing-location.json": binds a copied recording's jobs to the folder they were
// first planned in, so job identities survive a move of the library.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/json.h"
#include "platform/result.h"

namespace korvel {

struct ProcessingLocation {
  static constexpr const char* kFileName = ".korvel-processing-location.json";
  static constexpr uint64_t kMaximumBytes = 16'384;

  int64_t version = 1;
  std::string meetingID;
  std::string directory;          // the meeting folder the file was written for
  std::string identityDirectory;  // the folder the meeting's jobs are identified by

  bool operator==(const ProcessingLocation&) const = default;
  Json toJson() const;
  static Result<ProcessingLocation> fromJson(const Json& json);
};

// Paths compared the way folders are: "." and ".." resolved, no trailing separator.
std::string standardizedFolderPath(std::string_view path);

// The meeting folder's identity file, or none when it has none. Refuses a file that is not a
// small regular file ("Invalid processing relocation metadata") or that was written for
// another meeting or folder ("Processing relocation metadata belongs to another recording").
Result<std::optional<ProcessingLocation>> readProcessingLocation(const Dir& meetingFolder,
                                                                 std::string_view meetingID);
// The same for a folder opened elsewhere than where the file says it was written (a copy being
// prepared for a move): `directory` must be `expectedDirectory` instead of the opened path.
Result<std::optional<ProcessingLocation>> readProcessingLocation(const Dir& meetingFolder, std::string_view meetingID,
                                                                 std::string_view expectedDirectory);

}  // namespace korvel
