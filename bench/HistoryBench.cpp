// The per-buffer history update: scaling, the sample ring and both feature rings.
// Capture delivers 11025 samples per second; the counters show how far above that the
// update runs. Beside it, a plain copy of the same buffers into a ring of the same number of
// positions: the memory-bound limit of this machine for moving those bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "analysis/SampleHistory.h"
#include "training/NoteTables.h"

namespace {

constexpr int kBuffersInSignal = 64;

// Samples per second and seconds of audio per second, from the samples handled.
void SetRateCounters(benchmark::State& state) {
  const auto nSamples = static_cast<double>(state.iterations()) * kBufferLen;
  state.SetItemsProcessed(static_cast<std::int64_t>(nSamples));
  state.SetBytesProcessed(static_cast<std::int64_t>(nSamples * sizeof(std::int16_t)));
  state.counters["samples/s"] = benchmark::Counter(nSamples, benchmark::Counter::kIsRate);
  // Seconds of audio handled per second of work: the multiple of the real-time need.
  state.counters["audio_seconds"] =
      benchmark::Counter(nSamples / kSampleRateHz, benchmark::Counter::kIsRate);
}

// A decaying tone with noise and runs of exact zeros, so both crossing rules are taken.
std::array<std::int16_t, kBufferLen * kBuffersInSignal> MakeSignal() {
  std::array<std::int16_t, kBufferLen * kBuffersInSignal> samples{};
  std::mt19937 rng(12345);
  std::normal_distribution<double> noise(0.0, 300.0);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const double t = static_cast<double>(k) / kSampleRateHz;
    double v = 12000.0 * std::exp(-t) * std::sin(2.0 * 3.141592653589793 * 440.0 * t);
    v += noise(rng);
    if (k % 97 < 3) {
      v = 0.0;
    }
    samples[k] = static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
  }
  return samples;
}

void BM_HistoryUpdate(benchmark::State& state) {
  static const auto s_signal = MakeSignal();
  ClearHistory();
  g_nTrainState = 0;
  ProcessBuffer(s_signal.data());  // the first window; every buffer after it is the update

  std::size_t nBuffer = 1;
  for (auto _ : state) {
    ProcessBuffer(s_signal.data() + nBuffer * kBufferLen);
    nBuffer = (nBuffer + 1) % kBuffersInSignal;
    benchmark::ClobberMemory();
  }

  SetRateCounters(state);
  state.SetLabel("real time needs 11025 samples/s = 1 audio_seconds/s");

  g_nTrainState = -1;
  ClearHistory();
}
BENCHMARK(BM_HistoryUpdate);

// The same buffers, only copied: 512 samples of 16 bits into a ring of kRingSize samples,
// wrapping at a buffer start as the sample ring does. No scaling, no mirror, no features.
void BM_HistoryPlainCopy(benchmark::State& state) {
  static const auto s_signal = MakeSignal();
  static std::array<std::int16_t, kRingSize> s_ring{};
  static_assert(kRingSize % kBufferLen == 0, "the ring wraps at a buffer start");

  std::size_t nBuffer = 1;
  std::size_t nWrite = 0;
  for (auto _ : state) {
    std::memcpy(s_ring.data() + nWrite, s_signal.data() + nBuffer * kBufferLen,
                kBufferLen * sizeof(std::int16_t));
    nWrite = nWrite + kBufferLen == s_ring.size() ? 0 : nWrite + kBufferLen;
    nBuffer = (nBuffer + 1) % kBuffersInSignal;
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(s_ring.data());

  SetRateCounters(state);
  state.SetLabel("memcpy of the same bytes: the memory-bound limit");
}
BENCHMARK(BM_HistoryPlainCopy);

}  // namespace
