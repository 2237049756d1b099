// The segment detector, the FFT and the pattern extraction (the history's running features
// are checked by the engine checker).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"

namespace {

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
// with ties, NaN and both signed zeros.
TEST(ArgExtremumTest, SameAsAPlainScan) {
  const float kPool[] = {0.0f, -0.0f, std::nanf(""), -1.0f, 1.0f, 2.0f, -3.0f, 2.0f};
  std::uint32_t nSeed = 7;
  for (int nTrial = 0; nTrial < 4000; ++nTrial) {
    std::vector<float> v(std::size_t(1 + nTrial % 40));
    for (float& f : v)
      f = kPool[((nSeed = nSeed * 1664525u + 1013904223u) >> 24) % (3 + nTrial % 6)];
    for (const bool bMax : {true, false}) {
      FloatExtremum want{v[0], 0}, got{};
      for (std::size_t k = 1; k < v.size(); ++k)
        if (bMax ? v[k] > want.value : v[k] < want.value) want = {v[k], std::int32_t(k)};
      (bMax ? ArgMaxFloat : ArgMinFloat)(v.data(), std::int32_t(v.size()), got);
      ASSERT_TRUE(got.index == want.index && std::signbit(got.value) == std::signbit(want.value))
          << nTrial;
    }
  }
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

using Block = std::array<float, kFftLen>;

// Against the direct DFT in long double (twiddles afresh from (k*n) mod 512): the transform
// in double adds ~3e-10, storing as float half an ulp.
TEST(FftTest, MatchesDirectDft) {
  std::mt19937 gen(20240611u);
  for (int trial = 0; trial < 12; ++trial) {
    Block x{};
    for (float& v : x)
      v = static_cast<float>(static_cast<std::int32_t>(gen() % 65536u) - 32768) * 0.00008f;
    Block y = x;
    FftMagnitudes(y.data());
    for (int k = 0; k < kFftLen; ++k) {
      long double re = 0.0L, im = 0.0L;
      for (int n = 0; n < kFftLen; ++n) {
        const long double a =
            2.0L * std::numbers::pi_v<long double> * ((k * n) % kFftLen) / kFftLen;
        re += x[n] * std::cos(a);
        im -= x[n] * std::sin(a);
      }
      const double dExact = static_cast<double>(std::sqrt(re * re + im * im));
      ASSERT_NEAR(y[k], dExact, std::ldexp(dExact, -24) + 1e-9) << k;
    }
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
  EXPECT_TRUE(m_prompt.seen.fBin[0] == 21.0f && m_prompt.strFreq0 == " 452" &&
              m_prompt.nTrainState == -1);
  EXPECT_TRUE(m_prompt.strPlotMode == "2" && m_prompt.nPlotEnd == 5100 && g_nSegFound == 1);
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
  EXPECT_TRUE(m_prompt.nPlotEnd == 4200 && g_nSegEnd == 3000 && m_prompt.strPlotMode == "2");
}

}  // namespace
