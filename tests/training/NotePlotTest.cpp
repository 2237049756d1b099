// The note plot's geometry: decimation, marks, sample heights and clipping, ring positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "analysis/SampleHistory.h"
#include "training/NotePlot.h"

namespace {

// The waveform: everything after the axis, the left edge, the segment end mark and, for record
// count "2", the two cyan marks.
std::vector<PlotLine> Waveform(const std::vector<PlotLine>& lines, const char* pszMode) {
  const std::size_t nFixed = pszMode[0] == '2' ? 5 : 3;
  return {lines.begin() + static_cast<std::ptrdiff_t>(nFixed), lines.end()};
}

TEST(NotePlotTest, StepKeepsTheStretchWithin1800Units) {
  static std::vector<float> ring(kRingStorage, 0.0f);
  for (const auto& [nLength, nStep, nPoints] :
       {std::tuple{1799, 1, 1799}, std::tuple{1800, 2, 900}, std::tuple{3600, 3, 1200}}) {
    const auto wave = Waveform(ComputeNotePlot(1000, 1500, 1000 + nLength, "1", ring.data()), "1");
    EXPECT_EQ(NotePlotStep(1000, 1000 + nLength), nStep);
    ASSERT_EQ(static_cast<int>(wave.size()), nPoints) << nLength;
    EXPECT_EQ(wave.back().nX2, 20 + nPoints - 1);
    for (std::size_t k = 1; k < wave.size(); ++k) {  // consecutive segments
      EXPECT_EQ(wave[k].nX1, wave[k - 1].nX2);
      EXPECT_EQ(wave[k].nY1, wave[k - 1].nY2);
    }
  }
}

TEST(NotePlotTest, SamplesAreDrawnBelowTheAxisForPositiveValuesAndClipped) {
  static std::vector<float> ring(kRingStorage, 0.0f);
  ring[10] = 1.0f;
  ring[11] = -1.0f;
  ring[12] = 0.1f;
  const auto wave = Waveform(ComputeNotePlot(10, 12, 13, "1", ring.data()), "1");
  ASSERT_EQ(wave.size(), 3u);
  EXPECT_EQ(wave[0].nY2, -635);  // 1.0 gives -835
  EXPECT_EQ(wave[1].nY2, -35);   // -1.0 gives 165
  EXPECT_EQ(wave[2].nY2, -385);

  // The mirror half is read as it is; a position past it is reduced modulo the ring size.
  ring[kRingSize + 5] = 0.25f;
  ring[5] = -0.5f;
  const auto mirror =
      Waveform(ComputeNotePlot(kRingSize + 5, kRingSize + 5, kRingSize + 6, "1", ring.data()), "1");
  ASSERT_EQ(mirror.size(), 1u);
  EXPECT_EQ(mirror[0].nY2, -460);
  const auto past = Waveform(
      ComputeNotePlot(kRingStorage + 5, kRingStorage + 5, kRingStorage + 6, "1", ring.data()), "1");
  ASSERT_EQ(past.size(), 1u);
  EXPECT_EQ(past[0].nY2, -85);
}

TEST(NotePlotTest, MarksTheSegmentEndAndForTwoRecordsTheFollowingNote) {
  static std::vector<float> ring(kRingStorage, 0.0f);
  const std::int32_t nStart = 5000, nSegEnd = 5500, nEnd = nSegEnd + 1200;  // step 1
  const auto two = ComputeNotePlot(nStart, nSegEnd, nEnd, "2", ring.data());
  using Pen = PlotLine::Pen;
  const auto T = [](const PlotLine& l) { return std::tuple(l.nX1, l.nY1, l.nX2, l.nY2, l.pen); };
  ASSERT_GE(two.size(), 5u);
  EXPECT_EQ(T(two[0]), std::tuple(20, -335, 1820, -335, Pen::Black));   // axis
  EXPECT_EQ(T(two[1]), std::tuple(20, -335, 20, -35, Pen::White));      // left edge
  EXPECT_EQ(T(two[2]), std::tuple(520, -335, 520, -635, Pen::White));   // segment end
  EXPECT_EQ(T(two[3]), std::tuple(1120, -335, 1120, -35, Pen::Cyan));   // 600 samples after it
  EXPECT_EQ(T(two[4]), std::tuple(1720, -335, 1720, -635, Pen::Cyan));  // 1200 samples after it

  const auto one = ComputeNotePlot(nStart, nSegEnd, nEnd, "1", ring.data());
  EXPECT_EQ(std::count_if(one.begin(), one.end(),
                          [](const PlotLine& line) { return line.pen == Pen::Cyan; }),
            0);
  EXPECT_EQ(one.size() + 2, two.size());
}

// A long segment across the end of the ring, whose search for a following note gave up past it:
// the plot end was reduced by a lap, the start and the segment end were not. The stretch is drawn
// unreduced, through the mirror half.
TEST(NotePlotTest, AnEndReducedPastTheRingEndIsDrawnALapLater) {
  static std::vector<float> ring(kRingStorage, 0.0f);
  ring[kRingSize + 200] = 0.5f;  // position 205000
  for (const auto& [nEnd, nStep, nPoints, nMarkX] :
       {std::tuple{206012, 2, 1006, 770}, std::tuple{205500, 1, 1500, 1520}}) {
    const auto lines = ComputeNotePlot(204000, 205500, nEnd - kRingSize, "1", ring.data());
    EXPECT_EQ(lines[2].nX1, nMarkX) << nEnd;  // the segment end mark
    const auto wave = Waveform(lines, "1");
    ASSERT_EQ(static_cast<int>(wave.size()), nPoints) << nEnd;
    EXPECT_EQ(wave[static_cast<std::size_t>(1000 / nStep)].nY2, -585) << nEnd;
  }
}

}  // namespace
