// The sample history, the note segment detector and the training controller together, as a
// run drives them: captured buffers (raw bytes, tones, noise, silence, extreme values)
// interleaved with timer passes, the note pattern dialog answered from the input (while it is
// open, buffers arrive and are dropped, and timer ticks find the note being handled), and new
// runs started with other ranges. The shared state is checked after every step.
//
// Input: two bytes for the range (note indices), then operations (see RunOperation); the
// dialog's answers are taken from the same stream when it opens.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

constexpr int kMaxBuffers = 1000;  // per input, so that every input runs in bounded time
constexpr int kMaxPasses = 600;
constexpr int kMaxRuns = 3;

bool Terminated(const char* psz, std::size_t nSize) {
  return std::memchr(psz, '\0', nSize) != nullptr;
}

bool Whole(float f) { return std::floor(f) == f; }

void CheckPattern(const NotePattern& pattern) {
  bool bAllZero = true;
  for (int n = 0; n < kPeakCount; ++n) {
    bAllZero = bAllZero && pattern.fBin[n] == 0.0f && pattern.fWeight[n] == 0.0f;
  }
  if (bAllZero) {
    return;
  }
  for (int n = 0; n < kPeakCount; ++n) {
    FUZZ_CHECK(Whole(pattern.fBin[n]) && pattern.fBin[n] >= 1.0f && pattern.fBin[n] <= 256.0f);
    FUZZ_CHECK(Whole(pattern.fWeight[n]) && pattern.fWeight[n] >= 0.0f &&
               pattern.fWeight[n] <= 10.0f);
  }
}

// Positions and states: cheap enough for every buffer and pass.
void CheckPositions() {
  const std::int32_t nWrite = g_nWriteIndex.load();
  const std::int32_t nCross = g_nCrossPos.load();
  const std::int32_t nHistory = g_nHistoryState.load();
  FUZZ_CHECK(nWrite >= 0 && nWrite <= kRingSize);
  FUZZ_CHECK(nCross >= 0 && nCross < kRingSize);
  FUZZ_CHECK(nHistory >= -1 && nHistory <= 1);
  if (nHistory == -1) {
    FUZZ_CHECK(nWrite == 0 && nCross == 0);
  } else {
    // Every feature below i - 511 is complete, and no other.
    FUZZ_CHECK(nWrite >= kBufferLen && nWrite % kBufferLen == 0);
    FUZZ_CHECK(((nWrite - (kWindowLen - 1)) % kRingSize + kRingSize) % kRingSize == nCross);
  }
  FUZZ_CHECK(g_nSegFound >= -1 && g_nSegFound <= 1);
  FUZZ_CHECK(g_nSegStart >= -1 && g_nSegStart < kRingStorage);
  FUZZ_CHECK(g_nSegEnd >= -1 && g_nSegEnd < kRingStorage);
  const std::int32_t nTrain = g_nTrainState.load();
  FUZZ_CHECK(nTrain >= -1 && nTrain <= 4);
  FUZZ_CHECK(g_nRunState >= 0 && g_nRunState <= 3);
  FUZZ_CHECK(g_nCurNote >= 0 && g_nCurNote <= kNoteCount);
  FUZZ_CHECK(g_nFirstNote >= 0 && g_nFirstNote < kNoteCount);
  FUZZ_CHECK(g_nLogLine >= 0 && g_nLogLine < kLogLines);
  FUZZ_CHECK(g_nLogTop >= 0 && g_nLogTop < kLogLines);
  FUZZ_CHECK(g_bLogScrolled == 0 || g_bLogScrolled == 1);
  FUZZ_CHECK(g_nPlotStart >= -1 && g_nPlotStart < kRingStorage);
  FUZZ_CHECK(g_nPlotSegEnd >= -1 && g_nPlotSegEnd < kRingStorage);
  FUZZ_CHECK(g_nPlotEnd >= -1 && g_nPlotEnd < kRingStorage + kPlotExtension);
}

// Everything, after each operation.
void CheckAll() {
  CheckPositions();
  // Between passes the controller is idle (0) or stopped for good (3, Done).
  const std::int32_t nTrain = g_nTrainState.load();
  FUZZ_CHECK(nTrain == 0 || nTrain == 3);
  for (const auto& line : g_szLog) {
    FUZZ_CHECK(Terminated(line, sizeof line));
  }
  for (const auto& pattern : g_fPattern) {
    CheckPattern(pattern);
  }
  for (const auto& name : g_szNoteName) {
    FUZZ_CHECK(Terminated(name, sizeof name));
  }
  FUZZ_CHECK(Terminated(g_szMessage, sizeof g_szMessage));
  FUZZ_CHECK(Terminated(g_szCurNoteText, sizeof g_szCurNoteText));
  FUZZ_CHECK(Terminated(g_szExpectFreqText, sizeof g_szExpectFreqText));
  FUZZ_CHECK(Terminated(g_szPlotMode, sizeof g_szPlotMode));
  for (int n = 0; n < kPeakCount; ++n) {
    FUZZ_CHECK(Terminated(g_szFreqText[n], sizeof g_szFreqText[n]));
    FUZZ_CHECK(Terminated(g_szWeightText[n], sizeof g_szWeightText[n]));
  }
}

class CFuzzRun;

// The dialog: answers from the input; while it is open, buffers arrive and a tick fires.
class CFuzzPrompt final : public CNotePatternPrompt, public CLogViewRedraw {
 public:
  explicit CFuzzPrompt(CFuzzRun& run) : m_run(run) {}
  NoteChoice AskNoteChoice(const NotePattern& pattern) override;
  void RedrawLog() override {
    FUZZ_CHECK(g_nLogLine >= 0 && g_nLogLine < kLogLines);
    FUZZ_CHECK(g_nLogTop >= 0 && g_nLogTop < kLogLines);
  }

 private:
  CFuzzRun& m_run;
};

class CFuzzRun {
 public:
  explicit CFuzzRun(fuzz::CByteReader& input) : m_input(input), m_prompt(*this) {
    SetNotePatternPrompt(&m_prompt);
    SetLogViewRedraw(&m_prompt);
  }
  ~CFuzzRun() {
    SetNotePatternPrompt(nullptr);
    SetLogViewRedraw(nullptr);
  }
  CFuzzRun(const CFuzzRun&) = delete;
  CFuzzRun& operator=(const CFuzzRun&) = delete;

  // A new run with the range the next two bytes name.
  void StartRun() {
    ++m_nRuns;
    ResetForNewRun();
    int nFirst = m_input.Byte() % kNoteCount;
    int nLast = m_input.Byte() % kNoteCount;
    if (nFirst > nLast) {
      std::swap(nFirst, nLast);
    }
    FUZZ_CHECK(AcceptRange(EditNoteText(g_szNoteName[nFirst]), EditNoteText(g_szNoteName[nLast])));
    FUZZ_CHECK(g_nRangeFirst == nFirst && g_nRangeLast == nLast && g_nCurNote == nFirst);
    AcknowledgeCaution();
    CheckAll();
  }

  bool Exhausted() const { return m_nBuffers >= kMaxBuffers || m_nPasses >= kMaxPasses; }

  void Buffer(const std::int16_t* pSamples) {
    if (m_nBuffers >= kMaxBuffers) {
      return;
    }
    ++m_nBuffers;
    const std::int32_t nTrain = g_nTrainState.load();
    const std::int32_t nWrite = g_nWriteIndex.load();
    ProcessBuffer(pSamples);
    if (nTrain == -1 || nTrain == 3) {
      FUZZ_CHECK(g_nWriteIndex.load() == nWrite);  // dropped
    } else {
      FUZZ_CHECK(g_nWriteIndex.load() == (nWrite >= kRingSize ? 0 : nWrite) + kBufferLen);
    }
    CheckPositions();
    if (m_bTicks && (++m_nSinceTick == 2)) {
      m_nSinceTick = 0;
      Pass();
    }
  }

  void Pass() {
    if (m_nPasses >= kMaxPasses) {
      return;
    }
    ++m_nPasses;
    ++m_nDepth;
    TrainingTimerPass();
    --m_nDepth;
    CheckPositions();
  }

  // One operation: the low three bits choose it, bit 3 has a timer pass follow every second
  // buffer, the high bits shape it.
  void RunOperation() {
    const std::uint8_t nOp = m_input.Byte();
    m_bTicks = (nOp & 8) != 0;
    std::int16_t samples[kBufferLen];
    switch (nOp & 7) {
      case 0: {  // raw samples
        for (auto& nSample : samples) {
          nSample = static_cast<std::int16_t>(m_input.U16());
        }
        Buffer(samples);
        break;
      }
      case 1: {  // a tone, decaying
        SetTone(m_input.Byte(), m_input.Byte());
        const double dDecay = 1.0 - (nOp >> 4) / 40.0;
        for (int k = 1 + m_input.Byte() % 32; k > 0; --k) {
          ToneBuffer(samples);
          m_dAmplitude *= dDecay;
          Buffer(samples);
        }
        break;
      }
      case 2:  // silence
        std::memset(samples, 0, sizeof samples);
        for (int k = 1 + m_input.Byte() % 64; k > 0; --k) {
          Buffer(samples);
        }
        break;
      case 3:  // timer ticks
        for (int k = 1 + m_input.Byte() % 8; k > 0; --k) {
          Pass();
        }
        break;
      case 4: {  // noise
        std::uint32_t nState = 0x9E3779B9U ^ m_input.Byte();
        const int nAmplitude = 1 + m_input.Byte() * 128;
        for (int k = 1 + m_input.Byte() % 16; k > 0; --k) {
          for (auto& nSample : samples) {
            nState = nState * 1664525U + 1013904223U;
            nSample = static_cast<std::int16_t>(static_cast<int>(nState >> 16) % (2 * nAmplitude) -
                                                nAmplitude);
          }
          Buffer(samples);
        }
        break;
      }
      case 5:  // a new run
        if (m_nRuns < kMaxRuns) {
          StartRun();
        }
        break;
      case 6: {  // extremes: a constant, or a full-scale square wave of some period
        const auto nValue = static_cast<std::int16_t>(m_input.U16());
        const int nPeriod = m_input.Byte();
        for (int k = 1 + m_input.Byte() % 8; k > 0; --k) {
          for (int j = 0; j < kBufferLen; ++j) {
            const bool bHigh = nPeriod == 0 || ((j / nPeriod) & 1) == 0;
            samples[j] = bHigh ? nValue : static_cast<std::int16_t>(-1 - nValue);
          }
          Buffer(samples);
        }
        break;
      }
      default: {  // a sequence of played notes with pauses, the timer running
        m_bTicks = true;
        const int nNotes = 1 + m_input.Byte() % 64;
        const std::uint8_t nStep = m_input.Byte();
        const int nRing = 4 + (nOp >> 4);
        std::uint8_t nPitch = m_input.Byte();
        for (int n = 0; n < nNotes && !Exhausted(); ++n) {
          SetTone(nPitch, 200);
          for (int k = 0; k < nRing; ++k) {
            ToneBuffer(samples);
            m_dAmplitude *= 0.8;
            Buffer(samples);
          }
          std::memset(samples, 0, sizeof samples);
          for (int k = 0; k < 6; ++k) {
            Buffer(samples);
          }
          nPitch = static_cast<std::uint8_t>(nPitch + nStep);
        }
        break;
      }
    }
    CheckAll();
  }

  fuzz::CByteReader& Input() { return m_input; }
  int Depth() const { return m_nDepth; }

 private:
  void SetTone(std::uint8_t nPitch, std::uint8_t nLevel) {
    m_dFrequency = 30.0 * std::exp2(nPitch / 24.0);  // 30 Hz ... about 45 kHz (folded)
    m_dAmplitude = nLevel * 128.0;
  }

  void ToneBuffer(std::int16_t* pSamples) {
    const double dStep = 2.0 * 3.14159265358979323846 * m_dFrequency / kSampleRateHz;
    for (int j = 0; j < kBufferLen; ++j) {
      pSamples[j] = static_cast<std::int16_t>(std::lround(m_dAmplitude * std::sin(m_dPhase)));
      m_dPhase = std::fmod(m_dPhase + dStep, 2.0 * 3.14159265358979323846);
    }
  }

  fuzz::CByteReader& m_input;
  CFuzzPrompt m_prompt;
  int m_nRuns = 0;
  int m_nBuffers = 0;
  int m_nPasses = 0;
  int m_nDepth = 0;
  int m_nSinceTick = 0;
  bool m_bTicks = false;
  double m_dFrequency = 440.0;
  double m_dAmplitude = 0.0;
  double m_dPhase = 0.0;
};

NoteChoice CFuzzPrompt::AskNoteChoice(const NotePattern& pattern) {
  FUZZ_CHECK(g_nTrainState.load() == -1);
  FUZZ_CHECK(m_run.Depth() == 1);
  CheckPattern(pattern);
  FUZZ_CHECK(g_nCurNote >= 0 && g_nCurNote < kNoteCount);
  FUZZ_CHECK(Terminated(g_szPlotMode, sizeof g_szPlotMode));
  FUZZ_CHECK(std::strcmp(g_szPlotMode, "1") == 0 || std::strcmp(g_szPlotMode, "2") == 0);
  FUZZ_CHECK(g_nPlotStart >= 0 && g_nPlotStart <= g_nPlotSegEnd);

  const std::uint8_t nAnswer = m_run.Input().Byte();
  // What arrives while the dialog is open is dropped, and a tick finds the note in hand.
  std::int16_t samples[kBufferLen];
  for (int j = 0; j < kBufferLen; ++j) {
    samples[j] = static_cast<std::int16_t>((j % 16 < 8 ? 9000 : -9000));
  }
  const std::int32_t nWrite = g_nWriteIndex.load();
  const std::int32_t nSegEnd = g_nSegEnd;
  for (int k = (nAnswer >> 3) & 3; k > 0; --k) {
    m_run.Buffer(samples);
  }
  if ((nAnswer & 0x20) != 0) {
    TrainingTimerPass();
  }
  FUZZ_CHECK(g_nWriteIndex.load() == nWrite && g_nSegEnd == nSegEnd);
  FUZZ_CHECK(g_nTrainState.load() == -1);

  static constexpr NoteChoice kChoices[] = {NoteChoice::Next, NoteChoice::Replay, NoteChoice::Done,
                                            NoteChoice::Back, NoteChoice::Closed};
  return kChoices[(nAnswer & 7) % 5];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  static const bool bNames = [] {
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    return true;
  }();
  (void)bNames;

  fuzz::CByteReader input(pData, nSize);
  CFuzzRun run(input);
  run.StartRun();
  while (!input.Empty() && !run.Exhausted()) {
    run.RunOperation();
  }
  // A few closing ticks, as the run ends.
  for (int k = 0; k < 3; ++k) {
    run.Pass();
  }
  CheckAll();
  return 0;
}

namespace fuzz {

std::vector<Bytes> SeedCorpus() {
  std::vector<Bytes> seeds;
  // Notes played one after another over a range, with various answers.
  for (const int nAnswer : {0, 1, 2, 3, 4, 0x08, 0x2B, 0x39}) {
    Bytes bytes{48, 59};  // C4 ... B4
    for (int n = 0; n < 14; ++n) {
      bytes.push_back(0x79);  // tone with ticks
      bytes.push_back(static_cast<std::uint8_t>(80 + 2 * n));
      bytes.push_back(250);
      bytes.push_back(12);
      bytes.push_back(0x0A);  // silence with ticks
      bytes.push_back(8);
      bytes.push_back(static_cast<std::uint8_t>(nAnswer + n % 2));  // the dialog's answer
    }
    seeds.push_back(bytes);
  }
  // Long note sequences: the ring wraps, the log scrolls, the top of the range is reached.
  seeds.push_back({0, 107, 0x07, 63, 24, 0, 0x17, 63, 5, 40});
  seeds.push_back({100, 107, 0x37, 30, 1, 100});
  seeds.push_back({12, 72, 0x27, 63, 7, 30, 0x05, 12, 13, 0x07, 20, 3, 90});
  seeds.push_back(
      {12,   72, 0x02, 63, 0x02, 63, 0x02, 63, 0x02, 63, 0x02, 63,
       0x02, 63, 0x02, 63, 0x0B, 7,  0x07, 10, 9,    60});  // silence past a ring's length
  // Noise, extremes, raw samples.
  seeds.push_back({20, 30, 0x0C, 1, 255, 15, 0x0A, 20, 0x0C, 7, 40, 15, 0x0B, 7});
  seeds.push_back({20, 30, 0x0E, 0xFF, 0x7F, 0, 7, 0x0E, 0x00, 0x80, 1, 7, 0x0B, 7});
  seeds.push_back({20, 30, 0x0E, 0x00, 0x00, 0, 7, 0x0E, 0x01, 0x00, 3, 7, 0x03, 7});
  {
    Bytes bytes{5, 9, 0x08};
    for (int j = 0; j < kBufferLen; ++j) {
      AppendLe(bytes, static_cast<std::uint16_t>(j % 3 == 0 ? 0 : (j % 2 ? 30000 : -30000)), 2);
    }
    bytes.push_back(0x03);
    bytes.push_back(7);
    seeds.push_back(bytes);
  }
  seeds.push_back({});                                                        // nothing at all
  seeds.push_back({7});                                                       // one byte
  seeds.push_back({107, 0, 0x05, 3, 3, 0x05, 9, 8, 0x05, 1, 1, 0x05, 2, 2});  // new runs
  return seeds;
}

}  // namespace fuzz
