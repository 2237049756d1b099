// One randomized checker of the sample history, the segment detector, the training controller
// and the range rules. Its input is a libFuzzer input (built with SONAVEL_FUZZ_KIND: 0 engine,
// 1 range rules) or the endless seeded stream of `sonavel_check [--seconds N] [--seed S]`, which
// runs the engine over N seconds of sound (default 60), then 500 range inputs. Failures abort.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

#define CHECK(cond) ((cond) ? void() : Fail(#cond, __LINE__))
[[noreturn]] void Fail(const char* pszWhat, int nLine) {
  std::fprintf(stderr, "EngineCheck.cpp:%d: check failed: %s\n", nLine, pszWhat);
  std::abort();
}

// Bytes front to back, zeros past the end; or, with a seed, endless splitmix64 bytes.
struct CInput {
  const std::uint8_t* pData = nullptr;
  std::size_t nSize = 0, nPos = 0;
  std::uint64_t nSeed = 0;
  bool Empty() const { return nSeed == 0 && nPos >= nSize; }
  std::uint8_t Byte() {
    if (nSeed == 0) return nPos < nSize ? pData[nPos++] : 0;
    std::uint64_t z = (nSeed += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<std::uint8_t>(z ^ (z >> 31));
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  std::string Take(std::size_t nCount, std::string_view alphabet) {
    std::string text;
    while (text.size() < nCount && !Empty()) text += alphabet[Byte() % alphabet.size()];
    return text;
  }
};

constexpr std::int64_t kRing = kRingSize;
constexpr double kUlp = 1.0 / 16777216.0;  // 2^-24

bool Terminated(const char* p, std::size_t n) { return std::memchr(p, 0, n) != nullptr; }
bool In(std::int64_t v, std::int64_t lo, std::int64_t hi) { return v >= lo && v <= hi; }
void SetStandardNames() {
  for (int k = 0; k < kNoteCount; ++k) CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
}
bool IsZero(const NotePattern& p) {
  const NotePattern zero{};
  return std::memcmp(&p, &zero, sizeof p) == 0;
}
// A pattern is all zero, or whole bins 1 ... 256 with whole weights 0 ... 10.
void CheckPattern(const NotePattern& p) {
  for (int n = 0; n < kPeakCount && !IsZero(p); ++n) {
    CHECK(std::floor(p.fBin[n]) == p.fBin[n] && In(static_cast<int>(p.fBin[n]), 1, 256));
    CHECK(std::floor(p.fWeight[n]) == p.fWeight[n] && In(static_cast<int>(p.fWeight[n]), 0, 10));
  }
}

void CheckTexts() {
  CHECK(In(g_nLogLine, 0, kLogLines - 1) && In(g_nLogTop, 0, kLogLines - 1));
  CHECK(g_bLogScrolled == 1 || (g_bLogScrolled == 0 && g_nLogTop == 0));
  for (const auto& line : g_szLog) CHECK(Terminated(line, sizeof line));
  for (const auto& name : g_szNoteName) CHECK(Terminated(name, sizeof name));
  std::for_each(g_fPattern, g_fPattern + kNoteCount, CheckPattern);
  CHECK(Terminated(g_szMessage, sizeof g_szMessage) && Terminated(g_szPlotMode, 4) &&
        Terminated(g_szCurNoteText, 4) && Terminated(g_szExpectFreqText, 8));
  for (int n = 0; n < kPeakCount; ++n) CHECK(Terminated(g_szFreqText[n], 5));
}

void CheckPositions() {
  const std::int32_t nWrite = g_nWriteIndex.load(), nCross = g_nCrossPos.load();
  const std::int32_t nHistory = g_nHistoryState.load();
  CHECK(In(nWrite, 0, kRing) && In(nCross, 0, kRing - 1) && g_nEnergyPos == nCross);
  CHECK(In(nHistory, -1, 1) && (nHistory != -1 || (nWrite == 0 && nCross == 0)));
  CHECK(In(g_nSegStart, -1, kRingStorage - 1) && In(g_nSegEnd, -1, kRingStorage - 1) &&
        In(g_nSegFound, -1, 1) && In(g_nPlotStart, -1, kRingStorage) &&
        In(g_nPlotSegEnd, -1, kRingStorage) && In(g_nPlotEnd, -1, kRingStorage + kPlotExtension));
  CHECK(In(g_nTrainState.load(), -1, 4) && In(g_nRunState, 0, 3) && In(g_nCurNote, 0, kNoteCount) &&
        In(g_nFirstNote, 0, kNoteCount - 1));
  CHECK(g_nRunState != 2 || In(g_nCurNote, g_nFirstNote, g_nRangeLast));
}

std::vector<float> g_x(kRing);       // samples fed since the last reset, by ring position
std::vector<double> g_bound(kRing);  // E's rounding bound since that reset, by window

// Sound in operations from the input, a timer pass every 0.1 s of sound while the ticks are
// on; the note pattern dialog is answered from the input too.
class CEngine final : public CNotePatternPrompt, public CLogViewRedraw {
 public:
  CEngine(CInput& in, std::int64_t nMaxBuffers) : m_in(in), m_nMaxBuffers(nMaxBuffers) {
    SetNotePatternPrompt(this);
    SetLogViewRedraw(this);
    SetStandardNames();
    StartRun();
    while (!m_in.Empty() && m_nBuffers < m_nMaxBuffers) Operation();
    for (int k = 0; k < 3; ++k) Pass();
  }
  ~CEngine() override {
    SetNotePatternPrompt(nullptr);
    SetLogViewRedraw(nullptr);
  }

  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    CHECK(g_nTrainState.load() == -1 && m_nDepth == 1 && In(g_nCurNote, 0, kNoteCount - 1));
    CheckPattern(pattern);
    // A short segment's plot runs on by 1200 samples; a long one's shows what follows it.
    const bool bTwo = std::strcmp(g_szPlotMode, "2") == 0;
    CHECK(g_nPlotSegEnd - g_nPlotStart >= kLongSegmentLen
              ? bTwo || std::strcmp(g_szPlotMode, "1") == 0
              : bTwo && g_nPlotEnd == g_nPlotSegEnd + kPlotExtension);
    // The segment lies among the complete windows since the reset, its start before its end.
    const auto back = [](std::int64_t n) {
      return ((g_nCrossPos.load() - 1 - n) % kRing + kRing) % kRing;
    };
    CHECK(g_nPlotStart >= 0 && g_nPlotStart <= g_nPlotSegEnd &&
          back(g_nPlotSegEnd) <= back(g_nPlotStart) && back(g_nPlotStart) <= m_nAbs - kWindowLen);
    // While it is open, what arrives is dropped and a tick finds the note in hand.
    const std::uint8_t nAnswer = m_in.Byte();
    const std::int32_t nWrite = g_nWriteIndex.load(), nSegEnd = g_nSegEnd;
    std::int16_t s[kBufferLen];
    for (int j = 0; j < kBufferLen; ++j) s[j] = j % 16 < 8 ? 9000 : -9000;
    for (int k = (nAnswer >> 3) & 7; k > 0; --k) Buffer(s);
    if ((nAnswer & 0x40) != 0) Pass();
    CHECK(g_nWriteIndex.load() == nWrite && g_nSegEnd == nSegEnd && g_nTrainState.load() == -1);
    using enum NoteChoice;
    static constexpr NoteChoice kChoices[] = {Next, Next, Next, Replay, Back, Closed, Done, Next};
    m_choice = kChoices[nAnswer & 7];
    m_nAsked = g_nCurNote;
    m_pattern = pattern;
    return m_choice;
  }

  void RedrawLog() override { CHECK(In(g_nLogLine, 0, kLogLines - 1)); }

 private:
  // A new run over a range from the input, often up to the top note, now and then reversed.
  void StartRun() {
    ++m_nRuns;
    ResetForNewRun();
    int nLast = std::min(m_in.Byte() % 160, kTopNote),
        nFirst = std::max(0, nLast - m_in.Byte() % 32);
    if ((m_in.Byte() & 7) == 0) std::swap(nFirst, nLast);
    const bool bOk =
        AcceptRange(EditNoteText(g_szNoteName[nFirst]), EditNoteText(g_szNoteName[nLast]));
    CHECK(bOk == (nFirst <= nLast) && g_nRangeFirst == nFirst && g_nRangeLast == nLast);
    CHECK(!bOk || (g_nCurNote == nFirst && g_nFirstNote == nFirst));
    m_bCautioned = m_bDone = false;
    m_nCaution = bOk ? 1 + m_in.Byte() % 4 : 0;  // the pass on which it is acknowledged
    if (m_nCaution == 1) Pass();
  }

  void Pass() {
    if (++m_nDepth == 1 && m_nCaution > 0 && --m_nCaution == 0) {
      AcknowledgeCaution();
      m_bCautioned = true;
    }
    m_nAsked = -1;
    TrainingTimerPass();
    if (--m_nDepth == 0 && m_nAsked >= 0) CheckAnswer();
    CheckPositions();
    CheckTexts();
  }

  // After the pass that asked at note n: where the run went for the answer.
  void CheckAnswer() {
    const std::int32_t n = m_nAsked;
    const bool bEnd = g_nRunState == 3;
    m_bDone = m_bDone || m_choice == NoteChoice::Done;
    CHECK(g_nTrainState.load() == (m_bDone ? 3 : 0));
    if (m_choice == NoteChoice::Replay || m_choice == NoteChoice::Back) {
      const std::int32_t nWant = m_choice == NoteChoice::Replay ? n : std::max(n - 1, g_nFirstNote);
      CHECK(g_nCurNote == nWant && (!bEnd || nWant >= kTopNote));
      return;
    }
    CHECK(std::memcmp(&g_fPattern[n], &m_pattern, sizeof m_pattern) == 0);
    CHECK(bEnd == (n == g_nRangeLast || n >= kTopNote || m_choice == NoteChoice::Done));
    CHECK(g_nCurNote == (n >= kTopNote ? n : bEnd ? kNoteCount : n + 1));
    for (std::int32_t k = n + 1; bEnd && k < kNoteCount; ++k) CHECK(IsZero(g_fPattern[k]));
  }

  void Buffer(const std::int16_t* pSamples) {
    if (m_nBuffers++ >= m_nMaxBuffers) return;
    const std::int32_t nTrain = g_nTrainState.load();
    const std::int32_t nWrite = g_nWriteIndex.load(), nCross = g_nCrossPos.load();
    if (g_nHistoryState.load() == -1) m_nAbs = 0;
    ProcessBuffer(pSamples);
    if (nTrain == -1 || nTrain == 3) {
      CHECK(g_nWriteIndex.load() == nWrite && g_nCrossPos.load() == nCross);  // dropped
    } else {
      Track(pSamples);
      CheckHistory();
    }
    CheckPositions();
    if (m_bTicks && (m_nUnits += 5120) >= 11025) {  // in 1/110250 s
      m_nUnits -= 11025;
      Pass();
    }
  }

  // The samples as fed, and the bound on E's rounding: each float addition of the running
  // sum errs by at most half an ulp of its result.
  void Track(const std::int16_t* pSamples) {
    const float* const pfE = g_fEnergyRing;
    for (std::int64_t j = 0; j < kBufferLen; ++j) {
      const std::int64_t s = m_nAbs + j;
      const float v = static_cast<float>(pSamples[j]) * kSampleScale;
      g_x[static_cast<std::size_t>(s % kRing)] = v;
      if (s == kWindowLen - 1) {
        g_bound[0] = m_dBound = kWindowLen * kUlp * std::fabs(static_cast<double>(pfE[0]));
      } else if (s >= kWindowLen) {
        const auto t = static_cast<std::size_t>((s - kWindowLen + 1) % kRing);
        const float fSum = pfE[(t + kRing - 1) % kRing] + std::fabs(v);
        g_bound[t] = m_dBound +=
            kUlp * (std::fabs(static_cast<double>(fSum)) + std::fabs(static_cast<double>(pfE[t])));
      }
    }
    m_nAbs += kBufferLen;
  }

  // Every position at its offset from the samples taken since the reset; then the newest
  // complete window, the oldest whole one in the ring, and three at random.
  void CheckHistory() {
    const auto at = [this](std::int64_t d) {
      return static_cast<std::int32_t>((m_nAbs + d) % kRing);
    };
    const bool bFirst = m_nAbs == kBufferLen;
    CHECK(g_nWriteIndex.load() == at(-1) + 1 && g_nHistoryState.load() == (bFirst ? 0 : 1));
    CHECK(g_nCrossPos.load() == at(-511) && g_nEnergyTail == at(-512) && g_nOutPrev == at(-512) &&
          g_nOutCur == at(-511) && g_nOutPrev2 == (bFirst ? 0 : at(-513)));
    CHECK(g_nInCur == at(0) && g_nInPrev == at(-1) && g_nInPrev2 == at(-2));
    const std::int64_t nNewest = m_nAbs - kWindowLen;
    const std::int64_t nOldest = std::max<std::int64_t>(0, m_nAbs - kRing + 2);
    CheckWindow(nNewest);
    CheckWindow(nOldest);
    for (int k = 0; k < 3; ++k) {
      m_nPick = m_nPick * 6364136223846793005ULL + 1442695040888963407ULL;
      CheckWindow(nOldest +
                  static_cast<std::int64_t>((m_nPick >> 33) %
                                            static_cast<std::uint64_t>(nNewest - nOldest + 1)));
    }
  }

  float X(std::int64_t t) const { return t < 0 ? 0.0f : g_x[static_cast<std::size_t>(t % kRing)]; }

  // Window t (counted from the reset): the ring holds the samples fed, each ring equals its
  // mirror, Z is the crossing count made afresh, E the exact sum within its rounding bound.
  void CheckWindow(std::int64_t t) {
    const auto p = static_cast<std::size_t>(t % kRing);
    for (const float* pf : {g_fSampleRing, g_fZeroCrossRing, g_fEnergyRing}) {
      CHECK(std::memcmp(&pf[p], &pf[p + kRing], sizeof(float)) == 0);
    }
    int nCross = 0;
    double dSum = 0.0;
    for (std::int64_t u = t; u < t + kWindowLen; ++u) {
      const float fx = X(u), fPrev = X(u - 1);
      CHECK(std::memcmp(&g_fSampleRing[u % kRing], &fx, sizeof fx) == 0);
      dSum += std::fabs(static_cast<double>(fx));
      nCross += u > t && (fPrev != 0.0f ? fPrev : X(u - 2)) * fx < 0.0f ? 1 : 0;
    }
    CHECK(g_fZeroCrossRing[p] == static_cast<float>(nCross));
    CHECK(std::fabs(static_cast<double>(g_fEnergyRing[p]) - dSum) <= g_bound[p] + 1e-9);
  }

  // `nCount` buffers of a tone (30 Hz ... folded) with two harmonics, decaying by `dDecay`
  // per buffer, each followed by `nSilent` silent buffers.
  void Tone(std::uint8_t nPitch, double dAmp, int nCount, double dDecay, int nSilent = 0) {
    const double dStep = 6.283185307179586 * 30.0 * std::exp2(nPitch / 24.0) / kSampleRateHz;
    std::int16_t s[kBufferLen];
    for (int k = 0; k < nCount; ++k, dAmp *= dDecay) {
      for (int j = 0; j < kBufferLen; ++j) {
        m_dPhase = std::fmod(m_dPhase + dStep, 6.283185307179586);
        const double v =
            std::sin(m_dPhase) + 0.5 * std::sin(2 * m_dPhase) + 0.25 * std::sin(3 * m_dPhase);
        s[j] = static_cast<std::int16_t>(std::lround(dAmp * v / 1.75));
      }
      Buffer(s);
    }
    std::fill_n(s, kBufferLen, std::int16_t{0});
    for (int k = 0; k < nSilent; ++k) Buffer(s);
  }

  // Low 3 bits: what; bit 3: the timer ticks; the high bits shape it.
  void Operation() {
    const std::uint8_t nOp = m_in.Byte();
    const int nWhat = nOp & 7, nHigh = nOp >> 4, v = static_cast<std::int16_t>(m_in.U16());
    const int nPeriod = m_in.Byte(), nCount = m_in.Byte();
    const auto nPitch = static_cast<std::uint8_t>(nPeriod);
    std::uint32_t nNoise = 0x9E3779B9U ^ static_cast<std::uint32_t>(v);
    m_bTicks = (nOp & 8) != 0 || nWhat == 7;
    if (nWhat == 1) {  // a decaying note
      Tone(nPitch, (v & 0xFF) * 128.0, 1 + nCount % 32, 1.0 - nHigh / 40.0);
    } else if (nWhat == 2) {  // silence or a hum, with the high bit longer than the ring
      Tone(nPitch, (nHigh & 3) * 128.0, (1 + nCount % 64) * (nHigh >= 8 ? 8 : 1), 1.0);
    } else if (nWhat == 3) {  // timer ticks
      for (int k = 0; k <= nCount % 8; ++k) Pass();
    } else if (nWhat == 5) {  // a new run now and then, and whenever the run stands still
      const bool bNew = (nHigh < 4 || g_nTrainState.load() != 0) && m_nRuns < 3 + m_nBuffers / 64;
      bNew ? StartRun() : Pass();
    } else if (nWhat == 7) {  // notes played one after another with pauses
      for (int n = 0; n <= nCount % 64 && m_nBuffers < m_nMaxBuffers; ++n) {
        Tone(static_cast<std::uint8_t>(nPitch + n * (v & 0xFF)), 25600.0, 4 + nHigh, 0.8, 6);
      }
    } else {  // raw samples; noise; a constant, a full-scale square wave or lone clicks
      std::int16_t s[kBufferLen];
      for (int k = 0; k <= (nWhat == 0 ? 0 : nCount % 16); ++k) {
        for (int j = 0; j < kBufferLen; ++j) {
          const bool bHigh = nPeriod == 0 || (j / nPeriod) % 2 == 0;
          nNoise = nNoise * 1664525U + 1013904223U;
          s[j] = static_cast<std::int16_t>(nWhat == 0   ? m_in.U16()
                                           : nWhat == 4 ? static_cast<int>(nNoise >> 16) %
                                                              (1 + nPeriod * 128)
                                           : (nHigh & 1) != 0 ? (j % (nPeriod + 1) == 0 ? v : 0)
                                                              : (bHigh ? v : -1 - v));
        }
        Buffer(s);
      }
    }
    CHECK(g_nTrainState.load() == (!m_bCautioned ? -1 : m_bDone ? 3 : 0));
  }

  CInput& m_in;
  std::int64_t m_nMaxBuffers, m_nBuffers = 0, m_nAbs = 0;
  int m_nRuns = 0, m_nDepth = 0, m_nCaution = 0, m_nUnits = 0;
  bool m_bTicks = false, m_bCautioned = false, m_bDone = false;
  std::int32_t m_nAsked = -1;
  NoteChoice m_choice = NoteChoice::Next;
  NotePattern m_pattern{};
  double m_dBound = 0.0, m_dPhase = 0.0;
  std::uint64_t m_nPick = 1;
};

// The first `nChars` UTF-8 characters of `text` (continuation bytes in front go with the first).
std::string FirstChars(const std::string& text, std::size_t nChars) {
  std::size_t nStarts = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if ((static_cast<unsigned char>(text[k]) >> 6) != 2 && ++nStarts > nChars) {
      return text.substr(0, k);
    }
  }
  return text;
}

// A note text as the range rules keep it: up to its first NUL, at most 3 characters, the third
// only if '#', then as many whole characters as 3 bytes hold.
std::string Normalized(const std::string& text) {
  std::string cut = FirstChars(text.c_str(), 3);
  if (cut.substr(FirstChars(cut, 2).size()) != "#") cut = FirstChars(cut, 2);
  std::size_t nFit = std::min<std::size_t>(cut.size(), 3);
  while (nFit > 0 && nFit < cut.size() && (static_cast<unsigned char>(cut[nFit]) >> 6) == 2) {
    --nFit;
  }
  return cut.substr(0, nFit);
}

// One press of Ready with the two texts, against the dialog's rules.
void Attempt(const std::string& first, const std::string& last) {
  const std::int32_t nBefore = g_nRunState, nRangeFirstBefore = g_nRangeFirst;
  const std::string message = g_szMessage;
  const bool bStarted = AcceptRange(first, last);
  const std::int32_t nFirst = FindNoteIndex(g_szFirstNoteText);
  const std::int32_t nLast = FindNoteIndex(g_szLastNoteText);
  CHECK(Normalized(first) == g_szFirstNoteText && Normalized(last) == g_szLastNoteText);
  CHECK(g_nRunState >= nBefore && g_nRunState <= 3 && bStarted == (g_nRunState == 2));
  CHECK(g_nRunState != 0 || nFirst == -1);
  CHECK(g_nRunState != 1 || (nLast == -1 && (nBefore == 1 || g_nRangeFirst == nFirst)));
  CHECK(g_nRunState != 3 || g_nRangeFirst > g_nRangeLast);
  CHECK(nBefore != 1 || g_nRangeFirst == nRangeFirstBefore);  // not looked up again
  if (bStarted) {
    const char* pszName = g_szNoteName[g_nRangeFirst];
    CHECK(g_nRangeFirst <= g_nRangeLast && (nBefore == 2 || g_nRangeLast == nLast));
    CHECK(g_nCurNote == g_nRangeFirst && g_nFirstNote == g_nRangeFirst);
    CHECK(message == g_szLog[0] && std::strcmp(g_szLog[1], "...") == 0 &&
          std::strcmp(g_szLog[2], pszName) == 0 && std::strcmp(g_szMessage, pszName) == 0);
    CHECK(std::strncmp(g_szCurNoteText, pszName, 3) == 0);
  }
  CheckTexts();
}

// Flags (bits 0-1 attempts - 1, bit 2 odd note names, bit 3 texts as typed), then the texts.
void RunRange(CInput& in) {
  static constexpr std::string_view kLetters("CDEFGABHcab0123489#X\0\xc3\xa9\xe2\x99\xaf\xff", 27);
  const std::uint8_t nFlags = in.Byte();
  SetStandardNames();
  ResetRunData();
  InitNoteFrequencies();
  ResetLog();
  for (int k = (nFlags & 4) != 0 ? in.Byte() % 8 : 0; k > 0; --k) {
    const int nSlot = in.Byte() % kNoteCount;
    CopyText(g_szNoteName[nSlot], in.Take(in.Byte() % 24U, kLetters).c_str());
  }
  for (int k = 0; k <= (nFlags & 3); ++k) {
    std::string typed[2], edited[2];
    for (int i = 0; i < 2; ++i) {
      const std::uint8_t nText = in.Byte();  // a note name or up to 7 letters
      typed[i] =
          nText >= 128 ? StandardNoteName(nText % kNoteCount) : in.Take(nText % 8U, kLetters);
      edited[i] = EditNoteText(typed[i]);
      std::string upper = FirstChars(typed[i], 3);
      for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
      CHECK(edited[i] == upper);
      for (const std::string& text : {typed[i], edited[i]}) {
        char szCut[4] = {'Z', 'Z', 'Z', 'Z'};
        NormalizeNoteText(text.c_str(), szCut);
        CHECK(Terminated(szCut, sizeof szCut) && Normalized(text) == szCut);
        const std::int32_t nAt = FindNoteIndex(text.c_str());
        for (std::int32_t n = 0; n < (nAt == -1 ? kNoteCount : nAt + 1); ++n) {
          CHECK((n == nAt) == (std::strcmp(g_szNoteName[n], text.c_str()) == 0));
        }
      }
    }
    Attempt((nFlags & 8) != 0 ? typed[0] : edited[0], (nFlags & 8) != 0 ? typed[1] : edited[1]);
  }
}

}  // namespace

#ifdef SONAVEL_FUZZ_KIND
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  CInput in{pData, nSize};
  SONAVEL_FUZZ_KIND == 0 ? (void)CEngine(in, 1000) : RunRange(in);
  return 0;
}
#else
int main(int argc, char** argv) {
  double dSeconds = 60.0;
  unsigned long long nSeed = 1;
  for (int k = 1; k + 1 < argc; k += 2) {
    if (std::strcmp(argv[k], "--seconds") == 0) dSeconds = std::atof(argv[k + 1]);
    if (std::strcmp(argv[k], "--seed") == 0) nSeed = std::strtoull(argv[k + 1], nullptr, 10);
  }
  CInput in{nullptr, 0, 0, nSeed + 0x9E3779B97F4A7C15ULL};
  CEngine(in, static_cast<std::int64_t>(dSeconds * kSampleRateHz / kBufferLen));
  for (int k = 0; k < 500; ++k) RunRange(in);
  std::printf("sonavel_check seed %llu: %g s of sound, 500 range inputs, no violation\n", nSeed,
              dSeconds);
}
#endif
