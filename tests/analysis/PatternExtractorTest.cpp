#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
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

Floats Bins(const NotePattern& p) { return {std::begin(p.fBin), std::end(p.fBin)}; }
Floats Weights(const NotePattern& p) { return {std::begin(p.fWeight), std::end(p.fWeight)}; }

class PatternExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    SetNotePatternPrompt(&m_prompt);
  }
  void TearDown() override { SetNotePatternPrompt(nullptr); }

  // The state the controller leaves for a long segment 1000 ... 3000 that it has just
  // analysed, with complete features up to g_nCrossPos - 1.
  void PrepareLongSegment(std::int32_t nCrossPos) {
    g_nHistoryState = 1;
    g_nCrossPos = nCrossPos;
    g_nSegStart = g_nPlotStart = 1000;
    g_nSegEnd = g_nPlotSegEnd = g_nPlotEnd = 3000;
    g_nSegFound = 1;
    CopyText(g_szPlotMode, "1");
    g_nTrainState = -1;
    g_nCurNote = 40;
  }

  // A second note: both features at 20.0 / 30.0 over 5000 ... 5099 and 0 around it. Its
  // onset is 5000; both descents end where the zeros begin, at 5100.
  static void PlaceFollowingNote() {
    for (std::int32_t n = 5000; n < 5100; ++n) {
      g_fZeroCrossRing[n] = 20.0f;
      g_fEnergyRing[n] = 30.0f;
    }
  }

  CRecordingPrompt m_prompt;
};

TEST_F(PatternExtractorTest, BandLimits) {
  Spectrum s{};
  s[0] = s[1] = s[191] = s[255] = 1000.0f;  // outside 31 ... 3999 Hz: ignored
  s[300] = 2000.0f;                         // upper half: never read
  s[2] = 5.0f;
  s[190] = 4.0f;
  const NotePattern p = ComputeNotePattern(s.data());
  EXPECT_EQ(Bins(p), (Floats{3, 191, 1, 1, 1, 1}));
  EXPECT_EQ(Weights(p), (Floats{10, 8, 0, 0, 0, 0}));

  FormatPatternTexts(p);
  EXPECT_STREQ(g_szFreqText[0], "  64");
  EXPECT_STREQ(g_szFreqText[1], "4112");
}

TEST_F(PatternExtractorTest, FlatBandClearsAroundFirstPeakOnly) {
  Spectrum s{};
  s.fill(1.0f);
  const NotePattern p = ComputeNotePattern(s.data());
  // Index 2 first, 1 ... 3 cleared, then 4 ... 8 one by one, ties to the lower index.
  EXPECT_EQ(Bins(p), (Floats{3, 5, 6, 7, 8, 9}));
  EXPECT_EQ(Weights(p), (Floats{10, 10, 10, 10, 10, 10}));
}

TEST_F(PatternExtractorTest, SinglePeakAndItsTexts) {
  Spectrum s{};
  s[20] = 7.0f;
  const NotePattern p = ComputeNotePattern(s.data());
  EXPECT_EQ(Bins(p), (Floats{21, 1, 1, 1, 1, 1}));
  EXPECT_EQ(Weights(p), (Floats{10, 0, 0, 0, 0, 0}));

  FormatPatternTexts(p);
  EXPECT_STREQ(g_szFreqText[0], " 452");  // bin number 21, not index 20 (430 Hz)
  EXPECT_STREQ(g_szWeightText[0], "10");
  for (int n = 1; n < kPeakCount; ++n) {
    EXPECT_STREQ(g_szFreqText[n], "  21") << n;
    EXPECT_STREQ(g_szWeightText[n], " 0") << n;
  }
}

TEST_F(PatternExtractorTest, WeightsTiesAndNeighbours) {
  Spectrum s{};
  // ref = 8 at index 50 and an equal peak at 100; v = 4, 3, 2, 1 weigh 5.5, 4.25, 3.0, 1.75
  // before truncation.
  s[50] = 8.0f;
  s[100] = 8.0f;
  s[60] = 4.0f;
  s[70] = 3.0f;
  s[80] = 2.0f;
  s[90] = 1.0f;
  NotePattern p = ComputeNotePattern(s.data());
  EXPECT_EQ(Bins(p), (Floats{51, 101, 61, 71, 81, 91}));
  EXPECT_EQ(Weights(p), (Floats{10, 10, 5, 4, 3, 1}));

  // The first peak's neighbours are cleared; later peaks clear only their own bin, so two
  // adjacent bins can both be picked. Equal values go to the lower index.
  s.fill(0.0f);
  s[100] = 10.0f;
  s[99] = s[101] = 9.0f;
  s[40] = s[41] = 6.0f;
  s[30] = 5.0f;
  p = ComputeNotePattern(s.data());
  EXPECT_EQ(Bins(p), (Floats{101, 41, 42, 31, 1, 1}));
  EXPECT_EQ(Weights(p), (Floats{10, 6, 6, 5, 0, 0}));
}

TEST_F(PatternExtractorTest, SilentBand) {
  Spectrum s{};
  s[0] = s[1] = 3.0f;
  const NotePattern p = ComputeNotePattern(s.data());
  EXPECT_EQ(Bins(p), (Floats{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(Weights(p), (Floats{10, 0, 0, 0, 0, 0}));
  FormatPatternTexts(p);
  EXPECT_STREQ(g_szWeightText[5], " 0");
}

TEST_F(PatternExtractorTest, FollowingNoteExtendsThePlot) {
  PrepareLongSegment(8001);
  PlaceFollowingNote();
  Spectrum s{};
  s[20] = 7.0f;
  ExtractNotePattern(s.data());

  ASSERT_EQ(m_prompt.nCalls, 1);
  EXPECT_EQ(m_prompt.nTrainState, -1);
  EXPECT_EQ(m_prompt.strPlotMode, "2");  // decided before the dialog opens
  EXPECT_EQ(m_prompt.nPlotEnd, 5100);
  EXPECT_EQ(m_prompt.strFreq0, " 452");
  EXPECT_EQ(m_prompt.strWeight1, " 0");
  EXPECT_EQ(g_nPlotEnd, 5100);
  EXPECT_EQ(g_nPlotSegEnd, 3000);
  EXPECT_EQ(g_nSegStart, 5000);
  EXPECT_EQ(g_nSegEnd, 5100);
  EXPECT_EQ(g_nSegFound, 1);

  const NotePattern expected = ComputeNotePattern(s.data());
  EXPECT_EQ(std::memcmp(&m_prompt.seen, &expected, sizeof expected), 0);
  EXPECT_EQ(std::memcmp(&g_fPattern[40], &expected, sizeof expected), 0);
  EXPECT_EQ(g_nTrainState, 1);
}

TEST_F(PatternExtractorTest, IncompleteFollowingNoteKeepsOneRecord) {
  Spectrum s{};
  s[20] = 7.0f;

  // The features run out during the descent: a stall at 5100.
  PrepareLongSegment(5300);
  PlaceFollowingNote();
  ExtractNotePattern(s.data());
  EXPECT_EQ(m_prompt.strPlotMode, "1");
  EXPECT_EQ(g_nPlotEnd, 5100);
  EXPECT_EQ(g_nSegFound, 1);  // the detector left 0; the kept value is restored

  // No onset at all: the search gives up where the last whole block no longer fits.
  ClearHistory();
  ResetDetector();
  PrepareLongSegment(8001);
  ExtractNotePattern(s.data());
  EXPECT_EQ(m_prompt.strPlotMode, "1");
  EXPECT_EQ(g_nPlotEnd, 3000 + 9 * 512);
  EXPECT_EQ(g_nSegFound, 1);
  EXPECT_EQ(m_prompt.nCalls, 2);
}

TEST_F(PatternExtractorTest, ShortSegmentSkipsTheSearch) {
  PrepareLongSegment(8001);
  PlaceFollowingNote();
  g_nPlotEnd = g_nPlotSegEnd + 1200;  // as the controller leaves a segment below 1024
  CopyText(g_szPlotMode, "2");
  m_prompt.choice = NoteChoice::Replay;
  Spectrum s{};
  s[20] = 7.0f;
  ExtractNotePattern(s.data());

  EXPECT_EQ(m_prompt.nPlotEnd, 4200);
  EXPECT_EQ(g_nPlotEnd, 4200);
  EXPECT_STREQ(g_szPlotMode, "2");
  EXPECT_EQ(g_nSegStart, 1000);  // the detector was not called
  EXPECT_EQ(g_nSegEnd, 3000);
  EXPECT_EQ(g_nTrainState, 2);
  const NotePattern zero{};
  EXPECT_EQ(std::memcmp(&g_fPattern[40], &zero, sizeof zero), 0);
}

}  // namespace
