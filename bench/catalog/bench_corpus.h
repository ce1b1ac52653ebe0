#pragma once
// Synthetic transcripts for the catalog benchmarks: a Zipf-like vocabulary so that some words
// are everywhere and others rare, the corpus size from the environment, and raw-SQLite helpers
// for the baselines.

#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/catalog/transcript_document.h"

namespace korvel::bench {

inline size_t environmentCount(const char* name, size_t fallback) {
  const char* value = std::getenv(name);
  if (!value || !*value) return fallback;
  return static_cast<size_t>(std::strtoull(value, nullptr, 10));
}

// KORVEL_BENCH_MEETINGS × KORVEL_BENCH_UTTERANCES, 1,000 × 1,000 unless set smaller for quick runs.
inline size_t corpusMeetings() { return environmentCount("KORVEL_BENCH_MEETINGS", 1000); }
inline size_t corpusUtterances() { return environmentCount("KORVEL_BENCH_UTTERANCES", 1000); }

// Word 0 is the commonest; "zephyrine" appears about once per hundred thousand words.
inline std::vector<std::string> vocabulary() {
  std::vector<std::string> words = {"the", "budget", "review", "roadmap", "customer", "launch", "quarter",
                                    "hiring", "design", "follow", "decision", "numbers", "timeline"};
  for (int i = 0; i < 5000; ++i) words.push_back("term" + std::to_string(i));
  return words;
}

inline TranscriptDocument syntheticRevision(const std::string& meetingID, size_t meetingIndex, size_t utterances) {
  static const std::vector<std::string> words = vocabulary();
  std::mt19937_64 random(meetingIndex * 7919 + 17);
  // Zipf with exponent 1 over the vocabulary.
  std::vector<double> weights(words.size());
  for (size_t i = 0; i < words.size(); ++i) weights[i] = 1.0 / static_cast<double>(i + 1);
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
  std::uniform_int_distribution<int> length(6, 18);
  std::uniform_int_distribution<int> rare(0, 99999);

  TranscriptDocument document;
  document.id = "rev-" + meetingID;
  document.meetingID = meetingID;
  document.sourceID = "mic";
  document.model = "base.en";
  document.language = "en";
  document.createdAt = Date::fromUnix(1700000000 + static_cast<double>(meetingIndex) * 3600);
  document.utterances.reserve(utterances);
  for (size_t u = 0; u < utterances; ++u) {
    std::string text;
    const int count = length(random);
    for (int w = 0; w < count; ++w) {
      if (!text.empty()) text.push_back(' ');
      text += rare(random) == 0 ? std::string("zephyrine") : words[pick(random)];
    }
    document.utterances.push_back(
        {"u" + std::to_string(u), 2.0 * static_cast<double>(u), 2.0 * static_cast<double>(u) + 1.5, text, {}, {}});
  }
  return document;
}

inline std::filesystem::path benchFolder(const char* name) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline void check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::abort();
  }
}

inline void exec(sqlite3* db, const char* sql) { check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql); }

}  // namespace korvel::bench
