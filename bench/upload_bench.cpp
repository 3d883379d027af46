// The upload of the embedded image on the virtual clock: how long it takes in
// virtual time against the protocol's own minimum for the same run, what it
// costs in real and CPU time, and whether its send path allocates.
//
//   kf-upload-bench [--trace-allocations=N] [Google Benchmark flags]
//
// First a report of one recorded run and one silent run, then the Google
// Benchmark timings of both kinds of run.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bench/upload_run.h"
#include "midi/sysex_output.h"

using namespace midi;

namespace {

constexpr std::uint32_t ProbeRounds = 50;
constexpr std::uint32_t ProbeStepMs = 50;
constexpr std::uint32_t ProbeBudgetMs = 100;
constexpr std::uint32_t ReplyStepMs = 20;
constexpr std::uint32_t WireBytesPerSecond = 3125;

int g_traceAllocations = 0;

struct Minimum {
  std::size_t messages = 0;
  std::size_t chunks = 0;
  std::uint64_t bytes = 0;
  std::uint64_t pacingMs = 0;
  std::uint64_t probeWaitMs = 0;
  std::uint64_t pollMs = 0;
  std::uint64_t pollSteps = 0;
  std::uint64_t holdMs = 0;    // a status text waiting for the last one's hold
  std::uint64_t beyondMs = 0;  // waits the protocol does not ask for
  bool consistent = true;      // one reply per message, in order
  std::uint64_t Total() const { return pacingMs + probeWaitMs + pollMs + holdMs; }
};

// For every message: the pause after each of its chunks (n / 42 + 20 ms),
// then as many polling steps as it took until its answer (as observed on the
// input) was in: 50-ms steps for at most 100 ms in the probe phase, 20-ms
// steps after a track packet; and where a status text was shown before the
// next send, the wait for the last text's 200-ms hold. Whatever else the run
// took from one send to the next is counted apart.
Minimum ProtocolMinimum(const bench::UploadRun& run) {
  Minimum m;
  std::vector<std::uint32_t> sends;
  std::vector<std::uint64_t> pauses;
  for (const sim::SentChunk& chunk : run.sent) {
    const auto n = static_cast<std::uint32_t>(chunk.bytes.size());
    if (!chunk.bytes.empty() && chunk.bytes.front() == 0xF0) {
      sends.push_back(chunk.sentAt);
      pauses.push_back(0);
    }
    if (pauses.empty()) continue;
    pauses.back() += n / SendPaceBytesPerMs + SendPaceBaseMs;
    ++m.chunks;
    m.bytes += n;
  }
  m.messages = sends.size();
  m.consistent = run.replies.size() == sends.size();
  for (std::size_t i = 0; i < sends.size() && i < run.replies.size(); ++i) {
    m.pacingMs += pauses[i];
    const std::uint32_t ready = sends[i] + static_cast<std::uint32_t>(pauses[i]);
    const bool probe = i < ProbeRounds;
    const std::uint32_t step = probe ? ProbeStepMs : ReplyStepMs;
    std::uint32_t wait = 0;
    if (platform::TickDiff(run.replies[i], ready) > 0) {
      const auto late = static_cast<std::uint32_t>(platform::TickDiff(run.replies[i], ready));
      wait = (late + step - 1) / step * step;
    }
    if (probe && wait > ProbeBudgetMs) wait = ProbeBudgetMs;
    (probe ? m.probeWaitMs : m.pollMs) += wait;
    if (!probe) m.pollSteps += wait / step;
    const std::uint32_t next = i + 1 < sends.size() ? sends[i + 1] : run.startedAt + run.virtualMs;
    const std::int32_t gap = platform::TickDiff(next, ready + wait);
    if (gap < 0) m.consistent = false;
    if (gap <= 0) continue;
    // A status text shown in the gap waited for the last text's hold.
    bool shown = false;
    for (const std::uint32_t t : run.texts) {
      shown = shown || (platform::TickDiff(t, ready + wait) > 0 && platform::TickDiff(t, next) <= 0);
    }
    (shown ? m.holdMs : m.beyondMs) += static_cast<std::uint64_t>(gap);
  }
  return m;
}

void Report() {
  bench::UploadRun recorded = bench::RunUpload({.recording = true, .traceAllocations = g_traceAllocations});
  if (g_traceAllocations > 0) {
    std::printf("First allocations of the run with the recording view and traffic log:\n");
    bench::PrintAllocationTraces();
  }
  const std::clock_t cpu0 = std::clock();
  const auto wall0 = std::chrono::steady_clock::now();
  bench::UploadRun silent = bench::RunUpload({.recording = false, .traceAllocations = g_traceAllocations});
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count();
  if (g_traceAllocations > 0) {
    std::printf("First allocations of the silent run:\n");
    bench::PrintAllocationTraces();
  }
  const Minimum m = ProtocolMinimum(recorded);

  std::printf("Upload of the embedded image on the virtual clock\n");
  std::printf("  %zu messages (%u probes, %zu track packets), %llu bytes in %zu chunks; %s; firmware %s\n",
              m.messages, ProbeRounds, m.messages - ProbeRounds, static_cast<unsigned long long>(m.bytes),
              m.chunks, recorded.succeeded && silent.succeeded ? "upload succeeded" : "UPLOAD FAILED",
              recorded.firmwareIdentical && silent.firmwareIdentical ? "identical" : "DIFFERENT");
  std::printf("  virtual duration                      %8u ms (silent run: %u ms)\n", recorded.virtualMs,
              silent.virtualMs);
  std::printf("  protocol's own minimum for this run   %8llu ms\n", static_cast<unsigned long long>(m.Total()));
  std::printf("    pacing pauses, n/42 + 20 per chunk  %8llu ms\n", static_cast<unsigned long long>(m.pacingMs));
  std::printf("    probe-phase waits (50-ms steps)     %8llu ms\n", static_cast<unsigned long long>(m.probeWaitMs));
  std::printf("    reply polling steps needed          %8llu ms (%llu steps of 20 ms)\n",
              static_cast<unsigned long long>(m.pollMs), static_cast<unsigned long long>(m.pollSteps));
  std::printf("    status-text holds waited                %6llu ms\n", static_cast<unsigned long long>(m.holdMs));
  std::printf("    (per message: its pauses, then the polling steps until the instrument's answer,\n"
              "     observed on the input, was in, and the hold of a status text shown before the\n"
              "     next send: the time the run takes when the engine adds no wait of its own)\n");
  std::printf("  waits beyond the minimum              %8llu ms%s\n", static_cast<unsigned long long>(m.beyondMs),
              m.consistent ? "" : " (replies and messages do not pair up: figures unreliable)");
  std::printf("  for comparison: answers within each pause (no polling step) %llu ms;\n"
              "  the bytes sent at MIDI's %u bytes/s on the wire %llu ms\n",
              static_cast<unsigned long long>(m.pacingMs), WireBytesPerSecond,
              static_cast<unsigned long long>(m.bytes * 1000 / WireBytesPerSecond));
  std::printf("  real time %.1f ms, CPU time %.1f ms (all threads; silent run, world set-up included)\n", wallMs,
              cpuMs);
  std::printf("  heap allocations from the first track packet to the end of the upload:\n");
  std::printf("    silent view, no traffic log: %llu on the uploading thread, %llu on all threads%s\n",
              static_cast<unsigned long long>(silent.allocations.thisThread),
              static_cast<unsigned long long>(silent.allocations.allThreads), silent.counted ? "" : " (NOT COUNTED)");
  std::printf("    tests' recording view and traffic log: %llu on the uploading thread, %llu on all threads\n"
              "    (the simulation's own records of what was sent and shown)\n",
              static_cast<unsigned long long>(recorded.allocations.thisThread),
              static_cast<unsigned long long>(recorded.allocations.allThreads));
  std::fflush(stdout);
}

void Upload(benchmark::State& state, bool recording) {
  bench::UploadRun run;
  for (auto _ : state) {
    run = bench::RunUpload({.recording = recording});
    benchmark::DoNotOptimize(run.virtualMs);
  }
  state.counters["virtual_ms"] = run.virtualMs;
  state.counters["allocs_upload_thread"] = static_cast<double>(run.allocations.thisThread);
  state.counters["allocs_all_threads"] = static_cast<double>(run.allocations.allThreads);
  if (!run.succeeded || !run.firmwareIdentical) state.SkipWithError("the upload failed or the firmware differs");
}

BENCHMARK_CAPTURE(Upload, silent, false)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(Upload, recording, true)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--trace-allocations=", 20) == 0) {
      g_traceAllocations = std::atoi(argv[i] + 20);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  Report();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
