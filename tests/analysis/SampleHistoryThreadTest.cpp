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

// The first window position whose features in the ring differ from those worked out afresh
// from the samples (no zero is ever fed), or -1.
std::int32_t FirstStaleWindow(std::int32_t nEnd) {
  std::vector<int> crossPrefix(static_cast<std::size_t>(nEnd + kWindowLen), 0);
  std::vector<double> absPrefix(crossPrefix.size(), 0.0);
  for (std::size_t m = 0; m + 1 < crossPrefix.size(); ++m) {
    const bool bCross = m >= 1 && g_fSampleRing[m - 1] * g_fSampleRing[m] < 0.0f;
    crossPrefix[m + 1] = crossPrefix[m] + (bCross ? 1 : 0);
    absPrefix[m + 1] = absPrefix[m] + std::fabs(static_cast<double>(g_fSampleRing[m]));
  }
  for (std::size_t p = 0; p < static_cast<std::size_t>(nEnd); ++p) {
    const double dEnergy = absPrefix[p + kWindowLen] - absPrefix[p];
    if (g_fZeroCrossRing[p] !=
            static_cast<float>(crossPrefix[p + kWindowLen] - crossPrefix[p + 1]) ||
        std::fabs(static_cast<double>(g_fEnergyRing[p]) - dEnergy) > 0.05 + 1e-4 * dEnergy) {
      return static_cast<std::int32_t>(p);
    }
  }
  return -1;
}

// Positions at a buffer boundary: the reset values while empty; in state 0 the first
// window's (whose features must match its samples) and in state 1 a whole number of
// buffers' worth of running values, relative to the write position i.
bool HistoryConsistent() {
  const std::lock_guard lock(HistoryMutex());
  const std::int32_t i = g_nWriteIndex.load();
  const std::int32_t nState = g_nHistoryState.load();
  if (nState == -1) {
    return i == 0 && g_nCrossPos == 0 && g_nEnergyPos == 0 && g_nEnergyTail == -1 &&
           g_nOutPrev == -1 && g_nOutCur == -1 && g_nOutPrev2 == -1 && g_nInCur == -1 &&
           g_nInPrev == -1 && g_nInPrev2 == -1;
  }
  const auto at = [i](std::int32_t nOffset) {
    return ((i + nOffset) % kRingSize + kRingSize) % kRingSize;
  };
  const bool bRunning = i >= 512 && i <= kRingSize && i % 512 == 0 && g_nCrossPos == at(-511) &&
                        g_nEnergyPos == at(-511) && g_nOutCur == at(-511) &&
                        g_nEnergyTail == at(-512) && g_nOutPrev == at(-512) && g_nInCur == at(0) &&
                        g_nInPrev == at(-1) && g_nInPrev2 == at(-2);
  if (nState == 0) {
    return bRunning && i == 512 && g_nOutPrev2 == 0 && FirstStaleWindow(1) == -1;
  }
  return nState == 1 && bRunning && g_nOutPrev2 == at(-513);
}

// Notes of 25 buffers (440 Hz, decaying) with 35 buffers of a faint tone between them; no
// sample is zero.
void FillBuffer(int nBuffer, std::vector<std::int16_t>& buffer) {
  const double dAmp = nBuffer % 60 < 25 ? 8000.0 * (1.0 - (nBuffer % 60) / 25.0) + 20.0 : 20.0;
  for (std::size_t k = 0; k < buffer.size(); ++k) {
    const double t = static_cast<double>(nBuffer * kBufferLen) + static_cast<double>(k);
    const double v = dAmp * std::sin(2.0 * 3.141592653589793 * 440.0 * t / kSampleRateHz);
    buffer[k] = static_cast<std::int16_t>(v) != 0 ? static_cast<std::int16_t>(v) : std::int16_t{1};
  }
}

TEST(SampleHistoryThreadTest, FeedingDetectingCopyingAndResettingKeepPositionsConsistent) {
  ClearHistory();
  ResetDetector();
  g_nTrainState = 0;

  std::atomic<int> nBad{0};  // inconsistencies seen by either thread
  std::atomic<bool> bDone{false};
  std::thread worker([&] {
    std::vector<std::int16_t> buffer(kBufferLen);
    for (int b = 0; b < kBuffersFed; ++b) {
      FillBuffer(b, buffer);
      ProcessBuffer(buffer.data());
      nBad += HistoryConsistent() ? 0 : 1;
    }
    bDone = true;
  });

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
      }
      ResetHistory();
      ResetDetector();
      g_nTrainState = 0;
    }
    nBad += HistoryConsistent() ? 0 : 1;
    std::this_thread::yield();
  }
  worker.join();
  g_nTrainState = -1;

  EXPECT_EQ(nBad.load(), 0);
  EXPECT_TRUE(HistoryConsistent());

  // Whatever was fed since the last reset went in whole buffers: every complete window of
  // the current lap holds its fresh features.
  EXPECT_EQ(FirstStaleWindow(g_nCrossPos), -1);
}

}  // namespace
