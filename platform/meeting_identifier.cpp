// The character rule of meeting identifiers.

#include "platform/meeting_identifier.h"

namespace korvel {

bool isValidMeetingID(std::string_view id) {
  if (id.empty() || id.size() > kMaximumMeetingIDLength || id == "." || id == "..") return false;
  for (char c : id) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                         c == '.' || c == '_';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace korvel
