#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"

namespace {

// Feature rings of the detector's own making, with the mirror half kept like the history's.
float g_fZ[kRingStorage];
float g_fE[kRingStorage];

using Result = std::tuple<std::int32_t, std::int32_t, std::int32_t>;  // start, end, found

class SegmentDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::fill(std::begin(g_fZ), std::end(g_fZ), 0.0f);
    std::fill(std::begin(g_fE), std::end(g_fE), 0.0f);
    ResetDetector();
  }
  void TearDown() override { ResetHistory(); }  // g_nCrossPos back to 0

  // Writes `fValue` at ring positions first ... last of `pfRing` and their mirror.
  static void Set(float* pfRing, std::int32_t nFirst, std::int32_t nLast, float fValue) {
    for (std::int32_t p = nFirst; p <= nLast; ++p) {
      pfRing[p % kRingSize] = fValue;
      pfRing[p % kRingSize + kRingSize] = fValue;
    }
  }
  static void Set(float* pf, std::int32_t nPos, float fValue) { Set(pf, nPos, nPos, fValue); }

  // One controller call: complete features below `nCrossPos`, search from g_nSegEnd. Returns
  // the start, end and state left in the detector's globals.
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

// The earliest of equal extrema wins; the search starts from element 0, not from a neutral
// value; a count of 1 or less gives element 0.
TEST(SegmentDetectorArgMTest, EarliestOfEqualExtremaWins) {
  const auto arg = [](void (*fn)(const float*, std::int32_t, FloatExtremum&), std::vector<float> v,
                      std::int32_t nCount) {
    FloatExtremum r{};
    fn(v.data(), nCount, r);
    return std::pair(r.value, r.index);
  };
  EXPECT_EQ(arg(ArgMaxFloat, {-3.0f, -2.0f, -2.0f}, 3), std::pair(-2.0f, 1));
  EXPECT_EQ(arg(ArgMinFloat, {5.0f, 5.0f, 7.0f}, 3), std::pair(5.0f, 0));
  EXPECT_EQ(arg(ArgMaxFloat, {3.0f, 9.0f}, 1), std::pair(3.0f, 0));
  EXPECT_EQ(arg(ArgMinFloat, {4.0f, 0.5f}, 0), std::pair(4.0f, 0));
}

// Against a plain scan (the first value, replaced only by one strictly beyond it) on runs of
// every length up to 40 drawn from the first 3 ... 8 of a few values: ties, NaN, and both
// signed zeros as the extreme.
TEST(SegmentDetectorArgMTest, SameAsAPlainScanWithTiesNanAndSignedZeros) {
  const float kPool[] = {0.0f, -0.0f, std::nanf(""), -1.0f, 1.0f, 2.0f, -3.0f, 2.0f};
  std::uint32_t nSeed = 7;
  for (int nTrial = 0; nTrial < 4000; ++nTrial) {
    std::vector<float> v(static_cast<std::size_t>(1 + nTrial % 40));
    const std::uint32_t nDrawn = 3 + static_cast<std::uint32_t>(nTrial % 6);
    for (float& f : v) {
      nSeed = nSeed * 1664525u + 1013904223u;
      f = kPool[(nSeed >> 24) % nDrawn];
    }
    for (const bool bMax : {true, false}) {
      FloatExtremum want{v[0], 0};
      for (std::size_t k = 1; k < v.size(); ++k) {
        if (bMax ? v[k] > want.value : v[k] < want.value) {
          want = {v[k], static_cast<std::int32_t>(k)};
        }
      }
      FloatExtremum got{};
      (bMax ? ArgMaxFloat : ArgMinFloat)(v.data(), static_cast<std::int32_t>(v.size()), got);
      ASSERT_EQ(got.index, want.index) << "trial " << nTrial << (bMax ? " max" : " min");
      ASSERT_EQ(std::signbit(got.value), std::signbit(want.value)) << "trial " << nTrial;
    }
  }
}

// Z peaks at 1000, E at 1000 + d. Z also holds 30.0 at 1254: equal to the peak, so the climb
// stays at 1000, but a re-search starting before 1255 would stop there.
TEST_F(SegmentDetectorTest, PeaksFewerThan102ApartFormAnOnset) {
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1254, 30.0f);
  // 101 apart: onset at the later peak. Z reads 0.0 from 1101 on and ends there; E ends at
  // 1102, the first position after its peak.
  Set(g_fE, 1101, 50.0f);
  EXPECT_EQ(Detect(5001), Result(1101, 1102, 1));

  // 102 apart: Z is searched again from 1255 and finds 1300, now 198 after E; E is searched
  // again from 1357 (past its equal decoy at 1356) and finds 1380, 80 after Z.
  Set(g_fE, 1101, 0.0f);
  Set(g_fE, 1102, 50.0f);
  Set(g_fZ, 1300, 30.0f);
  Set(g_fE, 1356, 50.0f);
  Set(g_fE, 1380, 50.0f);
  EXPECT_EQ(DetectAfresh(5001), Result(1380, 1381, 1));
}

// Position -1 reads as 0.0 although the ring holds 100.0 at 204799, so blocks begin at -1,
// 511, 1023: values at 510 and 1022 (offset 511 of their blocks) are never examined, and
// the search gives up at 1535, whose block no longer fits below the limit 2000.
TEST_F(SegmentDetectorTest, ThresholdsAndTheMissedLastPositionOfEachBlock) {
  Set(g_fZ, kRingSize - 1, 100.0f);
  Set(g_fE, kRingSize - 1, 100.0f);
  for (const std::int32_t p : {510, 1022}) {
    Set(g_fZ, p, 15.0f);
    Set(g_fE, p, 20.0f);
  }
  EXPECT_EQ(Detect(2001), Result(1535, 1535, -1));
  // One position earlier the thresholds, exactly reached, are seen; both descents fall to
  // 0.0 at 511. Just below either threshold nothing is found.
  Set(g_fZ, 509, 15.0f);
  Set(g_fE, 509, 20.0f);
  EXPECT_EQ(DetectAfresh(2001), Result(509, 511, 1));
  Set(g_fZ, 509, std::nextafter(15.0f, 0.0f));
  EXPECT_EQ(DetectAfresh(2001), Result(1535, 1535, -1));
  Set(g_fZ, 509, 15.0f);
  Set(g_fE, 509, std::nextafter(20.0f, 0.0f));
  EXPECT_EQ(DetectAfresh(2001), Result(1535, 1535, -1));
}

// Both peaks at 1000. Z falls in steps of 1.0 every 100 positions to 20.0 at 2000, E in steps
// of 2.0 to 10.0 at 3000; each descent moves 200 positions a scan and ends where its floor
// begins; the later end wins.
TEST_F(SegmentDetectorTest, DescentEndsAndTheLaterOneWins) {
  for (std::int32_t k = 0; k < 100; ++k) {
    const auto fStep = static_cast<float>(k);
    Set(g_fZ, 1000 + 100 * k, 1099 + 100 * k, std::fmax(30.0f - fStep, 20.0f));
    Set(g_fE, 1000 + 100 * k, 1099 + 100 * k, std::fmax(50.0f - 2.0f * fStep, 10.0f));
  }
  EXPECT_EQ(Detect(5001), Result(1000, 3000, 1));

  // A value exactly 1.0 below the peak does not move the descent: Z ends at its start,
  // although it falls to 0.0 at 1255. E falls to 0.0 at 1001 and ends there.
  SetUp();
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1001, 1254, 29.5f);
  Set(g_fZ, 1100, 29.0f);
  Set(g_fE, 1000, 50.0f);
  EXPECT_EQ(Detect(5001), Result(1000, 1001, 1));

  // A peak so large that 1.0 is lost in rounding skips that feature's descent: Z ends at its
  // start, although it falls to 0.0 at 1101. E alone decides.
  Set(g_fZ, 1000, 1.0e9f);
  Set(g_fZ, 1001, 1100, 5.0e8f);
  EXPECT_EQ(DetectAfresh(5001), Result(1000, 1001, 1));
}

// Searching from the last complete position changes nothing. One short of a block the
// search gives up at once where it stands; with the limit one further the block just fits
// and the give-up comes after it.
TEST_F(SegmentDetectorTest, SearchStopsAtTheLastCompletePosition) {
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

// Peaks at 1000 (Z 30.0, E 50.0). Z: 25.0 up to 1199, then 24.5 with a single 24.0 at 1300.
// E: 45.0 up to 1199, 40.0 at 1200, then 39.99 and 39.98 from 1400.
TEST_F(SegmentDetectorTest, SearchResumesAcrossCalls) {
  Set(g_fZ, 1000, 30.0f);
  Set(g_fZ, 1001, 1199, 25.0f);
  Set(g_fZ, 1200, 3000, 24.5f);
  Set(g_fZ, 1300, 24.0f);
  Set(g_fE, 1000, 50.0f);
  Set(g_fE, 1001, 1199, 45.0f);
  Set(g_fE, 1200, 40.0f);
  Set(g_fE, 1201, 1399, 39.99f);
  Set(g_fE, 1400, 3000, 39.98f);
  // Limit 800: the block at -1 fits, the one at 511 does not. Limit 1300: onset at 1000;
  // the Z descent reaches 24.5 at 1200 and stalls there.
  EXPECT_EQ(Detect(801), Result(511, 511, -1));
  EXPECT_EQ(Detect(1301), Result(1000, 1200, 0));
  // Resumed at 1200 with the drop 0.1 and references read there (Z 24.5, E 40.0): Z goes on
  // to 24.0 at 1300 (a drop of 1.0 would have stopped it at 1200); E's 39.98 is not below
  // 39.9, so E ends at 1200 (its peak as reference would have taken it down to 1400).
  EXPECT_EQ(Detect(3001), Result(1000, 1300, 1));
}

// A note just after the end of the ring: Z 30.0 at ring position 100, 25.0 up to 349, 20.0 up
// to 599, then 10.0; E 50.0 at 150. Searched from 204000, it shows at 204900 and 204950.
TEST_F(SegmentDetectorTest, SearchesCrossTheEndOfTheRing) {
  Set(g_fZ, 100, 30.0f);
  Set(g_fZ, 101, 349, 25.0f);
  Set(g_fZ, 350, 599, 20.0f);
  Set(g_fZ, 600, 1499, 10.0f);
  Set(g_fE, 150, 50.0f);
  const auto searchFrom204000 = [](std::int32_t nCrossPos) {
    ResetDetector();
    g_nSegEnd = 204000;
    return Detect(nCrossPos);
  };
  // Limit 204800 + 355: the Z climb from 204900 just fits, the E climb from 204950 does not;
  // the give-up is stored reduced.
  EXPECT_EQ(searchFrom204000(356), Result(150, 150, -1));
  // In one call: onset at 204950, Z descends 204950 -> 205150 -> 205400, E ends at 204951.
  EXPECT_EQ(searchFrom204000(2001), Result(204950, 205400, 1));
  // Limit 204800 + 605: the scan from 205150 just fits, the one from 205400 does not; the
  // stall is stored unreduced and the next call ends the descent there.
  EXPECT_EQ(searchFrom204000(606), Result(204950, 205400, 0));
  EXPECT_EQ(Detect(2001), Result(204950, 205400, 1));
}

}  // namespace
