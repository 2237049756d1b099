#include "analysis/SegmentDetector.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "analysis/SampleHistory.h"

std::int32_t g_nSegStart = -1;
std::int32_t g_nSegEnd = -1;
std::int32_t g_nSegFound = -1;

namespace {

constexpr float kZeroCrossThreshold = 15.0f;
constexpr float kEnergyThreshold = 20.0f;
constexpr double kFirstDrop = 1.0;
constexpr double kResumedDrop = 0.1;

// A ring as the detector reads it: position -1 (the start after a reset) is 0.0; anything
// else outside 0 ... 409599 is read at its ring position.
class CFeatureReader {
 public:
  explicit CFeatureReader(const float* pfRing) : m_pfRing(pfRing) {}

  float At(std::int32_t nPos) const { return nPos == -1 ? 0.0f : m_pfRing[RingIndex(nPos)]; }

  // Extremum of the `nCount` values at `nPos`; the index returned is a history position.
  FloatExtremum Scan(std::int32_t nPos, std::int32_t nCount, bool bMax) const {
    FloatExtremum result{};
    if (nPos >= 0 && nPos + nCount <= kRingStorage) {
      (bMax ? ArgMaxFloat : ArgMinFloat)(m_pfRing + nPos, nCount, result);
    } else {
      m_scratch.resize(static_cast<std::size_t>(std::max(nCount, 1)));
      for (std::int32_t k = 0; k < nCount; ++k) {
        m_scratch[static_cast<std::size_t>(k)] = At(nPos + k);
      }
      (bMax ? ArgMaxFloat : ArgMinFloat)(m_scratch.data(), nCount, result);
    }
    result.index += nPos;
    return result;
  }

 private:
  const float* m_pfRing;
  mutable std::vector<float> m_scratch;
};

// Search state of one feature during the onset search.
struct OnsetTrack {
  const CFeatureReader& ring;
  float fThreshold;
  std::int32_t nPos = 0;   // where the next scan begins
  float fValue = 0.0f;     // current maximum
  std::int32_t nAt = 0;    // its position
  float fPeak = 0.0f;      // peak value
  std::int32_t nPeak = 0;  // its position
};

// Scan for a value at the threshold, then climb to the peak. Returns false (and leaves
// the give-up position in track.nPos) when the complete features run out.
bool FindPeak(OnsetTrack& track, std::int32_t nLimit, std::int32_t nWindow, std::int32_t nHalf) {
  while (track.fValue < track.fThreshold) {
    if (track.nPos + nWindow > nLimit) {
      return false;
    }
    // The last position of each block is not examined.
    const FloatExtremum found = track.ring.Scan(track.nPos, nWindow - 1, true);
    track.fValue = found.value;
    track.nAt = found.index;
    track.nPos += nWindow;
  }
  if (track.fValue > track.fPeak) {
    do {
      track.fPeak = track.fValue;
      track.nPeak = track.nAt;
      track.nPos = track.nAt;
      if (track.nPos + nHalf > nLimit) {
        return false;
      }
      const FloatExtremum found = track.ring.Scan(track.nPos, nHalf, true);
      track.fValue = found.value;
      track.nAt = found.index;
    } while (track.fValue > track.fPeak);
  }
  return true;
}

void GiveUp(std::int32_t nPos) {
  const std::int32_t nReduced = nPos == -1 ? -1 : nPos % kRingSize;
  g_nSegStart = nReduced;
  g_nSegEnd = nReduced;
  g_nSegFound = -1;
}

// Follows one feature down from `nStart`. Returns false on a stall, with the stall
// position in nEnd; otherwise nEnd is the position at which the final scan began.
bool Descend(const CFeatureReader& ring, std::int32_t nStart, float fRef, double dDrop,
             std::int32_t nLimit, std::int32_t nHalf, std::int32_t& nEnd) {
  float fLow = static_cast<float>(static_cast<double>(fRef) - dDrop);
  if (!(fLow < fRef)) {
    nEnd = nStart;  // the drop is lost in rounding a very large value
    return true;
  }
  std::int32_t nPos = nStart;
  float fPrev = 0.0f;
  std::int32_t nLast = nStart;
  do {
    fPrev = fLow;
    nLast = nPos;
    if (nPos + nHalf > nLimit) {
      nEnd = nPos;
      return false;
    }
    const FloatExtremum found = ring.Scan(nPos, nHalf, false);
    fLow = found.value;
    nPos = found.index;
  } while (fLow < fPrev);
  nEnd = nLast;
  return true;
}

}  // namespace

namespace {

// The extreme of a run as a plain scan keeps it: the first value, replaced only by a value
// strictly beyond the one kept (so a NaN never replaces one, and a NaN in front stays), at the
// first position that holds it. Found in two passes the compiler can vectorise: the extreme
// value over eight independent lanes, then the first position holding a value equal to it
// (+0.0 and -0.0 are equal, as they are to the plain scan, which never replaces one by the
// other).
template <typename Beyond>
void FirstExtremum(const float* pfValues, std::int32_t nCount, FloatExtremum& result,
                   Beyond beyond) {
  result.value = pfValues[0];
  result.index = 0;
  if (nCount <= 1) {
    return;
  }
  constexpr std::int32_t kLanes = 8;
  std::array<float, kLanes> lanes;
  lanes.fill(result.value);
  std::int32_t k = 1;
  for (; k + kLanes <= nCount; k += kLanes) {
    for (std::int32_t l = 0; l < kLanes; ++l) {
      const float fValue = pfValues[k + l];
      const auto nLane = static_cast<std::size_t>(l);
      lanes[nLane] = beyond(fValue, lanes[nLane]) ? fValue : lanes[nLane];
    }
  }
  float fExtreme = result.value;
  for (const float fLane : lanes) {
    fExtreme = beyond(fLane, fExtreme) ? fLane : fExtreme;
  }
  for (; k < nCount; ++k) {
    fExtreme = beyond(pfValues[k], fExtreme) ? pfValues[k] : fExtreme;
  }
  if (!beyond(fExtreme, result.value)) {
    return;  // nothing lies beyond the first value (nothing ever does beyond a NaN)
  }
  std::int32_t nAt = 1;
  while (!(pfValues[nAt] == fExtreme)) {
    ++nAt;
  }
  result.value = pfValues[nAt];
  result.index = nAt;
}

}  // namespace

void ArgMaxFloat(const float* pfValues, std::int32_t nCount, FloatExtremum& result) {
  FirstExtremum(pfValues, nCount, result, [](float a, float b) { return a > b; });
}

void ArgMinFloat(const float* pfValues, std::int32_t nCount, FloatExtremum& result) {
  FirstExtremum(pfValues, nCount, result, [](float a, float b) { return a < b; });
}

void ResetDetector() {
  g_nSegStart = -1;
  g_nSegEnd = -1;
  g_nSegFound = -1;
}

void DetectNoteSegment(const float* pfZeroCross, const float* pfEnergy, std::int32_t nStart,
                       std::int32_t nWindow) {
  const std::lock_guard lock(HistoryMutex());

  // Last complete feature position; every scan stays below the limit, so it is never read.
  const std::int32_t nComplete = g_nCrossPos.load(std::memory_order_acquire) - 1;
  if (nStart == nComplete) {
    return;
  }
  // Past the complete position means the data have wrapped since the start was recorded.
  const std::int32_t nLimit = nStart < nComplete ? nComplete : nComplete + kRingSize;
  const std::int32_t nHalf = (nWindow - 1) / 2;
  const std::int32_t nTolerance = nWindow / 5;

  const CFeatureReader zeroCross(pfZeroCross);
  const CFeatureReader energy(pfEnergy);

  std::int32_t nDescentStart = nStart;
  float fRefZ = 0.0f;
  float fRefE = 0.0f;
  double dDrop = kResumedDrop;

  if (g_nSegFound == 0) {
    // Resume both descents where the last call stalled, with fresh references.
    fRefZ = zeroCross.At(nStart);
    fRefE = energy.At(nStart);
  } else {
    OnsetTrack z{zeroCross, kZeroCrossThreshold};
    OnsetTrack e{energy, kEnergyThreshold};
    z.nPos = e.nPos = nStart;
    for (;;) {
      if (!FindPeak(z, nLimit, nWindow, nHalf)) {
        GiveUp(z.nPos);
        return;
      }
      if (!FindPeak(e, nLimit, nWindow, nHalf)) {
        GiveUp(e.nPos);
        return;
      }
      if (std::abs(z.nPeak - e.nPeak) < nTolerance) {
        break;
      }
      // The feature whose peak comes first is searched again after it.
      OnsetTrack& dropped = z.nPeak < e.nPeak ? z : e;
      dropped.fPeak = 0.0f;
      dropped.fValue = 0.0f;
      dropped.nPos = dropped.nPeak + nHalf;
    }
    g_nSegStart = std::max(z.nPeak, e.nPeak);
    nDescentStart = g_nSegStart;
    fRefZ = z.fPeak;
    fRefE = e.fPeak;
    dDrop = kFirstDrop;
  }

  std::int32_t nEndZ = 0;
  std::int32_t nEndE = 0;
  if (!Descend(zeroCross, nDescentStart, fRefZ, dDrop, nLimit, nHalf, nEndZ)) {
    g_nSegEnd = nEndZ;
    g_nSegFound = 0;
    return;
  }
  if (!Descend(energy, nDescentStart, fRefE, dDrop, nLimit, nHalf, nEndE)) {
    g_nSegEnd = nEndE;
    g_nSegFound = 0;
    return;
  }
  g_nSegEnd = std::max(nEndZ, nEndE);
  g_nSegFound = 1;
}
