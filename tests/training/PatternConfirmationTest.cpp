#include <gtest/gtest.h>

#include <cstring>

#include "support/CoreTestSupport.h"
#include "training/PatternConfirmation.h"

namespace {

constexpr NotePattern kNew = {{21, 41, 61, 2, 3, 4}, {10, 7, 5, 1, 0, 0}};
constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

// Training A0# (index 10) in a range that starts at nFirst; records 9 and 10 hold earlier
// patterns and the dialog is open (g_nTrainState -1).
void Prepare(int nFirst) {
  ResetCoreForTest();
  g_nFirstNote = nFirst;
  g_nCurNote = 10;
  g_nTrainState = -1;
  g_fPattern[9] = g_fPattern[10] = kOld;
  CopyText(g_szMessage, "unchanged");
}

TEST(PatternConfirmationTest, EachAnswer) {
  struct Row {
    NoteChoice choice;
    int nFirst;
    int nState, nCur;
    bool bStored;
    const char* pszMessage;
  };
  const Row kRows[] = {
      {NoteChoice::Next, 5, 1, 10, true, "A0#"},
      {NoteChoice::Done, 5, 3, 10, true, "A0#"},
      {NoteChoice::Closed, 5, -1, 10, true, "A0#"},  // stores like Next, state untouched
      {NoteChoice::Replay, 5, 2, 10, false, "unchanged"},
      {NoteChoice::Back, 5, 4, 9, false, "A0"},     // the note stepped back to
      {NoteChoice::Back, 10, 4, 10, false, "A0#"},  // already at the first note
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(testing::Message()
                 << "choice " << static_cast<int>(row.choice) << " first " << row.nFirst);
    Prepare(row.nFirst);
    CRecordingPrompt prompt(row.choice);
    SetNotePatternPrompt(&prompt);
    ConfirmNotePattern(kNew);
    SetNotePatternPrompt(nullptr);
    EXPECT_EQ(prompt.nCalls, 1);
    EXPECT_EQ(prompt.nTrainState, -1);
    EXPECT_TRUE(std::memcmp(&prompt.seen, &kNew, sizeof kNew) == 0);
    EXPECT_EQ(g_nTrainState, row.nState);
    EXPECT_EQ(g_nCurNote, row.nCur);
    EXPECT_TRUE(Holds(10, row.bStored ? kNew : kOld));
    EXPECT_TRUE(Holds(9, kOld));
    EXPECT_STREQ(g_szMessage, row.pszMessage);
  }
}

TEST(PatternConfirmationTest, WithoutPromptTheAnswerIsNext) {
  Prepare(5);
  ConfirmNotePattern(kNew);
  EXPECT_EQ(g_nTrainState, 1);
  EXPECT_TRUE(Holds(10, kNew));
  EXPECT_STREQ(g_szMessage, "A0#");
}

}  // namespace
