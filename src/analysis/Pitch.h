// The pitch of a short stretch of sound, finer than the FFT's 21.5 Hz bins: the period whose
// cumulative mean normalized difference first dips below a threshold (the YIN method), refined
// between samples by a parabola.
#pragma once

#include <cstdint>

struct PitchEstimate {
  double dHz = 0.0;         // 0 when no period was found
  double dAperiodic = 1.0;  // the normalized difference at that period: 0 periodic ... 1 noise
};

// The pitch of `pfSamples[0 .. nCount)` at 11025 Hz between `dMinHz` and `dMaxHz`; a period
// must fit at least twice into the samples.
PitchEstimate EstimatePitch(const float* pfSamples, std::int32_t nCount, double dMinHz,
                            double dMaxHz);

// The note index (C0 = 0, A4 = 57) nearest to `dHz` as a fractional number: 57 + 12 log2(f/440).
double NoteIndexOf(double dHz);

// The equal-tempered frequency of note index `dNoteIndex`, the inverse of NoteIndexOf.
double NoteHz(double dNoteIndex);
