// The 512-point magnitude spectrum of a block of samples.
#pragma once

inline constexpr int kFftLen = 512;
inline constexpr double kHzPerBin = 11025.0 / 512.0;  // 21.533203125

// Replaces the 512 samples at `pfBlock` by the magnitudes |X[0]| ... |X[511]| of their
// forward DFT, unnormalised and without a window. Radix-2 decimation in time in double
// precision; each stage carries its twiddle factor by repeated multiplication. The twiddle
// factors and the bit-reversed order are built once, at the first call, and only read after
// that. Allocates nothing; any thread, several at once.
void FftMagnitudes(float* pfBlock);
