#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

// Accepted notes' log lines: 13-character suffix after a plain name, 11 after a sharp one.
constexpr const char* kC1Ok = "C1         -OK-";
constexpr const char* kC1SharpOk = "C1#       -OK-";
constexpr const char* kA8SharpOk = "A8#       -OK-";
constexpr const char* kFinished = " Finished!";

// A tone at spectrum index 40 (bin 41): 40 whole periods in every 512 samples from nFrom.
void Tone(std::int32_t nFrom, std::int32_t nCount) {
  for (std::int32_t n = 0; n < nCount; ++n) {
    g_fSampleRing[nFrom + n] =
        static_cast<float>(std::cos(2.0 * std::numbers::pi * 40.0 * n / 512.0));
  }
}

class TrainingControllerTest : public ::testing::Test {
 protected:
  void TearDown() override { SetNotePatternPrompt(nullptr); }

  // A fresh core holding an earlier run's patterns, the tone everywhere (so every recorded
  // note has a pattern of its own), first ... last accepted and the caution acknowledged.
  void StartRun(int nFirst, int nLast) {
    ResetCoreForTest();
    Tone(0, 5000);
    for (NotePattern& pattern : g_fPattern) {
      pattern = kOld;
    }
    m_prompt = CRecordingPrompt();
    SetNotePatternPrompt(&m_prompt);
    ASSERT_TRUE(AcceptRange(StandardNoteName(nFirst), StandardNoteName(nLast)));
    AcknowledgeCaution();
  }

  // Records one note and runs a pass whose dialog answers `choice`: both features fall from
  // a peak at 1000 to 0 at nEnd and are complete up to 8000, so the detector finds exactly
  // the segment 1000 ... nEnd.
  void Pass(NoteChoice choice, std::int32_t nEnd = 3000) {
    for (std::int32_t n = 1000; n < nEnd; ++n) {
      g_fZeroCrossRing[n] = g_fEnergyRing[n] = 20.0f + static_cast<float>(nEnd - n);
    }
    g_nCrossPos = 8000;
    g_nWriteIndex = 8000 + 511;
    g_nHistoryState = 1;
    m_prompt.choice = choice;
    TrainingTimerPass();
  }

  static void ExpectReset() {
    EXPECT_TRUE(g_nTrainState == 0 && g_nHistoryState == -1);
    EXPECT_TRUE(g_nWriteIndex == 0 && g_nCrossPos == 0 && g_nEnergyPos == 0);
    EXPECT_TRUE(g_nSegStart == -1 && g_nSegEnd == -1 && g_nSegFound == -1);
  }

  // Log lines from 2 on are `lines` with an empty one after them, the next text goes to
  // nLine, and the run is at note nCur in state nRunState.
  static void ExpectRun(std::initializer_list<std::string> lines, int nLine, int nCur,
                        int nRunState) {
    int n = 2;
    for (const std::string& line : lines) {
      EXPECT_EQ(g_szLog[n], line) << "log line " << n;
      ++n;
    }
    EXPECT_STREQ(g_szLog[n], "") << "log line " << n;
    EXPECT_EQ(g_nLogLine, nLine);
    EXPECT_EQ(g_nCurNote, nCur);
    EXPECT_EQ(g_nRunState, nRunState);
  }

  static void ExpectClearedFrom(int nFrom) {
    for (int k = nFrom; k < kNoteCount; ++k) {
      EXPECT_TRUE(Holds(k, NotePattern{})) << k;
    }
  }

  CRecordingPrompt m_prompt;
};

TEST_F(TrainingControllerTest, TicksWithoutWorkDoNothing) {
  StartRun(12, 72);
  g_nTrainState = -1;  // a dialog is open
  Pass(NoteChoice::Next);
  g_nTrainState = 0;
  g_nHistoryState = 0;  // only the first window computed so far
  TrainingTimerPass();
  EXPECT_EQ(g_nSegFound, -1);  // the detector did not run

  // Features not yet complete: the detector stalls in the descent, nothing is reset.
  g_nHistoryState = 1;
  g_nCrossPos = 2000;
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.nCalls, 0);
  EXPECT_EQ(g_nSegFound, 0);
  EXPECT_TRUE(g_nTrainState == 0 && g_nHistoryState == 1 && g_nCrossPos == 2000);
}

TEST_F(TrainingControllerTest, NextThroughRangeFinishesAndIgnoresLaterNotes) {
  StartRun(12, 13);  // C1 ... C1#
  Pass(NoteChoice::Next);
  EXPECT_EQ(m_prompt.nTrainState, -1);
  EXPECT_EQ(m_prompt.strCurNote, "C1");
  EXPECT_EQ(g_fPattern[12].fBin[0], 41.0f);
  EXPECT_TRUE(Holds(12, m_prompt.seen));
  ExpectRun({kC1Ok, "C1#"}, 3, 13, 2);
  EXPECT_STREQ(g_szCurNoteText, "C1#");
  EXPECT_STREQ(g_szExpectFreqText, "  35");
  ExpectReset();

  Pass(NoteChoice::Next);
  EXPECT_TRUE(Holds(13, m_prompt.seen));
  ExpectRun({kC1Ok, kC1SharpOk, kFinished}, 5, 108, 3);
  ExpectClearedFrom(14);
  ExpectReset();  // recording goes on after Next...

  Pass(NoteChoice::Next);  // ...but no later segment is analysed
  EXPECT_EQ(m_prompt.nCalls, 2);
  ExpectRun({kC1Ok, kC1SharpOk, kFinished}, 5, 108, 3);
  EXPECT_EQ(g_nTrainState, 0);
}

TEST_F(TrainingControllerTest, ReplayBackCloseBoxAndDone) {
  StartRun(12, 72);
  // Replay, then Back at the first note: same note, same line, the old pattern kept.
  for (const NoteChoice choice : {NoteChoice::Replay, NoteChoice::Back}) {
    Pass(choice);
    ExpectRun({"C1"}, 2, 12, 2);
    EXPECT_TRUE(Holds(12, kOld));
    ExpectReset();
  }

  Pass(NoteChoice::Closed);  // accepts like Next
  EXPECT_TRUE(Holds(12, m_prompt.seen));
  ExpectRun({kC1Ok, "C1#"}, 3, 13, 2);
  ExpectReset();

  // Back on C1#: C1 is shown again below its accepted line, C1# keeps its old pattern.
  Pass(NoteChoice::Back);
  ExpectRun({kC1Ok, "C1"}, 3, 12, 2);
  EXPECT_STREQ(g_szCurNoteText, "C1");
  EXPECT_TRUE(Holds(13, kOld));
  ExpectReset();

  Pass(NoteChoice::Next);
  ExpectRun({kC1Ok, kC1Ok, "C1#"}, 4, 13, 2);

  // Done accepts C1# and finishes the run; capture stays stopped and the detector keeps its
  // segment, so no later note is analysed.
  Pass(NoteChoice::Done);
  EXPECT_TRUE(Holds(13, m_prompt.seen));
  ExpectRun({kC1Ok, kC1Ok, kC1SharpOk, kFinished}, 6, 108, 3);
  ExpectClearedFrom(14);
  EXPECT_TRUE(g_nTrainState == 3 && g_nHistoryState == 1 && g_nSegFound == 1);
  Pass(NoteChoice::Next);
  EXPECT_EQ(m_prompt.nCalls, 6);
  EXPECT_EQ(g_nLogLine, 6);
}

TEST_F(TrainingControllerTest, TopOfNoteRange) {
  // B8 alone: its line becomes " Finished!", the log advances with step 2.
  StartRun(107, 107);
  g_bLogScrolled = 1;  // so that the step shows in the top line
  g_nLogTop = 5;
  Pass(NoteChoice::Next);
  EXPECT_TRUE(Holds(107, m_prompt.seen));
  ExpectRun({kFinished}, 3, 107, 3);
  EXPECT_EQ(g_nLogTop, 7);
  ExpectReset();

  // Back at B8 as the first note cannot step down: it finishes too, storing nothing.
  StartRun(107, 107);
  Pass(NoteChoice::Back);
  ExpectRun({kFinished}, 3, 107, 3);
  EXPECT_TRUE(Holds(107, kOld));

  // Back at B8 above the first note steps down and the run goes on.
  StartRun(106, 107);
  Pass(NoteChoice::Next);
  Pass(NoteChoice::Back);
  ExpectRun({kA8SharpOk, "A8#"}, 3, 106, 2);

  // Done at B8: finished at once, and no reset.
  Pass(NoteChoice::Next);
  Pass(NoteChoice::Done);
  ExpectRun({kA8SharpOk, kA8SharpOk, kFinished}, 5, 107, 3);
  EXPECT_TRUE(g_nTrainState == 3 && g_nHistoryState == 1);
}

TEST_F(TrainingControllerTest, BlockStartsFivePercentIntoSurplus) {
  // Segments starting at 1000: 2000 samples (1488 * 0.05 = 74.4), 532, 512 and 300
  // (-212 * 0.05 = -10.6) samples.
  for (const auto& [nEnd, nBlock] :
       {std::pair{3000, 1074}, {1532, 1001}, {1512, 1000}, {1300, 990}}) {
    SCOPED_TRACE(nEnd);
    EXPECT_EQ(NoteBlockStart(1000, nEnd), nBlock);
    // The tone fills exactly the expected block; every sample around it is large, so a
    // block shifted by even one sample shows more than one peak.
    StartRun(12, 72);
    for (std::int32_t n = 0; n < 5000; ++n) {
      g_fSampleRing[n] = 200.0f;
    }
    Tone(nBlock, 512);
    Pass(NoteChoice::Next, nEnd);
    ASSERT_EQ(m_prompt.nCalls, 1);
    EXPECT_EQ(m_prompt.seen.fBin[0], 41.0f);
    const float* pfWeight = m_prompt.seen.fWeight;
    EXPECT_EQ(std::vector<float>(pfWeight, pfWeight + kPeakCount),
              (std::vector<float>{10, 0, 0, 0, 0, 0}));
  }
  EXPECT_EQ(NoteBlockStart(204000, 206000), 204074);  // positions past the ring end
}

TEST_F(TrainingControllerTest, ShortSegmentsGetAnExtendedPlot) {
  // Exactly 1024 samples is long: one record, no extension; one sample fewer is short.
  for (const auto& [nEnd, pszMode] : {std::pair{2024, "1"}, {2023, "2"}}) {
    StartRun(12, 72);
    Pass(NoteChoice::Next, nEnd);
    EXPECT_EQ(m_prompt.strPlotMode, pszMode);
    EXPECT_TRUE(m_prompt.nPlotStart == 1000 && m_prompt.nPlotSegEnd == nEnd) << nEnd;
    EXPECT_EQ(m_prompt.nPlotEnd == nEnd + 1200, nEnd == 2023) << nEnd;
  }
}

}  // namespace
