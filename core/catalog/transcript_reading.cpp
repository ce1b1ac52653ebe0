// Read-side models of a transcript revision: playback lookup, word pacing, reading layout, find.

#include "core/catalog/transcript_reading.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "platform/text.h"

namespace korvel {
namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

Status checked(const CancellationCheck& check) { return check ? check() : okStatus(); }

// Code points of a UTF-8 string, for the white-space and punctuation tests of word pacing.
std::vector<UChar32> codePoints(std::string_view text) {
  std::vector<UChar32> points;
  int32_t offset = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (offset < length) {
    UChar32 c;
    U8_NEXT(text.data(), offset, length, c);
    points.push_back(c < 0 ? 0xFFFD : c);
  }
  return points;
}

std::string utf8(const std::vector<UChar32>& points, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; ++i) {
    char buffer[4];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, 4, points[i], error);
    if (!error) out.append(buffer, static_cast<size_t>(length));
  }
  return out;
}

std::optional<std::string> speakerKey(const TranscriptUtterance& utterance) {
  if (utterance.speakerID) {
    std::string id = trimWhitespace(*utterance.speakerID);
    if (!id.empty()) return "id:" + id;
  }
  if (utterance.speaker) {
    std::string name = trimWhitespace(*utterance.speaker);
    if (!name.empty()) return "name:" + name;
  }
  return std::nullopt;
}

}  // namespace

Result<TranscriptPlaybackIndex> TranscriptPlaybackIndex::build(const std::vector<TranscriptUtterance>& utterances,
                                                               const CancellationCheck& checkCancellation) {
  TRY(checked(checkCancellation));
  if (utterances.size() > kMaximumPassages) {
    return makeError(ErrorCode::InvalidInput, "Too many transcript passages to follow playback.");
  }
  TranscriptPlaybackIndex index;
  while (index.leafCount_ < utterances.size()) index.leafCount_ *= 2;
  index.maximumEnds_.assign(2 * index.leafCount_, kMinusInfinity);
  index.passageIDs_.reserve(utterances.size());
  index.starts_.reserve(utterances.size());

  std::set<std::string_view> seen;
  double previousStart = kMinusInfinity;
  for (size_t i = 0; i < utterances.size(); ++i) {
    TRY(checked(checkCancellation));
    const TranscriptUtterance& utterance = utterances[i];
    const bool valid = !utterance.id.empty() && seen.insert(utterance.id).second && std::isfinite(utterance.start) &&
                       utterance.start >= 0 && utterance.start >= previousStart && std::isfinite(utterance.end) &&
                       utterance.start < utterance.end && utterance.end <= kMaximumMeetingSeconds;
    if (!valid) {
      return makeError(ErrorCode::InvalidInput, "Invalid, duplicate or unordered transcript playback intervals.");
    }
    previousStart = utterance.start;
    index.passageIDs_.push_back(utterance.id);
    index.starts_.push_back(utterance.start);
    index.maximumEnds_[index.leafCount_ + i] = utterance.end;
  }
  for (size_t node = index.leafCount_ - 1; node >= 1; --node) {
    if (node % 4096 == 0) TRY(checked(checkCancellation));
    index.maximumEnds_[node] = std::max(index.maximumEnds_[2 * node], index.maximumEnds_[2 * node + 1]);
  }
  return index;
}

size_t TranscriptPlaybackIndex::startedCount(double t) const {
  if (!std::isfinite(t) || starts_.empty()) return 0;
  return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), t) - starts_.begin());
}

std::optional<std::string> TranscriptPlaybackIndex::passageID(double t) const {
  if (!std::isfinite(t) || t < 0 || starts_.empty()) return std::nullopt;
  const size_t started = startedCount(t);
  if (started == 0) return std::nullopt;
  auto leaf = descend(1, 0, leafCount_, started - 1, t);
  if (!leaf) return std::nullopt;
  return passageIDs_[*leaf];
}

std::optional<size_t> TranscriptPlaybackIndex::descend(size_t node, size_t rangeBegin, size_t rangeSize,
                                                       size_t lastStarted, double t) const {
  if (rangeBegin > lastStarted || !(t < maximumEnds_[node])) return std::nullopt;
  if (rangeSize == 1) return rangeBegin;
  const size_t half = rangeSize / 2;
  if (auto right = descend(2 * node + 1, rangeBegin + half, half, lastStarted, t)) return right;
  return descend(2 * node, rangeBegin, half, lastStarted, t);
}

TranscriptWordPacing::TranscriptWordPacing(std::string_view text, double start, double end)
    : start_(start), end_(end) {
  const std::vector<UChar32> points = codePoints(text);
  double total = 0;
  size_t i = 0;
  while (i < points.size()) {
    while (i < points.size() && u_isUWhiteSpace(points[i])) ++i;
    if (i == points.size()) break;
    const size_t begin = i;
    while (i < points.size() && !u_isUWhiteSpace(points[i])) ++i;
    std::string word = utf8(points, begin, i);
    double weight = static_cast<double>(graphemeCount(word)) + 1;
    const UChar32 last = points[i - 1];
    if (last == '.' || last == '!' || last == '?' || last == 0x2026) {
      weight += 4;
    } else if (last == ',' || last == ';' || last == ':' || last == 0x2014) {
      weight += 2;
    }
    total += weight;
    boundaries_.push_back(total);
    words_.push_back(std::move(word));
  }
}

std::vector<double> TranscriptWordPacing::fills(double t) const {
  if (words_.empty() || boundaries_.back() <= 0) return {};
  if (end_ <= start_ || !std::isfinite(t)) return std::vector<double>(words_.size(), t >= end_ ? 1.0 : 0.0);
  const double progress = std::clamp((t - start_) / (end_ - start_), 0.0, 1.0);
  const double position = boundaries_.back() * progress;
  std::vector<double> result;
  result.reserve(words_.size());
  double previous = 0;
  for (double boundary : boundaries_) {
    result.push_back(std::clamp((position - previous) / (boundary - previous), 0.0, 1.0));
    previous = boundary;
  }
  return result;
}

TranscriptReadingLayout::TranscriptReadingLayout(const TranscriptDocument& document, double timestampInterval) {
  std::optional<std::string> previousKey;
  double lastShown = 0;
  for (size_t i = 0; i < document.utterances.size(); ++i) {
    const TranscriptUtterance& utterance = document.utterances[i];
    std::optional<std::string> key = speakerKey(utterance);
    Passage passage;
    passage.index = i;
    passage.startsRun = i == 0 || key != previousKey;
    if (passage.startsRun || utterance.start - lastShown >= timestampInterval) {
      passage.showsTimestamp = true;
      lastShown = utterance.start;
    }
    passages[utterance.id] = passage;
    previousKey = std::move(key);
  }
}

bool TranscriptFindResults::contains(std::string_view passageID) const {
  return positions.find(std::string(passageID)) != positions.end();
}

std::optional<size_t> TranscriptFindResults::position(std::string_view passageID) const {
  auto found = positions.find(std::string(passageID));
  if (found == positions.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> TranscriptFindResults::next(std::optional<std::string_view> after, bool backwards) const {
  if (passageIDs.empty()) return std::nullopt;
  const std::optional<size_t> current = after ? position(*after) : std::nullopt;
  if (!current) return backwards ? passageIDs.back() : passageIDs.front();
  const size_t count = passageIDs.size();
  return passageIDs[backwards ? (*current + count - 1) % count : (*current + 1) % count];
}

Result<TranscriptFindResults> TranscriptFinder::search(const std::vector<TranscriptUtterance>& utterances,
                                                       std::string_view query, std::string_view /*locale*/,
                                                       const CancellationCheck& checkCancellation) {
  TranscriptFindResults results;
  results.query = std::string(query);
  const std::string needle = foldForSearch(trimWhitespace(query));
  if (needle.empty()) return results;
  for (const TranscriptUtterance& utterance : utterances) {
    TRY(checked(checkCancellation));
    if (foldForSearch(utterance.text).find(needle) == std::string::npos) continue;
    results.positions[utterance.id] = results.passageIDs.size();
    results.passageIDs.push_back(utterance.id);
  }
  return results;
}

}  // namespace korvel
