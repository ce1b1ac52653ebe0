#pragma once
// The ".korvel-restore.json" record in a Trash entry: where the meeting folder lived in the archive.
//
// The record is one JSON string, the folder's path relative to the archive root with "/"
// between components. Writers escape each slash ("\/"); readers accept escaped and plain
// slashes alike, since both spell the same JSON string.

#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace korvel {

inline constexpr const char* kRestoreRecordName = ".korvel-restore.json";
// A record is a short path; anything larger is not one.
inline constexpr uint64_t kMaximumRestoreRecordBytes = 64 * 1024;

// The archive's JSON spelling of the path made of `components`.
std::string encodeRestoreRecord(const std::vector<std::string>& components);

// The path's components. A record that is not a JSON string, or whose path is empty, has an
// empty, ".", ".." or backslashed component, or starts in ".trash", is refused with
// ErrorCode::InvalidInput "The saved restoration path is invalid."
Result<std::vector<std::string>> decodeRestoreRecord(std::string_view bytes);

}  // namespace korvel
