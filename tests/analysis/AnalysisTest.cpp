// The sample history, the segment detector, the FFT and the pattern extraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "analysis/Complex.h"
#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"

namespace {

constexpr std::size_t kRing = static_cast<std::size_t>(kRingSize);
bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
std::int32_t At(std::int32_t i, std::int32_t d) {
  return ((i + d) % kRingSize + kRingSize) % kRingSize;
}

// Every running position where it belongs for write position i (the leaving crossing's
// fallback is position 0, not i - 513, right after the first window).
bool PositionsAt(std::int32_t i, std::int32_t nOutPrev2 = -513) {
  return g_nWriteIndex == i && g_nEnergyPos == At(i, -511) && g_nCrossPos == At(i, -511) &&
         g_nOutCur == At(i, -511) && g_nEnergyTail == At(i, -512) && g_nOutPrev == At(i, -512) &&
         g_nOutPrev2 == At(i, nOutPrev2) && g_nInCur == At(i, 0) && g_nInPrev == At(i, -1) &&
         g_nInPrev2 == At(i, -2);
}

// Random samples with frequent sign changes, isolated zeros and runs of zeros.
std::vector<std::int16_t> Noise(std::size_t nBuffers, std::uint32_t nSeed) {
  std::mt19937 rng(nSeed);
  std::vector<std::int16_t> raw(nBuffers * kBufferLen);
  for (auto& v : raw) v = rng() % 10 == 0 ? 0 : static_cast<std::int16_t>(rng() % 6001) - 3000;
  return raw;
}

// Feeds buffers and works the features out afresh from the samples since the last reset: a
// crossing at m is a sign change from m - 1, or from m - 2 when m - 1 is exactly zero;
// energy is a float running sum for window 0, then E[t] = (E[t-1] + |x[t+511]|) - |x[t-1]|.
struct Reference {
  std::vector<float> x;
  std::vector<int> cross{0};
  std::vector<float> energy;
  void Feed(const std::vector<std::int16_t>& raw, std::size_t nFirst, std::size_t nEnd) {
    for (std::size_t b = nFirst; b < nEnd; ++b) {
      ProcessBuffer(raw.data() + b * kBufferLen);
      for (std::size_t k = b * kBufferLen; k < (b + 1) * kBufferLen; ++k) {
        const std::size_t m = x.size();
        x.push_back(static_cast<float>(raw[k]) * kSampleScale);
        const float fPrev = m >= 1 ? x[m - 1] : 0.0f;
        const float fBefore = fPrev != 0.0f ? fPrev : m >= 2 ? x[m - 2] : 0.0f;
        cross.push_back(cross.back() + (fBefore * x[m] < 0.0f ? 1 : 0));
        if (m + 1 == kWindowLen) {
          energy.push_back(0.0f);
          for (std::size_t j = 0; j <= m; ++j) energy[0] = energy[0] + std::fabs(x[j]);
        } else if (m >= kWindowLen) {
          energy.push_back((energy.back() + std::fabs(x[m])) - std::fabs(x[m - kWindowLen]));
        }
      }
    }
  }
  float Cross(std::size_t t) const { return static_cast<float>(cross[t + 512] - cross[t + 1]); }
  // Every complete window of the current lap, in the ring and its mirror.
  void Check() const {
    const std::size_t nLast = energy.size() - 1;
    for (std::size_t t = nLast >= kRing ? nLast - kRing + 1 : 0; t <= nLast; ++t) {
      for (const std::size_t p : {t % kRing, t % kRing + kRing}) {
        ASSERT_EQ(g_fZeroCrossRing[p], Cross(t)) << t;
        ASSERT_TRUE(SameBits(g_fEnergyRing[p], energy[t])) << t;
      }
    }
  }
};

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHistory();
    g_nTrainState = 0;
  }
  void TearDown() override { g_nTrainState = -1; }
  Reference m_ref;
};

TEST_F(HistoryTest, RunningFeaturesMatchFreshCountsAcrossTheWrap) {
  const auto raw = Noise(403, 20240611);
  for (std::size_t k = 0; k < 400; ++k) {
    m_ref.Feed(raw, k, k + 1);
    ASSERT_EQ(g_nCrossPos.load(), static_cast<std::int32_t>(512 * k + 1) % kRingSize);
  }
  EXPECT_EQ(g_nHistoryState.load(), 1);
  EXPECT_TRUE(PositionsAt(kRingSize));
  m_ref.Check();
  m_ref.Feed(raw, 400, 403);  // written at 0 again, the features go on without a break
  EXPECT_TRUE(PositionsAt(3 * 512));
  m_ref.Check();
  for (std::size_t t = 204700; t < 205212; ++t) {  // one run through the mirror half
    ASSERT_TRUE(SameBits(g_fSampleRing[t], m_ref.x[t]) && g_fZeroCrossRing[t] == m_ref.Cross(t) &&
                SameBits(g_fEnergyRing[t], m_ref.energy[t]))
        << t;
  }
  std::vector<float> block(600);
  CopyHistorySamples(kRingSize - 100, 600, block.data());
  EXPECT_TRUE(SameBits(block[599], g_fSampleRing[499]));
  ClearStoredHistory();  // every ring back to +0.0, across the wrap too
  for (const float* pf : {g_fSampleRing, g_fZeroCrossRing, g_fEnergyRing}) {
    for (std::int32_t k = 0; k < kRingStorage; ++k) ASSERT_TRUE(SameBits(pf[k], 0.0f)) << k;
  }
}

// Buffers are dropped in train states -1 and 3; after a reset the first one writes samples
// 0 ... 511 and window 0 only, and nothing of what lay before position 0 is used.
TEST_F(HistoryTest, FirstWindowAfterResetAndTheTrainStateGate) {
  m_ref.Feed(Noise(3, 99), 0, 3);
  g_fSampleRing[kRingSize - 1] = g_fSampleRing[kRingStorage - 1] = 1.0f;
  std::fill_n(g_fZeroCrossRing, kRingStorage, -7.0f);
  std::fill_n(g_fEnergyRing, kRingStorage, -7.0f);
  ResetHistory();
  m_ref = {};
  EXPECT_TRUE(g_nEnergyPos == 0 && g_nEnergyTail == -1 && g_nOutPrev == -1 && g_nOutCur == -1 &&
              g_nOutPrev2 == -1 && g_nInCur == -1 && g_nInPrev == -1 && g_nInPrev2 == -1);
  const std::vector<float> before(g_fSampleRing, g_fSampleRing + kRingStorage);
  auto raw = Noise(2, 5);
  raw[0] = 0;  // 0 then -5: no crossing at 1
  raw[1] = -5;
  const auto junk = Noise(1, 7);
  for (std::int32_t k = 0; k < 2; ++k) {
    for (const std::int32_t nState : {-1, 3}) {
      g_nTrainState = nState;
      ProcessBuffer(junk.data());
      EXPECT_TRUE(g_nWriteIndex == 512 * k && g_nCrossPos == k && g_nHistoryState == k - 1);
    }
    g_nTrainState = k + 1;
    m_ref.Feed(raw, static_cast<std::size_t>(k), static_cast<std::size_t>(k) + 1);
    EXPECT_EQ(g_nHistoryState.load(), k);
    EXPECT_TRUE(PositionsAt(512 * (k + 1), k == 0 ? -512 : -513));
    m_ref.Check();
    for (std::size_t j = 0; j < static_cast<std::size_t>(kRingStorage); ++j) {
      const std::size_t p = j % kRing;
      ASSERT_TRUE(SameBits(g_fSampleRing[j], p < m_ref.x.size() ? m_ref.x[p] : before[j])) << j;
      ASSERT_TRUE(p <= 512u * k || (g_fZeroCrossRing[j] == -7.0f && g_fEnergyRing[j] == -7.0f));
    }
  }
}

// +a, 0, -b is one crossing, at -b; +a, 0, 0, -b is none.
TEST_F(HistoryTest, ZeroSampleRules) {
  std::vector<std::int16_t> raw(3 * kBufferLen, 0);
  raw[612] = 300;
  for (const std::int32_t nNeg : {614, 615}) {
    raw[nNeg] = -200;
    ClearHistory();
    for (std::size_t k = 0; k < raw.size(); k += kBufferLen) ProcessBuffer(raw.data() + k);
    for (std::int32_t n = 0; n <= 1024; ++n) {
      ASSERT_EQ(g_fZeroCrossRing[n], nNeg == 614 && n >= 103 && n <= 613 ? 1.0f : 0.0f) << n;
    }
    raw[nNeg] = 0;
  }
}

// The capture thread feeds while this thread detects, copies and resets as the controller
// does; positions stay consistent at every buffer boundary (meant for ThreadSanitizer too).
TEST(HistoryThreadTest, FeedingDetectingCopyingAndResetting) {
  ClearHistory();
  ResetDetector();
  g_nTrainState = 0;
  const auto consistent = [] {
    const std::lock_guard lock(HistoryMutex());
    const std::int32_t i = g_nWriteIndex;
    switch (g_nHistoryState.load()) {
      case -1:
        return i == 0 && g_nCrossPos == 0 && g_nEnergyTail == -1 && g_nInPrev2 == -1;
      case 0:
        return i == 512 && PositionsAt(i, -512);
      default:
        return i % 512 == 0 && i >= 512 && PositionsAt(i);
    }
  };
  std::atomic<int> nBad{0};
  std::atomic<bool> bDone{false};
  std::thread worker([&] {
    std::vector<std::int16_t> buffer(kBufferLen);
    for (int b = 0; b < 3000; ++b) {  // decaying 440 Hz notes with a faint tone between them
      const double dAmp = b % 60 < 25 ? 8000.0 * (1.0 - (b % 60) / 25.0) + 20.0 : 20.0;
      for (std::size_t k = 0; k < buffer.size(); ++k) {
        const double t = b * kBufferLen + static_cast<double>(k);
        const auto v =
            static_cast<std::int16_t>(dAmp * std::sin(2 * std::numbers::pi * 440 * t / 11025));
        buffer[k] = v != 0 ? v : std::int16_t{1};
      }
      ProcessBuffer(buffer.data());
      nBad += consistent() ? 0 : 1;
    }
    bDone = true;
  });
  std::vector<float> block(kWindowLen);
  for (int nPass = 0; !bDone && nPass < 200000; ++nPass) {
    if (g_nHistoryState == 1) DetectNoteSegment(g_fZeroCrossRing, g_fEnergyRing, g_nSegEnd, 512);
    if (g_nSegFound == 1 || nPass % 500 == 499) {
      g_nTrainState = -1;
      if (g_nSegFound == 1) CopyHistorySamples(g_nSegStart, kWindowLen, block.data());
      ResetHistory();
      ResetDetector();
      g_nTrainState = 0;
    }
    nBad += consistent() ? 0 : 1;
    std::this_thread::yield();
  }
  worker.join();
  g_nTrainState = -1;
  EXPECT_EQ(nBad.load(), 0);
  // Every complete window holds the features of its samples (nothing is ever zero).
  for (std::int32_t p = 0; p < g_nCrossPos; ++p) {
    float fCross = 0.0f;
    double dEnergy = 0.0;
    for (std::int32_t m = p; m < p + 512; ++m) {
      fCross += m > p && g_fSampleRing[m - 1] * g_fSampleRing[m] < 0.0f ? 1.0f : 0.0f;
      dEnergy += std::fabs(static_cast<double>(g_fSampleRing[m]));
    }
    ASSERT_EQ(g_fZeroCrossRing[p], fCross) << p;
    ASSERT_NEAR(g_fEnergyRing[p], dEnergy, 0.05 + 1e-4 * dEnergy) << p;
    p += p % 97 == 0 ? 0 : 96;  // a sample of the windows keeps this quick
  }
}

// Feature rings of the detector's own making (with the mirror half).
float g_fZ[kRingStorage];
float g_fE[kRingStorage];
using Result = std::tuple<std::int32_t, std::int32_t, std::int32_t>;  // start, end, found

void Set(float* pf, std::int32_t nFirst, std::int32_t nLast, float fValue) {
  for (std::int32_t p = nFirst; p <= nLast; ++p)
    pf[p % kRingSize] = pf[p % kRingSize + kRingSize] = fValue;
}
void Set(float* pf, std::int32_t nPos, float fValue) { Set(pf, nPos, nPos, fValue); }

class DetectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::fill_n(g_fZ, kRingStorage, 0.0f);
    std::fill_n(g_fE, kRingStorage, 0.0f);
    ResetDetector();
  }
  void TearDown() override { ResetHistory(); }
  // One call with complete features below nCrossPos, searching from g_nSegEnd.
  static Result Detect(std::int32_t nCrossPos) {
    g_nCrossPos = nCrossPos;
    DetectNoteSegment(g_fZ, g_fE, g_nSegEnd, kWindowLen);
    return {g_nSegStart, g_nSegEnd, g_nSegFound};
  }
  static Result DetectAfresh(std::int32_t nCrossPos) {
    ResetDetector();
    return Detect(nCrossPos);
  }
};

// Against a plain scan (the first value, replaced only by one strictly beyond it) over runs
// with ties, NaN and both signed zeros; a count of 1 or less gives element 0.
TEST(ArgExtremumTest, SameAsAPlainScan) {
  const float kPool[] = {0.0f, -0.0f, std::nanf(""), -1.0f, 1.0f, 2.0f, -3.0f, 2.0f};
  std::uint32_t nSeed = 7;
  for (int nTrial = 0; nTrial < 4000; ++nTrial) {
    std::vector<float> v(static_cast<std::size_t>(1 + nTrial % 40));
    for (float& f : v)
      f = kPool[((nSeed = nSeed * 1664525u + 1013904223u) >> 24) % (3 + nTrial % 6)];
    for (const bool bMax : {true, false}) {
      FloatExtremum want{v[0], 0}, got{};
      for (std::size_t k = 1; k < v.size(); ++k) {
        if (bMax ? v[k] > want.value : v[k] < want.value)
          want = {v[k], static_cast<std::int32_t>(k)};
      }
      (bMax ? ArgMaxFloat : ArgMinFloat)(v.data(), static_cast<std::int32_t>(v.size()), got);
      ASSERT_EQ(got.index, want.index) << nTrial;
      ASSERT_EQ(std::signbit(got.value), std::signbit(want.value)) << nTrial;
    }
  }
  const float f2[] = {4.0f, 0.5f};
  FloatExtremum r{};
  ArgMinFloat(f2, 0, r);
  EXPECT_TRUE(r.value == 4.0f && r.index == 0);
}

// Z peaks at 1000 and holds an equal 30.0 at 1254 (a re-search starting before 1255 would stop
// there). Peaks 101 apart form an onset at the later; 102 apart, the earlier feature is
// searched again from its peak + 255.
TEST_F(DetectorTest, PeaksFewerThan102ApartFormAnOnset) {
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1254, 30.0f);
  Set(g_fE, 1101, 50.0f);
  EXPECT_EQ(Detect(5001), Result(1101, 1102, 1));
  Set(g_fE, 1101, 0.0f);
  Set(g_fE, 1102, 50.0f);
  Set(g_fZ, 1300, 30.0f);
  Set(g_fE, 1356, 50.0f);
  Set(g_fE, 1380, 50.0f);
  EXPECT_EQ(DetectAfresh(5001), Result(1380, 1381, 1));
}

// Position -1 reads 0.0 (the ring holds 100.0 at 204799); blocks begin at -1, 511, 1023 and
// skip their last position (510, 1022); the give-up is at the first block that does not fit.
TEST_F(DetectorTest, ThresholdsBlocksAndTheOrderOfTheSearch) {
  Set(g_fZ, kRingSize - 1, 100.0f);
  Set(g_fE, kRingSize - 1, 100.0f);
  for (const std::int32_t p : {510, 1022}) {
    Set(g_fZ, p, 15.0f);
    Set(g_fE, p, 20.0f);
  }
  EXPECT_EQ(Detect(2001), Result(1535, 1535, -1));
  Set(g_fZ, 509, 15.0f);
  Set(g_fE, 509, 20.0f);
  EXPECT_EQ(DetectAfresh(2001), Result(509, 511, 1));  // thresholds reached exactly
  Set(g_fZ, 509, std::nextafter(15.0f, 0.0f));
  EXPECT_EQ(DetectAfresh(2001), Result(1535, 1535, -1));
  Set(g_fZ, 509, 15.0f);
  Set(g_fE, 509, std::nextafter(20.0f, 0.0f));
  EXPECT_EQ(DetectAfresh(2001), Result(1535, 1535, -1));
  // Crossings are searched before energy: Z runs out at 1535 while E's climb from 1500 would
  // run out there; the crossings' give-up is the one kept.
  SetUp();
  Set(g_fE, 1500, 50.0f);
  EXPECT_EQ(Detect(1601), Result(1535, 1535, -1));
}

TEST_F(DetectorTest, DescentEndsAndTheLaterOneWins) {
  // Z falls 1.0 per 100 positions to 20.0 at 2000, E 2.0 to 10.0 at 3000.
  for (std::int32_t k = 0; k < 100; ++k) {
    Set(g_fZ, 1000 + 100 * k, 1099 + 100 * k, std::fmax(30.0f - k, 20.0f));
    Set(g_fE, 1000 + 100 * k, 1099 + 100 * k, std::fmax(50.0f - 2.0f * k, 10.0f));
  }
  EXPECT_EQ(Detect(5001), Result(1000, 3000, 1));
  // Exactly 1.0 below the peak does not move the descent (Z ends at its start).
  SetUp();
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1001, 1254, 29.5f);
  Set(g_fZ, 1100, 29.0f);
  Set(g_fE, 1000, 50.0f);
  EXPECT_EQ(Detect(5001), Result(1000, 1001, 1));
  // A drop lost in rounding a huge peak skips that descent.
  Set(g_fZ, 1000, 1.0e9f);
  Set(g_fZ, 1001, 1100, 5.0e8f);
  EXPECT_EQ(DetectAfresh(5001), Result(1000, 1001, 1));
}

// Nothing new when searching from the last complete position; one short of a block the
// search gives up where it stands; one further the block fits.
TEST_F(DetectorTest, SearchStopsAtTheLastCompletePosition) {
  g_nSegStart = 5;
  for (const std::int32_t nFound : {-1, 0, 1}) {
    g_nSegEnd = 699;
    g_nSegFound = nFound;
    EXPECT_EQ(Detect(700), Result(5, 699, nFound));
  }
  g_nSegEnd = 300;
  g_nSegFound = -1;
  EXPECT_EQ(Detect(812), Result(300, 300, -1));
  EXPECT_EQ(Detect(813), Result(812, 812, -1));
}

// A stalled descent resumes with the drop 0.1 and references read where it stalled.
TEST_F(DetectorTest, SearchResumesAcrossCalls) {
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1001, 1199, 25.0f);
  Set(g_fZ, 1200, 3000, 24.5f);
  Set(g_fZ, 1300, 24.0f);
  Set(g_fE, 1000, 50.0f);
  Set(g_fE, 1001, 1199, 45.0f);
  Set(g_fE, 1200, 40.0f);
  Set(g_fE, 1201, 1399, 39.99f);
  Set(g_fE, 1400, 3000, 39.98f);
  EXPECT_EQ(Detect(801), Result(511, 511, -1));
  EXPECT_EQ(Detect(1301), Result(1000, 1200, 0));
  EXPECT_EQ(Detect(3001), Result(1000, 1300, 1));
}

// A note just past the ring end, searched from 204000: give-up reduced, stall unreduced.
TEST_F(DetectorTest, SearchesCrossTheEndOfTheRing) {
  Set(g_fZ, 100, 30.0f);
  Set(g_fZ, 101, 349, 25.0f);
  Set(g_fZ, 350, 599, 20.0f);
  Set(g_fZ, 600, 1499, 10.0f);
  Set(g_fE, 150, 50.0f);
  for (const auto& [nCrossPos, want] : {std::pair{356, Result(150, 150, -1)},
                                        {2001, Result(204950, 205400, 1)},
                                        {606, Result(204950, 205400, 0)}}) {
    ResetDetector();
    g_nSegEnd = 204000;
    EXPECT_EQ(Detect(nCrossPos), want) << nCrossPos;
  }
  EXPECT_EQ(Detect(2001), Result(204950, 205400, 1));
}

using Block = std::array<float, kFftLen>;

// Every bin of the transform within dRel * |want| + dAbs of want(k).
template <class Want>
void ExpectSpectrum(Block x, Want want, double dRel, double dAbs) {
  FftMagnitudes(x.data());
  for (int k = 0; k < kFftLen; ++k)
    ASSERT_NEAR(x[k], want(k), dRel * std::fabs(want(k)) + dAbs) << k;
}

TEST(FftTest, ComplexArithmeticUsesOldParts) {
  CComplex a(1.0, 2.0);
  a *= a;  // (1 + 2i)^2, the right operand being the object itself
  EXPECT_TRUE(a.GetReal() == -3.0 && a.GetImag() == 4.0);
  const CComplex c = CComplex(3.0, -4.0) * CComplex(0.0, 1.0) - CComplex(1.0, 1.0);
  EXPECT_TRUE(c.GetReal() == 3.0 && c.GetImag() == 2.0 && CComplex(3, -4).GetMagnitude() == 5.0);
}

// Against the direct DFT in long double (twiddles afresh from (k*n) mod 512): the transform
// in double adds ~3e-10, storing as float half an ulp.
TEST(FftTest, MatchesDirectDftAndKnownSpectra) {
  std::mt19937 gen(20240611u);
  for (int trial = 0; trial < 12; ++trial) {
    Block x{};
    for (float& v : x)
      v = static_cast<float>(static_cast<std::int32_t>(gen() % 65536u) - 32768) * 0.00008f;
    std::array<long double, kFftLen> exact{};
    for (int k = 0; k < kFftLen; ++k) {
      long double re = 0.0L, im = 0.0L;
      for (int n = 0; n < kFftLen; ++n) {
        const long double a =
            2.0L * std::numbers::pi_v<long double> * ((k * n) % kFftLen) / kFftLen;
        re += x[n] * std::cos(a);
        im -= x[n] * std::sin(a);
      }
      exact[k] = std::sqrt(re * re + im * im);
    }
    ExpectSpectrum(
        x, [&](int k) { return static_cast<double>(exact[k]); }, std::ldexp(1.0, -24), 1e-9);
  }
  Block x{};
  x[0] = 1.0f;
  ExpectSpectrum(
      x, [](int) { return 1.0; }, 0.0, 1e-12);
  x.fill(-1.25f);
  ExpectSpectrum(
      x, [](int k) { return k == 0 ? 640.0 : 0.0; }, 1e-7, 1e-9);
  for (const int b : {1, 127, 255}) {  // amplitude 1.5 at bin b: 384 at b and 512 - b
    for (int n = 0; n < kFftLen; ++n)
      x[n] = static_cast<float>(1.5 * std::cos(2.0 * std::numbers::pi * b * n / kFftLen));
    ExpectSpectrum(
        x, [b](int k) { return k == b || k == kFftLen - b ? 384.0 : 0.0; }, 0.0, 1.5e-4);
  }
}

using Floats = std::vector<float>;
// The pattern (bins, weights) of a spectrum that is fFill except at `peaks`.
std::pair<Floats, Floats> PatternOf(const std::vector<std::pair<int, float>>& peaks,
                                    float fFill = 0.0f) {
  Block s{};
  s.fill(fFill);
  for (const auto& [n, f] : peaks) s[n] = f;
  const NotePattern p = ComputeNotePattern(s.data());
  return {{std::begin(p.fBin), std::end(p.fBin)}, {std::begin(p.fWeight), std::end(p.fWeight)}};
}

TEST(NotePatternTest, BandLimitsTiesAndWeights) {
  const std::tuple<std::vector<std::pair<int, float>>, float, Floats, Floats> kCases[] = {
      // 0, 1 and 191 ... 255 lie outside 31 ... 3999 Hz; 256 ... 511 are never read
      {{{0, 1e3f}, {1, 1e3f}, {191, 1e3f}, {255, 1e3f}, {300, 2e3f}, {2, 5.0f}, {190, 4.0f}},
       0.0f,
       {3, 191, 1, 1, 1, 1},
       {10, 8, 0, 0, 0, 0}},
      {{{0, 3.0f}}, 0.0f, {1, 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0}},  // an all-zero band
      {{}, 1.0f, {3, 5, 6, 7, 8, 9}, {10, 10, 10, 10, 10, 10}},      // ties to the lower index
      {{{50, 8.0f}, {100, 8.0f}, {60, 4.0f}, {70, 3.0f}, {80, 2.0f}, {90, 1.0f}},
       0.0f,
       {51, 101, 61, 71, 81, 91},
       {10, 10, 5, 4, 3, 1}},  // 5.5, 4.25, 3.0, 1.75 truncated
      // only the first peak clears its neighbours
      {{{100, 10.0f}, {99, 9.0f}, {101, 9.0f}, {40, 6.0f}, {41, 6.0f}, {30, 5.0f}},
       0.0f,
       {101, 41, 42, 31, 1, 1},
       {10, 6, 6, 5, 0, 0}},
      // weighed in double: 10 * v / ref + 0.5 is 7.99999... (8 in float)
      {{{20, 372.562958f}, {40, 279.422211f}}, 0.0f, {21, 41, 1, 1, 1, 1}, {10, 7, 0, 0, 0, 0}},
  };
  for (const auto& [peaks, fFill, bins, weights] : kCases) {
    EXPECT_EQ(PatternOf(peaks, fFill), std::pair(bins, weights)) << bins[0] << " " << bins[1];
  }
  FormatPatternTexts(NotePattern{{3.0f, 191.0f}, {10.0f, 8.0f}});
  EXPECT_STREQ(g_szFreqText[0], "  64");  // 3 * 21.53, truncated
  EXPECT_STREQ(g_szFreqText[1], "4112");
  EXPECT_STREQ(g_szWeightText[0], "10");
  EXPECT_STREQ(g_szWeightText[1], " 8");
}

// A long segment 1000 ... 3000 just analysed; the spectrum one peak at index 20 (452 Hz); a
// second note over 5000 ... 5099 (features 20 / 30, zero around it).
class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    SetNotePatternPrompt(&m_prompt);
    m_spectrum[20] = 7.0f;
    g_nHistoryState = 1;
    g_nSegStart = g_nPlotStart = 1000;
    g_nSegEnd = g_nPlotSegEnd = g_nPlotEnd = 3000;
    g_nSegFound = 1;
    CopyText(g_szPlotMode, "1");
    g_nTrainState = -1;
  }
  void TearDown() override { SetNotePatternPrompt(nullptr); }
  void Extract(std::int32_t nCrossPos, bool bFollowingNote = true) {
    for (std::int32_t n = 5000; bFollowingNote && n < 5100; ++n) {
      g_fZeroCrossRing[n] = 20.0f;
      g_fEnergyRing[n] = 30.0f;
    }
    g_nCrossPos = nCrossPos;
    ExtractNotePattern(m_spectrum.data());
  }
  CRecordingPrompt m_prompt;
  Block m_spectrum{};
};

// Pattern, texts and plot are ready when the dialog opens; the detector's state is kept.
TEST_F(ExtractTest, FollowingNoteExtendsThePlot) {
  Extract(8001);
  ASSERT_EQ(m_prompt.nCalls, 1);
  EXPECT_EQ(m_prompt.seen.fBin[0], 21.0f);
  EXPECT_EQ(m_prompt.strFreq0, " 452");
  EXPECT_EQ(m_prompt.nTrainState, -1);
  EXPECT_EQ(m_prompt.strPlotMode, "2");
  EXPECT_EQ(m_prompt.nPlotEnd, 5100);
  EXPECT_EQ(g_nSegFound, 1);
  for (const auto& [nCrossPos, bNote, nEnd] :
       {std::tuple{5300, true, 5100}, {8001, false, 3000 + 9 * 512}}) {
    SetUp();  // a stall in the descent, or no onset: one record, the kept state restored
    Extract(nCrossPos, bNote);
    EXPECT_TRUE(m_prompt.strPlotMode == "1" && g_nPlotEnd == nEnd && g_nSegFound == 1) << nEnd;
  }
  SetUp();  // a short segment: no search
  g_nPlotEnd = 4200;
  CopyText(g_szPlotMode, "2");
  Extract(8001);
  EXPECT_TRUE(m_prompt.nPlotEnd == 4200 && g_nSegStart == 1000 && g_nSegEnd == 3000);
  EXPECT_STREQ(g_szPlotMode, "2");
}

}  // namespace
