// The onset search over a whole ring of features that never reach the thresholds: the
// longest scan one detector call can make (from -1 up to the last complete position).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"

namespace {

void FillQuietRings() {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> zeroCross(0.0f, 14.0f);  // threshold 15
  std::uniform_real_distribution<float> energy(0.0f, 19.5f);     // threshold 20
  for (std::int32_t k = 0; k < kRingSize; ++k) {
    const float fZ = zeroCross(rng);
    const float fE = energy(rng);
    g_fZeroCrossRing[k] = g_fZeroCrossRing[k + kRingSize] = fZ;
    g_fEnergyRing[k] = g_fEnergyRing[k + kRingSize] = fE;
  }
}

void BM_DetectorFullRingScan(benchmark::State& state) {
  ClearHistory();
  FillQuietRings();
  // Every feature of the ring is complete: the search runs from -1 to 204799.
  g_nCrossPos = kRingSize;
  g_nHistoryState = 1;

  for (auto _ : state) {
    ResetDetector();
    DetectNoteSegment(g_fZeroCrossRing, g_fEnergyRing, -1, kWindowLen);
    benchmark::DoNotOptimize(g_nSegEnd);
  }
  if (g_nSegFound != -1 || g_nSegEnd < kRingSize - 2 * kWindowLen) {
    state.SkipWithError("the search did not run over the whole ring");
  }
  state.SetItemsProcessed(state.iterations() * (g_nSegEnd + 1));  // positions covered
  state.SetLabel("one call, -1 ... " + std::to_string(g_nSegEnd));

  ClearHistory();
  ResetDetector();
}
BENCHMARK(BM_DetectorFullRingScan)->Unit(benchmark::kMicrosecond);

}  // namespace
