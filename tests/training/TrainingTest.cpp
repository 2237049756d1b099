// Note tables, range rules, the answers of the note pattern dialog, the note plot and the
// training controller.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "analysis/Pitch.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/AutoAnswer.h"
#include "training/NotePlot.h"
#include "training/PatternConfirmation.h"
#include "training/RangeValidation.h"

namespace {

constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};
std::vector<std::string> Names() { return {std::begin(g_szNoteName), std::end(g_szNoteName)}; }

std::vector<std::string> StandardNames() {  // written out apart from the code
  std::vector<std::string> names;
  for (char octave = '0'; octave <= '8'; ++octave) {
    for (const char* psz : {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}) {
      names.push_back(std::string{psz[0], octave} + (psz + 1));
    }
  }
  return names;
}

// Loads a file of exactly `bytes` over stale names.
void Load(const std::string& bytes) {
  for (auto& slot : g_szNoteName) CopyText(slot, "stale");
  const std::string path = testing::TempDir() + "sonavel-names.txt";
  std::ofstream(path, std::ios::binary) << bytes;
  ASSERT_TRUE(LoadNoteNamesFrom(path));
  std::remove(path.c_str());
}

TEST(NoteTablesTest, NamesFiles) {
  std::string lf, crlf;
  for (int k = 0; k < kNoteCount; ++k) {
    lf += "n" + std::to_string(k) + "\n";
    crlf += "n" + std::to_string(k) + "\r\n";
  }
  Load(crlf);
  const std::vector<std::string> fromCrLf = Names();
  Load(lf);
  EXPECT_TRUE(Names() == fromCrLf && fromCrLf[107] == "n107");
  // The whole line cut to 19 (a trailing space and an inner CR kept); an early end takes
  // the standard names.
  auto expected = StandardNames();
  for (const char* psz : {"C4 \nABCDEFGHIJKLMNOPQRSTUVWXYZ\r\nD\rE\n\nX",
                          "C4 \nABCDEFGHIJKLMNOPQRSTUVWXYZ\r\nD\rE\n\nX\n"}) {
    Load(psz);
    auto names = StandardNames();
    names.erase(names.begin(), names.begin() + 5);
    names.insert(names.begin(), {"C4 ", "ABCDEFGHIJKLMNOPQRS", "D\rE", "", "X"});
    EXPECT_EQ(Names(), names);
  }
  testing::internal::CaptureStdout();
  LoadNoteNames();  // the shipped file in the current folder
  EXPECT_EQ(Names(), expected);
  EXPECT_FALSE(LoadNoteNamesFrom(testing::TempDir() + "no-such-folder/names.txt"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "The file  was not opened\n");
  EXPECT_EQ(Names(), expected);
}

// Each expected frequency is the equal-tempered one (A4 = 440 Hz), cut down or rounded;
// G0 and G2 are the two that are neither.
TEST(NoteTablesTest, ExpectedFrequencies) {
  InitNoteFrequencies();
  for (int k = 0; k < kNoteCount; ++k) {
    const double f = 440.0 * std::pow(2.0, (k - 57) / 12.0);
    const int n = g_nNoteFreq[k];
    if (k == 7 || k == 31) {
      EXPECT_EQ(n, k == 7 ? 25 : 95);
    } else {
      EXPECT_TRUE(n == static_cast<int>(f) || n == std::lround(f)) << k << ": " << n << " " << f;
    }
  }
  EXPECT_TRUE(g_nNoteFreq[48] == 261 && g_nNoteFreq[71] == 987 && g_nNoteFreq[57] == 440);
}

TEST(NoteTablesTest, LogScrollsOnceTheViewIsFullAndWraps) {
  CopyText(g_szLog[0], ">>>Play ");
  CopyText(g_szLog[1999], "old");
  g_nLogLine = g_nLogTop = g_bLogScrolled = 1;
  ResetLog();
  EXPECT_TRUE(std::string(g_szLog[0]) == ">>>Play " && g_szLog[1999][0] == '\0');
  for (int n = 0; n < 31; ++n) AdvanceLogLine(1);
  EXPECT_TRUE(g_nLogLine == 33 && g_nLogTop == 0 && g_bLogScrolled == 0);
  AdvanceLogLine(1);  // line 34 is the first below the view
  AdvanceLogLine(2);
  EXPECT_TRUE(g_nLogLine == 35 && g_nLogTop == 3 && g_bLogScrolled == 1);
  for (const auto& [nStep, nLine, nTop] : {std::tuple{1, 0, 0}, {2, 0, 1}}) {
    g_nLogLine = g_nLogTop = 1999;
    AdvanceLogLine(nStep);
    EXPECT_TRUE(g_nLogLine == nLine && g_nLogTop == nTop) << nStep;
  }
}

TEST(NoteTablesTest, TextCopiesStayInsideTheirBuffers) {
  char buffer[8];
  const auto bytes = [&] { return std::string(buffer, sizeof buffer); };
  std::memset(buffer, '#', sizeof buffer);
  CopyText(buffer, 4, "ABCDEFG");
  EXPECT_EQ(bytes(), std::string("ABC\0####", 8));
  CopyText(buffer, 4, "C1");
  AppendText(buffer, 4, "-OK-");
  AppendText(buffer, 4, "x");
  EXPECT_EQ(bytes(), std::string("C1-\0####", 8));
}

class RangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCoreForTest(); }
};

// Each press of Ready after a rejection starts from run state 0.
TEST_F(RangeTest, RulesAndRejectedAttempts) {
  const std::tuple<const char*, const char*, bool, int, int, int> kCases[] = {
      {"C6", "C1", false, 3, 72, 12},  // reversed: both positions follow the typed notes
      {"H2", "C9", false, 0, 72, 12},  // an unknown first note stops the lookup
      {"D2", "C9", false, 1, 26, 12}, {"E4#", "E5", false, 0, 26, 12},  // no E sharp
      {"B8", "C0", false, 3, 107, 0}, {"A4", "A4", true, 2, 57, 57},    // a range of one note
  };
  for (const auto& [pszFirst, pszLast, bOk, nState, nFirst, nLast] : kCases) {
    SCOPED_TRACE(std::string(pszFirst) + "-" + pszLast);
    g_nRunState = 0;
    EXPECT_EQ(AcceptRange(pszFirst, pszLast), bOk);
    EXPECT_TRUE(g_nRangeFirst == nFirst && g_nRangeLast == nLast && (bOk || g_nRunState == nState));
    EXPECT_STREQ(g_szLog[2], bOk ? pszFirst : "");
  }
  EXPECT_STREQ(g_szExpectFreqText, " 440");
  g_nRunState = 0;  // Ready at once: the default range, the patterns below it cleared
  std::fill(std::begin(g_fPattern), std::end(g_fPattern), kOld);
  EXPECT_TRUE(AcceptRange(g_szNoteName[12], g_szNoteName[72]) && g_nCurNote == 12);
  for (int k = 0; k < kNoteCount; ++k) EXPECT_TRUE(Holds(k, k < 12 ? NotePattern{} : kOld)) << k;
  // Typed, as the edit keeps it, as cut into 4 bytes (never inside a UTF-8 character).
  for (const auto& [pszTyped, pszEdited, pszCut] : {std::tuple{"c4#b", "C4#", "C4#"},
                                                    {"a", "A", "A"},
                                                    {"c4éx", "C4é", "C4"},
                                                    {"éc4", "éC4", "éC"},
                                                    {"c€#", "C€#", "C"},
                                                    {"\xa9\xa9\xa9\xa9", "\xa9\xa9\xa9\xa9", ""}}) {
    EXPECT_EQ(EditNoteText(pszTyped), pszEdited);
    char szText[4];
    NormalizeNoteText(pszEdited, szText);
    EXPECT_STREQ(szText, pszCut) << pszEdited;
  }
  g_nRunState = 0;
  EXPECT_TRUE(AcceptRange(EditNoteText("e4x"), EditNoteText("g4#")));
  EXPECT_TRUE(std::string(g_szFirstNoteText) == "E4" && std::string(g_szLastNoteText) == "G4#");
  EXPECT_TRUE(FindNoteIndex("B8") == 107 && FindNoteIndex("c4") == -1 && FindNoteIndex("") == -1);
  CopyText(g_szNoteName[90], "C1");
  EXPECT_EQ(FindNoteIndex("C1"), 12);  // the first match
}

TEST_F(RangeTest, HelpTexts) {
  std::string notes = "Note:\r\n";
  const auto names = StandardNames();
  for (int k = 0; k < kNoteCount; ++k) {
    notes += names[k] + (k == 107 ? ",\r\n" : k % 12 == 11 ? "<" + names[k + 1] + ",\r\n" : "<");
  }
  notes += "The lowest note is C0, \r\nThe highest note is B8. \r\n";
  const std::string rules =
      "Each note should be no more than 3 characters. \r\nThe first character must be one of below "
      "letter:\r\nC, D, E, F, G, A, B. \r\nThe second position should be one of below number: "
      "\r\n0, 1, 2, 3, 4, 5, 6, 7, 8.\r\nThe third position should be # or empty. \r\n\r\n\r\n";
  EXPECT_EQ(
      RangeErrorHelpText(3),
      "Input Range Error:\r\n\r\nFirst input note should not be higher than\r\nlast note, for "
      "example:\r\n\r\nFirstNote: C1\r\nLastNote: B1\r\n\r\n\r\n" +
          notes);
  EXPECT_EQ(RangeErrorHelpText(0), "FirstNote Input Error: \r\n\r\n" + rules + notes);
  EXPECT_EQ(RangeErrorHelpText(1), "LastNote Input Error: \r\n\r\n" + rules + notes);
  EXPECT_EQ(RangeErrorHelpText(2), RangeErrorHelpText(1));
}

TEST(NotePlotTest, StepHeightsMarksAndRingPositions) {
  static std::vector<float> ring(kRingStorage, 0.0f);
  for (const auto& [nLength, nStep] : {std::pair{1799, 1}, {1800, 2}, {3600, 3}, {3601, 3}})
    EXPECT_EQ(NotePlotStep(1000, 1000 + nLength), nStep) << nLength;
  // Positive below the axis, clipped; the mirror read as it is, past it reduced.
  ring[10] = 1.0f;
  ring[11] = -1.0f;
  ring[12] = 0.1f;
  ring[kRingSize + 5] = 0.25f;
  ring[5] = -0.5f;
  for (const auto& [nStart, nY] : {std::pair{10, -635},
                                   {11, -35},
                                   {12, -385},
                                   {kRingSize + 5, -460},
                                   {kRingStorage + 5, -85}}) {
    const auto lines = ComputeNotePlot(nStart, nStart, nStart + 1, "1", ring.data());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].nY2, nY) << nStart;
  }
  using Pen = PlotLine::Pen;
  const auto two = ComputeNotePlot(5000, 5500, 6700, "2", ring.data());
  const auto T = [](const PlotLine& l) { return std::tuple(l.nX1, l.nY1, l.nX2, l.nY2, l.pen); };
  EXPECT_EQ(T(two[0]), std::tuple(20, -335, 1820, -335, Pen::Black));
  EXPECT_EQ(T(two[1]), std::tuple(20, -335, 20, -35, Pen::White));
  EXPECT_EQ(T(two[2]), std::tuple(520, -335, 520, -635, Pen::White));
  EXPECT_EQ(T(two[3]), std::tuple(1120, -335, 1120, -35, Pen::Cyan));
  EXPECT_EQ(T(two[4]), std::tuple(1720, -335, 1720, -635, Pen::Cyan));
  EXPECT_EQ(T(two[5]), std::tuple(20, -335, 20, -335, Pen::Black));
  EXPECT_EQ(two.size(), 5u + 1700u);
  // An end reduced by a lap is drawn a lap later, through the mirror half.
  ring[kRingSize + 200] = 0.5f;
  for (const auto& [nEnd, nStep, nPoints, nMarkX] :
       {std::tuple{206012, 2, 1006, 770}, {205500, 1, 1500, 1520}}) {
    const auto lines = ComputeNotePlot(204000, 205500, nEnd - kRingSize, "1", ring.data());
    EXPECT_EQ(lines[2].nX1, nMarkX) << nEnd;
    ASSERT_EQ(lines.size(), 3u + nPoints) << nEnd;
    EXPECT_EQ(lines[3 + 1000 / nStep].nY2, -585) << nEnd;
  }
}

// 512 samples of note index `dNote` (fractional: mistuned) with harmonics 1 ... 5 (as far as they
// fit), the fundamental at `dFirst` of the second's strength.
std::vector<float> NoteBlock(double dNote, double dFirst = 1.0) {
  std::vector<float> s(kFftLen);
  const double dHz = 440.0 * std::exp2((dNote - 57) / 12.0);
  for (int n = 0; n < kFftLen; ++n)
    for (int h = 1; h <= 5 && h * dHz < 5000.0; ++h)  // below half the sampling rate
      s[n] += float((h == 1 ? dFirst : 1.0 / h) * std::sin(2 * M_PI * h * dHz * n / 11025.0 + h));
  return s;
}

// Asked for note 45 (A3): which blocks are that note, an earlier or a later one.
TEST(AutoAnswerTest, BlockPitchAgainstTheNoteAskedFor) {
  using enum BlockSound;
  for (const auto& [dNote, dFirst, sound] : {std::tuple{45.0, 1.0, TheNote},
                                             {45.3, 1.0, TheNote},
                                             {45.0, 0.1, TheNote},  // mistuned
                                             {44.0, 1.0, Earlier},
                                             {46.0, 1.0, Later},
                                             {57.0, 1.0, Later},
                                             {33.0, 1.0, Earlier}}) {
    std::vector<float> block = NoteBlock(dNote, dFirst), spectrum = block;
    FftMagnitudes(spectrum.data());
    EXPECT_EQ(CompareBlockWithNote(block.data(), ComputeNotePattern(spectrum.data()), 45), sound)
        << dNote << " " << dFirst;
  }
  // A3 over a weaker A2: the period is twice A3's, but the strongest peak is A3's own.
  std::vector<float> doubled = NoteBlock(45.0), spectrum = doubled;
  for (int n = 0; n < kFftLen; ++n)
    doubled[n] += float(0.6 * std::sin(2 * M_PI * 110.0 * n / 11025.0));
  spectrum = doubled;
  FftMagnitudes(spectrum.data());
  EXPECT_EQ(CompareBlockWithNote(doubled.data(), ComputeNotePattern(spectrum.data()), 45), TheNote);
  for (const double dNote : {28.0, 60.0, 84.0})  // E2, C5, C7 to a tenth of a semitone
    EXPECT_NEAR(NoteIndexOf(EstimatePitch(NoteBlock(dNote).data(), kFftLen, 50, 2400).dHz), dNote,
                0.1);
  std::vector<float> noise(kFftLen);
  for (float& f : noise) f = float(std::rand() % 2001 - 1000);
  // An earlier note is waited out; no clear pitch until the sixth time; a later note gives up.
  CAutoAnswerer answerer;
  const std::vector<float> earlier = NoteBlock(44.0), later = NoteBlock(46.0);
  for (int k = 0; k < 20; ++k)
    EXPECT_EQ(answerer.Answer(earlier.data(), NotePattern{}, 45), NoteChoice::Replay);
  for (int k = 1; k <= CAutoAnswerer::kMaxRejections; ++k)
    EXPECT_EQ(answerer.Answer(noise.data(), NotePattern{}, 45),
              k < CAutoAnswerer::kMaxRejections ? NoteChoice::Replay : NoteChoice::Next);
  EXPECT_EQ(answerer.Answer(later.data(), NotePattern{}, 45), NoteChoice::Next);
}

constexpr const char* kC1Ok = "C1         -OK-";

struct CCountingRedraw : CLogViewRedraw {
  void RedrawLog() override { ++nCalls; }
  int nCalls = 0;
};

class ControllerTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetCoreForTest(); }
  // Earlier patterns everywhere, first ... last accepted, caution seen.
  void StartRun(int nFirst, int nLast) {
    ResetCoreForTest();
    std::fill(std::begin(g_fPattern), std::end(g_fPattern), kOld);
    m_prompt = CRecordingPrompt();
    SetNotePatternPrompt(&m_prompt);
    m_redraw.nCalls = 0;
    SetLogViewRedraw(&m_redraw);
    ASSERT_TRUE(AcceptRange(StandardNoteName(nFirst), StandardNoteName(nLast)));
    AcknowledgeCaution();
  }
  // One pass over a note whose features fall from 1000 to 0 at nEnd (complete to 8000).
  void Pass(NoteChoice choice, std::int32_t nEnd = 3000) {
    for (std::int32_t n = 1000; n < nEnd; ++n)
      g_fZeroCrossRing[n] = g_fEnergyRing[n] = 20.0f + (nEnd - n);
    g_nCrossPos = 8000;
    g_nWriteIndex = 8000 + 511;
    g_nHistoryState = 1;
    m_prompt.choice = choice;
    TrainingTimerPass();
  }
  // Log lines from 2 on (and an empty one after them), the next line, note, run state and the
  // redraws so far.
  void Expect(std::vector<std::string> lines, int nLine, int nCur, int nRunState, int nRedraws) {
    lines.insert(lines.begin(), {">>>Play ", "..."});
    lines.push_back("");
    EXPECT_EQ(std::vector<std::string>(g_szLog, g_szLog + lines.size()), lines);
    EXPECT_TRUE(g_nLogLine == nLine && g_nCurNote == nCur && g_nRunState == nRunState);
    EXPECT_EQ(m_redraw.nCalls, nRedraws);
  }
  CRecordingPrompt m_prompt;
  CCountingRedraw m_redraw;
};

// Redraws: one per accepted note, one per note shown, one per finish; none for Replay.
TEST_F(ControllerTest, AnswersThroughARun) {
  StartRun(12, 72);
  Pass(NoteChoice::Replay);  // same note, same line, the old pattern kept
  Expect({"C1"}, 2, 12, 2, 0);
  Pass(NoteChoice::Back);  // at the first note
  Expect({"C1"}, 2, 12, 2, 1);
  EXPECT_TRUE(Holds(12, kOld));
  Pass(NoteChoice::Closed);  // like Next
  EXPECT_TRUE(Holds(12, m_prompt.seen));
  Expect({kC1Ok, "C1#"}, 3, 13, 2, 3);
  Pass(NoteChoice::Back);  // C1 again below its accepted line; C1# keeps its pattern
  Expect({kC1Ok, "C1"}, 3, 12, 2, 4);
  EXPECT_TRUE(Holds(13, kOld));
  Pass(NoteChoice::Next);
  Pass(NoteChoice::Done);  // accepts and finishes; capture stays stopped, no reset
  EXPECT_TRUE(Holds(13, m_prompt.seen) && Holds(14, NotePattern{}));
  Expect({kC1Ok, kC1Ok, "C1#       -OK-", " Finished!"}, 6, 108, 3, 8);
  EXPECT_TRUE(g_nTrainState == 3 && g_nHistoryState == 1 && g_nSegFound == 1);
  Pass(NoteChoice::Next);
  EXPECT_TRUE(m_prompt.nCalls == 6 && g_nLogLine == 6);
}

// The block starts 5 % into the surplus over 512, truncated toward zero.
TEST(NoteBlockTest, StartsFivePercentIntoTheSurplus) {
  for (const auto& [nStart, nEnd, nBlock] : {std::tuple{1000, 3000, 1074},
                                             {1000, 1532, 1001},
                                             {1000, 1512, 1000},
                                             {1000, 1300, 990},
                                             {204000, 206000, 204074}}) {
    EXPECT_EQ(NoteBlockStart(nStart, nEnd), nBlock) << nEnd;
  }
}

}  // namespace
