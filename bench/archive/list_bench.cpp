// Listing archives of 1,000 and 10,000 meetings; prints the growth from one to the other (linear
// is 10×) and the listing's cost as a ratio of a bare recursive read of the same manifests.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "core/archive/archive.h"
#include "platform/clock.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// An archive of `count` finished meetings three hours apart, written directly (no fsync), so
// that only the listing is measured.
struct BenchArchive {
  fs::path temp;
  fs::path root;
  double bestList = std::numeric_limits<double>::infinity();
  double bestBareRead = std::numeric_limits<double>::infinity();

  explicit BenchArchive(int count) {
    std::string pattern = (fs::temp_directory_path() / "korvel-list-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    temp = pattern;
    root = temp / "Archive";
    ManualClock clock(Date::fromUnix(1700000000));
    Archive archive(root, clock, "UTC");
    for (int i = 0; i < count; ++i) {
      clock.advance(3 * 3600);
      Meeting meeting = Meeting::create("Meeting " + std::to_string(i), 0,
                                        {Source{"mic", "Microphone", "microphone"}}, "mic", clock, "UTC");
      meeting.state = SessionState::finalized;
      for (int s = 0; s < 4; ++s)
        meeting.segments.push_back(Segment{"s" + std::to_string(s), "mic", "mic-" + std::to_string(s) + ".m4a",
                                           30.0 * s, 30, 480000, std::string(64, 'a')});
      fs::path folder = root;
      for (const auto& component : *archive.folderComponents(meeting)) folder /= component;
      fs::create_directories(folder);
      std::ofstream(folder / kManifestFileName, std::ios::binary) << encodeManifest(meeting);
      std::ofstream(folder / kEventLogFileName, std::ios::binary) << "{}\n";
    }
  }
  ~BenchArchive() {
    std::error_code error;
    fs::remove_all(temp, error);
  }
};

BenchArchive& archiveOf(int count) {
  static std::map<int, std::unique_ptr<BenchArchive>> archives;
  auto& slot = archives[count];
  if (!slot) slot = std::make_unique<BenchArchive>(count);
  return *slot;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_ListArchive(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  BenchArchive& bench = archiveOf(count);
  SystemClock clock;
  const Archive archive(bench.root, clock, "UTC");
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    size_t errors = 0;
    auto sessions = archive.sessions([&](const fs::path&, const Error&) { ++errors; });
    bench.bestList = std::min(bench.bestList, seconds(start));
    if (sessions.size() != static_cast<size_t>(count) || errors) state.SkipWithError("listing lost meetings");
    benchmark::DoNotOptimize(sessions);
  }
  state.counters["meetings"] = count;
}

// The floor: find and read every manifest, decoding nothing and checking nothing.
void BM_BareRead(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  BenchArchive& bench = archiveOf(count);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    size_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(bench.root)) {
      if (entry.path().filename() != kManifestFileName) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      bytes += text.size();
    }
    bench.bestBareRead = std::min(bench.bestBareRead, seconds(start));
    benchmark::DoNotOptimize(bytes);
  }
}

BENCHMARK(BM_ListArchive)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_BareRead)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& small = korvel::archiveOf(1000);
  auto& large = korvel::archiveOf(10000);
  std::printf("\nlisting 1,000 meetings: %.1f ms; 10,000 meetings: %.1f ms (best of each)\n", small.bestList * 1e3,
              large.bestList * 1e3);
  std::printf("growth 1,000 -> 10,000: %.2fx (linear is 10x)\n", large.bestList / small.bestList);
  std::printf("listing / bare recursive read of the same manifests: %.2fx at 1,000, %.2fx at 10,000\n",
              small.bestList / small.bestBareRead, large.bestList / large.bestBareRead);
  return 0;
}
