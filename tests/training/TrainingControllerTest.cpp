#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};
constexpr std::int32_t kCrossPos = 8000;  // complete features end well after every segment

std::string Ok(const char* pszName, int nSpaces) {
  return std::string(pszName) + std::string(static_cast<std::size_t>(nSpaces), ' ') + "-OK-";
}

class TrainingControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    m_prompt = CRecordingPrompt();
    SetNotePatternPrompt(&m_prompt);
  }
  void TearDown() override { SetNotePatternPrompt(nullptr); }

  // The range dialog accepted first ... last and the caution dialog was acknowledged.
  static void StartRun(int nFirst, int nLast) {
    ASSERT_TRUE(AcceptRange(StandardNoteName(nFirst), StandardNoteName(nLast)));
    AcknowledgeCaution();
  }

  // Both features fall from a peak at nStart to 0 at nEnd: the detector finds exactly the
  // segment nStart ... nEnd.
  static void PlaceSegment(std::int32_t nStart, std::int32_t nEnd) {
    for (std::int32_t n = nStart; n < nEnd; ++n) {
      g_fZeroCrossRing[n] = g_fEnergyRing[n] = 20.0f + static_cast<float>(nEnd - n);
    }
  }

  // The history runs with complete features up to kCrossPos - 1 (again, after a reset).
  static void Arm() {
    g_nCrossPos = kCrossPos;
    g_nWriteIndex = kCrossPos + 511;
    g_nHistoryState = 1;
  }

  // Records one note of the default segment and has the dialog answer `choice`.
  void Pass(NoteChoice choice) {
    PlaceSegment(1000, 3000);
    Arm();
    m_prompt.choice = choice;
    TrainingTimerPass();
  }

  static void ExpectReset() {
    EXPECT_EQ(g_nTrainState, 0);
    EXPECT_EQ(g_nHistoryState, -1);
    EXPECT_TRUE(g_nWriteIndex == 0 && g_nCrossPos == 0 && g_nEnergyPos == 0);
    EXPECT_TRUE(g_nSegStart == -1 && g_nSegEnd == -1 && g_nSegFound == -1);
  }

  CRecordingPrompt m_prompt;
};

TEST_F(TrainingControllerTest, TicksWithoutWorkDoNothing) {
  StartRun(12, 72);
  PlaceSegment(1000, 3000);

  Arm();
  g_nTrainState = -1;  // a dialog is open
  TrainingTimerPass();
  g_nTrainState = 0;
  g_nHistoryState = 0;  // only the first window computed so far
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.nCalls, 0);
  EXPECT_EQ(g_nSegFound, -1);  // the detector did not run
  EXPECT_EQ(g_nSegEnd, -1);

  // Features not yet complete: the detector stalls in the descent, nothing is reset.
  g_nHistoryState = 1;
  g_nCrossPos = 2000;
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.nCalls, 0);
  EXPECT_EQ(g_nSegFound, 0);
  EXPECT_EQ(g_nTrainState, 0);
  EXPECT_EQ(g_nHistoryState, 1);
  EXPECT_EQ(g_nCrossPos, 2000);
}

TEST_F(TrainingControllerTest, NextThroughRangeFinishesAndIgnoresLaterNotes) {
  StartRun(12, 13);  // C1 ... C1#
  for (int k = 14; k < kNoteCount; ++k) {
    g_fPattern[k] = kOld;
  }

  Pass(NoteChoice::Next);
  EXPECT_EQ(m_prompt.nCalls, 1);
  EXPECT_EQ(m_prompt.nTrainState, -1);
  EXPECT_EQ(m_prompt.strCurNote, "C1");
  EXPECT_TRUE(Holds(12, m_prompt.seen));
  EXPECT_EQ(g_szLog[2], Ok("C1", 9));
  EXPECT_STREQ(g_szLog[3], "C1#");
  EXPECT_EQ(g_nLogLine, 3);
  EXPECT_EQ(g_nCurNote, 13);
  EXPECT_EQ(g_nRunState, 2);
  EXPECT_STREQ(g_szCurNoteText, "C1#");
  EXPECT_STREQ(g_szExpectFreqText, "  35");
  ExpectReset();

  Pass(NoteChoice::Next);
  EXPECT_EQ(m_prompt.strCurNote, "C1#");
  EXPECT_TRUE(Holds(13, m_prompt.seen));
  EXPECT_EQ(g_szLog[2], Ok("C1", 9));
  EXPECT_EQ(g_szLog[3], Ok("C1#", 7));
  EXPECT_STREQ(g_szLog[4], " Finished!");
  EXPECT_EQ(g_nLogLine, 5);
  EXPECT_EQ(g_nCurNote, 108);
  EXPECT_EQ(g_nRunState, 3);
  for (int k = 14; k < kNoteCount; ++k) {
    EXPECT_TRUE(Holds(k, NotePattern{})) << k;
  }
  ExpectReset();  // recording goes on after Next...

  Pass(NoteChoice::Next);  // ...but no later segment is analysed
  EXPECT_EQ(m_prompt.nCalls, 2);
  EXPECT_STREQ(g_szLog[5], "");
  EXPECT_EQ(g_nLogLine, 5);
  EXPECT_EQ(g_nCurNote, 108);
  EXPECT_EQ(g_nTrainState, 0);
}

TEST_F(TrainingControllerTest, ReplayBackAndCloseBox) {
  StartRun(12, 72);

  Pass(NoteChoice::Replay);
  EXPECT_EQ(m_prompt.nCalls, 1);
  EXPECT_STREQ(g_szLog[2], "C1");
  EXPECT_EQ(g_nLogLine, 2);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_TRUE(Holds(12, NotePattern{}));
  ExpectReset();

  // Back at the first note: same note, same line, nothing stored.
  Pass(NoteChoice::Back);
  EXPECT_STREQ(g_szLog[2], "C1");
  EXPECT_EQ(g_nLogLine, 2);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_EQ(g_nRunState, 2);
  EXPECT_TRUE(Holds(12, NotePattern{}));
  ExpectReset();

  // The close box accepts like Next.
  Pass(NoteChoice::Closed);
  EXPECT_TRUE(Holds(12, m_prompt.seen));
  EXPECT_EQ(g_szLog[2], Ok("C1", 9));
  EXPECT_STREQ(g_szLog[3], "C1#");
  EXPECT_EQ(g_nCurNote, 13);
  ExpectReset();

  // Back on C1#: C1 is shown again below its accepted line, C1# stays unstored.
  Pass(NoteChoice::Back);
  EXPECT_EQ(m_prompt.strCurNote, "C1#");
  EXPECT_EQ(g_szLog[2], Ok("C1", 9));
  EXPECT_STREQ(g_szLog[3], "C1");
  EXPECT_EQ(g_nLogLine, 3);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_STREQ(g_szCurNoteText, "C1");
  EXPECT_TRUE(Holds(13, NotePattern{}));
  ExpectReset();

  Pass(NoteChoice::Next);
  EXPECT_EQ(g_szLog[3], Ok("C1", 9));
  EXPECT_STREQ(g_szLog[4], "C1#");
  EXPECT_EQ(g_nCurNote, 13);
  EXPECT_EQ(g_nRunState, 2);
}

TEST_F(TrainingControllerTest, DoneAcceptsThenFinishesAndStopsCapture) {
  StartRun(12, 72);
  for (int k = 14; k < kNoteCount; ++k) {
    g_fPattern[k] = kOld;
  }
  Pass(NoteChoice::Next);
  Pass(NoteChoice::Done);
  EXPECT_TRUE(Holds(13, m_prompt.seen));
  EXPECT_EQ(g_szLog[3], Ok("C1#", 7));
  EXPECT_STREQ(g_szLog[4], " Finished!");
  EXPECT_EQ(g_nLogLine, 5);
  EXPECT_EQ(g_nCurNote, 108);
  EXPECT_EQ(g_nRunState, 3);
  for (int k = 14; k < kNoteCount; ++k) {
    EXPECT_TRUE(Holds(k, NotePattern{})) << k;
  }
  // No reset after Done: capture stays stopped and the detector keeps its segment.
  EXPECT_EQ(g_nTrainState, 3);
  EXPECT_EQ(g_nHistoryState, 1);
  EXPECT_EQ(g_nSegFound, 1);
  EXPECT_NE(g_nSegEnd, -1);

  Arm();
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.nCalls, 2);
  EXPECT_EQ(g_nLogLine, 5);
}

TEST_F(TrainingControllerTest, TopOfNoteRange) {
  // B8 alone: its line becomes " Finished!", the log advances with step 2.
  StartRun(107, 107);
  g_bLogScrolled = 1;  // so that the step shows in the top line
  g_nLogTop = 5;
  Pass(NoteChoice::Next);
  EXPECT_TRUE(Holds(107, m_prompt.seen));
  EXPECT_STREQ(g_szLog[2], " Finished!");
  EXPECT_EQ(g_nLogLine, 3);
  EXPECT_EQ(g_nLogTop, 7);
  EXPECT_EQ(g_nCurNote, 107);
  EXPECT_EQ(g_nRunState, 3);
  ExpectReset();

  // Back at B8 as the first note cannot step down: it finishes too, storing nothing.
  SetUp();
  StartRun(107, 107);
  Pass(NoteChoice::Back);
  EXPECT_STREQ(g_szLog[2], " Finished!");
  EXPECT_EQ(g_nCurNote, 107);
  EXPECT_EQ(g_nRunState, 3);
  EXPECT_TRUE(Holds(107, NotePattern{}));

  // Back at B8 above the first note steps down and the run goes on.
  SetUp();
  StartRun(106, 107);
  Pass(NoteChoice::Next);
  EXPECT_EQ(g_szLog[2], Ok("A8#", 7));
  EXPECT_EQ(g_nCurNote, 107);
  Pass(NoteChoice::Back);
  EXPECT_STREQ(g_szLog[3], "A8#");
  EXPECT_EQ(g_nCurNote, 106);
  EXPECT_EQ(g_nRunState, 2);

  // Done at B8: finished at once, and no reset.
  Pass(NoteChoice::Next);
  Pass(NoteChoice::Done);
  EXPECT_STREQ(g_szLog[4], " Finished!");
  EXPECT_EQ(g_nLogLine, 5);
  EXPECT_EQ(g_nCurNote, 107);
  EXPECT_EQ(g_nRunState, 3);
  EXPECT_EQ(g_nTrainState, 3);
  EXPECT_EQ(g_nHistoryState, 1);
}

TEST_F(TrainingControllerTest, BlockStartsFivePercentIntoSurplus) {
  struct Case {
    std::int32_t nEnd, nBlock;
  };
  // Segments starting at 1000: 2000 samples (1488 * 0.05 = 74.4), 532, 512 and 300
  // (-212 * 0.05 = -10.6) samples.
  for (const Case c : {Case{3000, 1074}, Case{1532, 1001}, Case{1512, 1000}, Case{1300, 990}}) {
    SCOPED_TRACE(c.nEnd);
    SetUp();
    StartRun(12, 72);
    EXPECT_EQ(NoteBlockStart(1000, c.nEnd), c.nBlock);

    // A pure tone at spectrum index 40 fills exactly the expected block; every sample around
    // it is large, so a block shifted by even one sample shows more than one peak.
    for (std::int32_t n = 0; n < 5000; ++n) {
      g_fSampleRing[n] = 200.0f;
    }
    for (std::int32_t n = 0; n < 512; ++n) {
      g_fSampleRing[c.nBlock + n] =
          static_cast<float>(std::cos(2.0 * std::numbers::pi * 40.0 * n / 512.0));
    }
    PlaceSegment(1000, c.nEnd);
    Arm();
    TrainingTimerPass();
    ASSERT_EQ(m_prompt.nCalls, 1);
    EXPECT_EQ(m_prompt.seen.fBin[0], 41.0f);
    EXPECT_EQ(m_prompt.seen.fWeight[0], 10.0f);
    for (int k = 1; k < kPeakCount; ++k) {
      EXPECT_EQ(m_prompt.seen.fWeight[k], 0.0f) << k;
    }
  }
  EXPECT_EQ(NoteBlockStart(204000, 206000), 204074);  // positions past the ring end
}

TEST_F(TrainingControllerTest, PlotModeBoundary) {
  StartRun(12, 72);
  PlaceSegment(1000, 2024);  // exactly 1024 samples: one record, no extension
  Arm();
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.strPlotMode, "1");
  EXPECT_EQ(m_prompt.nPlotStart, 1000);
  EXPECT_EQ(m_prompt.nPlotSegEnd, 2024);
  EXPECT_NE(m_prompt.nPlotEnd, 2024 + 1200);

  SetUp();
  StartRun(12, 72);
  PlaceSegment(1000, 2023);
  Arm();
  TrainingTimerPass();
  EXPECT_EQ(m_prompt.strPlotMode, "2");
  EXPECT_EQ(m_prompt.nPlotStart, 1000);
  EXPECT_EQ(m_prompt.nPlotSegEnd, 2023);
  EXPECT_EQ(m_prompt.nPlotEnd, 2023 + 1200);
}

}  // namespace
