// The geometry of the note pattern dialog's plot, without any window: the lines to draw, in
// logical units of 0.1 mm with y pointing up, measured from the top-left corner of the plot
// frame's client area (so everything inside the frame has negative y). The desktop dialog draws
// these lines, sonavel-train --plot writes them as SVG.
//
// The plot rectangle runs from x 20 to 1820 and y -35 (top) to -635 (bottom), with the axis
// at y -335. The stretch of the sample history from nStart to nEnd is decimated so that it
// never takes more than 1800 units of x; positive samples are drawn below the axis.
#pragma once

#include <cstdint>
#include <vector>

struct PlotLine {
  int nX1, nY1, nX2, nY2;
  enum class Pen { Black, White, Cyan } pen;
};

inline constexpr int kPlotLeft = 20;
inline constexpr int kPlotRight = 1820;
inline constexpr int kPlotTop = -35;
inline constexpr int kPlotBottom = -635;
inline constexpr int kPlotAxis = (kPlotTop + kPlotBottom) / 2;  // -335

// Samples per unit of x for a stretch from nStart to nEnd; never below 1.
std::int32_t NotePlotStep(std::int64_t nStart, std::int64_t nEnd);

// The plot's lines in drawing order: the axis (black), the left edge above the axis (white),
// the segment end mark below the axis (white), for record count "2" the marks halfway between
// the segment end and nEnd (above the axis) and at nEnd (below it) (cyan), and the waveform
// as consecutive black segments from (20, -335), one unit of x per plotted sample.
// `pszPlotMode` is the record count text ("1" or "2"); `pfRing` the sample ring with its
// mirror half, read through RingIndex for positions outside it. An `nEnd` before `nSegEnd` is
// a position reduced by a lap (where the search for a following note gave up past the end of
// the ring): the stretch then ends at nEnd + 204800.
std::vector<PlotLine> ComputeNotePlot(std::int32_t nStart, std::int32_t nSegEnd, std::int32_t nEnd,
                                      const char* pszPlotMode, const float* pfRing);
