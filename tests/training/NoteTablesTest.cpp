#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "training/NoteTables.h"

namespace {

// The 108 names written out independently of the code under test.
std::vector<std::string> StandardNames() {
  std::vector<std::string> names;
  for (char octave = '0'; octave <= '8'; ++octave) {
    for (const char* psz : {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}) {
      names.push_back(std::string{psz[0], octave} + (psz + 1));
    }
  }
  return names;
}

void FillStale() {
  for (auto& slot : g_szNoteName) {
    CopyText(slot, "stale");
  }
}

// Loads a file holding exactly `bytes` over stale names.
bool Load(const std::string& bytes) {
  FillStale();
  const std::string path =
      testing::TempDir() + "sonavel-names-" + std::to_string(std::random_device{}()) + ".txt";
  std::ofstream(path, std::ios::binary) << bytes;
  const bool bOpened = LoadNoteNamesFrom(path);
  std::remove(path.c_str());
  return bOpened;
}

std::vector<std::string> Loaded() {
  return std::vector<std::string>(std::begin(g_szNoteName), std::end(g_szNoteName));
}

TEST(NoteTablesTest, LfAndCrLfGiveTheSameNames) {
  std::vector<std::string> names;
  std::string lf, crlf;
  for (int k = 0; k < kNoteCount; ++k) {
    names.push_back("n" + std::to_string(k));
    lf += names.back() + "\n";
    crlf += names.back() + "\r\n";
  }
  ASSERT_TRUE(Load(lf));
  EXPECT_EQ(Loaded(), names);
  ASSERT_TRUE(Load(crlf));
  EXPECT_EQ(Loaded(), names);
}

TEST(NoteTablesTest, NameIsTheWholeLineCutTo19) {
  ASSERT_TRUE(Load("C4 \nABCDEFGHIJKLMNOPQRSTUVWXYZ\r\nD\rE\n\nX\n"));
  EXPECT_STREQ(g_szNoteName[0], "C4 ");  // the trailing space stays
  EXPECT_STREQ(g_szNoteName[1], "ABCDEFGHIJKLMNOPQRS");
  EXPECT_STREQ(g_szNoteName[2], "D\rE");  // a carriage return inside a line is kept
  EXPECT_STREQ(g_szNoteName[3], "");
  EXPECT_STREQ(g_szNoteName[4], "X");  // nothing of the long line spilled over
  EXPECT_STREQ(g_szNoteName[5], "F0");
}

TEST(NoteTablesTest, EarlyEndTakesStandardNames) {
  std::vector<std::string> expected = StandardNames();
  expected[0] = "a";
  expected[1] = "b";
  expected[2] = "c";
  for (const char* pszText : {"a\nb\nc\n", "a\nb\nc"}) {
    ASSERT_TRUE(Load(pszText));
    EXPECT_EQ(Loaded(), expected) << pszText;
  }
}

TEST(NoteTablesTest, ShippedFileOrFallbackGiveTheStandardNames) {
  FillStale();
  testing::internal::CaptureStdout();
  LoadNoteNames();  // note_symbol.txt in the current directory
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Loaded(), StandardNames());

  FillStale();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(LoadNoteNamesFrom(testing::TempDir() + "sonavel-no-such-folder/names.txt"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "The file  was not opened\n");
  EXPECT_EQ(Loaded(), StandardNames());
}

TEST(NoteTablesTest, Frequencies) {
  InitNoteFrequencies();
  for (const auto& [k, nFreq] :
       {std::pair{0, 16}, {7, 25}, {31, 95}, {48, 261}, {57, 440}, {71, 987}, {107, 7902}}) {
    EXPECT_EQ(g_nNoteFreq[k], nFreq) << k;
  }
  for (int k = 1; k < kNoteCount; ++k) {
    EXPECT_LT(g_nNoteFreq[k - 1], g_nNoteFreq[k]) << k;
  }
}

TEST(NoteTablesTest, LogScrollsOnceTheViewIsFullAndWraps) {
  CopyText(g_szLog[0], ">>>Play ");
  CopyText(g_szLog[1], "...");
  CopyText(g_szLog[1999], "old");
  g_nLogLine = g_nLogTop = g_bLogScrolled = 1;
  ResetLog();
  EXPECT_STREQ(g_szLog[0], ">>>Play ");
  EXPECT_STREQ(g_szLog[1], "");
  EXPECT_STREQ(g_szLog[1999], "");
  EXPECT_TRUE(g_nLogLine == 2 && g_nLogTop == 0 && g_bLogScrolled == 0);

  for (int n = 0; n < 31; ++n) {  // lines 3 ... 33
    AdvanceLogLine(1);
  }
  EXPECT_TRUE(g_nLogLine == 33 && g_nLogTop == 0 && g_bLogScrolled == 0);
  AdvanceLogLine(1);  // line 34
  EXPECT_TRUE(g_nLogTop == 1 && g_bLogScrolled == 1);
  AdvanceLogLine(1);
  AdvanceLogLine(2);
  EXPECT_TRUE(g_nLogLine == 36 && g_nLogTop == 4);

  // Around the end of the ring both indexes wrap.
  g_nLogLine = g_nLogTop = 1999;
  AdvanceLogLine(1);
  EXPECT_TRUE(g_nLogLine == 0 && g_nLogTop == 0);
  g_nLogTop = 1999;
  AdvanceLogLine(2);
  EXPECT_TRUE(g_nLogLine == 1 && g_nLogTop == 1);
}

TEST(NoteTablesTest, TextCopiesStayInsideTheirBuffers) {
  // Guard bytes after a 4-byte destination stay untouched.
  char buffer[8];
  const auto bytes = [&] { return std::string(buffer, sizeof buffer); };
  std::memset(buffer, '#', sizeof buffer);
  CopyText(buffer, 4, "ABCDEFG");
  EXPECT_EQ(bytes(), std::string("ABC\0####", 8));
  CopyText(buffer, 4, "C1");
  AppendText(buffer, 4, "-OK-");
  EXPECT_EQ(bytes(), std::string("C1-\0####", 8));
  AppendText(buffer, 4, "x");  // already full
  EXPECT_EQ(bytes(), std::string("C1-\0####", 8));
  std::memset(buffer, '#', sizeof buffer);
  AppendText(buffer, 4, "x");  // no terminator inside the buffer: nothing to append to
  EXPECT_EQ(bytes(), std::string(8, '#'));

  // The longest log line: a 3-character name and the suffix, cut to the line's size.
  CopyText(g_szLog[5], "C1#");
  AppendText(g_szLog[5], "       -OK-");
  AppendText(g_szLog[5], "ABCDEFGHIJKLMNOPQRS");
  EXPECT_STREQ(g_szLog[5], "C1#       -OK-ABCDE");
}

}  // namespace
