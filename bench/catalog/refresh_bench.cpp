// Refreshing an unchanged catalog of 10,000 meetings (KORVEL_BENCH_REFRESH_MEETINGS): the time,
// its ratio to merely listing the archive's manifests, and how many transcript files it read.
// Every transcript.json is moved aside before the refresh, so a single read would fail it:
// the count of 0 is proven, not just reported.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "bench/catalog/bench_corpus.h"
#include "core/catalog/catalog.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace korvel::bench;

struct RefreshCorpus {
  fs::path folder = benchFolder("korvel-refresh-bench");
  fs::path root = folder / "Archive";
  ManualClock clock{Date::fromUnix(1700000000)};
  Archive archive{root, clock, "UTC"};
  std::vector<fs::path> documents;

  // Written directly (no fsync) so that only the refresh is measured.
  explicit RefreshCorpus(size_t meetings) {
    for (size_t m = 0; m < meetings; ++m) {
      clock.advance(3 * 3600);
      Meeting meeting = Meeting::create("Meeting " + std::to_string(m), 0, {Source{"mic", "Microphone", "microphone"}},
                                        "mic", clock, "UTC");
      meeting.state = SessionState::finalized;
      fs::path meetingFolder = root;
      for (const auto& component : *archive.folderComponents(meeting)) meetingFolder /= component;
      TranscriptDocument document = syntheticRevision(meeting.id, m, 20);
      const fs::path revision = meetingFolder / TranscriptArtifacts::kFolderName / document.id;
      fs::create_directories(revision);
      std::ofstream(meetingFolder / kManifestFileName, std::ios::binary) << encodeManifest(meeting);
      std::ofstream(revision / TranscriptArtifacts::kDocumentName, std::ios::binary) << document.encoded();
      documents.push_back(revision / TranscriptArtifacts::kDocumentName);
    }
  }
  ~RefreshCorpus() { fs::remove_all(folder); }

  void hideDocuments(bool hidden) {
    for (const fs::path& document : documents) {
      fs::path aside = document;
      aside += ".aside";
      hidden ? fs::rename(document, aside) : fs::rename(aside, document);
    }
  }
};

double listingSeconds = 0;
double refreshSeconds = 0;
double rebuildSeconds = 0;
size_t filesRead = 0;

void BM_RefreshUnchanged(benchmark::State& state) {
  RefreshCorpus corpus(environmentCount("KORVEL_BENCH_REFRESH_MEETINGS", 10000));
  auto catalog = std::move(Catalog::open(corpus.folder / "catalog.sqlite").value());
  auto start = std::chrono::steady_clock::now();
  if (!catalog->rebuild(corpus.archive)) std::abort();
  rebuildSeconds = secondsSince(start);
  corpus.hideDocuments(true);
  for (auto _ : state) {
    // Both the refresh and the listing are timed with the folders' metadata already cached,
    // the best of three.
    benchmark::DoNotOptimize(corpus.archive.sessions().size());
    refreshSeconds = listingSeconds = std::numeric_limits<double>::infinity();
    Result<CatalogSummary> summary = CatalogSummary{};
    for (int round = 0; round < 3; ++round) {
      start = std::chrono::steady_clock::now();
      summary = catalog->refresh(corpus.archive);
      refreshSeconds = std::min(refreshSeconds, secondsSince(start));
      start = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(corpus.archive.sessions().size());
      listingSeconds = std::min(listingSeconds, secondsSince(start));
      if (!summary) break;
    }
    if (!summary) {
      std::fprintf(stderr, "refresh failed (it read a transcript?): %s\n", summary.error().message.c_str());
      std::abort();
    }
    filesRead = summary->transcriptFilesRead;
    state.SetIterationTime(refreshSeconds);
  }
  corpus.hideDocuments(false);
  state.counters["transcript_files_read"] = static_cast<double>(filesRead);
  state.counters["listing_s"] = listingSeconds;
  state.counters["rebuild_s"] = rebuildSeconds;
}

BENCHMARK(BM_RefreshUnchanged)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("refresh with nothing changed: %.3f s, %.2f x the bare archive listing (%.3f s); transcript files "
              "read: %zu (full rebuild: %.3f s)\n",
              korvel::refreshSeconds, korvel::refreshSeconds / korvel::listingSeconds, korvel::listingSeconds,
              korvel::filesRead, korvel::rebuildSeconds);
  return 0;
}
