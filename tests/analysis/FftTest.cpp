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
    long double re = 0.0L;
    long double im = 0.0L;
    for (int n = 0; n < kFftLen; ++n) {
      const long double angle = kTwoPi * static_cast<long double>((k * n) % kFftLen) / kFftLen;
      re += x[static_cast<std::size_t>(n)] * std::cos(angle);
      im -= x[static_cast<std::size_t>(n)] * std::sin(angle);
    }
    result[static_cast<std::size_t>(k)] = std::sqrt(re * re + im * im);
  }
  return result;
}

// A block like a captured buffer: 16-bit values scaled by 0.00008 (|x| < 2.7). Built from
// the generator's raw output, whose sequence the standard fixes.
Block RandomSamples(std::mt19937& gen) {
  Block x{};
  for (float& v : x) {
    const auto raw = static_cast<std::int32_t>(gen() % 65536u) - 32768;
    v = static_cast<float>(raw) * 0.00008f;
  }
  return x;
}

}  // namespace

TEST(FftTest, ComplexArithmeticUsesOldParts) {
  CComplex a(1.0, 2.0);
  a *= CComplex(3.0, 4.0);  // (1 + 2i)(3 + 4i) = -5 + 10i
  EXPECT_EQ(a.GetReal(), -5.0);
  EXPECT_EQ(a.GetImag(), 10.0);

  CComplex b(1.0, 2.0);
  b *= b;  // the right operand is the object itself: (1 + 2i)^2 = -3 + 4i
  EXPECT_EQ(b.GetReal(), -3.0);
  EXPECT_EQ(b.GetImag(), 4.0);

  const CComplex c = CComplex(3.0, -4.0) * CComplex(0.0, 1.0) - CComplex(1.0, 1.0);
  EXPECT_EQ(c.GetReal(), 3.0);
  EXPECT_EQ(c.GetImag(), 2.0);
  EXPECT_EQ(CComplex(3.0, -4.0).GetMagnitude(), 5.0);
  EXPECT_EQ(CComplex().GetReal(), 0.0);
  EXPECT_EQ(CComplex().GetImag(), 0.0);
}

// Error budget. With |x| < 2.7 every intermediate value is below S = 512 * 2.7 ~ 1400. The
// twiddle of stage s is carried over at most 255 products with w, so it is off by at most
// ~4 * 256 * eps; with two roundings per butterfly the 9 stages together add at most about
// (4 * 511 + 18) * eps * S ~ 3e-10 in double. Storing as float adds half an ulp,
// 2^-24 * |X|. A transform done in single precision, a broken permutation or a wrong
// product would be off by orders of magnitude more.
TEST(FftTest, MatchesDirectDftOnRandomBlocks) {
  std::mt19937 gen(20240611u);
  for (int trial = 0; trial < 12; ++trial) {
    const Block x = RandomSamples(gen);
    const auto expected = DirectDftMagnitudes(x);
    Block got = x;
    FftMagnitudes(got.data());
    for (std::size_t k = 0; k < kFftLen; ++k) {
      const double exact = static_cast<double>(expected[k]);
      const double tol = std::ldexp(exact, -24) + 1e-9;
      ASSERT_NEAR(got[k], exact, tol) << "trial " << trial << ", bin " << k;
    }
  }
}

TEST(FftTest, SpecialBlocks) {
  Block zeros{};
  FftMagnitudes(zeros.data());
  for (float v : zeros) {
    EXPECT_EQ(v, 0.0f);
  }

  Block impulse{};
  impulse[0] = 1.0f;
  FftMagnitudes(impulse.data());
  for (std::size_t k = 0; k < kFftLen; ++k) {
    EXPECT_NEAR(impulse[k], 1.0f, 1e-12) << "bin " << k;
  }

  for (const float c : {0.75f, -1.25f}) {
    Block constant{};
    constant.fill(c);
    FftMagnitudes(constant.data());
    EXPECT_FLOAT_EQ(constant[0], 512.0f * std::fabs(c));
    for (std::size_t k = 1; k < kFftLen; ++k) {
      EXPECT_LT(constant[k], 1e-9) << "bin " << k;
    }
  }
}

TEST(FftTest, CosineAtExactBin) {
  const double dAmplitude = 1.5;
  for (const int bin : {1, 20, 127, 255}) {
    Block x{};
    for (int n = 0; n < kFftLen; ++n) {
      x[static_cast<std::size_t>(n)] =
          static_cast<float>(dAmplitude * std::cos(2.0 * std::numbers::pi * bin * n / kFftLen));
    }
    FftMagnitudes(x.data());
    // The input is rounded to float: at most 512 * A * 2^-24 ~ 5e-5 leaks into any bin.
    const double tol = 1e-4 * dAmplitude;
    for (int k = 0; k < kFftLen; ++k) {
      const bool bPeak = k == bin || k == kFftLen - bin;
      EXPECT_NEAR(x[static_cast<std::size_t>(k)], bPeak ? 256.0 * dAmplitude : 0.0, tol)
          << "cosine at bin " << bin << ", bin " << k;
    }
  }
}
