#include <gtest/gtest.h>

#include <cstring>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/PatternConfirmation.h"

namespace {

class CScriptedPrompt : public CNotePatternPrompt {
 public:
  explicit CScriptedPrompt(NoteChoice choice) : m_choice(choice) {}
  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    ++nCalls;
    nStateSeen = g_nTrainState;
    fFirstBinSeen = pattern.fBin[0];
    return m_choice;
  }

  int nCalls = 0;
  std::int32_t nStateSeen = 0;
  float fFirstBinSeen = 0.0f;

 private:
  NoteChoice m_choice;
};

constexpr NotePattern kNew = {{21, 41, 61, 2, 3, 4}, {10, 7, 5, 1, 0, 0}};
constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

bool Holds(int nNote, const NotePattern& pattern) {
  return std::memcmp(&g_fPattern[nNote], &pattern, sizeof pattern) == 0;
}

class PatternConfirmationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunData();
    ClearHistory();
    ResetDetector();
    InitNoteFrequencies();
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    SetNotePatternPrompt(nullptr);
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
    CScriptedPrompt prompt(choice);
    SetNotePatternPrompt(&prompt);
    ConfirmNotePattern(kNew);
    SetNotePatternPrompt(nullptr);
    EXPECT_EQ(prompt.nCalls, 1);
    EXPECT_EQ(prompt.nStateSeen, -1);
    EXPECT_EQ(prompt.fFirstBinSeen, 21.0f);
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
