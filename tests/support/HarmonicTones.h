// Harmonic tones for the recogniser's tests, and note patterns taken from them as training
// takes them.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "training/NoteTables.h"

// A note of index `nNote` from `dOn` for `dLength` s, five harmonics, decaying, or steady
// with a swell and a fade of `dFade` s; added to `s`.
inline void AddNote(std::vector<std::int16_t>& s, std::int32_t nNote, double dOn, double dLength,
                    double dFade = 0.0) {
  constexpr double kRate = 11025.0;
  const double dHz = 440.0 * std::exp2((nNote - 57) / 12.0);
  const auto nFirst = static_cast<std::size_t>(dOn * kRate);
  for (std::size_t n = 0; n < static_cast<std::size_t>(dLength * kRate); ++n) {
    const double t = static_cast<double>(n) / kRate;
    double v = 0.0;
    for (int h = 1; h <= 5 && h * dHz < 5000.0; ++h) v += std::sin(2 * M_PI * h * dHz * t) / h;
    const double dGain = dFade > 0.0 ? 6000.0 * std::fmin(1.0, std::fmin(t, dLength - t) / dFade)
                                     : 9000.0 * std::exp(-2.0 * t);
    s[nFirst + n] = static_cast<std::int16_t>(s[nFirst + n] + dGain * v);
  }
}

// Patterns of the notes C4 ... B4 without F4 (note 53: untrained), 108 records.
inline std::vector<NotePattern> TrainedTonePatterns() {
  std::vector<NotePattern> patterns(kNoteCount);
  for (std::int32_t k = 48; k <= 59; k += (k == 52 ? 2 : 1)) {
    std::vector<std::int16_t> tone(11025, 0);
    AddNote(tone, k, 0.0, 1.0);
    std::vector<float> block(static_cast<std::size_t>(kFftLen));
    for (std::size_t n = 0; n < block.size(); ++n)
      block[n] = static_cast<float>(tone[n + 2000]) * 0.00008f;
    FftMagnitudes(block.data());
    patterns[static_cast<std::size_t>(k)] = ComputeNotePattern(block.data());
  }
  return patterns;
}
