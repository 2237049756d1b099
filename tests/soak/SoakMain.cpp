// sonavel_soak: drives the sample history, the note segment detector and the training
// controller through a long stretch of virtual audio and checks their invariants throughout.
//
//   sonavel_soak [--seconds N (default 60)] [--seed S (default 1)]
//
// Time runs as in sonavel-train: a 512-sample buffer completes every 512/11025 s, a timer
// pass runs every 0.1 s, a buffer first when both fall together. The sound is a random mix
// of decaying notes, sustained tones, noise, silence, clipped bursts, lone clicks and long
// quiet stretches over which the ring wraps. Dialogs stay open a random time (the buffers
// arriving meanwhile are dropped) and are answered at random; runs restart at random.
//
// Checked after every buffer and pass: every position within its range, the states within
// theirs, the log ring (current and top line within it, every line terminated). After every
// buffer, at the newest complete window and at random ones of the current lap: the sample
// ring holds what was fed since the last reset, each ring equals its mirror half, Z equals
// the crossing count worked out afresh, and E differs from the exact sum of |x| by at most
// the rounding bound of its running update since the reset,
//   B(t) = 2^-24 * (512 * E(0) + sum over s = 1 ... t of (|E(s-1) + |x(s+511)|| + |E(s)|)),
// each float addition erring by at most half an ulp of its result.
//
// Prints one summary line; exits 1 at the first violation (described), 2 on bad arguments.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

constexpr std::int64_t kUnitsPerBuffer = 5120;  // virtual time in 1/110250 s
constexpr std::int64_t kUnitsPerTick = 11025;
constexpr std::int64_t kRing = kRingSize;
constexpr double kUlp = 1.0 / 16777216.0;  // 2^-24

struct Stats {
  long long nBuffers = 0, nDropped = 0, nPasses = 0, nDialogs = 0, nRestarts = 0;
  long long nResets = 0, nWraps = 0, nChecks = 0, nLongestLap = 0;
  long long nChoices[5] = {};
  double dMaxError = 0.0, dMaxBound = 0.0, dMaxShare = 0.0;
};

class CSoak final : public CNotePatternPrompt {
 public:
  explicit CSoak(std::uint32_t nSeed) : m_rng(nSeed), m_x(kRing), m_bound(kRing) {}

  bool Run(double dSeconds) {
    const auto nBuffers = static_cast<std::int64_t>(dSeconds * kSampleRateHz / kBufferLen);
    Restart();
    while (m_nBuffer < nBuffers && Step(INT64_MAX)) {
      // A run that was refused, finished or ended with Done restarts within 10 s.
      const bool bStalled = m_nCautionTick < 0 || g_nTrainState.load() == 3 || g_nRunState == 3;
      if (bStalled && m_nNextRestart > m_nTick + 100) {
        m_nNextRestart = m_nTick + static_cast<std::int64_t>(m_rng() % 100);
      }
      if (m_nTick > m_nNextRestart) {
        Restart();
      }
    }
    return m_error.empty();
  }

  NoteChoice AskNoteChoice(const NotePattern& /*pattern*/) override {
    ++m.nDialogs;
    if (g_nTrainState.load() != -1) {
      Fail("a dialog opened with train state " + std::to_string(g_nTrainState.load()));
    }
    // Open for up to 2 s; whatever arrives meanwhile is dropped, passes do nothing.
    Step(Now() + static_cast<std::int64_t>(m_rng() % (2 * kUnitsPerTick * 10)));
    const auto nPick = m_rng() % 100;
    const NoteChoice choice = nPick < 55   ? NoteChoice::Next
                              : nPick < 70 ? NoteChoice::Replay
                              : nPick < 82 ? NoteChoice::Back
                              : nPick < 85 ? NoteChoice::Done
                                           : NoteChoice::Closed;
    ++m.nChoices[static_cast<int>(choice)];
    return choice;
  }

  const Stats& Figures() const { return m; }
  const std::string& Error() const { return m_error; }
  double Seconds() const { return static_cast<double>(m_nBuffer) * kBufferLen / kSampleRateHz; }

 private:
  std::int64_t Now() const {
    return std::min((m_nBuffer + 1) * kUnitsPerBuffer, m_nTick * kUnitsPerTick);
  }

  // Dispatches events in time order until `nUntil` (exclusive); false after a violation.
  bool Step(std::int64_t nUntil) {
    while (m_error.empty() && Now() < nUntil) {
      if ((m_nBuffer + 1) * kUnitsPerBuffer <= m_nTick * kUnitsPerTick) {
        FeedBuffer();
        if (nUntil == INT64_MAX) {
          return m_error.empty();  // the outer loop counts buffers
        }
      } else {
        ++m_nTick;
        ++m.nPasses;
        if (++m_nDepth == 1 && m_nTick == m_nCautionTick) {
          AcknowledgeCaution();
        }
        TrainingTimerPass();
        --m_nDepth;
        if (g_nHistoryState.load() == -1 && m_nAbs > 0) {
          ++m.nResets;  // the controller reset the history after a note
          m_nAbs = 0;
        }
        CheckPositions();
        CheckLog();
      }
    }
    return m_error.empty();
  }

  // A new run: everything reset, a random range (sometimes one that is refused), the
  // caution acknowledged a little later.
  void Restart() {
    ++m.nRestarts;
    ResetForNewRun();
    m_nAbs = 0;
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    const int nFirst = static_cast<int>(m_rng() % kNoteCount);
    const int nLast = m_rng() % 8 == 0
                          ? static_cast<int>(m_rng() % kNoteCount)
                          : std::min(kNoteCount - 1, nFirst + static_cast<int>(m_rng() % 30));
    m_nCautionTick = AcceptRange(g_szNoteName[nFirst], g_szNoteName[nLast])
                         ? m_nTick + 1 + static_cast<std::int64_t>(m_rng() % 20)
                         : -1;
    m_nNextRestart = m_nTick + 1 + static_cast<std::int64_t>(m_rng() % 1200);
  }

  // --- The sound --------------------------------------------------------------------

  std::int16_t NextSample() {
    if (m_nLeft == 0) {
      NewSegment();
    }
    --m_nLeft;
    const double t = static_cast<double>(m_nPos++) / kSampleRateHz;
    double v = 0.0;
    switch (m_nKind) {
      case 0:  // a decaying note with harmonics
        v = m_dAmp * std::exp(-m_dDecay * t) *
            (std::sin(m_dPhase * t) + 0.5 * std::sin(2 * m_dPhase * t) +
             0.25 * std::sin(3 * m_dPhase * t));
        break;
      case 1:  // silence
        break;
      case 2:  // noise
        v = m_dAmp * (static_cast<double>(m_rng() % 20001) / 10000.0 - 1.0);
        break;
      case 3:  // full scale
        v = std::sin(m_dPhase * t) >= 0.0 ? 32767.0 : -32768.0;
        break;
      case 4:  // lone clicks among zeros
        v = m_rng() % 97 == 0 ? m_dAmp * (m_rng() % 2 == 0 ? 1.0 : -1.0) : 0.0;
        break;
      default:  // a quiet hum or a sustained tone
        v = m_dAmp * std::sin(m_dPhase * t);
        break;
    }
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
  }

  void NewSegment() {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double p = unit(m_rng);
    double dSeconds = 0.0;
    m_nPos = 0;
    m_dPhase = 2 * 3.14159265358979 * (60.0 + 3000.0 * unit(m_rng) * unit(m_rng));
    m_dDecay = 0.5 + 5.0 * unit(m_rng);
    m_dAmp = 1000.0 + 19000.0 * unit(m_rng);
    if (p < 0.40) {
      m_nKind = 0;
      dSeconds = 0.2 + 2.3 * unit(m_rng);
    } else if (p < 0.58) {
      m_nKind = 1;
      dSeconds = 0.05 + 3.0 * unit(m_rng);
    } else if (p < 0.73) {
      m_nKind = 2;
      m_dAmp = 3000.0 * unit(m_rng);
      dSeconds = 0.2 + 3.0 * unit(m_rng);
    } else if (p < 0.78) {
      m_nKind = 3;
      dSeconds = 0.05 + unit(m_rng);
    } else if (p < 0.86) {
      m_nKind = 4;
      dSeconds = 0.5 + 3.0 * unit(m_rng);
    } else if (p < 0.95) {
      m_nKind = 5;
      m_dAmp = 300.0 * unit(m_rng);
      dSeconds = 20.0 + 25.0 * unit(m_rng);
    } else {
      m_nKind = 5;
      dSeconds = 5.0 + 25.0 * unit(m_rng);
    }
    m_nLeft = std::max<std::int64_t>(1, static_cast<std::int64_t>(dSeconds * kSampleRateHz));
  }

  // --- One buffer and the history's invariants ---------------------------------------

  void FeedBuffer() {
    std::int16_t buffer[kBufferLen];
    for (std::int16_t& v : buffer) {
      v = NextSample();
    }
    ++m_nBuffer;
    ++m.nBuffers;
    const std::int32_t nTrain = g_nTrainState.load();
    const std::int32_t nWrite = g_nWriteIndex.load();
    const std::int32_t nCross = g_nCrossPos.load();
    ProcessBuffer(buffer);
    if (nTrain == -1 || nTrain == 3) {
      ++m.nDropped;
      if (g_nWriteIndex.load() != nWrite || g_nCrossPos.load() != nCross) {
        Fail("a buffer was taken with train state " + std::to_string(nTrain));
      }
      CheckPositions();
      return;
    }
    const float* const pfE = g_fEnergyRing;
    for (std::int32_t j = 0; j < kBufferLen; ++j) {
      const std::int64_t s = m_nAbs + j;
      const float v = static_cast<float>(buffer[j]) * kSampleScale;
      m_x[static_cast<std::size_t>(s % kRing)] = v;
      if (s == kWindowLen - 1) {
        m_dBound = kWindowLen * kUlp * std::fabs(static_cast<double>(pfE[0]));
        m_bound[0] = m_dBound;
      } else if (s >= kWindowLen) {
        const auto t = static_cast<std::size_t>((s - kWindowLen + 1) % kRing);
        const std::size_t tPrev = (t + kRing - 1) % kRing;
        const float fSum = pfE[tPrev] + std::fabs(v);
        m_dBound +=
            kUlp * (std::fabs(static_cast<double>(fSum)) + std::fabs(static_cast<double>(pfE[t])));
        m_bound[t] = m_dBound;
      }
    }
    m_nAbs += kBufferLen;
    if (m_nAbs > kBufferLen && (m_nAbs - kBufferLen) % kRing == 0) {
      ++m.nWraps;
    }
    m.nLongestLap = std::max<long long>(m.nLongestLap, m_nAbs);
    m.dMaxBound = std::max(m.dMaxBound, m_dBound);
    const std::int32_t nWantWrite = static_cast<std::int32_t>((m_nAbs - 1) % kRing + 1);
    const std::int32_t nWantCross = static_cast<std::int32_t>((m_nAbs - kWindowLen + 1) % kRing);
    if (g_nWriteIndex.load() != nWantWrite || g_nCrossPos.load() != nWantCross ||
        g_nHistoryState.load() != (m_nAbs == kBufferLen ? 0 : 1)) {
      Fail("history positions " + std::to_string(g_nWriteIndex.load()) + "/" +
           std::to_string(g_nCrossPos.load()) + " after " + std::to_string(m_nAbs) +
           " samples since the reset");
    }
    // The newest complete window, the first of the lap and a few random ones.
    const std::int64_t nNewest = m_nAbs - kWindowLen;
    const std::int64_t nOldest = std::max<std::int64_t>(0, m_nAbs - kRing + 2);
    CheckWindow(nNewest);
    CheckWindow(nOldest);
    for (int k = 0; k < 3; ++k) {
      CheckWindow(nOldest + static_cast<std::int64_t>(
                                m_rng() % static_cast<std::uint64_t>(nNewest - nOldest + 1)));
    }
    CheckPositions();
  }

  float X(std::int64_t t) const { return t < 0 ? 0.0f : m_x[static_cast<std::size_t>(t % kRing)]; }

  // Window `t` (counted from the last reset) against the samples fed since then.
  void CheckWindow(std::int64_t t) {
    ++m.nChecks;
    const auto p = static_cast<std::size_t>(t % kRing);
    for (const float* pfRing : {g_fSampleRing, g_fZeroCrossRing, g_fEnergyRing}) {
      if (std::memcmp(&pfRing[p], &pfRing[p + kRing], sizeof(float)) != 0) {
        return Fail("a ring differs from its mirror at " + std::to_string(p));
      }
    }
    const float fWant = X(t);
    if (std::memcmp(&g_fSampleRing[p], &fWant, sizeof fWant) != 0) {
      return Fail("sample ring at " + std::to_string(p) + " is not the sample fed");
    }
    int nCross = 0;
    double dSum = 0.0;
    for (std::int64_t u = t; u < t + kWindowLen; ++u) {
      dSum += std::fabs(static_cast<double>(X(u)));
      const float fPrev = X(u - 1);
      if (u > t && (fPrev != 0.0f ? fPrev : X(u - 2)) * X(u) < 0.0f) {
        ++nCross;
      }
    }
    if (g_fZeroCrossRing[p] != static_cast<float>(nCross)) {
      return Fail("Z at " + std::to_string(p) + " is " + std::to_string(g_fZeroCrossRing[p]) +
                  ", counted afresh " + std::to_string(nCross));
    }
    const double dError = std::fabs(static_cast<double>(g_fEnergyRing[p]) - dSum);
    m.dMaxError = std::max(m.dMaxError, dError);
    if (m_bound[p] > 0.0) {
      m.dMaxShare = std::max(m.dMaxShare, dError / m_bound[p]);
    }
    if (dError > m_bound[p] + 1e-9) {
      Fail("E at " + std::to_string(p) + " is off the fresh sum " + std::to_string(dSum) + " by " +
           std::to_string(dError) + ", beyond its bound " + std::to_string(m_bound[p]));
    }
  }

  void CheckPositions() {
    const auto within = [](std::int64_t v, std::int64_t lo, std::int64_t hi) {
      return v >= lo && v <= hi;
    };
    const std::int32_t nRingPos[] = {g_nEnergyTail, g_nOutPrev, g_nOutCur, g_nOutPrev2,
                                     g_nInCur,      g_nInPrev,  g_nInPrev2};
    bool bOk = within(g_nWriteIndex.load(), 0, kRing) && within(g_nCrossPos.load(), 0, kRing - 1) &&
               g_nEnergyPos == g_nCrossPos.load() && within(g_nHistoryState.load(), -1, 1);
    for (const std::int32_t nPos : nRingPos) {
      bOk = bOk && within(nPos, -1, kRing - 1);
    }
    bOk = bOk && within(g_nSegStart, -1, kRingStorage - 1) &&
          within(g_nSegEnd, -1, kRingStorage - 1) && within(g_nSegFound, -1, 1) &&
          within(g_nPlotStart, -1, kRingStorage) && within(g_nPlotSegEnd, -1, kRingStorage) &&
          within(g_nPlotEnd, -1, kRingStorage + kPlotExtension) &&
          within(g_nTrainState.load(), -1, 4) && within(g_nRunState, 0, 3) &&
          within(g_nCurNote, 0, kNoteCount) && within(g_nFirstNote, 0, kNoteCount - 1);
    if (!bOk) {
      Fail("a position or state out of range: write " + std::to_string(g_nWriteIndex.load()) +
           " seg " + std::to_string(g_nSegStart) + ".." + std::to_string(g_nSegEnd) + " plot " +
           std::to_string(g_nPlotStart) + ".." + std::to_string(g_nPlotEnd) + " note " +
           std::to_string(g_nCurNote));
    }
  }

  void CheckLog() {
    if (!(g_nLogLine >= 0 && g_nLogLine < kLogLines && g_nLogTop >= 0 && g_nLogTop < kLogLines &&
          (g_bLogScrolled == 1 || (g_bLogScrolled == 0 && g_nLogTop == 0)))) {
      return Fail("log line " + std::to_string(g_nLogLine) + " top " + std::to_string(g_nLogTop));
    }
    for (int k = 0; k < kLogLines; ++k) {
      if (std::memchr(g_szLog[k], '\0', kLogLineSize) == nullptr) {
        return Fail("log line " + std::to_string(k) + " is not terminated");
      }
    }
    for (const NotePattern& pattern : g_fPattern) {
      for (int n = 0; n < kPeakCount; ++n) {
        if (!(pattern.fBin[n] >= 0.0f && pattern.fBin[n] <= 512.0f && pattern.fWeight[n] >= 0.0f &&
              pattern.fWeight[n] <= 10.0f)) {
          return Fail("a pattern value out of range");
        }
      }
    }
  }

  void Fail(const std::string& what) {
    if (m_error.empty()) {
      char szAt[48];
      std::snprintf(szAt, sizeof szAt, "at %.3f s virtual: ", Seconds());
      m_error = szAt + what;
    }
  }

  std::mt19937 m_rng;
  std::vector<float> m_x;       // samples since the last reset, by window position
  std::vector<double> m_bound;  // the energy's error bound, by window position
  double m_dBound = 0.0;
  std::int64_t m_nAbs = 0;  // samples taken since the last reset
  std::int64_t m_nBuffer = 0;
  std::int64_t m_nTick = 1;
  std::int64_t m_nCautionTick = -1;
  std::int64_t m_nNextRestart = 0;
  int m_nDepth = 0;
  int m_nKind = 1;
  std::int64_t m_nLeft = 0, m_nPos = 0;
  double m_dPhase = 0.0, m_dDecay = 0.0, m_dAmp = 0.0;
  Stats m;
  std::string m_error;
};

}  // namespace

int main(int argc, char** argv) {
  double dSeconds = 60.0;
  unsigned long nSeed = 1;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    char* pEnd = nullptr;
    if (arg == "--seconds" && k + 1 < argc) {
      dSeconds = std::strtod(argv[++k], &pEnd);
    } else if (arg == "--seed" && k + 1 < argc) {
      nSeed = std::strtoul(argv[++k], &pEnd, 10);
    }
    if (pEnd == nullptr || *pEnd != '\0' || !(dSeconds > 0.0 && dSeconds < 1e7)) {
      std::fprintf(stderr, "usage: sonavel_soak [--seconds N] [--seed S]\n");
      return 2;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  CSoak soak(static_cast<std::uint32_t>(nSeed));
  SetNotePatternPrompt(&soak);
  const bool bOk = soak.Run(dSeconds);
  SetNotePatternPrompt(nullptr);
  const double dWall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Stats& m = soak.Figures();
  std::printf(
      "soak seed %lu: %.1f s virtual in %.1f s wall; %lld buffers (%lld dropped), %lld passes, "
      "%lld dialogs (N %lld R %lld D %lld B %lld X %lld), %lld runs, %lld history resets, "
      "%lld ring wraps (longest lap %.1f s), %lld window checks, E error max %.3g "
      "(bound max %.3g, at most %.1f%% of its bound); %s\n",
      nSeed, soak.Seconds(), dWall, m.nBuffers, m.nDropped, m.nPasses, m.nDialogs, m.nChoices[0],
      m.nChoices[1], m.nChoices[2], m.nChoices[3], m.nChoices[4], m.nRestarts, m.nResets, m.nWraps,
      static_cast<double>(m.nLongestLap) / kSampleRateHz, m.nChecks, m.dMaxError, m.dMaxBound,
      100.0 * m.dMaxShare, bOk ? "0 violations" : "VIOLATION");
  if (!bOk) {
    std::fprintf(stderr, "sonavel_soak: %s\n", soak.Error().c_str());
    return 1;
  }
  return 0;
}
