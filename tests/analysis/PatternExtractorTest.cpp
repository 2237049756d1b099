#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "analysis/PatternExtractor.h"
#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"

namespace {

using Spectrum = std::array<float, 512>;
using Floats = std::vector<float>;

// The pattern of a spectrum that is zero except for `peaks` (index, magnitude), as bin
// numbers and weights.
std::pair<Floats, Floats> PatternOf(std::initializer_list<std::pair<int, float>> peaks,
                                    float fFill = 0.0f) {
  Spectrum s{};
  s.fill(fFill);
  for (const auto& [nIndex, fValue] : peaks) {
    s[static_cast<std::size_t>(nIndex)] = fValue;
  }
  const NotePattern p = ComputeNotePattern(s.data());
  return {{std::begin(p.fBin), std::end(p.fBin)}, {std::begin(p.fWeight), std::end(p.fWeight)}};
}

TEST(ComputeNotePatternTest, BandLimitsTiesAndWeights) {
  // Indices 0, 1 and 191 ... 255 lie outside 31 ... 3999 Hz, 256 ... 511 are never read.
  EXPECT_EQ(
      PatternOf(
          {{0, 1e3f}, {1, 1e3f}, {191, 1e3f}, {255, 1e3f}, {300, 2e3f}, {2, 5.0f}, {190, 4.0f}}),
      std::pair(Floats{3, 191, 1, 1, 1, 1}, Floats{10, 8, 0, 0, 0, 0}));
  // An all-zero band weighs every other peak 0.
  EXPECT_EQ(PatternOf({{0, 3.0f}, {1, 3.0f}}),
            std::pair(Floats{1, 1, 1, 1, 1, 1}, Floats{10, 0, 0, 0, 0, 0}));
  // Flat: index 2 first, 1 ... 3 cleared, then 4 ... 8 one by one, ties to the lower index.
  EXPECT_EQ(PatternOf({}, 1.0f),
            std::pair(Floats{3, 5, 6, 7, 8, 9}, Floats{10, 10, 10, 10, 10, 10}));
  // Reference 8 with an equal peak; 4, 3, 2, 1 weigh 5.5, 4.25, 3.0, 1.75 before truncation.
  EXPECT_EQ(PatternOf({{50, 8.0f}, {100, 8.0f}, {60, 4.0f}, {70, 3.0f}, {80, 2.0f}, {90, 1.0f}}),
            std::pair(Floats{51, 101, 61, 71, 81, 91}, Floats{10, 10, 5, 4, 3, 1}));
  // Only the first peak clears its neighbours: later peaks can take two adjacent bins.
  EXPECT_EQ(PatternOf({{100, 10.0f}, {99, 9.0f}, {101, 9.0f}, {40, 6.0f}, {41, 6.0f}, {30, 5.0f}}),
            std::pair(Floats{101, 41, 42, 31, 1, 1}, Floats{10, 6, 6, 5, 0, 0}));
}

TEST(ComputeNotePatternTest, TextsShowHertzOfTheBinNumberAndTheWeight) {
  FormatPatternTexts(NotePattern{{3.0f, 191.0f}, {10.0f, 8.0f}});
  EXPECT_STREQ(g_szFreqText[0], "  64");  // 3 * 21.53, truncated
  EXPECT_STREQ(g_szFreqText[1], "4112");
  EXPECT_STREQ(g_szWeightText[0], "10");
  EXPECT_STREQ(g_szWeightText[1], " 8");
}

class PatternExtractorTest : public ::testing::Test {
 protected:
  // The state the controller leaves for a long segment 1000 ... 3000 that it has just
  // analysed, with complete features up to `nCrossPos` - 1, and the spectrum of a single
  // peak at index 20 (bin number 21, 452 Hz).
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
    g_nCurNote = 40;
  }
  void TearDown() override { SetNotePatternPrompt(nullptr); }

  // A second note: both features at 20.0 / 30.0 over 5000 ... 5099 and 0 around it. Its
  // onset is 5000; both descents end where the zeros begin, at 5100.
  void Extract(std::int32_t nCrossPos, bool bFollowingNote = true) {
    for (std::int32_t n = 5000; bFollowingNote && n < 5100; ++n) {
      g_fZeroCrossRing[n] = 20.0f;
      g_fEnergyRing[n] = 30.0f;
    }
    g_nCrossPos = nCrossPos;
    ExtractNotePattern(m_spectrum.data());
  }

  CRecordingPrompt m_prompt;
  Spectrum m_spectrum{};
};

// The pattern and its texts are ready when the dialog opens.
TEST_F(PatternExtractorTest, FollowingNoteExtendsThePlot) {
  Extract(8001);
  const NotePattern expected = ComputeNotePattern(m_spectrum.data());
  ASSERT_EQ(m_prompt.nCalls, 1);
  EXPECT_EQ(std::memcmp(&m_prompt.seen, &expected, sizeof expected), 0);
  EXPECT_EQ(m_prompt.strFreq0, " 452");
  EXPECT_EQ(m_prompt.nTrainState, -1);
  EXPECT_EQ(m_prompt.strPlotMode, "2");  // decided before the dialog opens
  EXPECT_EQ(m_prompt.nPlotEnd, 5100);
  EXPECT_EQ(g_nSegFound, 1);
}

TEST_F(PatternExtractorTest, IncompleteFollowingNoteKeepsOneRecord) {
  // The features run out during the descent: a stall at 5100.
  Extract(5300);
  EXPECT_EQ(m_prompt.strPlotMode, "1");
  EXPECT_EQ(g_nPlotEnd, 5100);
  EXPECT_EQ(g_nSegFound, 1);  // the detector left 0; the kept value is restored

  // No onset at all: the search gives up where the last whole block no longer fits.
  SetUp();
  Extract(8001, false);
  EXPECT_EQ(m_prompt.strPlotMode, "1");
  EXPECT_EQ(g_nPlotEnd, 3000 + 9 * 512);
  EXPECT_EQ(g_nSegFound, 1);
  EXPECT_EQ(m_prompt.nCalls, 2);
}

TEST_F(PatternExtractorTest, ShortSegmentSkipsTheSearch) {
  g_nPlotEnd = g_nPlotSegEnd + 1200;  // as the controller leaves a segment below 1024
  CopyText(g_szPlotMode, "2");
  Extract(8001);
  EXPECT_EQ(m_prompt.nCalls, 1);
  EXPECT_EQ(m_prompt.nPlotEnd, 4200);
  EXPECT_STREQ(g_szPlotMode, "2");
  EXPECT_EQ(g_nSegStart, 1000);  // the detector was not called
  EXPECT_EQ(g_nSegEnd, 3000);
}

}  // namespace
