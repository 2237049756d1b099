#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/CoreTestSupport.h"
#include "training/RangeValidation.h"

namespace {

constexpr NotePattern kOld = {{9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 1, 1}};

class RangeValidationTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCoreForTest(); }

  // One press of Ready after a rejected attempt, as the frame's loop does it.
  static bool Retry(const std::string& first, const std::string& last) {
    g_nRunState = 0;
    return AcceptRange(first, last);
  }
};

TEST_F(RangeValidationTest, ReadyAtOnceStartsRunAtDefaultRange) {
  for (auto& pattern : g_fPattern) {
    pattern = kOld;
  }
  EXPECT_TRUE(AcceptRange(g_szNoteName[g_nRangeFirst], g_szNoteName[g_nRangeLast]));
  EXPECT_EQ(g_nRangeLast, 72);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_EQ(g_nFirstNote, 12);
  EXPECT_STREQ(g_szLog[0], ">>>Play ");
  EXPECT_STREQ(g_szLog[1], "...");
  EXPECT_STREQ(g_szLog[2], "C1");
  EXPECT_EQ(g_nLogLine, 2);
  EXPECT_STREQ(g_szCurNoteText, "C1");
  EXPECT_STREQ(g_szExpectFreqText, "  33");
  for (int k = 0; k < kNoteCount; ++k) {
    EXPECT_TRUE(Holds(k, k < 12 ? NotePattern{} : kOld)) << k;  // only below the range
  }
  AcknowledgeCaution();
  EXPECT_EQ(g_nTrainState, 0);
}

TEST_F(RangeValidationTest, RejectedAttemptsEndInTheirState) {
  // Reversed: both recognised, so the positions follow the typed notes; no run started.
  EXPECT_FALSE(AcceptRange("C6", "C1"));
  EXPECT_EQ(g_nRunState, 3);
  EXPECT_EQ(g_nRangeFirst, 72);
  EXPECT_EQ(g_nRangeLast, 12);
  EXPECT_STREQ(g_szLog[2], "");

  // An unknown first note stops the lookup, whatever the last note is.
  EXPECT_FALSE(Retry("H2", "C9"));
  EXPECT_EQ(g_nRunState, 0);
  EXPECT_EQ(g_nRangeFirst, 72);
  EXPECT_FALSE(Retry("D2", "C9"));
  EXPECT_EQ(g_nRunState, 1);
  EXPECT_EQ(g_nRangeFirst, 26);
  EXPECT_EQ(g_nRangeLast, 12);
  EXPECT_FALSE(Retry("E4#", "E5"));  // there is no E sharp
  EXPECT_EQ(g_nRunState, 0);

  EXPECT_TRUE(Retry("A4", "A4"));  // a range of one note
  EXPECT_EQ(g_nCurNote, 57);
  EXPECT_STREQ(g_szLog[2], "A4");
  EXPECT_STREQ(g_szExpectFreqText, " 440");
}

TEST_F(RangeValidationTest, TypedTextIsUpperCasedCutAndLookedUpExactly) {
  // Typed, as the edit keeps it, as cut into a 4-byte buffer; cut between (UTF-8)
  // characters, never inside one.
  for (const auto& [pszTyped, pszEdited, pszCut] : {std::tuple{"c4#b", "C4#", "C4#"},
                                                    {"a", "A", "A"},
                                                    {"c4éx", "C4é", "C4"},
                                                    {"éc4", "éC4", "éC"},
                                                    {"c€#", "C€#", "C"}}) {
    EXPECT_EQ(EditNoteText(pszTyped), pszEdited);
    char szText[4];
    NormalizeNoteText(pszEdited, szText);
    EXPECT_STREQ(szText, pszCut) << pszEdited;
  }

  EXPECT_TRUE(AcceptRange(EditNoteText("e4x"), EditNoteText("g4#")));
  EXPECT_STREQ(g_szFirstNoteText, "E4");
  EXPECT_STREQ(g_szLastNoteText, "G4#");
  EXPECT_EQ(g_nRangeFirst, 52);
  EXPECT_EQ(g_nRangeLast, 56);

  EXPECT_EQ(FindNoteIndex("B8"), 107);
  EXPECT_EQ(FindNoteIndex("c4"), -1);
  EXPECT_EQ(FindNoteIndex(""), -1);
  CopyText(g_szNoteName[90], "C1");
  EXPECT_EQ(FindNoteIndex("C1"), 12);  // the first match
}

TEST_F(RangeValidationTest, HelpTexts) {
  const std::string notes =
      "Note:\r\n"
      "C0<C0#<D0<D0#<E0<F0<F0#<G0<G0#<A0<A0#<B0<C1,\r\n"
      "C1<C1#<D1<D1#<E1<F1<F1#<G1<G1#<A1<A1#<B1<C2,\r\n"
      "C2<C2#<D2<D2#<E2<F2<F2#<G2<G2#<A2<A2#<B2<C3,\r\n"
      "C3<C3#<D3<D3#<E3<F3<F3#<G3<G3#<A3<A3#<B3<C4,\r\n"
      "C4<C4#<D4<D4#<E4<F4<F4#<G4<G4#<A4<A4#<B4<C5,\r\n"
      "C5<C5#<D5<D5#<E5<F5<F5#<G5<G5#<A5<A5#<B5<C6,\r\n"
      "C6<C6#<D6<D6#<E6<F6<F6#<G6<G6#<A6<A6#<B6<C7,\r\n"
      "C7<C7#<D7<D7#<E7<F7<F7#<G7<G7#<A7<A7#<B7<C8,\r\n"
      "C8<C8#<D8<D8#<E8<F8<F8#<G8<G8#<A8<A8#<B8,\r\n"
      "The lowest note is C0, \r\n"
      "The highest note is B8. \r\n";
  const std::string rules =
      "Each note should be no more than 3 characters. \r\n"
      "The first character must be one of below letter:\r\n"
      "C, D, E, F, G, A, B. \r\n"
      "The second position should be one of below number: \r\n"
      "0, 1, 2, 3, 4, 5, 6, 7, 8.\r\n"
      "The third position should be # or empty. \r\n\r\n\r\n";
  EXPECT_EQ(RangeErrorHelpText(3),
            "Input Range Error:\r\n\r\n"
            "First input note should not be higher than\r\n"
            "last note, for example:\r\n\r\n"
            "FirstNote: C1\r\n"
            "LastNote: B1\r\n\r\n\r\n" +
                notes);
  EXPECT_EQ(RangeErrorHelpText(0), "FirstNote Input Error: \r\n\r\n" + rules + notes);
  EXPECT_EQ(RangeErrorHelpText(1), "LastNote Input Error: \r\n\r\n" + rules + notes);
  EXPECT_EQ(RangeErrorHelpText(2), RangeErrorHelpText(1));
}

}  // namespace
