#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "training/NoteTables.h"

namespace {

namespace fs = std::filesystem;

// The 108 names written out independently of the code under test.
std::vector<std::string> ExpectedStandardNames() {
  static const char* const kSemitones[12] = {"C?",  "C?#", "D?",  "D?#", "E?",  "F?",
                                             "F?#", "G?",  "G?#", "A?",  "A?#", "B?"};
  std::vector<std::string> names;
  for (int octave = 0; octave <= 8; ++octave) {
    for (const char* pszForm : kSemitones) {
      std::string name = pszForm;
      name[1] = static_cast<char>('0' + octave);
      names.push_back(name);
    }
  }
  return names;
}

std::vector<std::string> LoadedNames() {
  return std::vector<std::string>(std::begin(g_szNoteName), std::end(g_szNoteName));
}

void FillNames(const char* pszName) {
  for (auto& slot : g_szNoteName) {
    CopyText(slot, pszName);
  }
}

class NoteTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunData();
    InitNoteFrequencies();
    FillNames("stale");
    std::random_device rd;
    m_dir = fs::temp_directory_path() /
            ("sonavel-notetables-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  // Writes `bytes` unchanged to a file in the test's folder and returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes) const {
    const fs::path path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  fs::path m_dir;
};

TEST_F(NoteTablesTest, LfAndCrLfGiveTheSameNames) {
  std::vector<std::string> names;
  std::string lf, crlf;
  for (int k = 0; k < kNoteCount; ++k) {
    names.push_back("n" + std::to_string(k));
    lf += names.back() + "\n";
    crlf += names.back() + "\r\n";
  }
  ASSERT_TRUE(LoadNoteNamesFrom(WriteFile("lf.txt", lf)));
  EXPECT_EQ(LoadedNames(), names);
  FillNames("stale");
  ASSERT_TRUE(LoadNoteNamesFrom(WriteFile("crlf.txt", crlf)));
  EXPECT_EQ(LoadedNames(), names);
}

TEST_F(NoteTablesTest, NameIsTheWholeLineCutTo19) {
  const std::string longLine = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // 26 characters
  ASSERT_TRUE(LoadNoteNamesFrom(WriteFile("odd.txt", "C4 \n" + longLine + "\r\nD\rE\n\nX\n")));
  EXPECT_STREQ(g_szNoteName[0], "C4 ");  // the trailing space stays
  EXPECT_STREQ(g_szNoteName[1], longLine.substr(0, 19).c_str());
  EXPECT_STREQ(g_szNoteName[2], "D\rE");  // a carriage return inside a line is kept
  EXPECT_STREQ(g_szNoteName[3], "");
  EXPECT_STREQ(g_szNoteName[4], "X");  // nothing of the long line spilled over
  EXPECT_STREQ(g_szNoteName[5], "F0");
}

TEST_F(NoteTablesTest, EarlyEndTakesStandardNames) {
  const std::vector<std::string> standard = ExpectedStandardNames();
  for (const bool bFinalLineFeed : {true, false}) {
    FillNames("stale");
    std::string text = "a\nb\nc";
    if (bFinalLineFeed) {
      text += "\n";
    }
    ASSERT_TRUE(LoadNoteNamesFrom(WriteFile("short.txt", text)));
    std::vector<std::string> expected = standard;
    expected[0] = "a";
    expected[1] = "b";
    expected[2] = "c";
    EXPECT_EQ(LoadedNames(), expected) << "final line feed " << bFinalLineFeed;
  }
  FillNames("stale");
  ASSERT_TRUE(LoadNoteNamesFrom(WriteFile("empty.txt", "")));
  EXPECT_EQ(LoadedNames(), standard);
}

TEST_F(NoteTablesTest, MissingFileFallsBackToStandardNames) {
  testing::internal::CaptureStdout();
  const bool bOpened = LoadNoteNamesFrom((m_dir / "absent.txt").string());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(bOpened);
  EXPECT_EQ(out, "The file  was not opened\n");
  EXPECT_EQ(LoadedNames(), ExpectedStandardNames());
}

TEST_F(NoteTablesTest, ShippedFileHoldsTheStandardNames) {
  ASSERT_TRUE(LoadNoteNamesFrom("note_symbol.txt"));
  EXPECT_EQ(LoadedNames(), ExpectedStandardNames());
}

TEST_F(NoteTablesTest, Frequencies) {
  EXPECT_EQ(g_nNoteFreq[31], 95);  // G2
  EXPECT_EQ(g_nNoteFreq[7], 25);   // G0
  EXPECT_EQ(g_nNoteFreq[57], 440);
  EXPECT_EQ(g_nNoteFreq[48], 261);
  EXPECT_EQ(g_nNoteFreq[71], 987);
  EXPECT_EQ(g_nNoteFreq[0], 16);
  EXPECT_EQ(g_nNoteFreq[107], 7902);
  for (int k = 1; k < kNoteCount; ++k) {
    EXPECT_LT(g_nNoteFreq[k - 1], g_nNoteFreq[k]) << k;
  }
}

TEST_F(NoteTablesTest, LogScrollsOnceTheViewIsFull) {
  CopyText(g_szLog[0], ">>>Play ");
  CopyText(g_szLog[1], "...");
  CopyText(g_szLog[1999], "old");
  ResetLog();
  EXPECT_STREQ(g_szLog[0], ">>>Play ");
  EXPECT_STREQ(g_szLog[1], "");
  EXPECT_STREQ(g_szLog[1999], "");
  EXPECT_EQ(g_nLogLine, 2);
  EXPECT_EQ(g_nLogTop, 0);
  EXPECT_EQ(g_bLogScrolled, 0);

  for (int n = 0; n < 31; ++n) {  // lines 3 ... 33
    AdvanceLogLine(1);
  }
  EXPECT_EQ(g_nLogLine, 33);
  EXPECT_EQ(g_nLogTop, 0);
  EXPECT_EQ(g_bLogScrolled, 0);
  AdvanceLogLine(1);  // line 34
  EXPECT_EQ(g_nLogTop, 1);
  EXPECT_EQ(g_bLogScrolled, 1);
  AdvanceLogLine(1);
  EXPECT_EQ(g_nLogTop, 2);
  AdvanceLogLine(2);
  EXPECT_EQ(g_nLogLine, 36);
  EXPECT_EQ(g_nLogTop, 4);

  // Around the end of the ring both indexes wrap and the top keeps moving.
  g_nLogLine = 1999;
  g_nLogTop = 1966;
  AdvanceLogLine(1);
  EXPECT_EQ(g_nLogLine, 0);
  EXPECT_EQ(g_nLogTop, 1967);
  g_nLogTop = 1999;
  AdvanceLogLine(1);
  EXPECT_EQ(g_nLogLine, 1);
  EXPECT_EQ(g_nLogTop, 0);
  g_nLogTop = 1999;
  AdvanceLogLine(2);
  EXPECT_EQ(g_nLogTop, 1);
}

TEST_F(NoteTablesTest, TextCopiesStayInsideTheirBuffers) {
  const char* const pszLong = "ABCDEFGHIJKLMNOPQRS";  // 19 characters, a full name slot
  CopyText(g_szCurNoteText, pszLong);
  EXPECT_STREQ(g_szCurNoteText, "ABC");

  // Guard bytes after a 4-byte destination stay untouched.
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  CopyText(buffer, 4, pszLong);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ABC\0####", 8));

  std::memset(buffer, '#', sizeof buffer);
  CopyText(buffer, 4, "C1");
  AppendText(buffer, 4, "-OK-");
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("C1-\0####", 8));
  AppendText(buffer, 4, "x");  // already full
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("C1-\0####", 8));
  std::memset(buffer, '#', sizeof buffer);
  AppendText(buffer, 4, "x");  // no terminator inside the buffer: nothing to append to
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, '#'));

  // The longest log line: a 3-character name and the 13-character suffix.
  CopyText(g_szLog[5], "C1#");
  AppendText(g_szLog[5], "       -OK-");
  AppendText(g_szLog[5], pszLong);
  EXPECT_EQ(std::strlen(g_szLog[5]), static_cast<std::size_t>(kLogLineSize - 1));
  EXPECT_EQ(std::string(g_szLog[5]).substr(0, 14), "C1#       -OK-");
}

}  // namespace
