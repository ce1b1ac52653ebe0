#pragma once
// How the tool shows long identifiers (revisions, Trash entries, jobs) and takes them back: the
// first 12 characters when printed, and any unique prefix of at least 8 characters when typed.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "platform/result.h"

namespace korvel::cli {

inline constexpr size_t kShortIdentifierLength = 12;
inline constexpr size_t kMinimumIdentifierPrefix = 8;

// The form every text listing prints; --json output keeps whole identifiers.
inline std::string shortIdentifier(std::string_view identifier) {
  return std::string(identifier.substr(0, kShortIdentifierLength));
}

// The candidates `typed` names: the one it equals, else (when it has at least 8 characters)
// every candidate it begins, in the candidates' order and without repeats.
inline std::vector<std::string> identifiersMatching(std::string_view typed, const std::vector<std::string>& candidates) {
  std::vector<std::string> matches;
  for (const auto& candidate : candidates) {
    if (candidate == typed) return {candidate};
  }
  if (typed.size() < kMinimumIdentifierPrefix) return matches;
  for (const auto& candidate : candidates) {
    if (candidate.compare(0, typed.size(), typed) != 0) continue;
    bool seen = false;
    for (const auto& match : matches) seen = seen || match == candidate;
    if (!seen) matches.push_back(candidate);
  }
  return matches;
}

// The refusal of a prefix that names several identifiers, listed in order; `what` is their
// plural ("revisions").
inline Error ambiguousIdentifier(std::string_view typed, std::vector<std::string> matches, std::string_view what) {
  std::sort(matches.begin(), matches.end());
  std::string listed;
  for (const auto& match : matches) listed += (listed.empty() ? "" : ", ") + match;
  return makeError(ErrorCode::InvalidInput,
                   fmt::format("“{}” begins several {} ({}); give more of it.", typed, what, listed));
}

}  // namespace korvel::cli
