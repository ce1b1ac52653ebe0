#pragma once
// Read-side models built from a revision: the utterance playing at a time, word-by-word
// pacing, which passages start a speaker run or show a timestamp, and find-in-transcript.
//
// All are plain values; the long-running builders call a cancellation check as they go and
// stop with its error.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/catalog/transcript_document.h"
#include "platform/result.h"

namespace korvel {

// Returns an error (normally ErrorCode::Cancelled) to abort the work in progress.
using CancellationCheck = std::function<Status()>;

// Finds the utterance playing at a time in logarithmic time, with arrays only.
class TranscriptPlaybackIndex {
 public:
  static constexpr size_t kMaximumPassages = 1'000'000;

  // "Too many transcript passages to follow playback." or "Invalid, duplicate or unordered
  // transcript playback intervals." when the utterances cannot be followed.
  static Result<TranscriptPlaybackIndex> build(const std::vector<TranscriptUtterance>& utterances,
                                               const CancellationCheck& checkCancellation = {});

  // The utterance with the greatest position among those with start <= t < end.
  std::optional<std::string> passageID(double t) const;
  // How many utterances have started by t.
  size_t startedCount(double t) const;

 private:
  std::optional<size_t> descend(size_t node, size_t rangeBegin, size_t rangeSize, size_t lastStarted, double t) const;

  std::vector<std::string> passageIDs_;
  std::vector<double> starts_;
  std::vector<double> maximumEnds_;  // a max-segment tree over the ends, leaves at leafCount_
  size_t leafCount_ = 1;
};

// Spreads an utterance's time over its words, punctuation holding a little longer.
class TranscriptWordPacing {
 public:
  TranscriptWordPacing(std::string_view text, double start, double end);

  const std::vector<std::string>& words() const { return words_; }
  // One fill fraction (0 to 1) per word at time t.
  std::vector<double> fills(double t) const;

 private:
  std::vector<std::string> words_;
  std::vector<double> boundaries_;  // running weight totals
  double start_;
  double end_;
};

// Which passages begin a new speaker's run and which show their timestamp.
struct TranscriptReadingLayout {
  struct Passage {
    size_t index = 0;
    bool startsRun = false;
    bool showsTimestamp = false;
    bool operator==(const Passage&) const = default;
  };

  TranscriptReadingLayout(const TranscriptDocument& document, double timestampInterval = 60);

  std::map<std::string, Passage> passages;  // by utterance id
};

struct TranscriptFindResults {
  std::string query;
  std::vector<std::string> passageIDs;    // matches in transcript order
  std::map<std::string, size_t> positions;  // passage id -> position in passageIDs

  static TranscriptFindResults empty() { return {}; }
  bool contains(std::string_view passageID) const;
  std::optional<size_t> position(std::string_view passageID) const;
  // The next match after (or before) a passage, wrapping around; from no passage, or one
  // that is not a match, the first (or last) match.
  std::optional<std::string> next(std::optional<std::string_view> after, bool backwards) const;
  bool operator==(const TranscriptFindResults&) const = default;
};

// Matches a query in utterance texts ignoring case, diacritics and width.
class TranscriptFinder {
 public:
  // `locale` names the reader's language (for example "pt_PT"); folding is locale-neutral today.
  static Result<TranscriptFindResults> search(const std::vector<TranscriptUtterance>& utterances,
                                              std::string_view query, std::string_view locale,
                                              const CancellationCheck& checkCancellation = {});
};

}  // namespace korvel
