// Search latency: median and 95th percentile of Catalog::search for common-word, rare-word,
// phrase and prefix queries against the same SQL run directly on SQLite, over one corpus;
// prints each ratio (at most 1.2 is the goal).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "bench/catalog/bench_corpus.h"
#include "core/catalog/catalog.h"
#include "core/catalog/catalog_search.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace korvel::bench;

constexpr int64_t kLimit = 50;
constexpr const char* kSearchSql =
    "SELECT m.id,m.title,m.directory,u.transcript_id,u.source_id,u.utterance_id,u.start,u.end,u.text FROM "
    "utterances u JOIN meetings m ON m.id=u.meeting_id WHERE utterances MATCH ? ORDER BY bm25(utterances),"
    "m.started DESC,CAST(u.start AS REAL) LIMIT ?";

// The corpus, indexed once through the catalog in a single pass.
struct Corpus {
  fs::path folder = benchFolder("korvel-search-bench");
  fs::path file = folder / "catalog.sqlite";
  std::unique_ptr<Catalog> catalog;
  sqlite3* raw = nullptr;

  Corpus() {
    catalog = std::move(Catalog::open(file).value());
    for (size_t m = 0; m < corpusMeetings(); ++m) {
      Meeting meeting;
      meeting.id = "M" + std::to_string(m);
      meeting.title = "Meeting " + std::to_string(m);
      meeting.startedAt = Date::fromUnix(1700000000 + static_cast<double>(m) * 3600);
      meeting.state = SessionState::finalized;
      if (!catalog->upsert(meeting, "/archive/" + meeting.id) ||
          !catalog->index(syntheticRevision(meeting.id, m, corpusUtterances()))) {
        std::abort();
      }
    }
    check(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr), raw, "open");
  }
  ~Corpus() {
    sqlite3_close(raw);
    catalog.reset();
    fs::remove_all(folder);
  }
};

Corpus& corpus() {
  static Corpus instance;
  return instance;
}

size_t rawSearch(sqlite3* db, const std::string& expression) {
  sqlite3_stmt* statement = nullptr;
  check(sqlite3_prepare_v2(db, kSearchSql, -1, &statement, nullptr), db, "prepare");
  sqlite3_bind_text(statement, 1, expression.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(statement, 2, kLimit);
  size_t rows = 0;
  size_t bytes = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int c : {0, 1, 2, 3, 4, 5, 8}) bytes += static_cast<size_t>(sqlite3_column_bytes(statement, c));
    bytes += static_cast<size_t>(sqlite3_column_double(statement, 6) + sqlite3_column_double(statement, 7));
    ++rows;
  }
  sqlite3_finalize(statement);
  benchmark::DoNotOptimize(bytes);
  return rows;
}

double percentile(std::vector<double> samples, double p) {
  std::sort(samples.begin(), samples.end());
  const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
  return samples[index];
}

std::map<std::string, std::pair<double, double>> ratios;  // query kind → (median, p95) ratio

void BM_Search(benchmark::State& state, const char* kind, const char* query) {
  Corpus& data = corpus();
  const std::string expression = searchExpression(query);
  const size_t repeats = environmentCount("KORVEL_BENCH_REPEATS", 200);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    ours.clear();
    theirs.clear();
    size_t hits = 0;
    // Alternate the two so that both see the same cache and machine load.
    for (size_t i = 0; i < repeats; ++i) {
      auto start = std::chrono::steady_clock::now();
      hits = data.catalog->search({.text = query, .limit = kLimit})->size();
      ours.push_back(secondsSince(start));
      start = std::chrono::steady_clock::now();
      if (rawSearch(data.raw, expression) != hits) std::abort();
      theirs.push_back(secondsSince(start));
    }
    state.SetIterationTime(percentile(ours, 0.5));
    state.counters["hits"] = static_cast<double>(hits);
  }
  const double medianRatio = percentile(ours, 0.5) / percentile(theirs, 0.5);
  const double p95Ratio = percentile(ours, 0.95) / percentile(theirs, 0.95);
  state.counters["median_ms"] = percentile(ours, 0.5) * 1000;
  state.counters["p95_ms"] = percentile(ours, 0.95) * 1000;
  state.counters["raw_median_ms"] = percentile(theirs, 0.5) * 1000;
  state.counters["raw_p95_ms"] = percentile(theirs, 0.95) * 1000;
  ratios[kind] = {medianRatio, p95Ratio};
}

// A trailing "*" is searched as part of its quoted term, so the prefix query costs what the
// query handling makes of it, on both sides.
BENCHMARK_CAPTURE(BM_Search, common_word, "common word", "budget")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, rare_word, "rare word", "zephyrine")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, phrase, "phrase", "\"budget review\"")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, prefix, "prefix", "term12*")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [kind, ratio] : korvel::ratios) {
    std::printf("search %-12s catalog / raw SQLite: median %.2f, p95 %.2f (goal <= 1.20)\n", kind.c_str(),
                ratio.first, ratio.second);
  }
  return 0;
}
