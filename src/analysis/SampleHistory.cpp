#include "analysis/SampleHistory.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "training/NoteTables.h"

float g_fSampleRing[kRingStorage];
float g_fZeroCrossRing[kRingStorage];
float g_fEnergyRing[kRingStorage];

std::atomic<std::int32_t> g_nWriteIndex{0};
std::int32_t g_nEnergyPos = 0;
std::int32_t g_nEnergyTail = -1;
std::atomic<std::int32_t> g_nCrossPos{0};
std::int32_t g_nOutPrev = -1;
std::int32_t g_nOutCur = -1;
std::int32_t g_nOutPrev2 = -1;
std::int32_t g_nInCur = -1;
std::int32_t g_nInPrev = -1;
std::int32_t g_nInPrev2 = -1;
std::atomic<std::int32_t> g_nHistoryState{-1};

namespace {

std::mutex g_historyMutex;

// Ring positions below this (and their mirrors) are all the running update has stored into
// since the rings were last cleared; every other position still holds 0.0. Under the lock.
std::int32_t g_nStoredEnd = 0;

void Store(float* pfRing, std::int32_t nPos, float fValue) {
  pfRing[nPos] = fValue;
  pfRing[nPos + kRingSize] = fValue;
}

// A crossing at `nCur` when the sample before it and this one have opposite signs; when
// the sample before is exactly zero, the one before that decides instead.
bool IsCrossing(const float* x, std::int32_t nPrev, std::int32_t nCur, std::int32_t nPrev2) {
  const float fPrev = x[nPrev];
  if (fPrev == 0.0f) {
    return x[nPrev2] * x[nCur] < 0.0f;
  }
  return fPrev * x[nCur] < 0.0f;
}

// First window after a reset: samples 0 ... 511 and the features of position 0.
void ComputeFirstWindow(const std::int16_t* pSamples) {
  float* const x = g_fSampleRing;
  float fEnergy = 0.0f;
  int nCrossings = 0;
  for (std::int32_t j = 0; j < kBufferLen; ++j) {
    const float v = static_cast<float>(pSamples[j]) * kSampleScale;
    Store(x, j, v);
    fEnergy = fEnergy + std::fabs(v);
    if (j >= 1) {
      // Position -1 does not exist yet: it counts as zero for the crossing at 1.
      const float fPrev = x[j - 1];
      const float fPrev2 = j >= 2 ? x[j - 2] : 0.0f;
      const float fBefore = fPrev == 0.0f ? fPrev2 : fPrev;
      if (fBefore * v < 0.0f) {
        ++nCrossings;
      }
    }
  }
  Store(g_fEnergyRing, 0, fEnergy);
  Store(g_fZeroCrossRing, 0, static_cast<float>(nCrossings));

  g_nEnergyPos = 1;
  g_nEnergyTail = 0;
  g_nOutPrev = 0;
  g_nOutCur = 1;
  g_nOutPrev2 = 0;  // position -1 did not exist when the crossing at 1 was counted
  g_nInCur = 512;
  g_nInPrev = 511;
  g_nInPrev2 = 510;
  g_nWriteIndex.store(512, std::memory_order_relaxed);
  g_nCrossPos.store(1, std::memory_order_release);
  g_nHistoryState.store(0, std::memory_order_release);
}

// Copies `nCount` feature values to ring positions `nPos` ... (0 ... 204799, wrapping at
// the ring end) and to their mirrors.
void StoreRun(float* pfRing, std::int32_t nPos, const float* pfValues, std::int32_t nCount) {
  const std::int32_t nFirst = std::min(nCount, kRingSize - nPos);
  std::copy_n(pfValues, nFirst, pfRing + nPos);
  std::copy_n(pfValues, nFirst, pfRing + nPos + kRingSize);
  std::copy_n(pfValues + nFirst, nCount - nFirst, pfRing);
  std::copy_n(pfValues + nFirst, nCount - nFirst, pfRing + kRingSize);
}

// One buffer of the running update. The write index i is a multiple of 512 below the ring
// end, so the buffer's samples never wrap, and every position stands at its fixed offset
// from i; only the fallback older sample of the first leaving crossing is read from its
// global, since after the first window it is position 0 rather than i - 513.
//
// The arithmetic is that of one position after the other, in the same order; only the work
// that does not feed the energy sum is taken out of its loop: the crossing tests run over
// the whole buffer first, and the crossing count is kept as an integer. Every count in the
// ring is a whole number (an integer count in the first window, and only 0 or 1 added or
// subtracted since, far below 2^24), so counting in an integer gives the same values.
// The positions are published once at the end; every reader of them holds the history lock
// or reads only the atomics, which change only between buffers.
void UpdateRunning(const std::int16_t* pSamples) {
  const std::int32_t i = g_nWriteIndex.load(std::memory_order_relaxed);
  const std::int32_t n = g_nCrossPos.load(std::memory_order_relaxed);
  const std::int32_t nTail = g_nEnergyTail;

  float* const x = g_fSampleRing;
  for (std::int32_t j = 0; j < kBufferLen; ++j) {
    const float v = static_cast<float>(pSamples[j]) * kSampleScale;
    x[i + j] = v;
    x[i + j + kRingSize] = v;
  }

  // Samples i - 513 ... i + 511 in one piece: the mirror half holds positions below 0.
  const float* const xs = x + kRingSize + i - 513;
  // bCross[m]: a crossing at position i - 511 + m, judged as IsCrossing judges it.
  // The leaving crossing of step j is bCross[j], the entering one bCross[j + 511].
  constexpr std::int32_t kTests = kBufferLen + kWindowLen - 1;
  std::array<std::int32_t, kTests> bCross;
  for (std::int32_t m = 0; m < kTests; ++m) {
    const float fPrev2 = xs[m];
    const float fPrev = xs[m + 1];
    const float fCur = xs[m + 2];
    const float fBefore = fPrev == 0.0f ? fPrev2 : fPrev;
    bCross[static_cast<std::size_t>(m)] = fBefore * fCur < 0.0f ? 1 : 0;
  }
  // The first leaving crossing with its own fallback sample; from there on it is i - 513 + j.
  bCross[0] = IsCrossing(x, g_nOutPrev, g_nOutCur, g_nOutPrev2) ? 1 : 0;

  // xs[513 + j] is the entering sample of step j, xs[1 + j] the one leaving the window.
  std::array<float, kBufferLen> fEnergies;
  std::array<float, kBufferLen> fCrossings;
  float fEnergy = g_fEnergyRing[nTail];
  auto nCross = static_cast<std::int32_t>(g_fZeroCrossRing[nTail]);
  for (std::int32_t j = 0; j < kBufferLen; ++j) {
    fEnergy = fEnergy + std::fabs(xs[513 + j]);
    fEnergy = fEnergy - std::fabs(xs[1 + j]);
    fEnergies[static_cast<std::size_t>(j)] = fEnergy;
    nCross =
        nCross - bCross[static_cast<std::size_t>(j)] + bCross[static_cast<std::size_t>(j) + 511];
    fCrossings[static_cast<std::size_t>(j)] = static_cast<float>(nCross);
  }
  StoreRun(g_fEnergyRing, n, fEnergies.data(), kBufferLen);
  StoreRun(g_fZeroCrossRing, n, fCrossings.data(), kBufferLen);

  const auto wrap = [](std::int32_t nPos) { return nPos >= kRingSize ? nPos - kRingSize : nPos; };
  const std::int32_t nEnd = i + kBufferLen;
  g_nEnergyPos = wrap(nEnd - 511 + kRingSize);
  g_nEnergyTail = wrap(nEnd - 512 + kRingSize);
  g_nOutPrev = g_nEnergyTail;
  g_nOutCur = g_nEnergyPos;
  g_nOutPrev2 = wrap(nEnd - 513 + kRingSize);
  g_nInCur = wrap(nEnd);
  g_nInPrev = wrap(nEnd - 1 + kRingSize);
  g_nInPrev2 = wrap(nEnd - 2 + kRingSize);
  g_nWriteIndex.store(nEnd, std::memory_order_relaxed);
  g_nCrossPos.store(g_nEnergyPos, std::memory_order_release);
}

// Positions and state back to their values at program start; the caller holds the lock.
void ResetPositions() {
  g_nWriteIndex.store(0, std::memory_order_relaxed);
  g_nEnergyPos = 0;
  g_nCrossPos.store(0, std::memory_order_relaxed);
  g_nEnergyTail = -1;
  g_nOutPrev = g_nOutCur = g_nOutPrev2 = -1;
  g_nInCur = g_nInPrev = g_nInPrev2 = -1;
  g_nHistoryState.store(-1, std::memory_order_release);
}

}  // namespace

std::mutex& HistoryMutex() { return g_historyMutex; }

void ProcessBuffer(const std::int16_t* pSamples) {
  const std::lock_guard lock(g_historyMutex);
  const std::int32_t nTrainState = g_nTrainState.load(std::memory_order_acquire);
  if (nTrainState == -1 || nTrainState == 3) {
    return;
  }
  if (g_nWriteIndex.load(std::memory_order_relaxed) >= kRingSize) {
    g_nWriteIndex.store(0, std::memory_order_relaxed);
  }
  const std::int32_t nState = g_nHistoryState.load(std::memory_order_relaxed);
  if (nState == -1) {
    ComputeFirstWindow(pSamples);
  } else {
    if (nState == 0) {
      g_nHistoryState.store(1, std::memory_order_release);
    }
    UpdateRunning(pSamples);
  }
  // Everything this buffer stored lies below the new write index, or past the ring's end
  // where an earlier lap had already stored.
  g_nStoredEnd = std::max(g_nStoredEnd, g_nWriteIndex.load(std::memory_order_relaxed));
}

void ResetHistory() {
  const std::lock_guard lock(g_historyMutex);
  ResetPositions();
}

namespace {

// Positions and state as at program start, and the rings back to 0.0: all of them, or only
// the positions stored into since the last clear. Under one lock, so that no buffer lands
// between the reset and the clearing of the rings.
void ResetAndClear(bool bWholeRings) {
  const std::lock_guard lock(g_historyMutex);
  ResetPositions();
  const std::int32_t nEnd = bWholeRings ? kRingSize : g_nStoredEnd;
  for (float* pfRing : {g_fSampleRing, g_fZeroCrossRing, g_fEnergyRing}) {
    std::fill_n(pfRing, nEnd, 0.0f);
    std::fill_n(pfRing + kRingSize, nEnd, 0.0f);
  }
  g_nStoredEnd = 0;
}

}  // namespace

void ClearHistory() { ResetAndClear(true); }

// Writes only what was stored: at program start the rings are memory never touched, which
// the system would otherwise have to supply, 4.9 MB of it, page by page.
void ClearStoredHistory() { ResetAndClear(false); }

void CopyHistorySamples(std::int32_t nStart, std::int32_t nCount, float* pfDest) {
  const std::lock_guard lock(g_historyMutex);
  for (std::int32_t k = 0; k < nCount; ++k) {
    pfDest[k] = g_fSampleRing[RingIndex(nStart + k)];
  }
}
