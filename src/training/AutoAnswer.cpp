#include "training/AutoAnswer.h"

#include <algorithm>
#include <cmath>

#include "analysis/Fft.h"
#include "analysis/Pitch.h"
#include "training/NoteTables.h"

namespace {

constexpr double kMaxAperiodic = 0.3;  // above: no clear pitch

// Whether the pattern's strongest peak lies on the harmonic series of `dHz`: within 1.5 bins,
// and `dStretch` of the harmonic's frequency more (the upper partials of strings run sharp).
bool StrongestPeakIsHarmonicOf(const NotePattern& pattern, double dHz, double dStretch = 0.0) {
  // Bins count from 1 for the FFT's element 0.
  const double dPeakHz = (static_cast<double>(pattern.fBin[0]) - 1.0) * kHzPerBin;
  const double dHarmonic = std::max(1.0, std::round(dPeakHz / dHz));
  return std::fabs(dPeakHz - dHarmonic * dHz) <= 1.5 * kHzPerBin + dStretch * dHarmonic * dHz;
}

}  // namespace

BlockSound CompareBlockWithNote(const float* pfBlock, const NotePattern& pattern,
                                std::int32_t nNote) {
  const PitchEstimate pitch = EstimatePitch(pfBlock, kFftLen, 50.0, 2400.0);
  if (pitch.dHz <= 0.0 || pitch.dAperiodic > kMaxAperiodic) {
    return BlockSound::Unclear;
  }
  const auto nSounding = static_cast<std::int32_t>(std::lround(NoteIndexOf(pitch.dHz)));
  if (nSounding == nNote) {
    return StrongestPeakIsHarmonicOf(pattern, NoteHz(nNote)) ? BlockSound::TheNote
                                                             : BlockSound::Unclear;
  }
  // Whole octaves below is the period taken two or four times over (in noise, the dips of the
  // difference function blur): the pattern's harmonics decide, as a scale never falls an octave.
  // An octave above stays a later note: the harmonics of that one are all the asked note's too.
  if (nSounding < nNote && (nNote - nSounding) % 12 == 0 &&
      StrongestPeakIsHarmonicOf(pattern, NoteHz(nNote), 0.015)) {
    return BlockSound::TheNote;
  }
  return nSounding < nNote ? BlockSound::Earlier : BlockSound::Later;
}

NoteChoice CAutoAnswerer::Answer(const float* pfBlock, const NotePattern& pattern,
                                 std::int32_t nNote) {
  if (nNote != m_nNote) {
    m_nNote = nNote;
    m_nRejections = 0;
  }
  const BlockSound sound = CompareBlockWithNote(pfBlock, pattern, nNote);
  if (sound == BlockSound::TheNote || sound == BlockSound::Later ||
      (sound == BlockSound::Unclear && ++m_nRejections >= kMaxRejections)) {
    m_nNote = -1;
    return NoteChoice::Next;
  }
  return NoteChoice::Replay;
}
