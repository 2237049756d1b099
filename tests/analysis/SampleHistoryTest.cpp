#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/SampleHistory.h"
#include "training/NoteTables.h"

namespace {

constexpr std::size_t kRing = static_cast<std::size_t>(kRingSize);

float Scaled(std::int16_t nRaw) { return static_cast<float>(nRaw) * kSampleScale; }

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What the history should hold, worked out from the plain sample sequence since the last
// reset (t = 0, 1, ...) without any running update: crossings are counted afresh for every
// window, energies are summed afresh in double.
class CReference {
 public:
  void Append(const std::vector<std::int16_t>& raw) {
    for (const std::int16_t nRaw : raw) {
      m_x.push_back(Scaled(nRaw));
    }
  }
  std::size_t Samples() const { return m_x.size(); }
  float Sample(std::size_t t) const { return m_x[t]; }

  // Prefix sums of the crossing indicator and of |x|, then the running float energy
  // exactly as it must be rounded: first window a float running sum, then
  // E[t] = (E[t-1] + |x[t+511]|) - |x[t-1]| with a rounding after each operation.
  void Finish() {
    const std::size_t nCount = m_x.size();
    m_crossPrefix.assign(nCount + 1, 0);
    m_absPrefix.assign(nCount + 1, 0.0);
    for (std::size_t m = 0; m < nCount; ++m) {
      m_crossPrefix[m + 1] = m_crossPrefix[m] + (IsCrossing(m) ? 1 : 0);
      m_absPrefix[m + 1] = m_absPrefix[m] + std::fabs(static_cast<double>(m_x[m]));
    }
    m_energy.assign(nCount - kWindowLen + 1, 0.0f);
    float fSum = 0.0f;
    for (std::size_t k = 0; k < kWindowLen; ++k) {
      fSum = fSum + std::fabs(m_x[k]);
    }
    m_energy[0] = fSum;
    for (std::size_t t = 1; t < m_energy.size(); ++t) {
      const float fIn = m_energy[t - 1] + std::fabs(m_x[t + kWindowLen - 1]);
      m_energy[t] = fIn - std::fabs(m_x[t - 1]);
    }
  }

  int FreshCrossings(std::size_t t) const {
    return m_crossPrefix[t + kWindowLen] - m_crossPrefix[t + 1];
  }
  double FreshEnergy(std::size_t t) const { return m_absPrefix[t + kWindowLen] - m_absPrefix[t]; }
  float RunningEnergy(std::size_t t) const { return m_energy[t]; }

 private:
  // A crossing at m: sign change from the sample before, or from the one before that when
  // the sample before is exactly zero; nothing exists before t = 0.
  bool IsCrossing(std::size_t m) const {
    if (m == 0) {
      return false;
    }
    float fBefore = m_x[m - 1];
    if (fBefore == 0.0f) {
      fBefore = m >= 2 ? m_x[m - 2] : 0.0f;
    }
    return fBefore * m_x[m] < 0.0f;
  }

  std::vector<float> m_x;
  std::vector<int> m_crossPrefix;
  std::vector<double> m_absPrefix;
  std::vector<float> m_energy;
};

class SampleHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHistory();
    g_nTrainState = 0;
  }
  void TearDown() override { g_nTrainState = -1; }

  // Feeds `raw` (a whole number of buffers) through ProcessBuffer.
  void Feed(const std::vector<std::int16_t>& raw) {
    ASSERT_EQ(raw.size() % kBufferLen, 0u);
    m_ref.Append(raw);
    for (std::size_t k = 0; k < raw.size(); k += kBufferLen) {
      ProcessBuffer(raw.data() + k);
    }
  }

  // Every complete window of the current lap: ring and mirror hold the fresh crossing
  // count, the exactly rounded running energy, and an energy close to the fresh sum.
  void ExpectFeaturesMatchReference() {
    m_ref.Finish();
    const std::size_t nLast = m_ref.Samples() - kWindowLen;  // newest complete window
    const std::size_t nFirst = nLast >= kRing ? nLast - kRing + 1 : 0;
    for (std::size_t t = nFirst; t <= nLast; ++t) {
      const std::size_t p = t % kRing;
      ASSERT_EQ(g_fZeroCrossRing[p], static_cast<float>(m_ref.FreshCrossings(t))) << "t=" << t;
      ASSERT_TRUE(SameBits(g_fEnergyRing[p], m_ref.RunningEnergy(t)))
          << "t=" << t << " got " << g_fEnergyRing[p] << " want " << m_ref.RunningEnergy(t);
      ASSERT_NEAR(g_fEnergyRing[p], m_ref.FreshEnergy(t), 0.02) << "t=" << t;
      ASSERT_TRUE(SameBits(g_fZeroCrossRing[p + kRing], g_fZeroCrossRing[p])) << "t=" << t;
      ASSERT_TRUE(SameBits(g_fEnergyRing[p + kRing], g_fEnergyRing[p])) << "t=" << t;
    }
  }

  // The positions for the next write position i (0 ... 204800). Right after the first
  // window the fallback of the leaving crossing is position 0, one later than usual.
  static void ExpectRunningPositions(std::int32_t i, std::int32_t nOutPrev2Offset = -513) {
    auto at = [i](std::int32_t nOffset) {
      return ((i + nOffset) % kRingSize + kRingSize) % kRingSize;
    };
    EXPECT_EQ(g_nWriteIndex.load(), i);
    EXPECT_EQ(g_nEnergyPos, at(-511));
    EXPECT_EQ(g_nEnergyTail, at(-512));
    EXPECT_EQ(g_nCrossPos.load(), at(-511));
    EXPECT_EQ(g_nOutPrev, at(-512));
    EXPECT_EQ(g_nOutCur, at(-511));
    EXPECT_EQ(g_nOutPrev2, at(nOutPrev2Offset));
    EXPECT_EQ(g_nInCur, at(0));
    EXPECT_EQ(g_nInPrev, at(-1));
    EXPECT_EQ(g_nInPrev2, at(-2));
  }

  CReference m_ref;
};

// Random signal with frequent sign changes, isolated zeros and runs of two to four zeros.
std::vector<std::int16_t> RandomSignal(std::size_t nBuffers, std::uint32_t nSeed) {
  std::mt19937 rng(nSeed);
  std::uniform_int_distribution<int> value(-3000, 3000);
  std::uniform_int_distribution<int> choice(0, 99);
  std::vector<std::int16_t> raw(nBuffers * kBufferLen);
  for (std::size_t k = 0; k < raw.size();) {
    const int nChoice = choice(rng);
    std::size_t nZeros = nChoice < 8    ? 1
                         : nChoice < 12 ? 2 + static_cast<std::size_t>(nChoice % 3)
                                        : 0;
    if (nZeros == 0) {
      raw[k++] = static_cast<std::int16_t>(value(rng));
    }
    for (; nZeros > 0 && k < raw.size(); --nZeros) {
      raw[k++] = 0;
    }
  }
  return raw;
}

TEST_F(SampleHistoryTest, RunningFeaturesMatchFreshCountsAcrossTheWrap) {
  const std::vector<std::int16_t> raw = RandomSignal(403, 20240611);
  const auto buffer = [&raw](std::size_t k) {
    return std::vector<std::int16_t>(
        raw.begin() + static_cast<std::ptrdiff_t>(k * kBufferLen),
        raw.begin() + static_cast<std::ptrdiff_t>((k + 1) * kBufferLen));
  };
  for (std::size_t k = 0; k < 400; ++k) {
    Feed(buffer(k));
    ASSERT_EQ(g_nCrossPos.load(), static_cast<std::int32_t>(512 * k + 1) % kRingSize);
  }
  EXPECT_EQ(g_nHistoryState.load(), 1);
  ExpectRunningPositions(kRingSize);
  ExpectFeaturesMatchReference();

  // Buffer 401 is written at 0 again; the feature positions continue without a break.
  for (std::size_t k = 400; k < 403; ++k) {
    Feed(buffer(k));
  }
  ExpectRunningPositions(3 * 512);
  ExpectFeaturesMatchReference();

  // Positions 204700 ... 205211 read in one run: the last of the first lap, then the
  // second lap's 0 ... 411 through the mirror half.
  for (std::size_t t = 204700; t < 205212; ++t) {
    ASSERT_TRUE(SameBits(g_fSampleRing[t], m_ref.Sample(t))) << "t=" << t;
    ASSERT_EQ(g_fZeroCrossRing[t], static_cast<float>(m_ref.FreshCrossings(t))) << "t=" << t;
    ASSERT_TRUE(SameBits(g_fEnergyRing[t], m_ref.RunningEnergy(t))) << "t=" << t;
  }
}

struct Snapshot {
  std::vector<float> samples, crossings, energies;
  std::vector<std::int32_t> positions;

  static Snapshot Take() {
    return {std::vector<float>(g_fSampleRing, g_fSampleRing + kRingStorage),
            std::vector<float>(g_fZeroCrossRing, g_fZeroCrossRing + kRingStorage),
            std::vector<float>(g_fEnergyRing, g_fEnergyRing + kRingStorage),
            {g_nWriteIndex, g_nEnergyPos, g_nEnergyTail, g_nCrossPos, g_nOutPrev, g_nOutCur,
             g_nOutPrev2, g_nInCur, g_nInPrev, g_nInPrev2, g_nHistoryState}};
  }
  bool operator==(const Snapshot& other) const {
    auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
      return std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
    };
    return same(samples, other.samples) && same(crossings, other.crossings) &&
           same(energies, other.energies) && positions == other.positions;
  }
};

TEST_F(SampleHistoryTest, BuffersAreDroppedWhileAnalysingOrDone) {
  const std::vector<std::int16_t> raw = RandomSignal(3, 7);
  for (std::size_t k = 0; k < 3; ++k) {
    for (const std::int32_t nState : {-1, 3}) {
      g_nTrainState = nState;
      const Snapshot before = Snapshot::Take();
      ProcessBuffer(raw.data() + (2 - k) * kBufferLen);
      EXPECT_TRUE(Snapshot::Take() == before) << "state " << nState << " after " << k;
    }
    // Every other step state lets the buffer through.
    g_nTrainState = static_cast<std::int32_t>(k);  // 0, 1, 2
    ProcessBuffer(raw.data() + k * kBufferLen);
    EXPECT_EQ(g_nCrossPos.load(), static_cast<std::int32_t>(512 * k + 1));
  }
  m_ref.Append(raw);
  ExpectFeaturesMatchReference();
}

TEST_F(SampleHistoryTest, FirstBufferAfterResetWritesOnlyTheFirstWindow) {
  Feed(RandomSignal(3, 99));
  // Leftovers that the new history must not use: a positive sample just before position 0
  // and marker values in both feature rings.
  g_fSampleRing[kRingSize - 1] = g_fSampleRing[kRingStorage - 1] = 1.0f;
  for (std::int32_t k = 0; k < kRingStorage; ++k) {
    g_fZeroCrossRing[k] = -7.0f;
    g_fEnergyRing[k] = -7.0f;
  }
  ResetHistory();
  EXPECT_EQ(g_nHistoryState.load(), -1);
  EXPECT_EQ(g_nWriteIndex.load(), 0);
  EXPECT_EQ(g_nEnergyPos, 0);
  EXPECT_EQ(g_nCrossPos.load(), 0);
  for (const std::int32_t nPos :
       {g_nEnergyTail, g_nOutPrev, g_nOutCur, g_nOutPrev2, g_nInCur, g_nInPrev, g_nInPrev2}) {
    EXPECT_EQ(nPos, -1);
  }

  // A zero first sample followed by a negative one: no crossing at position 1.
  std::vector<std::int16_t> raw = RandomSignal(2, 5);
  raw[0] = 0;
  raw[1] = -5;
  const Snapshot before = Snapshot::Take();
  m_ref = CReference();
  Feed(std::vector<std::int16_t>(raw.begin(), raw.begin() + kBufferLen));

  EXPECT_EQ(g_nHistoryState.load(), 0);
  ExpectRunningPositions(512, -512);
  const Snapshot after = Snapshot::Take();
  for (std::size_t k = 0; k < static_cast<std::size_t>(kRingStorage); ++k) {
    const std::size_t p = k % kRing;
    if (p < kBufferLen) {
      ASSERT_TRUE(SameBits(after.samples[k], Scaled(raw[p]))) << k;
    } else {
      ASSERT_TRUE(SameBits(after.samples[k], before.samples[k])) << k;
    }
    if (p != 0) {
      ASSERT_EQ(after.crossings[k], -7.0f) << k;
      ASSERT_EQ(after.energies[k], -7.0f) << k;
    }
  }
  // The second buffer takes the crossing at position 1 out by the rule that left it
  // uncounted.
  Feed(std::vector<std::int16_t>(raw.begin() + kBufferLen, raw.end()));
  EXPECT_EQ(g_nHistoryState.load(), 1);
  ExpectRunningPositions(1024);
  ExpectFeaturesMatchReference();
}

TEST_F(SampleHistoryTest, ShortPatternsCountAsExpected) {
  const auto run = [](std::vector<std::int16_t> raw) {
    ClearHistory();
    for (std::size_t k = 0; k < raw.size(); k += kBufferLen) {
      ProcessBuffer(raw.data() + k);
    }
  };
  const std::int32_t kComplete = 1024;  // three buffers: windows 0 ... 1024

  // +a, 0, -b: one crossing, at the position of -b (614).
  std::vector<std::int16_t> raw(3 * kBufferLen, 0);
  raw[612] = 300;
  raw[614] = -200;
  run(raw);
  for (std::int32_t n = 0; n <= kComplete; ++n) {
    ASSERT_EQ(g_fZeroCrossRing[n], n >= 103 && n <= 613 ? 1.0f : 0.0f) << n;
  }

  // +a, 0, 0, -b: none.
  raw[614] = 0;
  raw[615] = -200;
  run(raw);
  for (std::int32_t n = 0; n <= kComplete; ++n) {
    ASSERT_EQ(g_fZeroCrossRing[n], 0.0f) << n;
  }

  // Silence: nothing at all.
  run(std::vector<std::int16_t>(3 * kBufferLen, 0));
  for (std::int32_t n = 0; n <= kComplete; ++n) {
    ASSERT_EQ(g_fZeroCrossRing[n], 0.0f) << n;
    ASSERT_EQ(g_fEnergyRing[n], 0.0f) << n;
  }

  // Alternating +1, -1: every window is full of crossings.
  for (std::size_t k = 0; k < raw.size(); ++k) {
    raw[k] = k % 2 == 0 ? 1 : -1;
  }
  run(raw);
  for (std::int32_t n = 0; n <= kComplete; ++n) {
    ASSERT_EQ(g_fZeroCrossRing[n], 511.0f) << n;
    ASSERT_NEAR(g_fEnergyRing[n], 512 * 0.00008, 1e-5) << n;
  }
}

}  // namespace
