#include "analysis/Fft.h"

#include <array>
#include <cmath>
#include <numbers>
#include <utility>

#include "analysis/Complex.h"

void FftMagnitudes(float* pfBlock) {
  std::array<CComplex, kFftLen> work{};
  for (int n = 0; n < kFftLen; ++n) {
    work[static_cast<std::size_t>(n)] = CComplex(static_cast<double>(pfBlock[n]), 0.0);
  }

  // Bit-reversal permutation with a running reversed index; the last element never moves.
  int j = 0;
  for (int i = 0; i < kFftLen - 1; ++i) {
    if (i < j) {
      std::swap(work[static_cast<std::size_t>(i)], work[static_cast<std::size_t>(j)]);
    }
    int k = kFftLen / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // Butterflies: spans 2, 4, ... 512. The twiddle factor is carried from one j to the next
  // by multiplication with w, not recomputed.
  for (int le = 2; le <= kFftLen; le *= 2) {
    const int h = le / 2;
    const double dAngle = std::numbers::pi / static_cast<double>(h);
    const CComplex w(std::cos(dAngle), -std::sin(dAngle));
    CComplex u(1.0, 0.0);
    for (int jj = 0; jj < h; ++jj) {
      for (int i = jj; i < kFftLen; i += le) {
        const auto ui = static_cast<std::size_t>(i);
        const std::size_t up = ui + static_cast<std::size_t>(h);
        const CComplex t = work[up] * u;
        work[up] = work[ui] - t;
        work[ui] += t;
      }
      u *= w;
    }
  }

  for (int k = 0; k < kFftLen; ++k) {
    pfBlock[k] = static_cast<float>(work[static_cast<std::size_t>(k)].GetMagnitude());
  }
}
