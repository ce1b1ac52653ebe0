#pragma once
// The one rule for meeting identifiers, shared by the archive and the widget's links.

#include <cstddef>
#include <string_view>

namespace korvel {

inline constexpr size_t kMaximumMeetingIDLength = 128;

// 1 to 128 ASCII letters, digits, "-", "." and "_", never "." or "..": safe in links and file
// names, so a link needs no percent-encoding and a file name no escaping.
bool isValidMeetingID(std::string_view id);

}  // namespace korvel
