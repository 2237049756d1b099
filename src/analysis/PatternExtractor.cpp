#include "analysis/PatternExtractor.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "analysis/Fft.h"
#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/PatternConfirmation.h"

namespace {

constexpr int kBandLen = 256;

// Float to int for display, truncating toward zero; values outside int's range (never
// produced here) are clamped instead of being undefined.
int TruncToInt(double dValue) {
  if (!(dValue > -2147483648.0)) {
    return dValue != dValue ? 0 : -2147483647 - 1;
  }
  if (dValue >= 2147483647.0) {
    return 2147483647;
  }
  return static_cast<int>(dValue);
}

}  // namespace

NotePattern ComputeNotePattern(const float* pfMagnitudes) {
  std::array<float, kBandLen> band{};
  for (int k = 0, f = 0; k < kBandLen; ++k, f += kBandStepHz) {
    band[static_cast<std::size_t>(k)] =
        (f >= kBandLowHz && f <= kBandHighHz) ? pfMagnitudes[k] : 0.0f;
  }

  NotePattern pattern{};
  FloatExtremum peak{};
  ArgMaxFloat(band.data(), kBandLen, peak);
  const float fRef = peak.value;
  pattern.fBin[0] = static_cast<float>(peak.index + 1);
  pattern.fWeight[0] = 10.0f;
  // The first peak clears its neighbours too; later peaks only their own bin.
  for (int k = std::max(peak.index - 1, 0); k <= std::min(peak.index + 1, kBandLen - 1); ++k) {
    band[static_cast<std::size_t>(k)] = 0.0f;
  }

  for (int n = 1; n < kPeakCount; ++n) {
    ArgMaxFloat(band.data(), kBandLen, peak);
    pattern.fBin[n] = static_cast<float>(peak.index + 1);
    // An all-zero band (reference 0) weighs the other peaks 0.
    const double dWeight =
        fRef > 0.0f ? (10.0 * static_cast<double>(peak.value)) / static_cast<double>(fRef) + 0.5
                    : 0.0;
    pattern.fWeight[n] = static_cast<float>(TruncToInt(dWeight));
    band[static_cast<std::size_t>(peak.index)] = 0.0f;
  }
  return pattern;
}

void FormatPatternTexts(const NotePattern& pattern) {
  for (int n = 0; n < kPeakCount; ++n) {
    const int nHz = TruncToInt(static_cast<double>(pattern.fBin[n]) * kHzPerBin);
    std::snprintf(g_szFreqText[n], sizeof g_szFreqText[n], "%4d", nHz);
    std::snprintf(g_szWeightText[n], sizeof g_szWeightText[n], "%2d",
                  TruncToInt(static_cast<double>(pattern.fWeight[n])));
  }
}

void ExtractNotePattern(const float* pfMagnitudes) {
  const NotePattern pattern = ComputeNotePattern(pfMagnitudes);
  FormatPatternTexts(pattern);

  // A long segment: look once for a note that follows it, so the plot can show it.
  if (g_nPlotEnd == g_nPlotSegEnd) {
    const std::int32_t nKeptFound = g_nSegFound;
    DetectNoteSegment(g_fZeroCrossRing, g_fEnergyRing, g_nSegEnd, kWindowLen);
    if (g_nSegFound == 1) {
      CopyText(g_szPlotMode, "2");
    }
    g_nSegFound = nKeptFound;
    g_nPlotEnd = g_nSegEnd;
  }

  ConfirmNotePattern(pattern);
}
