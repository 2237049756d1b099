// The capture thread feeds buffers while the user-interface thread runs the detector, copies
// blocks out of the history and resets it between notes, as the training controller does.
// Meant to be run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/NoteTables.h"

namespace {

constexpr int kBuffersFed = 3000;
constexpr int kMaxPasses = 200000;

std::int32_t RingAt(std::int32_t nPos) { return ((nPos % kRingSize) + kRingSize) % kRingSize; }

// Positions at a buffer boundary: the reset values while empty, the first window's values
// in state 0, and a whole number of buffers' worth of running values in state 1. Also checks
// the features of a first window against its samples. Call with HistoryMutex() held.
bool HistoryConsistent() {
  const std::int32_t i = g_nWriteIndex.load();
  const std::int32_t n = g_nCrossPos.load();
  switch (g_nHistoryState.load()) {
    case -1:
      return i == 0 && n == 0 && g_nEnergyPos == 0 && g_nEnergyTail == -1 && g_nOutPrev == -1 &&
             g_nOutCur == -1 && g_nOutPrev2 == -1 && g_nInCur == -1 && g_nInPrev == -1 &&
             g_nInPrev2 == -1;
    case 0: {
      if (!(i == 512 && n == 1 && g_nEnergyPos == 1 && g_nEnergyTail == 0 && g_nOutPrev == 0 &&
            g_nOutCur == 1 && g_nOutPrev2 == 0 && g_nInCur == 512 && g_nInPrev == 511 &&
            g_nInPrev2 == 510)) {
        return false;
      }
      float fEnergy = 0.0f;
      int nCrossings = 0;
      for (std::int32_t m = 0; m < kWindowLen; ++m) {
        fEnergy = fEnergy + std::fabs(g_fSampleRing[m]);
        const float fBefore = m >= 1 ? g_fSampleRing[m - 1] : 0.0f;
        nCrossings += m >= 1 && fBefore * g_fSampleRing[m] < 0.0f ? 1 : 0;  // no zeros fed
      }
      return g_fEnergyRing[0] == fEnergy && g_fZeroCrossRing[0] == static_cast<float>(nCrossings);
    }
    case 1:
      return i >= 512 && i <= kRingSize && i % 512 == 0 && n == RingAt(i - 511) && n % 512 == 1 &&
             g_nEnergyPos == n && g_nEnergyTail == RingAt(i - 512) &&
             g_nOutPrev == RingAt(i - 512) && g_nOutCur == n && g_nOutPrev2 == RingAt(i - 513) &&
             g_nInCur == RingAt(i) && g_nInPrev == RingAt(i - 1) && g_nInPrev2 == RingAt(i - 2);
    default:
      return false;
  }
}

bool HistoryConsistentLocked() {
  const std::lock_guard lock(HistoryMutex());
  return HistoryConsistent();
}

// Notes of 25 buffers (440 Hz, decaying) with 35 buffers of a faint tone between them; no
// sample is zero.
void FillBuffer(int nBuffer, std::vector<std::int16_t>& buffer) {
  const int nInCycle = nBuffer % 60;
  const double dAmp = nInCycle < 25 ? 8000.0 * (1.0 - nInCycle / 25.0) + 20.0 : 20.0;
  for (std::size_t k = 0; k < buffer.size(); ++k) {
    const double t = static_cast<double>(nBuffer * kBufferLen) + static_cast<double>(k);
    const double v = dAmp * std::sin(2.0 * 3.141592653589793 * 440.0 * t / kSampleRateHz);
    const auto nRaw = static_cast<std::int16_t>(v);
    buffer[k] = nRaw != 0 ? nRaw : std::int16_t{1};
  }
}

TEST(SampleHistoryThreadTest, FeedingDetectingCopyingAndResettingKeepPositionsConsistent) {
  ClearHistory();
  ResetDetector();
  g_nTrainState = 0;

  std::atomic<int> nBadAtWorker{0};
  std::atomic<bool> bDone{false};
  std::thread worker([&] {
    std::vector<std::int16_t> buffer(kBufferLen);
    for (int b = 0; b < kBuffersFed; ++b) {
      FillBuffer(b, buffer);
      ProcessBuffer(buffer.data());
      if (!HistoryConsistentLocked()) {
        ++nBadAtWorker;
      }
    }
    bDone = true;
  });

  int nBadAtUi = 0;
  int nSegments = 0;
  int nResets = 0;
  std::vector<float> block(kWindowLen);
  for (int nPass = 0; !bDone && nPass < kMaxPasses; ++nPass) {
    if (g_nHistoryState.load() == 1) {
      DetectNoteSegment(g_fZeroCrossRing, g_fEnergyRing, g_nSegEnd, kWindowLen);
    }
    const bool bSegment = g_nSegFound == 1;
    if (bSegment || nPass % 500 == 499) {
      g_nTrainState = -1;
      if (bSegment) {
        CopyHistorySamples(g_nSegStart, kWindowLen, block.data());
        ++nSegments;
      }
      ResetHistory();
      ResetDetector();
      g_nTrainState = 0;
      ++nResets;
    }
    if (!HistoryConsistentLocked()) {
      ++nBadAtUi;
    }
    std::this_thread::yield();
  }
  worker.join();
  g_nTrainState = -1;

  EXPECT_EQ(nBadAtWorker.load(), 0);
  EXPECT_EQ(nBadAtUi, 0);
  EXPECT_TRUE(HistoryConsistent());
  RecordProperty("segments", nSegments);
  RecordProperty("resets", nResets);

  // Whatever was fed since the last reset went in whole buffers (never a zero sample): every
  // complete window of the current lap holds its fresh crossing count and about its fresh
  // energy.
  if (g_nHistoryState.load() == 1) {
    const std::int32_t nWritten = g_nWriteIndex.load();
    std::vector<int> crossPrefix(static_cast<std::size_t>(nWritten) + 1, 0);
    std::vector<double> absPrefix(static_cast<std::size_t>(nWritten) + 1, 0.0);
    for (std::int32_t m = 0; m < nWritten; ++m) {
      const auto k = static_cast<std::size_t>(m);
      const bool bCross = m >= 1 && g_fSampleRing[m - 1] * g_fSampleRing[m] < 0.0f;
      crossPrefix[k + 1] = crossPrefix[k] + (bCross ? 1 : 0);
      absPrefix[k + 1] = absPrefix[k] + std::fabs(static_cast<double>(g_fSampleRing[m]));
    }
    for (std::int32_t p = 1; p < g_nCrossPos.load(); ++p) {
      const auto k = static_cast<std::size_t>(p);
      const double dEnergy = absPrefix[k + kWindowLen] - absPrefix[k];
      ASSERT_EQ(g_fZeroCrossRing[p],
                static_cast<float>(crossPrefix[k + kWindowLen] - crossPrefix[k + 1]))
          << p;
      ASSERT_NEAR(g_fEnergyRing[p], dEnergy, 0.05 + 1e-4 * dEnergy) << p;
    }
  }
}

}  // namespace
