// Note pattern extraction: the six strongest spectral peaks between about 31 Hz and 4 kHz,
// each as a bin number (spectrum index + 1) and a weight 0 ... 10 relative to the
// strongest; their display texts; a look for a following note; then the confirmation
// dialog.
#pragma once

#include "training/NoteTables.h"

// The band the patterns are taken from: spectrum element k stands for k x 21 Hz (the bin width
// in whole hertz) and is kept from 31 Hz to 3999 Hz, elements kPatternBandFirst ... Last.
inline constexpr int kBandStepHz = 21;
inline constexpr int kBandLowHz = 31;
inline constexpr int kBandHighHz = 3999;
inline constexpr int kPatternBandFirst = (kBandLowHz + kBandStepHz - 1) / kBandStepHz;
inline constexpr int kPatternBandLast = kBandHighHz / kBandStepHz;
static_assert(kPatternBandFirst == 2 && kPatternBandLast == 190);

// The pattern of the magnitude spectrum `pfMagnitudes` (only elements 0 ... 255 are read),
// without side effects: the band limits, the six peak searches and the weights.
NotePattern ComputeNotePattern(const float* pfMagnitudes);

// Writes g_szFreqText and g_szWeightText for `pattern`.
void FormatPatternTexts(const NotePattern& pattern);

// Runs on the user-interface thread inside the controller's pass, with g_nTrainState -1 and
// the plot bounds and g_szPlotMode describing the segment just analysed. Computes the
// pattern and its texts; for a segment of 1024 samples or more, searches once for a
// following note (which may set g_szPlotMode to "2" and moves g_nPlotEnd); then runs
// ConfirmNotePattern, which returns when the user has answered.
void ExtractNotePattern(const float* pfMagnitudes);
