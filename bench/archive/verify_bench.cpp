// Verifying a meeting of 1 GiB of segments against `openssl dgst -sha256` over the same files,
// in the same run; prints verification throughput as a ratio of openssl's.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "core/archive/archive.h"
#include "core/archive/verification.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/process.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

constexpr int kSegments = 32;
constexpr int64_t kSegmentBytes = 32ll << 20;  // 32 MiB each, 1 GiB in all
constexpr double kTotalBytes = static_cast<double>(kSegments) * static_cast<double>(kSegmentBytes);

// A finished meeting with real segment files, made once for every benchmark in the run.
struct BenchMeeting {
  fs::path temp;
  fs::path root;
  ArchivedSession session;
  std::vector<std::string> files;
  double bestVerify = std::numeric_limits<double>::infinity();
  double bestOpenssl = std::numeric_limits<double>::infinity();

  BenchMeeting() {
    std::string pattern = (fs::temp_directory_path() / "korvel-verify-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    temp = pattern;
    root = temp / "Archive";
    fs::create_directories(root);
    SystemClock clock;
    Archive archive(root, clock, "UTC");
    Meeting meeting = Meeting::create("Benchmark", 0, {Source{"mic", "Microphone", "microphone"}}, "mic", clock, "UTC");
    auto folder = archive.create(meeting);
    if (!folder) std::abort();
    // Incompressible content, so nothing along the way can shortcut the bytes.
    const std::string block = randomBytes(1 << 20);
    for (int i = 0; i < kSegments; ++i) {
      Segment segment{"segment-" + std::to_string(i), "mic", "mic-" + std::to_string(i) + ".m4a", 30.0 * i, 30,
                      kSegmentBytes, ""};
      Sha256 hasher;
      std::ofstream out(*folder / segment.file, std::ios::binary);
      for (int64_t written = 0; written < kSegmentBytes; written += static_cast<int64_t>(block.size())) {
        std::string chunk = block;
        chunk[0] = static_cast<char>(i);
        chunk[1] = static_cast<char>(written >> 20);
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        hasher.update(chunk);
      }
      segment.sha256 = hexEncode(hasher.finish());
      meeting.segments.push_back(segment);
      files.push_back((*folder / segment.file).string());
    }
    meeting.state = SessionState::finalized;
    if (!archive.save(meeting, *folder)) std::abort();
    session = {*folder, meeting};
  }
  ~BenchMeeting() {
    std::error_code ec;
    fs::remove_all(temp, ec);
  }
};

BenchMeeting& benchMeeting() {
  static BenchMeeting meeting;
  return meeting;
}

template <class Work>
void timed(benchmark::State& state, double& best, Work work) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotalBytes));
}

void BM_VerifyMeeting(benchmark::State& state) {
  auto& bench = benchMeeting();
  SystemClock clock;
  OriginalMediaVerifier verifier(clock);
  timed(state, bench.bestVerify, [&] {
    auto report = verifier.verify(bench.session.folder, bench.root, bench.session.meeting.id,
                                  bench.session.meeting.startedAt);
    if (!report || !report->allVerified()) state.SkipWithError("verification failed");
  });
}

void BM_OpensslDgst(benchmark::State& state) {
  auto& bench = benchMeeting();
  std::vector<std::string> arguments{"dgst", "-sha256"};
  arguments.insert(arguments.end(), bench.files.begin(), bench.files.end());
  timed(state, bench.bestOpenssl, [&] {
    auto outcome = runProgram("openssl", arguments);
    if (!outcome || outcome->exitCode != 0) state.SkipWithError("openssl dgst failed");
  });
}

// Openssl first, so both read from an equally warm page cache.
BENCHMARK(BM_OpensslDgst)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_VerifyMeeting)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!korvel::findProgram("openssl")) {
    std::fprintf(stderr, "openssl is not installed; there is no baseline to compare with.\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& bench = korvel::benchMeeting();
  if (std::isfinite(bench.bestVerify) && std::isfinite(bench.bestOpenssl)) {
    const double mib = korvel::kTotalBytes / (1 << 20);
    std::printf("verify: %.0f MiB/s, openssl dgst -sha256: %.0f MiB/s, throughput ratio %.2f (target >= 0.90)\n",
                mib / bench.bestVerify, mib / bench.bestOpenssl, bench.bestOpenssl / bench.bestVerify);
  }
  return 0;
}
