// The product's 512-point magnitude spectrum beside FFTW's transform of the same block
// followed by the same magnitudes. FFTW is only the yardstick here.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>

#include "analysis/Fft.h"

namespace {

std::array<float, kFftLen> MakeBlock() {
  std::array<float, kFftLen> block{};
  std::mt19937 rng(777);
  std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
  for (float& f : block) {
    f = dist(rng);
  }
  return block;
}

void BM_FftMagnitudes(benchmark::State& state) {
  const auto input = MakeBlock();
  std::array<float, kFftLen> block{};
  for (auto _ : state) {
    block = input;  // the transform works in place
    FftMagnitudes(block.data());
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());  // transforms
}
BENCHMARK(BM_FftMagnitudes);

// Real-input transform: bins 0 ... 256; the upper half mirrors them.
void BM_FftwR2cMagnitudes(benchmark::State& state) {
  const auto input = MakeBlock();
  auto* pdIn = static_cast<double*>(fftw_malloc(sizeof(double) * kFftLen));
  auto* pOut = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (kFftLen / 2 + 1)));
  const fftw_plan plan = fftw_plan_dft_r2c_1d(kFftLen, pdIn, pOut, FFTW_MEASURE);
  std::array<float, kFftLen> mag{};

  // Same spectrum as the product's, within rounding.
  for (int k = 0; k < kFftLen; ++k) {
    pdIn[k] = static_cast<double>(input[static_cast<std::size_t>(k)]);
  }
  fftw_execute(plan);
  std::array<float, kFftLen> check = input;
  FftMagnitudes(check.data());
  for (int k = 0; k <= kFftLen / 2; ++k) {
    const double dMag = std::hypot(pOut[k][0], pOut[k][1]);
    if (std::fabs(dMag - static_cast<double>(check[static_cast<std::size_t>(k)])) > 1e-3) {
      state.SkipWithError("FFTW and FftMagnitudes disagree");
      break;
    }
  }

  for (auto _ : state) {
    for (int k = 0; k < kFftLen; ++k) {
      pdIn[k] = static_cast<double>(input[static_cast<std::size_t>(k)]);
    }
    fftw_execute(plan);
    for (int k = 0; k <= kFftLen / 2; ++k) {
      const double dRe = pOut[k][0];
      const double dIm = pOut[k][1];
      mag[static_cast<std::size_t>(k)] = static_cast<float>(std::sqrt(dRe * dRe + dIm * dIm));
    }
    for (int k = kFftLen / 2 + 1; k < kFftLen; ++k) {
      mag[static_cast<std::size_t>(k)] = mag[static_cast<std::size_t>(kFftLen - k)];
    }
    benchmark::DoNotOptimize(mag.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());

  fftw_destroy_plan(plan);
  fftw_free(pOut);
  fftw_free(pdIn);
}
BENCHMARK(BM_FftwR2cMagnitudes);

// Complex transform of all 512 bins, the same work as the product's radix-2 transform.
void BM_FftwC2cMagnitudes(benchmark::State& state) {
  const auto input = MakeBlock();
  auto* pIn = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * kFftLen));
  auto* pOut = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * kFftLen));
  const fftw_plan plan = fftw_plan_dft_1d(kFftLen, pIn, pOut, FFTW_FORWARD, FFTW_MEASURE);
  std::array<float, kFftLen> mag{};

  for (auto _ : state) {
    for (int k = 0; k < kFftLen; ++k) {
      pIn[k][0] = static_cast<double>(input[static_cast<std::size_t>(k)]);
      pIn[k][1] = 0.0;
    }
    fftw_execute(plan);
    for (int k = 0; k < kFftLen; ++k) {
      const double dRe = pOut[k][0];
      const double dIm = pOut[k][1];
      mag[static_cast<std::size_t>(k)] = static_cast<float>(std::sqrt(dRe * dRe + dIm * dIm));
    }
    benchmark::DoNotOptimize(mag.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());

  fftw_destroy_plan(plan);
  fftw_free(pOut);
  fftw_free(pIn);
}
BENCHMARK(BM_FftwC2cMagnitudes);

}  // namespace
