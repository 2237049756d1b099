#include "training/NotePlot.h"

#include <cmath>

#include "analysis/SampleHistory.h"

namespace {

// The y of one sample: -335 minus the sample times 500 truncated, clipped to the plot.
int SampleY(float fSample) {
  double dY = kPlotAxis - std::trunc(static_cast<double>(fSample) * 500.0);
  if (dY > kPlotTop || std::isnan(dY)) {
    dY = kPlotTop;
  } else if (dY < kPlotBottom) {
    dY = kPlotBottom;
  }
  return static_cast<int>(dY);
}

}  // namespace

std::int32_t NotePlotStep(std::int64_t nStart, std::int64_t nEnd) {
  const std::int64_t nStep = (nEnd - nStart) / (kPlotRight - kPlotLeft) + 1;
  return nStep < 1 ? 1 : static_cast<std::int32_t>(nStep);
}

std::vector<PlotLine> ComputeNotePlot(std::int32_t nStart, std::int32_t nSegEnd, std::int32_t nEnd,
                                      const char* pszPlotMode, const float* pfRing) {
  using Pen = PlotLine::Pen;
  std::vector<PlotLine> lines;

  lines.push_back({kPlotLeft, kPlotAxis, kPlotRight, kPlotAxis, Pen::Black});
  lines.push_back({kPlotLeft, kPlotAxis, kPlotLeft, kPlotTop, Pen::White});

  // The search for a note after a long segment leaves its give-up position reduced by a lap when
  // it passed the end of the ring, and the segment's bounds unreduced: an end before the segment
  // end lies one lap later.
  const std::int64_t nPlotEnd = nEnd < nSegEnd ? std::int64_t{nEnd} + kRingSize : nEnd;
  const std::int32_t nStep = NotePlotStep(nStart, nPlotEnd);
  const auto xOf = [&](std::int64_t nPos) {
    return static_cast<int>(kPlotLeft + (nPos - nStart) / nStep);
  };

  const int nSegX = xOf(nSegEnd);
  lines.push_back({nSegX, kPlotAxis, nSegX, kPlotBottom, Pen::White});

  if (pszPlotMode != nullptr && pszPlotMode[0] == '2') {
    const int nMidX = xOf((nPlotEnd + nSegEnd) / 2);
    lines.push_back({nMidX, kPlotAxis, nMidX, kPlotTop, Pen::Cyan});
    const int nEndX = xOf(nPlotEnd);
    lines.push_back({nEndX, kPlotAxis, nEndX, kPlotBottom, Pen::Cyan});
  }

  int nX = kPlotLeft;
  int nPrevX = kPlotLeft;
  int nPrevY = kPlotAxis;
  for (std::int64_t i = nStart; i < nPlotEnd; i += nStep, ++nX) {
    const int nY = SampleY(pfRing[RingIndex(static_cast<std::int32_t>(i))]);
    lines.push_back({nPrevX, nPrevY, nX, nY, Pen::Black});
    nPrevX = nX;
    nPrevY = nY;
  }
  return lines;
}
