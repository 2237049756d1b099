#include "analysis/Pitch.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/SampleHistory.h"

namespace {

constexpr auto kRateHz = static_cast<double>(kSampleRateHz);
constexpr double kThreshold = 0.15;  // the first dip below this is the period
constexpr double kClearDip = 0.3;    // a dip at a multiple of the period this deep is clear

}  // namespace

PitchEstimate EstimatePitch(const float* pfSamples, std::int32_t nCount, double dMinHz,
                            double dMaxHz) {
  PitchEstimate result;
  const auto nMaxLag =
      std::min<std::int32_t>(static_cast<std::int32_t>(kRateHz / dMinHz), nCount / 2);
  const auto nMinLag = std::max<std::int32_t>(2, static_cast<std::int32_t>(kRateHz / dMaxHz));
  if (nMaxLag <= nMinLag + 1) {
    return result;
  }
  // Difference d(tau) over a fixed window of nCount - nMaxLag samples, then its cumulative
  // mean normalized form d'(tau) = d(tau) * tau / sum(d(1 .. tau)).
  const std::int32_t nWindow = nCount - nMaxLag;
  std::vector<double> norm(static_cast<std::size_t>(nMaxLag) + 1, 1.0);
  double dRunning = 0.0;
  for (std::int32_t tau = 1; tau <= nMaxLag; ++tau) {
    double dSum = 0.0;
    for (std::int32_t j = 0; j < nWindow; ++j) {
      const double e = static_cast<double>(pfSamples[j]) - static_cast<double>(pfSamples[j + tau]);
      dSum += e * e;
    }
    dRunning += dSum;
    norm[static_cast<std::size_t>(tau)] =
        dRunning > 0.0 ? dSum * static_cast<double>(tau) / dRunning : 1.0;
  }
  const auto at = [&norm](std::int32_t tau) { return norm[static_cast<std::size_t>(tau)]; };
  // The lag of the parabola's vertex through the dip at `tau` and its neighbours.
  const auto vertex = [&at](std::int32_t tau) {
    const double a = at(tau - 1), b = at(tau), c = at(tau + 1);
    const double dDen = a - 2.0 * b + c;
    return tau + (dDen > 0.0 ? 0.5 * (a - c) / dDen : 0.0);
  };
  std::int32_t nBest = -1;
  for (std::int32_t tau = nMinLag; tau < nMaxLag; ++tau) {
    if (at(tau) < kThreshold) {
      while (tau + 1 < nMaxLag && at(tau + 1) < at(tau)) {
        ++tau;
      }
      nBest = tau;
      break;
    }
  }
  if (nBest < 0) {  // no dip below the threshold: the deepest one
    nBest = nMinLag;
    for (std::int32_t tau = nMinLag + 1; tau < nMaxLag; ++tau) {
      if (at(tau) < at(nBest)) {
        nBest = tau;
      }
    }
  }
  double dLag = nBest > 1 && nBest < nMaxLag ? vertex(nBest) : nBest;
  // Measured again at 2, 4, 8 ... periods while their dips stay clear: the error of locating
  // a dip between whole lags is divided by the multiple, and each step's estimate is close
  // enough to find the next dip.
  for (std::int32_t m = 2; dLag * m < nMaxLag - 2; m *= 2) {
    const auto nNear = static_cast<std::int32_t>(std::lround(dLag * m));
    std::int32_t nDip = nNear;
    for (std::int32_t tau = nNear - 1; tau <= nNear + 1; ++tau) {
      if (at(tau) < at(nDip)) {
        nDip = tau;
      }
    }
    if (at(nDip) >= kClearDip) {
      break;
    }
    dLag = vertex(nDip) / m;
  }
  result.dHz = kRateHz / dLag;
  result.dAperiodic = at(nBest);
  return result;
}

double NoteIndexOf(double dHz) { return 57.0 + 12.0 * std::log2(dHz / 440.0); }

double NoteHz(double dNoteIndex) { return 440.0 * std::exp2((dNoteIndex - 57.0) / 12.0); }
