#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "analysis/Complex.h"
#include "analysis/Fft.h"

namespace {

using Block = std::array<float, kFftLen>;

// |X[k]| of the direct O(N^2) DFT in long double. The twiddle of k*n is taken from
// (k*n) mod 512, so every factor is computed afresh from cos and sin, never carried.
std::array<long double, kFftLen> DirectDftMagnitudes(const Block& x) {
  constexpr long double kTwoPi = 2.0L * std::numbers::pi_v<long double>;
  std::array<long double, kFftLen> result{};
  for (int k = 0; k < kFftLen; ++k) {
    long double re = 0.0L, im = 0.0L;
    for (int n = 0; n < kFftLen; ++n) {
      const long double angle = kTwoPi * static_cast<long double>((k * n) % kFftLen) / kFftLen;
      const auto xn = static_cast<long double>(x[static_cast<std::size_t>(n)]);
      re += xn * std::cos(angle);
      im -= xn * std::sin(angle);
    }
    result[static_cast<std::size_t>(k)] = std::sqrt(re * re + im * im);
  }
  return result;
}

// Transforms `x` and checks every bin k within dRel * |want(k)| + dAbs of want(k).
template <class Want>
void ExpectMagnitudes(Block x, Want want, double dRel, double dAbs, const char* pszWhat) {
  FftMagnitudes(x.data());
  for (int k = 0; k < kFftLen; ++k) {
    const double dWant = want(k);
    ASSERT_NEAR(x[static_cast<std::size_t>(k)], dWant, dRel * std::fabs(dWant) + dAbs)
        << pszWhat << ", bin " << k;
  }
}

}  // namespace

TEST(FftTest, ComplexArithmeticUsesOldParts) {
  CComplex a(1.0, 2.0);
  a *= a;  // the right operand is the object itself: (1 + 2i)^2 = -3 + 4i
  EXPECT_EQ(a.GetReal(), -3.0);
  EXPECT_EQ(a.GetImag(), 4.0);
  const CComplex c = CComplex(3.0, -4.0) * CComplex(0.0, 1.0) - CComplex(1.0, 1.0);
  EXPECT_EQ(c.GetReal(), 3.0);
  EXPECT_EQ(c.GetImag(), 2.0);
  EXPECT_EQ(CComplex(3.0, -4.0).GetMagnitude(), 5.0);
}

// Error budget: every intermediate value is below 512 * 2.7 ~ 1400, and the carried twiddle
// factors and nine stages of butterflies in double add at most ~3e-10; storing as float adds
// half an ulp, 2^-24 * |X|. Single precision or a wrong permutation would be far worse.
TEST(FftTest, MatchesDirectDftOnRandomBlocks) {
  std::mt19937 gen(20240611u);
  for (int trial = 0; trial < 12; ++trial) {
    // Like a captured buffer: 16-bit values scaled by 0.00008 (|x| < 2.7), built from the
    // generator's raw output, whose sequence the standard fixes.
    Block x{};
    for (float& v : x) {
      v = static_cast<float>(static_cast<std::int32_t>(gen() % 65536u) - 32768) * 0.00008f;
    }
    const auto exact = DirectDftMagnitudes(x);
    ExpectMagnitudes(
        x, [&](int k) { return static_cast<double>(exact[static_cast<std::size_t>(k)]); },
        std::ldexp(1.0, -24), 1e-9, "random");
  }
}

TEST(FftTest, KnownSpectra) {
  Block x{};
  ExpectMagnitudes(
      x, [](int) { return 0.0; }, 0.0, 0.0, "zeros");
  x[0] = 1.0f;
  ExpectMagnitudes(
      x, [](int) { return 1.0; }, 0.0, 1e-12, "impulse");
  x.fill(-1.25f);
  ExpectMagnitudes(
      x, [](int k) { return k == 0 ? 640.0 : 0.0; }, 1e-7, 1e-9, "constant");
  // A cosine of amplitude 1.5 at bin b: 384 at b and 512 - b. The input is rounded to
  // float: at most 512 * 1.5 * 2^-24 ~ 5e-5 leaks into any bin.
  for (const int b : {1, 20, 127, 255}) {
    for (int n = 0; n < kFftLen; ++n) {
      x[static_cast<std::size_t>(n)] =
          static_cast<float>(1.5 * std::cos(2.0 * std::numbers::pi * b * n / kFftLen));
    }
    ExpectMagnitudes(
        x, [b](int k) { return k == b || k == kFftLen - b ? 384.0 : 0.0; }, 0.0, 1.5e-4, "cosine");
  }
}
