#include "analysis/SampleHistory.h"

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

std::int32_t Next(std::int32_t nPos) { return nPos + 1 == kRingSize ? 0 : nPos + 1; }

// Two positions before `nPos` (0 ... 204799), modulo the ring.
std::int32_t TwoBefore(std::int32_t nPos) { return nPos >= 2 ? nPos - 2 : nPos - 2 + kRingSize; }

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

// One buffer of the running update. The positions live in locals for the loop and are
// published once at the end; every reader of them holds the history lock or reads only
// the atomics, which change only between buffers.
void UpdateRunning(const std::int16_t* pSamples) {
  float* const x = g_fSampleRing;
  float* const pfE = g_fEnergyRing;
  float* const pfZ = g_fZeroCrossRing;

  std::int32_t i = g_nWriteIndex.load(std::memory_order_relaxed);
  std::int32_t n = g_nCrossPos.load(std::memory_order_relaxed);
  std::int32_t nTail = g_nEnergyTail;
  std::int32_t nOutPrev = g_nOutPrev;
  std::int32_t nOutCur = g_nOutCur;
  std::int32_t nOutPrev2 = g_nOutPrev2;
  std::int32_t nInCur = g_nInCur;
  std::int32_t nInPrev = g_nInPrev;
  std::int32_t nInPrev2 = g_nInPrev2;

  // The running sums stay in registers: each position's features start from the ones just
  // stored at the position before it.
  float fEnergy = pfE[nTail];
  float fCross = pfZ[nTail];
  for (std::int32_t j = 0; j < kBufferLen; ++j) {
    const float v = static_cast<float>(pSamples[j]) * kSampleScale;
    Store(x, i, v);
    ++i;

    // Energy: the new sample enters, the sample at the tail leaves.
    fEnergy = fEnergy + std::fabs(v);
    fEnergy = fEnergy - std::fabs(x[nTail]);
    Store(pfE, n, fEnergy);

    // Crossings: the leaving one is judged by the rule that counted it when it entered.
    // Subtracting or adding 0.0f leaves a count unchanged, so no branch is needed.
    fCross = fCross - static_cast<float>(IsCrossing(x, nOutPrev, nOutCur, nOutPrev2));
    fCross = fCross + static_cast<float>(IsCrossing(x, nInPrev, nInCur, nInPrev2));
    Store(pfZ, n, fCross);

    n = Next(n);
    nTail = Next(nTail);
    nOutPrev = Next(nOutPrev);
    nOutCur = Next(nOutCur);
    nOutPrev2 = TwoBefore(nOutCur);
    nInCur = Next(nInCur);
    nInPrev = Next(nInPrev);
    nInPrev2 = Next(nInPrev2);
  }

  g_nEnergyPos = n;
  g_nEnergyTail = nTail;
  g_nOutPrev = nOutPrev;
  g_nOutCur = nOutCur;
  g_nOutPrev2 = nOutPrev2;
  g_nInCur = nInCur;
  g_nInPrev = nInPrev;
  g_nInPrev2 = nInPrev2;
  g_nWriteIndex.store(i, std::memory_order_relaxed);
  g_nCrossPos.store(n, std::memory_order_release);
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
    return;
  }
  if (nState == 0) {
    g_nHistoryState.store(1, std::memory_order_release);
  }
  UpdateRunning(pSamples);
}

void ResetHistory() {
  const std::lock_guard lock(g_historyMutex);
  ResetPositions();
}

// Under one lock, so that no buffer lands between the reset and the clearing of the rings.
void ClearHistory() {
  const std::lock_guard lock(g_historyMutex);
  ResetPositions();
  for (std::int32_t k = 0; k < kRingStorage; ++k) {
    g_fSampleRing[k] = 0.0f;
    g_fZeroCrossRing[k] = 0.0f;
    g_fEnergyRing[k] = 0.0f;
  }
}

void CopyHistorySamples(std::int32_t nStart, std::int32_t nCount, float* pfDest) {
  const std::lock_guard lock(g_historyMutex);
  for (std::int32_t k = 0; k < nCount; ++k) {
    pfDest[k] = g_fSampleRing[RingIndex(nStart + k)];
  }
}
