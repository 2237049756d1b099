#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "support/CoreTestSupport.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"

namespace {

constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class RangeValidationTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCoreForTest(); }

  // One press of Ready after a rejected attempt, as the frame's loop does it.
  static bool Retry(const std::string& first, const std::string& last) {
    g_nRunState = 0;
    return AcceptRange(first, last);
  }
};

TEST_F(RangeValidationTest, ReadyAtOnceStartsRunAtStartPositions) {
  EXPECT_TRUE(AcceptRange(g_szNoteName[g_nRangeFirst], g_szNoteName[g_nRangeLast]));
  EXPECT_EQ(g_nRunState, 2);
  EXPECT_EQ(g_nRangeFirst, 12);
  EXPECT_EQ(g_nRangeLast, 72);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_EQ(g_nFirstNote, 12);
  EXPECT_STREQ(g_szLog[0], ">>>Play ");
  EXPECT_STREQ(g_szLog[1], "...");
  EXPECT_STREQ(g_szLog[2], "C1");
  EXPECT_EQ(g_nLogLine, 2);
  EXPECT_STREQ(g_szCurNoteText, "C1");
  EXPECT_STREQ(g_szExpectFreqText, "  33");

  AcknowledgeCaution();
  EXPECT_EQ(g_nTrainState, 0);
}

TEST_F(RangeValidationTest, RejectedAttemptsEndInTheirState) {
  // Reversed: both recognised, so the positions follow the typed notes.
  EXPECT_FALSE(AcceptRange("C6", "C1"));
  EXPECT_EQ(g_nRunState, 3);
  EXPECT_EQ(g_nRangeFirst, 72);
  EXPECT_EQ(g_nRangeLast, 12);
  EXPECT_STREQ(g_szLog[2], "");  // no run started
  EXPECT_TRUE(StartsWith(RangeErrorHelpText(g_nRunState), "Input Range Error:\r\n\r\n"));

  // An unknown first note stops the lookup, whatever the last note is.
  EXPECT_FALSE(Retry("H2", "C9"));
  EXPECT_EQ(g_nRunState, 0);
  EXPECT_EQ(g_nRangeFirst, 72);
  EXPECT_TRUE(StartsWith(RangeErrorHelpText(g_nRunState), "FirstNote Input Error: \r\n\r\n"));

  EXPECT_FALSE(Retry("D2", "C9"));
  EXPECT_EQ(g_nRunState, 1);
  EXPECT_EQ(g_nRangeFirst, 26);
  EXPECT_EQ(g_nRangeLast, 12);
  EXPECT_TRUE(StartsWith(RangeErrorHelpText(g_nRunState), "LastNote Input Error: \r\n\r\n"));

  // There is no E sharp.
  EXPECT_FALSE(Retry("E4#", "E5"));
  EXPECT_EQ(g_nRunState, 0);
  EXPECT_STREQ(g_szFirstNoteText, "E4#");

  // A range of one note.
  EXPECT_TRUE(Retry("A4", "A4"));
  EXPECT_EQ(g_nCurNote, 57);
  EXPECT_STREQ(g_szLog[2], "A4");
  EXPECT_STREQ(g_szExpectFreqText, " 440");
}

TEST_F(RangeValidationTest, TypedTextIsUpperCasedAndCut) {
  EXPECT_EQ(EditNoteText("e4x"), "E4X");
  EXPECT_EQ(EditNoteText("c4#b"), "C4#");
  EXPECT_EQ(EditNoteText("a"), "A");

  char szText[4];
  NormalizeNoteText("C", szText);
  EXPECT_STREQ(szText, "C");
  NormalizeNoteText("C4#5", szText);  // more than the edit holds: 3 kept
  EXPECT_STREQ(szText, "C4#");

  EXPECT_TRUE(AcceptRange(EditNoteText("e4x"), EditNoteText("g4#")));
  EXPECT_STREQ(g_szFirstNoteText, "E4");
  EXPECT_STREQ(g_szLastNoteText, "G4#");
  EXPECT_EQ(g_nRangeFirst, 52);
  EXPECT_EQ(g_nRangeLast, 56);

  // Lookup is byte for byte and takes the first match.
  EXPECT_EQ(FindNoteIndex("B8"), 107);
  EXPECT_EQ(FindNoteIndex("c4"), -1);
  EXPECT_EQ(FindNoteIndex(""), -1);
  CopyText(g_szNoteName[90], "C1");
  EXPECT_EQ(FindNoteIndex("C1"), 12);
}

TEST_F(RangeValidationTest, AcceptedRangeZeroesOnlyPatternsBelowIt) {
  for (auto& pattern : g_fPattern) {
    pattern = kOld;
  }
  EXPECT_TRUE(AcceptRange("C0", "C1"));
  for (int k = 0; k < kNoteCount; ++k) {
    EXPECT_TRUE(Holds(k, kOld)) << k;
  }

  SetUp();
  for (auto& pattern : g_fPattern) {
    pattern = kOld;
  }
  EXPECT_TRUE(AcceptRange("D1", "B8"));
  for (int k = 0; k < kNoteCount; ++k) {
    EXPECT_TRUE(Holds(k, k < 14 ? NotePattern{} : kOld)) << k;
  }
}

TEST_F(RangeValidationTest, HelpTexts) {
  const std::string reversed = RangeErrorHelpText(3);
  const std::string first = RangeErrorHelpText(0);
  const std::string last = RangeErrorHelpText(1);
  EXPECT_EQ(RangeErrorHelpText(2), last);

  // Lengths worked out piece by piece: reversed 126 + 469, first 27 + 250 + 469,
  // last 26 + 250 + 469, where 469 is the common note list.
  EXPECT_EQ(reversed.size(), 595u);
  EXPECT_EQ(first.size(), 746u);
  EXPECT_EQ(last.size(), 745u);

  EXPECT_TRUE(StartsWith(reversed,
                         "Input Range Error:\r\n\r\n"
                         "First input note should not be higher than\r\n"
                         "last note, for example:\r\n\r\n"
                         "FirstNote: C1\r\n"
                         "LastNote: B1\r\n\r\n\r\n"
                         "Note:\r\n"
                         "C0<C0#<D0<D0#<E0<F0<F0#<G0<G0#<A0<A0#<B0<C1,\r\n"));
  EXPECT_TRUE(StartsWith(first,
                         "FirstNote Input Error: \r\n\r\n"
                         "Each note should be no more than 3 characters. \r\n"
                         "The first character must be one of below letter:\r\n"
                         "C, D, E, F, G, A, B. \r\n"
                         "The second position should be one of below number: \r\n"
                         "0, 1, 2, 3, 4, 5, 6, 7, 8.\r\n"
                         "The third position should be # or empty. \r\n\r\n\r\n"
                         "Note:\r\n"));
  EXPECT_EQ(last.substr(26), first.substr(27));
  EXPECT_EQ(first.substr(first.size() - 469), reversed.substr(126));

  for (const std::string& text : {reversed, first, last}) {
    EXPECT_NE(text.find("\r\nC4<C4#<D4<D4#<E4<F4<F4#<G4<G4#<A4<A4#<B4<C5,\r\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(text,
                         "\r\nC8<C8#<D8<D8#<E8<F8<F8#<G8<G8#<A8<A8#<B8,\r\n"
                         "The lowest note is C0, \r\n"
                         "The highest note is B8. \r\n"));
    for (std::size_t n = 0; n < text.size(); ++n) {
      if (text[n] == '\n') {
        EXPECT_TRUE(n > 0 && text[n - 1] == '\r') << n;
      } else if (text[n] == '\r') {
        EXPECT_TRUE(n + 1 < text.size() && text[n + 1] == '\n') << n;
      }
    }
  }
}

}  // namespace
