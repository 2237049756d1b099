#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/PatternFiles.h"
#include "training/NoteTables.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> EntriesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string out;
  for (const unsigned v : values) {
    out += static_cast<char>(v);
  }
  return out;
}

void SetRecord(int nNote, std::initializer_list<float> bins, std::initializer_list<float> weights) {
  int n = 0;
  for (const float f : bins) {
    g_fPattern[nNote].fBin[n++] = f;
  }
  n = 0;
  for (const float f : weights) {
    g_fPattern[nNote].fWeight[n++] = f;
  }
}

// Lowers the limit on the size of files this process writes, with SIGXFSZ ignored so an
// oversized write fails with EFBIG instead of ending the process; both are restored at
// the end of the scope. Works for root too, unlike permission bits.
class CFileSizeLimit {
 public:
  explicit CFileSizeLimit(rlim_t nBytes) {
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit lowered = m_old;
    lowered.rlim_cur = nBytes;
    m_bActive = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~CFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
  }
  CFileSizeLimit(const CFileSizeLimit&) = delete;
  CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;
  bool Active() const { return m_bActive; }

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
  bool m_bActive = false;
};

class PatternFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunData();
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    std::random_device device;
    m_dir = fs::temp_directory_path() / ("sonavel-pattern-files-" + std::to_string(::getpid()) +
                                         "-" + std::to_string(device()));
    fs::create_directories(m_dir);
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
    ResetRunData();
  }

  // The text of an untrained store with the standard names, built line by line.
  static std::string UntrainedText() {
    std::string text;
    for (int k = 0; k < kNoteCount; ++k) {
      text += " " + StandardNoteName(k) + ":\r\n";
      text += "   0   0   0   0   0   0\r\n   0   0   0   0   0   0\r\n";
    }
    return text;
  }

  fs::path m_dir;
};

// --- Byte formats ---------------------------------------------------------------------

TEST_F(PatternFilesTest, UntrainedRunWritesExactTextAndZeroData) {
  ASSERT_TRUE(WritePatternText(m_dir));
  ASSERT_TRUE(WritePatternData(m_dir));

  const std::string text = ReadAll(m_dir / "default_pattern.txt");
  EXPECT_EQ(text.size(), 6309U);
  EXPECT_EQ(text, UntrainedText());
  EXPECT_EQ(text.substr(0, 6), " C0:\r\n");

  const std::string data = ReadAll(m_dir / "default_pattern.dat");
  EXPECT_EQ(data, std::string(5184, '\0'));
  EXPECT_EQ(EntriesOf(m_dir),
            (std::vector<std::string>{"default_pattern.dat", "default_pattern.txt"}));
}

TEST_F(PatternFilesTest, TrainedRecordHasExactTextLinesAndLittleEndianFloats) {
  SetRecord(57, {21, 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0});
  // Values are truncated toward zero before they are formatted.
  SetRecord(1, {255.9f, 3.5f, -2.7f, 100, 0.99f, 7}, {10, 9.99f, 0.4f, 5, 1, 2});

  const std::string text = FormatPatternText();
  EXPECT_NE(text.find(" A4:\r\n  21   1   1   1   1   1\r\n  10   0   0   0   0   0\r\n"),
            std::string::npos);
  EXPECT_NE(text.find(" C0#:\r\n 255   3  -2 100   0   7\r\n  10   9   0   5   1   2\r\n"),
            std::string::npos);

  ASSERT_TRUE(WritePatternData(m_dir));
  const std::string data = ReadAll(m_dir / "default_pattern.dat");
  ASSERT_EQ(data.size(), 5184U);
  const std::string record = data.substr(57 * 48, 48);
  EXPECT_EQ(record.substr(0, 4), Bytes({0x00, 0x00, 0xA8, 0x41}));   // 21.0
  EXPECT_EQ(record.substr(4, 4), Bytes({0x00, 0x00, 0x80, 0x3F}));   // 1.0
  EXPECT_EQ(record.substr(24, 4), Bytes({0x00, 0x00, 0x20, 0x41}));  // 10.0
  EXPECT_EQ(record.substr(28, 20), std::string(20, '\0'));
  // Fractions are stored as they are, not truncated.
  EXPECT_EQ(data.substr(48 + 4, 4), Bytes({0x00, 0x00, 0x60, 0x40}));  // 3.5
  EXPECT_EQ(data.substr(0, 48), std::string(48, '\0'));
}

TEST_F(PatternFilesTest, RewriteReplacesTheWholeOldContent) {
  WriteAll(m_dir / "default_pattern.dat", std::string(9000, 'x'));
  WriteAll(m_dir / "default_pattern.txt", std::string(9000, 'x'));
  ASSERT_TRUE(WritePatternData(m_dir));
  ASSERT_TRUE(WritePatternText(m_dir));
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.dat"), std::string(5184, '\0'));
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.txt"), UntrainedText());
}

// --- User pattern file ------------------------------------------------------------------

TEST_F(PatternFilesTest, UserFileNameTakesDatExtensionInTheChosenFolder) {
  const fs::path dir("some.folder");
  EXPECT_EQ(UserPatternFilePath((dir / "notes.txt").string()), dir / "notes.dat");
  EXPECT_EQ(UserPatternFilePath((dir / "notes.data").string()), dir / "notes.dat");
  EXPECT_EQ(UserPatternFilePath((dir / "notes.dat").string()), dir / "notes.dat");
  EXPECT_EQ(UserPatternFilePath((dir / "a.bc").string()), dir / "a.dat");
  EXPECT_EQ(UserPatternFilePath((dir / "violin").string()), dir / "violin.dat");
  EXPECT_EQ(UserPatternFilePath((dir / ".hidden").string()), dir / ".hidden.dat");
  EXPECT_EQ(UserPatternFilePath((dir / "my.notes.txt").string()), dir / "my.notes.dat");
  EXPECT_EQ(UserPatternFilePath("violin"), fs::path("violin.dat"));
  EXPECT_TRUE(UserPatternFilePath("").empty());
  EXPECT_TRUE(UserPatternFilePath((dir / "").string()).empty());
}

TEST_F(PatternFilesTest, UserFileHoldsTheRecordsBelowTheCurrentNote) {
  for (int k = 0; k < kNoteCount; ++k) {
    SetRecord(k, {static_cast<float>(k + 1), 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0});
  }
  ASSERT_TRUE(WritePatternData(m_dir));
  const std::string full = ReadAll(m_dir / "default_pattern.dat");

  g_nCurNote = 60;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "notes.txt").string()));
  EXPECT_EQ(ReadAll(m_dir / "notes.dat"), full.substr(0, 2880));
  EXPECT_FALSE(fs::exists(m_dir / "notes.txt"));

  g_nCurNote = 107;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "notes.txt").string()));
  EXPECT_EQ(ReadAll(m_dir / "notes.dat"), full.substr(0, 107 * 48));

  g_nCurNote = 0;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "violin").string()));
  ASSERT_TRUE(fs::exists(m_dir / "violin.dat"));
  EXPECT_EQ(fs::file_size(m_dir / "violin.dat"), 0U);

  EXPECT_EQ(EntriesOf(m_dir),
            (std::vector<std::string>{"default_pattern.dat", "notes.dat", "violin.dat"}));
}

TEST_F(PatternFilesTest, UserSavedIsSetOnlyByACompleteWrite) {
  g_nCurNote = 12;
  EXPECT_FALSE(SaveUserPatternFile((m_dir / "missing" / "notes.dat").string()));
  EXPECT_EQ(g_bUserSaved, 0);
  EXPECT_FALSE(SaveUserPatternFile(""));
  EXPECT_EQ(g_bUserSaved, 0);

  ASSERT_TRUE(SaveUserPatternFile((m_dir / "notes.dat").string()));
  EXPECT_EQ(g_bUserSaved, 1);
  EXPECT_EQ(fs::file_size(m_dir / "notes.dat"), 12U * 48U);
}

TEST_F(PatternFilesTest, NameNearTheFileSystemLimitIsSaved) {
  // The temporary file must not need a longer name than the target itself.
  const std::string stem(251, 'n');
  g_nCurNote = 2;
  std::string error;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / (stem + ".txt")).string(), &error)) << error;
  EXPECT_EQ(fs::file_size(m_dir / (stem + ".dat")), 96U);
  EXPECT_EQ(EntriesOf(m_dir).size(), 1U);
}

// --- Failure paths ------------------------------------------------------------------------

TEST_F(PatternFilesTest, ExitFileThatCannotBeCreatedPrintsTheMessage) {
  const fs::path notAFolder = m_dir / "plain-file";
  WriteAll(notAFolder, "x");
  fs::create_directory(m_dir / "default_pattern.txt");  // a folder where the file should go

  for (const fs::path& folder : {m_dir / "missing", notAFolder, m_dir}) {
    SCOPED_TRACE(folder.string());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool bWritten = WritePatternText(folder);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(bWritten);
    EXPECT_EQ(out, "The file  was not opened\n");
    EXPECT_NE(err.find("default_pattern.txt"), std::string::npos) << err;
  }
  testing::internal::CaptureStdout();
  EXPECT_FALSE(WritePatternData(m_dir / "missing"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "The file  was not opened\n");

  EXPECT_EQ(EntriesOf(m_dir), (std::vector<std::string>{"default_pattern.txt", "plain-file"}));
  EXPECT_TRUE(fs::is_directory(m_dir / "default_pattern.txt"));
  EXPECT_FALSE(fs::exists(m_dir / "missing"));

  g_nCurNote = 5;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveUserPatternFile((notAFolder / "notes").string()));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("notes.dat"), std::string::npos) << err;
  EXPECT_EQ(g_bUserSaved, 0);
}

TEST_F(PatternFilesTest, FullDiskFailsNamingTheFileAndTheReason) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  std::string error;
  EXPECT_FALSE(WriteFileReplacing("/dev/full", FormatPatternData(kNoteCount), &error));
  EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
  EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;

  // Through a link: the exit file opens, so no open message, but the write fails.
  fs::create_symlink("/dev/full", m_dir / "default_pattern.dat");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WritePatternData(m_dir));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("default_pattern.dat"), std::string::npos) << err;
  EXPECT_NE(err.find(std::strerror(ENOSPC)), std::string::npos) << err;

  fs::create_symlink("/dev/full", m_dir / "notes.dat");
  g_nCurNote = 60;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveUserPatternFile((m_dir / "notes.txt").string(), &error));
  testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
  EXPECT_EQ(g_bUserSaved, 0);
  EXPECT_TRUE(fs::is_symlink(m_dir / "notes.dat"));
  EXPECT_EQ(EntriesOf(m_dir).size(), 2U);
}

TEST_F(PatternFilesTest, FailedRewriteKeepsTheGoodFileAndLeavesNoTemporary) {
  SetRecord(3, {21, 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0});
  g_nCurNote = 108;
  ASSERT_TRUE(WritePatternData(m_dir));
  ASSERT_TRUE(WritePatternText(m_dir));
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "notes.dat").string()));
  const std::string goodData = ReadAll(m_dir / "default_pattern.dat");
  const std::string goodText = ReadAll(m_dir / "default_pattern.txt");
  const auto entriesBefore = EntriesOf(m_dir);

  SetRecord(3, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0});
  g_bUserSaved = 0;
  bool bData = true;
  bool bText = true;
  bool bUser = true;
  std::string userError;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    // Every rewrite stops after 1000 bytes.
    const CFileSizeLimit limit(1000);
    EXPECT_TRUE(limit.Active());
    bData = WritePatternData(m_dir);
    bText = WritePatternText(m_dir);
    bUser = SaveUserPatternFile((m_dir / "notes.dat").string(), &userError);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(bData);
  EXPECT_FALSE(bText);
  EXPECT_FALSE(bUser);
  EXPECT_EQ(out, "");  // the files were opened; only the writes failed
  EXPECT_NE(err.find("default_pattern.dat: " + std::string(std::strerror(EFBIG))),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("default_pattern.txt"), std::string::npos) << err;
  EXPECT_NE(userError.find("notes.dat"), std::string::npos) << userError;
  EXPECT_EQ(g_bUserSaved, 0);

  EXPECT_EQ(ReadAll(m_dir / "default_pattern.dat"), goodData);
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.txt"), goodText);
  EXPECT_EQ(ReadAll(m_dir / "notes.dat"), goodData);
  EXPECT_EQ(EntriesOf(m_dir), entriesBefore);
}

}  // namespace
