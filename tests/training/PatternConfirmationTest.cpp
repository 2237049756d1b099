#include <gtest/gtest.h>

#include <cstring>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/PatternConfirmation.h"

namespace {

constexpr NotePattern kNew = {{21, 41, 61, 2, 3, 4}, {10, 7, 5, 1, 0, 0}};
constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

class PatternConfirmationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    // Training A0# (index 10) in a range that starts at F0 (index 5); records 9 and 10 hold
    // earlier patterns.
    g_nFirstNote = 5;
    g_nCurNote = 10;
    g_nTrainState = -1;
    g_fPattern[9] = kOld;
    g_fPattern[10] = kOld;
    CopyText(g_szMessage, "unchanged");
  }
  void TearDown() override { SetNotePatternPrompt(nullptr); }

  // Runs the confirmation with the dialog answering `choice`.
  void Confirm(NoteChoice choice) {
    CRecordingPrompt prompt(choice);
    SetNotePatternPrompt(&prompt);
    ConfirmNotePattern(kNew);
    SetNotePatternPrompt(nullptr);
    EXPECT_EQ(prompt.nCalls, 1);
    EXPECT_EQ(prompt.nTrainState, -1);
    EXPECT_EQ(prompt.seen.fBin[0], 21.0f);
  }
};

TEST_F(PatternConfirmationTest, NextAndDoneStoreAndName) {
  Confirm(NoteChoice::Next);
  EXPECT_EQ(g_nTrainState, 1);
  EXPECT_EQ(g_nCurNote, 10);
  EXPECT_TRUE(Holds(10, kNew));
  EXPECT_TRUE(Holds(9, kOld));
  EXPECT_STREQ(g_szMessage, "A0#");

  SetUp();
  Confirm(NoteChoice::Done);
  EXPECT_EQ(g_nTrainState, 3);
  EXPECT_EQ(g_nCurNote, 10);
  EXPECT_TRUE(Holds(10, kNew));
  EXPECT_STREQ(g_szMessage, "A0#");
}

TEST_F(PatternConfirmationTest, ClosedStoresLikeNextAndKeepsState) {
  Confirm(NoteChoice::Closed);
  EXPECT_EQ(g_nTrainState, -1);
  EXPECT_TRUE(Holds(10, kNew));
  EXPECT_STREQ(g_szMessage, "A0#");
}

TEST_F(PatternConfirmationTest, ReplayChangesNothing) {
  Confirm(NoteChoice::Replay);
  EXPECT_EQ(g_nTrainState, 2);
  EXPECT_EQ(g_nCurNote, 10);
  EXPECT_TRUE(Holds(10, kOld));
  EXPECT_STREQ(g_szMessage, "unchanged");
}

TEST_F(PatternConfirmationTest, BackStepsDownToTheFirstNoteAndStoresNothing) {
  Confirm(NoteChoice::Back);
  EXPECT_EQ(g_nTrainState, 4);
  EXPECT_EQ(g_nCurNote, 9);
  EXPECT_TRUE(Holds(9, kOld));
  EXPECT_TRUE(Holds(10, kOld));
  EXPECT_STREQ(g_szMessage, "A0");  // the note stepped back to

  SetUp();
  g_nFirstNote = 10;
  Confirm(NoteChoice::Back);
  EXPECT_EQ(g_nTrainState, 4);
  EXPECT_EQ(g_nCurNote, 10);
  EXPECT_TRUE(Holds(10, kOld));
  EXPECT_STREQ(g_szMessage, "A0#");
}

TEST_F(PatternConfirmationTest, WithoutPromptTheAnswerIsNext) {
  ConfirmNotePattern(kNew);
  EXPECT_EQ(g_nTrainState, 1);
  EXPECT_TRUE(Holds(10, kNew));
  EXPECT_STREQ(g_szMessage, "A0#");
}

}  // namespace
