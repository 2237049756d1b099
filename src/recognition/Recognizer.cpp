#include "recognition/Recognizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "analysis/SampleHistory.h"

namespace {

// Every tuning constant of the recogniser is here. Frames are 512 samples every kHop; "frames"
// below count hops (5.8 ms each).

// Framing, and what is kept of the frames.
constexpr std::int64_t kHop = 64;
constexpr int kBandFirst = kPatternBandFirst;  // FFT elements of the band the patterns use
constexpr int kBandLast = kPatternBandLast;
// Frames whose energy and flux are kept: the median's frames before a decision and the
// kLate after it. A power of two, so that a frame's slot is cheap to find.
constexpr std::int64_t kKeptFrames = 128;
// Frames whose cosines with the templates are kept: a decision looks at the kLate after it.
constexpr std::int64_t kKeptCosines = 32;
// Samples held for framing: whatever a call to Feed brings is copied in pieces of at most
// this much less the partial frame, so the buffer never grows with the call or the recording.
constexpr std::size_t kSampleBuffer = 4096;

// Attacks: peaks of the spectral flux.
constexpr int kPeakHalf = 3;         // a flux peak is the largest this many frames either side
constexpr int kMedianFrames = 64;    // running median of the flux over the frames before
constexpr double kFluxFactor = 1.5;  // a peak rises this far above the median ...
constexpr double kFluxFloor = 2.0;   // ... and this much more
constexpr double kOnsetLagSamples = 320.0;  // where in its frame a flux peak's attack lies
constexpr std::int64_t kMinOnsetGap = 8;    // ~46 ms: no onset this soon after another
constexpr int kEarly = 5;  // frames after the peak whose spectra name the note (~30 and ~80 ms)
constexpr int kLate = 14;
constexpr double kMinScore = 0.35;      // a cosine below this names no trained note
constexpr double kFallFraction = 0.5;   // after an attack the sound is at least this loud
constexpr double kNewAttackRise = 1.6;  // the same note again needs its energy to rise this much
// ~150 ms: the same note again this soon is its own attack
constexpr std::int64_t kSameNoteFrames = 26;
// An attack of the neighbouring semitone within kSameNoteFrames that fits this much better
// renames the note.
constexpr double kRenameGain = 0.1;

// Ends: a note ends when its energy falls this low against its peak.
constexpr double kOffsetFraction = 0.08;

// Changes of template: a new note must win every frame from kChangeSettle to kLate after the
// frame judged, with at least kChangeScore, and kChangeMargin above the sounding note's.
constexpr int kChangeSettle = 4;
constexpr double kChangeScore = 0.6;
constexpr double kChangeMargin = 0.1;
constexpr int kChangeBack = 12;  // its attack lies at most this far before it won
// Templates at least this alike (low notes a semitone apart, where a semitone is narrower
// than a bin) cannot be told apart by which of them wins.
constexpr double kChangeAlike = 0.85;
constexpr std::int64_t kRenameFrames = 12;  // ~70 ms: a change this soon renames the note
// A note after a rest found by its template is at least this loud against the note before it
// (a decaying tail can match its own note's template well).
constexpr double kChangeLoudness = 0.25;
// A note dips to at most this part of its peak energy before the same note starts again, at
// most this many frames (~140 ms) before the frames that show it again.
constexpr double kDipFraction = 0.25;
constexpr std::int64_t kDipBack = 24;

static_assert(kKeptFrames > kMedianFrames + kLate && kKeptFrames > kDipBack + kLate &&
              kKeptCosines > kLate);

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

// The cosine between two templates: how alike the notes' patterns are.
double TemplateCosine(const auto& a, const auto& b) {
  double dDot = 0.0;
  for (std::int32_t i = 0; i < a.nBins; ++i) {
    for (std::int32_t j = 0; j < b.nBins; ++j) {
      if (a.bins[static_cast<std::size_t>(i)] == b.bins[static_cast<std::size_t>(j)]) {
        dDot += static_cast<double>(a.weights[static_cast<std::size_t>(i)]) *
                static_cast<double>(b.weights[static_cast<std::size_t>(j)]);
      }
    }
  }
  return dDot / (a.dNorm * b.dNorm);
}

// Silence the recogniser puts before the first sample, so that a note sounding from the very
// first sample has an attack (a recording cut to its first note would lose it otherwise): two
// frames, so that the frames where the sound comes in are judged like any other. A whole
// number of hops: every frame after it holds the samples it would hold without it.
constexpr std::int64_t kLeadIn = std::int64_t{2} * kFftLen;
static_assert(kLeadIn % kHop == 0);

// Seconds from the first sample fed (not the lead-in) to `dWithin` samples into frame nFrame.
double FrameSeconds(std::int64_t nFrame, double dWithin) {
  return std::max(0.0, static_cast<double>(nFrame * kHop - kLeadIn) + dWithin) / kSampleRateHz;
}

}  // namespace

bool CRecognizer::MakeTemplate(const NotePattern& p, std::int32_t nNote, Template& t) {
  std::array<float, 256> weights{};
  for (int i = 0; i < kPeakCount; ++i) {
    // A peak no training writes (not a number, outside the spectrum, a negative weight)
    // weighs nothing.
    const float fWeight = p.fWeight[i];
    if (!(p.fBin[i] >= 1.0f && p.fBin[i] <= 256.0f && fWeight > 0.0f && fWeight <= 10.0f)) {
      continue;
    }
    const int nAt = static_cast<int>(p.fBin[i]) - 1;
    for (int d = -1; d <= 1; ++d) {
      const int nBin = nAt + d;
      if (nBin >= kBandFirst && nBin <= kBandLast) {
        auto& w = weights[static_cast<std::size_t>(nBin)];
        w = std::max(w, d == 0 ? fWeight : fWeight / 2);
      }
    }
  }
  // Only the bins the pattern weighs are kept: a cosine's other products are zeros.
  t = Template{nNote, 0, {}, {}, 0.0};
  for (int b = kBandFirst; b <= kBandLast; ++b) {
    const float w = weights[static_cast<std::size_t>(b)];
    if (w > 0.0f) {
      t.bins[static_cast<std::size_t>(t.nBins)] = b;
      t.weights[static_cast<std::size_t>(t.nBins)] = w;
      ++t.nBins;
      t.dNorm += static_cast<double>(w) * static_cast<double>(w);
    }
  }
  t.dNorm = std::sqrt(t.dNorm);
  return t.dNorm > 0.0;
}

std::vector<std::int32_t> CRecognizer::CandidateNotes(const std::vector<NotePattern>& patterns,
                                                      std::int32_t nFirst, std::int32_t nLast) {
  std::vector<std::int32_t> notes;
  Template t{};
  for (std::int32_t k = std::max(nFirst, 0);
       k <= nLast && k < static_cast<std::int32_t>(patterns.size()); ++k) {
    if (MakeTemplate(patterns[static_cast<std::size_t>(k)], k, t)) {
      notes.push_back(k);
    }
  }
  return notes;
}

CRecognizer::CRecognizer(const std::vector<NotePattern>& patterns, std::int32_t nFirst,
                         std::int32_t nLast)
    : m_window(kFftLen),
      m_samples(kSampleBuffer),
      m_features(static_cast<std::size_t>(kKeptFrames)),
      m_block(kFftLen) {
  for (int n = 0; n < kFftLen; ++n) {
    m_window[static_cast<std::size_t>(n)] = static_cast<float>(
        0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / static_cast<double>(kFftLen)));
  }
  Template t{};
  for (std::int32_t k = std::max(nFirst, 0);
       k <= nLast && k < static_cast<std::int32_t>(patterns.size()); ++k) {
    if (MakeTemplate(patterns[static_cast<std::size_t>(k)], k, t)) {
      m_templates.push_back(t);
    }
  }
  m_cosines.resize(static_cast<std::size_t>(kKeptCosines) * m_templates.size());
  const std::array<std::int16_t, kLeadIn> silence{};
  Feed(silence.data(), silence.size());
}

void CRecognizer::Feed(const std::int16_t* pSamples, std::size_t nCount) {
  while (nCount > 0) {
    if (m_nEnd == m_samples.size()) {
      // Less than a frame is left unframed: move it to the front.
      std::copy(m_samples.begin() + static_cast<std::ptrdiff_t>(m_nBegin),
                m_samples.begin() + static_cast<std::ptrdiff_t>(m_nEnd), m_samples.begin());
      m_nEnd -= m_nBegin;
      m_nBegin = 0;
    }
    const std::size_t nTake = std::min(nCount, m_samples.size() - m_nEnd);
    std::copy(pSamples, pSamples + nTake, m_samples.begin() + static_cast<std::ptrdiff_t>(m_nEnd));
    m_nEnd += nTake;
    pSamples += nTake;
    nCount -= nTake;
    while (m_nEnd - m_nBegin >= static_cast<std::size_t>(kFftLen)) {
      AnalyseFrame(&m_samples[m_nBegin]);
      m_nBegin += kHop;
    }
  }
}

const CRecognizer::Features& CRecognizer::FeaturesOf(std::int64_t nFrame) const {
  return m_features[static_cast<std::size_t>(nFrame % kKeptFrames)];
}

const double* CRecognizer::CosinesOf(std::int64_t nFrame) const {
  // data() + offset, not [offset]: without templates the ring is empty (and the offset 0).
  return m_cosines.data() + static_cast<std::size_t>(nFrame % kKeptCosines) * m_templates.size();
}

void CRecognizer::AnalyseFrame(const std::int16_t* pSamples) {
  float* pBlock = m_block.data();
  for (std::size_t n = 0; n < kFftLen; ++n) {
    pBlock[n] = static_cast<float>(pSamples[n]) / 32768.0f * m_window[n];
  }
  FftMagnitudes(pBlock);
  // The logarithms first, in a loop of their own that the compiler does several bins at a
  // time; the sums after, bin by bin in the same order as ever.
  constexpr std::size_t kBandBins = kBandLast - kBandFirst + 1;
  std::array<float, kBandBins> rise;
  for (std::size_t i = 0; i < kBandBins; ++i) {
    const float fLog = FastLog1p(10.0f * pBlock[kBandFirst + i]);
    rise[i] = std::max(0.0f, fLog - m_prevLog[kBandFirst + i]);
    m_prevLog[kBandFirst + i] = fLog;
  }
  // (Three sums side by side: each waits on its own previous addition only.)
  Features features{0.0, 0.0, 0};
  double dNorm = 0.0;
  for (std::size_t i = 0; i < kBandBins; ++i) {
    const double d = pBlock[kBandFirst + i];
    features.dEnergy += d;
    features.dFlux += static_cast<double>(rise[i]);
    dNorm += d * d;
  }
  // The frame's cosine with every template, while its spectrum is at hand: the decisions
  // compare frames up to kLate apart, and the spectrum itself is then no longer needed.
  dNorm = std::sqrt(dNorm);
  double* pCosines =
      m_cosines.data() + static_cast<std::size_t>(m_nFrames % kKeptCosines) * m_templates.size();
  for (std::size_t k = 0; k < m_templates.size(); ++k) {
    const Template& t = m_templates[k];
    double dDot = 0.0;
    for (std::int32_t i = 0; i < t.nBins; ++i) {
      const auto u = static_cast<std::size_t>(i);
      dDot += static_cast<double>(pBlock[t.bins[u]]) * static_cast<double>(t.weights[u]);
    }
    pCosines[k] = dNorm > 0.0 ? dDot / (dNorm * t.dNorm) : 0.0;
    if (pCosines[k] > pCosines[features.nWinner]) {
      features.nWinner = k;
    }
  }
  m_features[static_cast<std::size_t>(m_nFrames % kKeptFrames)] = features;
  ++m_nFrames;
  // The frame kLate before the newest can now be judged as an onset.
  if (m_nFrames > kLate + kPeakHalf) {
    Decide(m_nFrames - 1 - kLate);
  }
}

void CRecognizer::Decide(std::int64_t nFrame) {
  if (m_templates.empty()) {
    return;  // nothing to name
  }
  const Features& frame = FeaturesOf(nFrame);
  // A sounding note ends when its energy falls low enough.
  if (m_bOpen && nFrame > m_nLastOnsetFrame + kLate &&
      frame.dEnergy < kOffsetFraction * m_dPeakEnergy) {
    CloseNote(FrameSeconds(nFrame, kFftLen / 2.0));
    m_nEndFrame = nFrame;
    if (m_pending.nTemplate == m_nTemplate) {
      m_nPendingAt = -1;  // the note again, but it ended instead
    }
  }
  if (m_bOpen) {
    m_dPeakEnergy = std::max(m_dPeakEnergy, frame.dEnergy);
  }
  if (StartAtAttack(nFrame)) {
    m_nPendingAt = -1;
  } else if (m_nPendingAt == nFrame) {
    StartNote(m_pending);
    m_nPendingAt = -1;
  } else if (m_nPendingAt < 0) {
    StartAtChange(nFrame);
  }
}

bool CRecognizer::StartAtAttack(std::int64_t nFrame) {
  const Features& frame = FeaturesOf(nFrame);
  for (std::int64_t f = std::max<std::int64_t>(0, nFrame - kPeakHalf); f <= nFrame + kPeakHalf;
       ++f) {
    if (f != nFrame && FeaturesOf(f).dFlux > frame.dFlux) {
      return false;
    }
  }
  // Only a local peak of the flux gets this far (a few frames in ten): the median is taken
  // here, on a copy, rather than kept up to date frame by frame.
  std::array<double, kMedianFrames> recent;
  std::size_t nRecent = 0;
  for (std::int64_t f = std::max<std::int64_t>(0, nFrame - kMedianFrames); f < nFrame; ++f) {
    recent[nRecent++] = FeaturesOf(f).dFlux;
  }
  double dMedian = 0.0;
  if (nRecent > 0) {
    const auto middle = recent.begin() + static_cast<std::ptrdiff_t>(nRecent / 2);
    std::nth_element(recent.begin(), middle, recent.begin() + static_cast<std::ptrdiff_t>(nRecent));
    dMedian = *middle;
  }
  if (frame.dFlux < kFluxFactor * dMedian + kFluxFloor ||
      nFrame - m_nLastOnsetFrame < kMinOnsetGap) {
    return false;
  }
  // The note: the template closest (cosine) to the spectra just after the onset.
  const std::int64_t nEarly = nFrame + kEarly, nLate = nFrame + kLate;
  const double* pEarly = CosinesOf(nEarly);
  const double* pLate = CosinesOf(nLate);
  double dBest = -1.0;
  std::size_t nBest = 0;
  for (std::size_t k = 0; k < m_templates.size(); ++k) {
    const double dScore = pEarly[k] / 2.0 + pLate[k] / 2.0;
    if (dScore > dBest) {
      dBest = dScore;
      nBest = k;
    }
  }
  // A repeated note needs a real new attack.
  double dBefore = frame.dEnergy;  // the quietest just before
  for (std::int64_t f = std::max<std::int64_t>(0, nFrame - 8); f < nFrame; ++f) {
    dBefore = std::min(dBefore, FeaturesOf(f).dEnergy);
  }
  const double dEarlyEnergy = FeaturesOf(nEarly).dEnergy, dLateEnergy = FeaturesOf(nLate).dEnergy;
  // Not an attack: the sound falls away (a note cut off) or resembles no trained note.
  if (dEarlyEnergy < kFallFraction * dBefore || dBest < kMinScore) {
    return false;
  }
  if (m_bOpen && nBest == m_nTemplate &&
      (dEarlyEnergy < kNewAttackRise * dBefore || nFrame - m_nLastOnsetFrame < kSameNoteFrames)) {
    return false;
  }
  if (m_bOpen && nFrame - m_nLastOnsetFrame < kSameNoteFrames &&
      std::abs(m_templates[nBest].nNote - m_current.nNote) == 1 &&
      dBest > m_current.dScore + kRenameGain) {
    // A note named from the first frames of its attack (a wind instrument scooping up to its
    // pitch) is followed this soon by the attack of its neighbour that fits much better: one
    // note, of this name.
    Rename(nBest, dBest);
    return true;
  }
  StartNote(Start{nFrame, kOnsetLagSamples, nBest, dBest, std::max(dEarlyEnergy, dLateEnergy)});
  return true;
}

void CRecognizer::StartAtChange(std::int64_t nFrame) {
  // Legato on a bowed or blown instrument often brings no rise of the flux above its running
  // threshold (the old note fades as the new one swells, and vibrato and breath keep the flux
  // busy), but the spectrum turns from one note to another; so does a soft attack after a
  // rest. A new note starts when one template wins every frame from kChangeSettle to kLate
  // after this one, clearly.
  const std::int64_t nFirst = nFrame + kChangeSettle, nLast = nFrame + kLate;
  const std::size_t nNew = FeaturesOf(nFirst).nWinner;
  // The template of the note sounding, or of the last note if it has ended.
  const bool bRepeat = m_nLastOnsetFrame >= 0 && nNew == m_nTemplate;
  if (bRepeat && nFirst - m_nLastOnsetFrame < kSameNoteFrames) {
    return;
  }
  const auto quietest = [&](std::int64_t nBegin, std::int64_t nEnd) {
    std::int64_t nAt = nBegin;
    for (std::int64_t f = nBegin; f <= nEnd; ++f) {
      nAt = FeaturesOf(f).dEnergy < FeaturesOf(nAt).dEnergy ? f : nAt;
    }
    return nAt;
  };
  const auto highestFlux = [&](std::int64_t nBegin, std::int64_t nEnd) {
    std::int64_t nAt = nBegin;
    for (std::int64_t f = nBegin; f <= nEnd; ++f) {
      nAt = FeaturesOf(f).dFlux > FeaturesOf(nAt).dFlux ? f : nAt;
    }
    return nAt;
  };
  // The last note's own template: the note again if its sound fell to a small part of its
  // peak (a rest, or a breath too short for the note to end) and has swelled again by the
  // middle of the frames it wins (not only in their last, where the attack of another note
  // may be arriving), as loud as a note after a rest. The dip is sought up to kDipBack before
  // them (the swell takes a while), but not in the note's own attack, nor before it ended.
  // (The dip first: most frames of a held note go no further.)
  const std::int64_t nMiddle = (nFirst + nLast) / 2;
  const std::int64_t nDip = bRepeat
                                ? quietest(std::max({m_nLastOnsetFrame + kSameNoteFrames,
                                                     nFirst - kDipBack, m_bOpen ? 0 : m_nEndFrame}),
                                           nMiddle)
                                : 0;
  if (bRepeat && FeaturesOf(nDip).dEnergy > kDipFraction * m_dPeakEnergy) {
    return;
  }
  double dSum = 0.0, dPeakEnergy = 0.0;
  for (std::int64_t f = nFirst; f <= nLast; ++f) {
    const double* pCosines = CosinesOf(f);
    const double dNew = pCosines[nNew];
    if (dNew < kChangeScore ||
        (m_bOpen && !bRepeat && dNew < pCosines[m_nTemplate] + kChangeMargin) ||
        FeaturesOf(f).nWinner != nNew) {
      return;
    }
    dSum += dNew;
    dPeakEnergy = std::max(dPeakEnergy, FeaturesOf(f).dEnergy);
  }
  const double dScore = dSum / static_cast<double>(nLast - nFirst + 1);
  // Its attack lies no further back than kChangeBack, after the last onset, and, with no note
  // sounding, not before the last note ended.
  const std::int64_t nFrom =
      std::max({m_nLastOnsetFrame + kMinOnsetGap, nFirst - kChangeBack, m_bOpen ? 0 : m_nEndFrame});
  if (nFrom > nFirst) {
    return;
  }
  if (bRepeat) {
    // It starts where the sound was least, the middle of the quietest frame: its flux may
    // peak well into the swell.
    const double dDip = FeaturesOf(nDip).dEnergy;
    if (FeaturesOf(quietest(nMiddle, nLast)).dEnergy < kNewAttackRise * dDip ||
        dPeakEnergy < kChangeLoudness * m_dPeakEnergy) {
      return;
    }
    StartAfterChange(nFrame, highestFlux(nDip, nLast),
                     Start{nDip, kFftLen / 2.0, nNew, dScore, dPeakEnergy});
    return;
  }
  // The change began before the new note won: its attack, however weak, is the highest flux
  // in the frames before the first it won.
  const std::int64_t nOnset = highestFlux(nFrom, nFirst);
  if (m_bOpen) {
    if (TemplateCosine(m_templates[nNew], m_templates[m_nTemplate]) > kChangeAlike) {
      return;
    }
    if (nOnset < m_nLastOnsetFrame + kRenameFrames) {
      // So soon after the onset the note was named from frames that still held the note
      // before it (legato, or the same note just before): it is this one.
      Rename(nNew, dScore);
      return;
    }
  } else {
    // With no note sounding: not the tail of the note that ended (its template won just
    // before too), and the sound swells from before its onset and is loud enough.
    if (FeaturesOf(nFirst - 1).nWinner == nNew ||
        dPeakEnergy < kNewAttackRise * FeaturesOf(quietest(nFrom, nOnset)).dEnergy ||
        dPeakEnergy < kChangeLoudness * m_dPeakEnergy) {
      return;
    }
  }
  StartAfterChange(nFrame, nOnset, Start{nOnset, kOnsetLagSamples, nNew, dScore, dPeakEnergy});
}

void CRecognizer::StartAfterChange(std::int64_t nFrame, std::int64_t nAttack, const Start& start) {
  if (nAttack <= nFrame) {
    StartNote(start);
  } else {
    // An attack still ahead is first judged as one (its own rules name it, and a new attack
    // of the same note is seen only there); the change starts there only if it is not.
    m_pending = start;
    m_nPendingAt = nAttack;
  }
}

void CRecognizer::Rename(std::size_t nTemplate, double dScore) {
  m_nTemplate = nTemplate;
  m_current.nNote = m_templates[nTemplate].nNote;
  m_current.dScore = std::clamp(dScore, 0.0, 1.0);
  if (m_onStart) {
    m_onStart(m_current);
  }
}

void CRecognizer::StartNote(const Start& start) {
  const double dOnset = FrameSeconds(start.nFrame, start.dWithin);
  if (m_bOpen) {
    CloseNote(dOnset);
  }
  m_bOpen = true;
  m_nTemplate = start.nTemplate;
  m_current = RecognizedNote{dOnset, dOnset, m_templates[start.nTemplate].nNote,
                             std::clamp(start.dScore, 0.0, 1.0)};
  m_dPeakEnergy = start.dPeakEnergy;
  m_nLastOnsetFrame = start.nFrame;
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
