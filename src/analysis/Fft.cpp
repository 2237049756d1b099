#include "analysis/Fft.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

#include "analysis/Complex.h"

namespace {

// What every transform shares, built once: where each sample goes in the bit-reversed order,
// and the twiddle factors of all nine stages.
struct FftTables {
  // Sample n is loaded into element reversed[n]: the order that swapping i and j for
  // i = 0 ... 510 with a running reversed index j gives.
  std::array<std::uint16_t, kFftLen> reversed{};
  // The stage with half-span h uses twiddle[h - 1 + jj] for jj = 0 ... h - 1: u = 1 for
  // jj = 0, then carried by u <- u * w with w = cos(pi / h) - i sin(pi / h), so that every
  // factor is the same double as when the recurrence runs inside the transform.
  std::array<CComplex, kFftLen - 1> twiddle{};

  FftTables() {
    std::array<std::uint16_t, kFftLen> order{};
    for (int n = 0; n < kFftLen; ++n) {
      order[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(n);
    }
    int j = 0;
    for (int i = 0; i < kFftLen - 1; ++i) {
      if (i < j) {
        std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
      }
      int k = kFftLen / 2;
      while (k <= j) {
        j -= k;
        k /= 2;
      }
      j += k;
    }
    // order[e] is the sample that ends up in element e.
    for (int e = 0; e < kFftLen; ++e) {
      reversed[order[static_cast<std::size_t>(e)]] = static_cast<std::uint16_t>(e);
    }

    for (std::size_t h = 1; h < kFftLen; h *= 2) {
      const double dAngle = std::numbers::pi / static_cast<double>(h);
      const CComplex w(std::cos(dAngle), -std::sin(dAngle));
      CComplex u(1.0, 0.0);
      for (std::size_t jj = 0; jj < h; ++jj) {
        twiddle[h - 1 + jj] = u;
        u *= w;
      }
    }
  }
};

// Built on first use; the initialisation of a local static is thread-safe.
const FftTables& Tables() {
  static const FftTables tables;
  return tables;
}

}  // namespace

void FftMagnitudes(float* pfBlock) {
  const FftTables& tables = Tables();
  std::array<CComplex, kFftLen> work;
  for (std::size_t n = 0; n < kFftLen; ++n) {
    work[tables.reversed[n]] = CComplex(static_cast<double>(pfBlock[n]), 0.0);
  }

  // Butterflies: spans 2, 4, ... 512. Within a stage the butterflies touch disjoint pairs,
  // so each group of le elements is done in turn; each butterfly is the same operations on
  // the same values as when the stage walks twiddle factor by twiddle factor.
  for (std::size_t h = 1; h < kFftLen; h *= 2) {
    const CComplex* pTwiddle = &tables.twiddle[h - 1];
    for (std::size_t nBase = 0; nBase < kFftLen; nBase += 2 * h) {
      CComplex* pLow = &work[nBase];
      CComplex* pHigh = pLow + h;
      for (std::size_t jj = 0; jj < h; ++jj) {
        const CComplex t = pHigh[jj] * pTwiddle[jj];
        pHigh[jj] = pLow[jj] - t;
        pLow[jj] += t;
      }
    }
  }

  for (std::size_t k = 0; k < kFftLen; ++k) {
    pfBlock[k] = static_cast<float>(work[k].GetMagnitude());
  }
}
