#include "recognition/Recognizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "analysis/Fft.h"
#include "analysis/SampleHistory.h"

namespace {

constexpr std::int64_t kHop = 64;
constexpr int kBandFirst = 2;  // FFT elements of the band the patterns use
constexpr int kBandLast = 190;
constexpr int kPeakHalf = 3;       // a flux peak is the largest this many frames either side
constexpr int kMedianFrames = 64;  // running median of the flux over the frames before
constexpr int kEarly = 5;          // frames after the peak: the spectra compared (~30 and ~80 ms)
constexpr int kLate = 14;
constexpr double kFluxFactor = 1.5;
constexpr double kFluxFloor = 2.0;
constexpr double kOnsetLagSamples = 320.0;  // where in its frame a flux peak's attack lies
constexpr double kOffsetFraction = 0.08;    // a note ends when its energy falls this low
constexpr std::size_t kKeptFrames = 128;
constexpr double kNewAttackRise = 1.6;  // the same note again needs its energy to rise this much
constexpr double kFallFraction = 0.5;   // after an attack the sound is at least this loud
constexpr double kMinScore = 0.35;      // a cosine below this names no trained note
constexpr std::int64_t kSameNoteFrames =
    26;  // ~150 ms: the same note again this soon is its own attack

// ln(1 + x) for x >= 0 to about 1e-5, without a library call: the exponent of 1 + x, then a
// series over its mantissa in [1, 2) (so the compiler can do a frame's bins in one sweep).
float FastLog1p(float x) {
  const float y = 1.0f + x;
  std::uint32_t nBits = 0;
  std::memcpy(&nBits, &y, sizeof nBits);
  const auto nExponent = static_cast<int>((nBits >> 23) & 0xFF) - 127;
  nBits = (nBits & 0x007FFFFFU) | 0x3F800000U;
  float m = 0.0f;
  std::memcpy(&m, &nBits, sizeof m);
  // ln(m) = 2 atanh(z), z = (m - 1) / (m + 1) <= 1/3: four terms of its series.
  const float z = (m - 1.0f) / (m + 1.0f), z2 = z * z;
  const float fLn = 2.0f * z * (1.0f + z2 * (1.0f / 3.0f + z2 * (0.2f + z2 * (1.0f / 7.0f))));
  return static_cast<float>(nExponent) * 0.69314718f + fLn;
}

double FrameSeconds(std::int64_t nFrame, double dWithin) {
  return (static_cast<double>(nFrame * kHop) + dWithin) / kSampleRateHz;
}

}  // namespace

CRecognizer::CRecognizer(const std::vector<NotePattern>& patterns, std::int32_t nFirst,
                         std::int32_t nLast)
    : m_window(kFftLen) {
  for (int n = 0; n < kFftLen; ++n) {
    m_window[static_cast<std::size_t>(n)] = static_cast<float>(
        0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / static_cast<double>(kFftLen)));
  }
  for (std::int32_t k = std::max(nFirst, 0);
       k <= nLast && k < static_cast<std::int32_t>(patterns.size()); ++k) {
    const NotePattern& p = patterns[static_cast<std::size_t>(k)];
    Template t{k, {}, 0.0};
    for (int i = 0; i < kPeakCount; ++i) {
      const int nAt = static_cast<int>(p.fBin[i]) - 1;
      const float fWeight = p.fWeight[i];
      for (int d = -1; d <= 1; ++d) {
        const int nBin = nAt + d;
        if (nBin >= kBandFirst && nBin <= kBandLast) {
          auto& w = t.weights[static_cast<std::size_t>(nBin)];
          w = std::max(w, d == 0 ? fWeight : fWeight / 2);
        }
      }
    }
    for (const float w : t.weights) {
      t.dNorm += static_cast<double>(w) * static_cast<double>(w);
    }
    t.dNorm = std::sqrt(t.dNorm);
    if (t.dNorm > 0.0) {
      m_templates.push_back(t);
    }
  }
}

void CRecognizer::Feed(const std::int16_t* pSamples, std::size_t nCount) {
  m_pending.insert(m_pending.end(), pSamples, pSamples + nCount);
  while (m_pending.size() >= static_cast<std::size_t>(kFftLen)) {
    AnalyseFrame();
    m_pending.erase(m_pending.begin(), m_pending.begin() + kHop);
    m_nConsumed += kHop;
  }
}

void CRecognizer::AnalyseFrame() {
  std::array<float, kFftLen> block{};
  for (std::size_t n = 0; n < block.size(); ++n) {
    block[n] = static_cast<float>(m_pending[n]) / 32768.0f * m_window[n];
  }
  FftMagnitudes(block.data());
  Frame frame{};
  double dFlux = 0.0;
  for (int b = 0; b < 256; ++b) {
    const auto i = static_cast<std::size_t>(b);
    frame.spectrum[i] = block[i];
    if (b >= kBandFirst && b <= kBandLast) {
      frame.dEnergy += static_cast<double>(block[i]);
      const float fLog = FastLog1p(10.0f * block[i]);
      dFlux += static_cast<double>(std::max(0.0f, fLog - m_prevLog[i]));
      m_prevLog[i] = fLog;
    }
  }
  frame.dFlux = dFlux;
  m_frames.push_back(frame);
  if (m_frames.size() > kKeptFrames) {
    m_frames.pop_front();
  }
  ++m_nFrames;
  // The frame kLate before the newest can now be judged as an onset.
  if (m_nFrames > kLate + kPeakHalf) {
    Decide(m_nFrames - 1 - kLate);
  }
}

void CRecognizer::Decide(std::int64_t nFrame) {
  const std::int64_t nFirstKept = m_nFrames - static_cast<std::int64_t>(m_frames.size());
  const auto at = [&](std::int64_t f) -> const Frame& {
    return m_frames[static_cast<std::size_t>(f - nFirstKept)];
  };
  if (nFrame - kMedianFrames < nFirstKept) {
    // Too early for a median: take what there is.
  }
  const Frame& frame = at(nFrame);
  // A sounding note ends when its energy falls low enough.
  if (m_bOpen && nFrame > m_nLastOnsetFrame + kLate &&
      frame.dEnergy < kOffsetFraction * m_dPeakEnergy) {
    CloseNote(FrameSeconds(nFrame, kFftLen / 2.0));
  }
  if (m_bOpen) {
    m_dPeakEnergy = std::max(m_dPeakEnergy, frame.dEnergy);
  }
  for (std::int64_t f = std::max(nFirstKept, nFrame - kPeakHalf); f <= nFrame + kPeakHalf; ++f) {
    if (f != nFrame && at(f).dFlux > frame.dFlux) {
      return;
    }
  }
  std::vector<double> recent;
  for (std::int64_t f = std::max(nFirstKept, nFrame - kMedianFrames); f < nFrame; ++f) {
    recent.push_back(at(f).dFlux);
  }
  double dMedian = 0.0;
  if (!recent.empty()) {
    std::nth_element(recent.begin(), recent.begin() + static_cast<long>(recent.size() / 2),
                     recent.end());
    dMedian = recent[recent.size() / 2];
  }
  if (frame.dFlux < kFluxFactor * dMedian + kFluxFloor || nFrame - m_nLastOnsetFrame < 8) {
    return;
  }
  // The note: the template closest (cosine) to the spectra just after the onset.
  const Frame& early = at(nFrame + kEarly);
  const Frame& late = at(nFrame + kLate);
  double dBest = -1.0;
  std::int32_t nBest = -1;
  for (const Template& t : m_templates) {
    double dScore = 0.0;
    for (const Frame* pFrame : {&early, &late}) {
      double dDot = 0.0, dNorm = 0.0;
      for (int b = kBandFirst; b <= kBandLast; ++b) {
        const auto i = static_cast<std::size_t>(b);
        const double s = pFrame->spectrum[i];
        dDot += s * static_cast<double>(t.weights[i]);
        dNorm += s * s;
      }
      dScore += dNorm > 0.0 ? dDot / (std::sqrt(dNorm) * t.dNorm) / 2.0 : 0.0;
    }
    if (dScore > dBest) {
      dBest = dScore;
      nBest = t.nNote;
    }
  }
  if (nBest < 0) {
    return;
  }
  // A repeated note needs a real new attack.
  double dBefore = frame.dEnergy;  // the quietest just before
  for (std::int64_t f = std::max(nFirstKept, nFrame - 8); f < nFrame; ++f) {
    dBefore = std::min(dBefore, at(f).dEnergy);
  }
  // Not an attack: the sound falls away (a note cut off) or resembles no trained note.
  if (early.dEnergy < kFallFraction * dBefore || dBest < kMinScore) {
    return;
  }
  if (m_bOpen && nBest == m_current.nNote &&
      (early.dEnergy < kNewAttackRise * dBefore || nFrame - m_nLastOnsetFrame < kSameNoteFrames)) {
    return;
  }
  const double dOnset = FrameSeconds(nFrame, kOnsetLagSamples);
  if (m_bOpen) {
    CloseNote(dOnset);
  }
  m_bOpen = true;
  m_current = RecognizedNote{dOnset, dOnset, nBest, std::clamp(dBest, 0.0, 1.0)};
  m_dPeakEnergy = std::max(early.dEnergy, late.dEnergy);
  m_nLastOnsetFrame = nFrame;
  if (m_onStart) {
    m_onStart(m_current);
  }
}

void CRecognizer::CloseNote(double dOffset) {
  m_current.dOffset = std::max(dOffset, m_current.dOnset);
  m_done.push_back(m_current);
  m_bOpen = false;
}

void CRecognizer::Finish() {
  if (m_bOpen) {
    CloseNote(FrameSeconds(m_nFrames, kFftLen));
  }
}

std::vector<RecognizedNote> CRecognizer::TakeNotes() { return std::exchange(m_done, {}); }
