#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/SampleHistory.h"
#include "training/NoteTables.h"

namespace {

constexpr std::size_t kRing = static_cast<std::size_t>(kRingSize);

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Random signal with frequent sign changes, isolated zeros and (rarer) runs of zeros.
std::vector<std::int16_t> RandomSignal(std::size_t nBuffers, std::uint32_t nSeed) {
  std::mt19937 rng(nSeed);
  std::uniform_int_distribution<int> value(-3000, 3000);
  std::vector<std::int16_t> raw(nBuffers * kBufferLen);
  for (std::int16_t& v : raw) {
    v = rng() % 10 == 0 ? std::int16_t{0} : static_cast<std::int16_t>(value(rng));
  }
  return raw;
}

class SampleHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHistory();
    g_nTrainState = 0;
  }
  void TearDown() override { g_nTrainState = -1; }

  // Feeds buffers `nFirst` ... `nEnd` - 1 of `raw` and remembers their samples.
  void Feed(const std::vector<std::int16_t>& raw, std::size_t nFirst, std::size_t nEnd) {
    for (std::size_t k = nFirst * kBufferLen; k < nEnd * kBufferLen; ++k) {
      m_x.push_back(static_cast<float>(raw[k]) * kSampleScale);
    }
    for (std::size_t b = nFirst; b < nEnd; ++b) {
      ProcessBuffer(raw.data() + b * kBufferLen);
    }
  }

  // Every complete window of the current lap, in the ring and its mirror, against values
  // worked out afresh from the samples since the last reset (t = 0, 1, ...): the crossing
  // count (a sign change from the sample before, or from the one before that when it is
  // exactly zero; nothing exists before t = 0) and the float energy rounded as it must be:
  // a running sum for window 0, then E[t] = (E[t-1] + |x[t+511]|) - |x[t-1]|.
  void ExpectFeaturesMatchReference() {
    m_crossPrefix.assign(m_x.size() + 1, 0);
    for (std::size_t m = 0; m < m_x.size(); ++m) {
      const float fPrev = m >= 1 ? m_x[m - 1] : 0.0f;
      const float fBefore = fPrev != 0.0f ? fPrev : m >= 2 ? m_x[m - 2] : 0.0f;
      m_crossPrefix[m + 1] = m_crossPrefix[m] + (fBefore * m_x[m] < 0.0f ? 1 : 0);
    }
    m_energy.assign(m_x.size() - kWindowLen + 1, 0.0f);
    for (std::size_t k = 0; k < kWindowLen; ++k) {
      m_energy[0] = m_energy[0] + std::fabs(m_x[k]);
    }
    for (std::size_t t = 1; t < m_energy.size(); ++t) {
      m_energy[t] = (m_energy[t - 1] + std::fabs(m_x[t + kWindowLen - 1])) - std::fabs(m_x[t - 1]);
    }
    const std::size_t nLast = m_x.size() - kWindowLen;
    for (std::size_t t = nLast >= kRing ? nLast - kRing + 1 : 0; t <= nLast; ++t) {
      for (const std::size_t p : {t % kRing, t % kRing + kRing}) {
        ASSERT_EQ(g_fZeroCrossRing[p], Crossings(t)) << "t=" << t << " p=" << p;
        ASSERT_TRUE(SameBits(g_fEnergyRing[p], m_energy[t]))
            << "t=" << t << " p=" << p << " got " << g_fEnergyRing[p] << " want " << m_energy[t];
      }
    }
  }

  float Crossings(std::size_t t) const {
    return static_cast<float>(m_crossPrefix[t + kWindowLen] - m_crossPrefix[t + 1]);
  }

  // The positions for the next write position i. Right after the first window the fallback
  // of the leaving crossing is position 0, one later than usual.
  static void ExpectRunningPositions(std::int32_t i, std::int32_t nOutPrev2Offset = -513) {
    EXPECT_EQ(g_nWriteIndex.load(), i);
    const std::int32_t nPos[] = {g_nEnergyPos, g_nCrossPos, g_nOutCur, g_nEnergyTail, g_nOutPrev,
                                 g_nOutPrev2,  g_nInCur,    g_nInPrev, g_nInPrev2};
    const std::int32_t nOffset[] = {-511, -511, -511, -512, -512, nOutPrev2Offset, 0, -1, -2};
    for (std::size_t k = 0; k < std::size(nPos); ++k) {
      EXPECT_EQ(nPos[k], ((i + nOffset[k]) % kRingSize + kRingSize) % kRingSize) << "item " << k;
    }
  }

  std::vector<float> m_x;
  std::vector<int> m_crossPrefix;
  std::vector<float> m_energy;
};

TEST_F(SampleHistoryTest, RunningFeaturesMatchFreshCountsAcrossTheWrap) {
  const std::vector<std::int16_t> raw = RandomSignal(403, 20240611);
  for (std::size_t k = 0; k < 400; ++k) {
    Feed(raw, k, k + 1);
    ASSERT_EQ(g_nCrossPos.load(), static_cast<std::int32_t>(512 * k + 1) % kRingSize);
  }
  EXPECT_EQ(g_nHistoryState.load(), 1);
  ExpectRunningPositions(kRingSize);
  ExpectFeaturesMatchReference();

  // Buffer 401 is written at 0 again; the feature positions continue without a break.
  Feed(raw, 400, 403);
  ExpectRunningPositions(3 * 512);
  ExpectFeaturesMatchReference();

  // Positions 204700 ... 205211 read in one run: the last of the first lap, then the
  // second lap's 0 ... 411 through the mirror half.
  for (std::size_t t = 204700; t < 205212; ++t) {
    ASSERT_TRUE(SameBits(g_fSampleRing[t], m_x[t])) << "t=" << t;
    ASSERT_EQ(g_fZeroCrossRing[t], Crossings(t)) << "t=" << t;
    ASSERT_TRUE(SameBits(g_fEnergyRing[t], m_energy[t])) << "t=" << t;
  }
}

// After a reset, buffers are dropped while the train state is -1 or 3 and pass in every
// other state; the first one that passes writes samples 0 ... 511 and window 0 only.
TEST_F(SampleHistoryTest, FirstWindowAfterResetAndTheTrainStateGate) {
  Feed(RandomSignal(3, 99), 0, 3);
  // Leftovers that the new history must not use: a positive sample just before position 0
  // and marker values in both feature rings.
  g_fSampleRing[kRingSize - 1] = g_fSampleRing[kRingStorage - 1] = 1.0f;
  std::fill(g_fZeroCrossRing, g_fZeroCrossRing + kRingStorage, -7.0f);
  std::fill(g_fEnergyRing, g_fEnergyRing + kRingStorage, -7.0f);
  ResetHistory();
  m_x.clear();
  EXPECT_EQ(g_nEnergyPos, 0);
  for (const std::int32_t nPos :
       {g_nEnergyTail, g_nOutPrev, g_nOutCur, g_nOutPrev2, g_nInCur, g_nInPrev, g_nInPrev2}) {
    EXPECT_EQ(nPos, -1);
  }
  const std::vector<float> before(g_fSampleRing, g_fSampleRing + kRingStorage);

  // A zero first sample followed by a negative one: no crossing at position 1. The second
  // buffer takes that crossing out by the rule that left it uncounted.
  std::vector<std::int16_t> raw = RandomSignal(2, 5);
  raw[0] = 0;
  raw[1] = -5;
  const std::vector<std::int16_t> junk = RandomSignal(1, 7);
  for (std::int32_t k = 0; k < 2; ++k) {
    for (const std::int32_t nState : {-1, 3}) {
      g_nTrainState = nState;
      ProcessBuffer(junk.data());
      EXPECT_EQ(g_nWriteIndex.load(), 512 * k) << "state " << nState;
      EXPECT_EQ(g_nCrossPos.load(), k) << "state " << nState;
      EXPECT_EQ(g_nHistoryState.load(), k - 1) << "state " << nState;
    }
    g_nTrainState = k + 1;
    const auto nBuffer = static_cast<std::size_t>(k);
    Feed(raw, nBuffer, nBuffer + 1);
    EXPECT_EQ(g_nHistoryState.load(), k);
    ExpectRunningPositions(512 * (k + 1), k == 0 ? -512 : -513);
    ExpectFeaturesMatchReference();
    // Nothing else was written: the first buffer sets window 0 only, the second 1 ... 512.
    for (std::size_t j = 0; j < static_cast<std::size_t>(kRingStorage); ++j) {
      const std::size_t p = j % kRing;
      ASSERT_TRUE(SameBits(g_fSampleRing[j], p < m_x.size() ? m_x[p] : before[j])) << j;
      if (p > 512 * nBuffer) {
        ASSERT_EQ(g_fZeroCrossRing[j], -7.0f) << j;
        ASSERT_EQ(g_fEnergyRing[j], -7.0f) << j;
      }
    }
  }
}

// Three buffers: complete windows 0 ... 1024.
TEST_F(SampleHistoryTest, ZeroSampleRules) {
  const auto expectCrossings = [](const std::vector<std::int16_t>& raw, auto expected) {
    ClearHistory();
    for (std::size_t k = 0; k < raw.size(); k += kBufferLen) {
      ProcessBuffer(raw.data() + k);
    }
    for (std::int32_t n = 0; n <= 1024; ++n) {
      ASSERT_EQ(g_fZeroCrossRing[n], expected(n)) << n;
    }
  };
  // +a, 0, -b: one crossing, at the position of -b (614).
  std::vector<std::int16_t> raw(3 * kBufferLen, 0);
  raw[612] = 300;
  raw[614] = -200;
  expectCrossings(raw, [](std::int32_t n) { return n >= 103 && n <= 613 ? 1.0f : 0.0f; });
  // +a, 0, 0, -b: none.
  raw[614] = 0;
  raw[615] = -200;
  expectCrossings(raw, [](std::int32_t) { return 0.0f; });
}

// Clearing only what was stored leaves every ring all +0.0, for a history short of the ring
// end and for one that wrapped around it.
TEST_F(SampleHistoryTest, ClearingWhatWasStoredLeavesEveryRingZero) {
  for (const std::size_t nBuffers : {std::size_t{1}, std::size_t{3}, std::size_t{401}}) {
    const std::vector<std::int16_t> raw = RandomSignal(nBuffers, 11);
    Feed(raw, 0, nBuffers);
    ClearStoredHistory();
    for (const float* pfRing : {g_fSampleRing, g_fZeroCrossRing, g_fEnergyRing}) {
      for (std::int32_t k = 0; k < kRingStorage; ++k) {
        ASSERT_TRUE(SameBits(pfRing[k], 0.0f)) << nBuffers << " buffers, position " << k;
      }
    }
  }
}

}  // namespace
