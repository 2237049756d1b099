#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
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
using namespace std::string_literals;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> EntriesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SetRecord(int nNote, std::array<float, 6> bins, std::array<float, 6> weights) {
  std::copy(bins.begin(), bins.end(), g_fPattern[nNote].fBin);
  std::copy(weights.begin(), weights.end(), g_fPattern[nNote].fWeight);
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
  bool Active() const { return m_bActive; }

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
  bool m_bActive = false;
};

// Runs WritePatternText(folder) in a child process as a user whom permission bits bind:
// nobody when this test runs as root. The child's standard output and error go to `out` and
// `err`. Returns its exit code: 0 written, 1 failed, 2 the user could not be changed.
int WriteTextAsUser(const fs::path& folder, const fs::path& out, const fs::path& err) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    ::_exit(WritePatternText(folder) ? 0 : 1);
  }
  int nStatus = -1;
  ::waitpid(pid, &nStatus, 0);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

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

  struct Output {
    bool bOk;
    std::string out;
    std::string err;
  };
  // Runs `write` with standard output and standard error captured.
  template <typename F>
  static Output Captured(F write) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool bOk = write();
    std::string out = testing::internal::GetCapturedStdout();
    return {bOk, out, testing::internal::GetCapturedStderr()};
  }

  fs::path m_dir;
};

// --- Byte formats ---------------------------------------------------------------------

TEST_F(PatternFilesTest, UntrainedRunWritesExactTextAndZeroDataOverOldContent) {
  WriteAll(m_dir / "default_pattern.dat", std::string(9000, 'x'));
  WriteAll(m_dir / "default_pattern.txt", std::string(9000, 'x'));
  ASSERT_TRUE(WritePatternText(m_dir));
  ASSERT_TRUE(WritePatternData(m_dir));
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.txt"), UntrainedText());
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.dat"), std::string(5184, '\0'));
  EXPECT_EQ(EntriesOf(m_dir),
            (std::vector<std::string>{"default_pattern.dat", "default_pattern.txt"}));
}

TEST_F(PatternFilesTest, TrainedRecordHasExactTextLinesAndLittleEndianFloats) {
  SetRecord(57, {21, 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0});
  // Values are truncated toward zero in the text, stored as they are in the data.
  SetRecord(1, {255.9f, 3.5f, -2.7f, 100, 0.99f, 7}, {10, 9.99f, 0.4f, 5, 1, 2});

  const std::string text = FormatPatternText();
  EXPECT_NE(text.find(" A4:\r\n  21   1   1   1   1   1\r\n  10   0   0   0   0   0\r\n"),
            std::string::npos);
  EXPECT_NE(text.find(" C0#:\r\n 255   3  -2 100   0   7\r\n  10   9   0   5   1   2\r\n"),
            std::string::npos);

  ASSERT_TRUE(WritePatternData(m_dir));
  const std::string data = ReadAll(m_dir / "default_pattern.dat");
  ASSERT_EQ(data.size(), 5184U);
  const std::string one = "\0\0\x80\x3F"s;
  EXPECT_EQ(data.substr(57 * 48, 48), "\0\0\xA8\x41"s + one + one + one + one + one +
                                          "\0\0\x20\x41"s +
                                          std::string(20, '\0'));  // 21, 1 x 5, 10, 0 x 5
  EXPECT_EQ(data.substr(48 + 4, 4), "\0\0\x60\x40"s);              // 3.5
  EXPECT_EQ(data.substr(0, 48), std::string(48, '\0'));
}

// --- User pattern file ------------------------------------------------------------------

TEST_F(PatternFilesTest, UserFileNameTakesDatExtensionInTheChosenFolder) {
  const fs::path dir("some.folder");
  const std::pair<const char*, const char*> cases[] = {
      {"notes.txt", "notes.dat"}, {"notes.data", "notes.dat"}, {"notes.dat", "notes.dat"},
      {"violin", "violin.dat"},   {".hidden", ".hidden.dat"},  {"my.notes.txt", "my.notes.dat"}};
  for (const auto& [chosen, written] : cases) {
    EXPECT_EQ(UserPatternFilePath((dir / chosen).string()), dir / written) << chosen;
  }
  EXPECT_EQ(UserPatternFilePath("violin"), fs::path("violin.dat"));
  EXPECT_TRUE(UserPatternFilePath("").empty());
  EXPECT_TRUE(UserPatternFilePath((dir / "").string()).empty());
}

TEST_F(PatternFilesTest, UserFileHoldsTheRecordsBelowTheCurrentNote) {
  for (int k = 0; k < kNoteCount; ++k) {
    SetRecord(k, {static_cast<float>(k + 1), 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0});
  }
  const std::string full = FormatPatternData(kNoteCount);

  g_nCurNote = 60;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "notes.txt").string()));
  EXPECT_EQ(ReadAll(m_dir / "notes.dat"), full.substr(0, 60 * 48));
  EXPECT_EQ(g_bUserSaved, 1);

  g_bUserSaved = 0;
  EXPECT_FALSE(Captured([] { return SaveUserPatternFile(""); }).bOk);
  EXPECT_EQ(g_bUserSaved, 0);

  g_nCurNote = 0;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / "violin").string()));
  EXPECT_EQ(ReadAll(m_dir / "violin.dat"), "");

  // The temporary file must not need a longer name than the target itself.
  const std::string stem(251, 'n');
  g_nCurNote = 2;
  std::string error;
  ASSERT_TRUE(SaveUserPatternFile((m_dir / (stem + ".txt")).string(), &error)) << error;
  EXPECT_EQ(ReadAll(m_dir / (stem + ".dat")), full.substr(0, 96));

  EXPECT_EQ(EntriesOf(m_dir), (std::vector<std::string>{stem + ".dat", "notes.dat", "violin.dat"}));
}

// --- Failure paths ------------------------------------------------------------------------

TEST_F(PatternFilesTest, ExitFileThatCannotBeCreatedPrintsTheMessage) {
  const fs::path notAFolder = m_dir / "plain-file";
  WriteAll(notAFolder, "x");
  fs::create_directory(m_dir / "default_pattern.txt");  // a folder where the file should go

  for (const fs::path& folder : {m_dir / "missing", notAFolder, m_dir}) {
    SCOPED_TRACE(folder.string());
    const Output text = Captured([&] { return WritePatternText(folder); });
    EXPECT_FALSE(text.bOk);
    EXPECT_EQ(text.out, "The file  was not opened\n");
    EXPECT_NE(text.err.find("default_pattern.txt"), std::string::npos) << text.err;
  }
  const Output data = Captured([&] { return WritePatternData(m_dir / "missing"); });
  EXPECT_EQ(data.out, "The file  was not opened\n");
  EXPECT_NE(data.err.find("default_pattern.dat"), std::string::npos) << data.err;
  EXPECT_EQ(EntriesOf(m_dir), (std::vector<std::string>{"default_pattern.txt", "plain-file"}));
  EXPECT_TRUE(fs::is_directory(m_dir / "default_pattern.txt"));

  g_nCurNote = 5;
  const Output user =
      Captured([&] { return SaveUserPatternFile((notAFolder / "notes").string()); });
  EXPECT_FALSE(user.bOk);
  EXPECT_EQ(user.out, "");
  EXPECT_NE(user.err.find("notes.dat"), std::string::npos) << user.err;
  EXPECT_EQ(g_bUserSaved, 0);
}

TEST_F(PatternFilesTest, FullDiskFailsNamingTheFileAndTheReason) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  // Through a link: the exit file opens, so no open message, but the write fails.
  fs::create_symlink("/dev/full", m_dir / "default_pattern.dat");
  const Output data = Captured([&] { return WritePatternData(m_dir); });
  EXPECT_FALSE(data.bOk);
  EXPECT_EQ(data.out, "");
  EXPECT_NE(data.err.find("default_pattern.dat: " + std::string(std::strerror(ENOSPC))),
            std::string::npos)
      << data.err;
  EXPECT_TRUE(fs::is_symlink(m_dir / "default_pattern.dat"));
  EXPECT_EQ(EntriesOf(m_dir).size(), 1U);
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
  std::string userError;
  const Output out = Captured([&] {
    const CFileSizeLimit limit(1000);  // every rewrite stops after 1000 bytes
    EXPECT_TRUE(limit.Active());
    const bool bData = WritePatternData(m_dir);
    const bool bText = WritePatternText(m_dir);
    const bool bUser = SaveUserPatternFile((m_dir / "notes.dat").string(), &userError);
    return bData || bText || bUser;
  });
  EXPECT_FALSE(out.bOk);
  EXPECT_EQ(out.out, "");  // the files were opened; only the writes failed
  EXPECT_NE(out.err.find("default_pattern.dat: " + std::string(std::strerror(EFBIG))),
            std::string::npos)
      << out.err;
  EXPECT_NE(out.err.find("default_pattern.txt"), std::string::npos) << out.err;
  EXPECT_NE(userError.find("notes.dat"), std::string::npos) << userError;
  EXPECT_EQ(g_bUserSaved, 0);

  EXPECT_EQ(ReadAll(m_dir / "default_pattern.dat"), goodData);
  EXPECT_EQ(ReadAll(m_dir / "default_pattern.txt"), goodText);
  EXPECT_EQ(ReadAll(m_dir / "notes.dat"), goodData);
  EXPECT_EQ(EntriesOf(m_dir), entriesBefore);
}

TEST_F(PatternFilesTest, RewriteKeepsModeOwnerAndEveryLink) {
  // Only root may give a file away, and root may rewrite a read-only file (as it may in place).
  const bool bRoot = ::geteuid() == 0;
  const uid_t nOwner = bRoot ? 65534 : ::geteuid();
  const gid_t nGroup = bRoot ? 65534 : ::getegid();
  const fs::path file = m_dir / "notes.dat";
  const fs::path link = m_dir / "link.dat";
  const std::pair<fs::perms, bool> cases[] = {{fs::perms{0604}, false},
                                              {bRoot ? fs::perms{0444} : fs::perms{0600}, false},
                                              {fs::perms{0640}, true}};
  for (const auto& [mode, bLinked] : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(mode)) + (bLinked ? " linked" : ""));
    WriteAll(file, "old and longer than the new");
    if (bLinked) {
      fs::create_hard_link(file, link);
    }
    fs::permissions(file, mode);
    ASSERT_EQ(::chown(file.c_str(), nOwner, nGroup), 0);
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(file, "new", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<unsigned>(mode));
    EXPECT_EQ(st.st_uid, nOwner);
    EXPECT_EQ(st.st_gid, nGroup);
    EXPECT_EQ(ReadAll(bLinked ? link : file), "new");
    EXPECT_EQ(EntriesOf(m_dir).size(), bLinked ? 2U : 1U);
    fs::remove(file);
    fs::remove(link);
  }
}

TEST_F(PatternFilesTest, FileThatMayNotBeReplacedIsLeftAloneOrWrittenInPlace) {
  struct Case {
    const char* pszWhat;
    fs::perms folderMode;
    fs::perms fileMode;  // of a file the writer does not own when the test runs as root
    bool bWritten;
  };
  const Case cases[] = {
      {"read-only file, writable folder", fs::perms{0777}, fs::perms{0444}, false},
      {"writable file, read-only folder", fs::perms{0555}, fs::perms{0666}, true},
      {"writable file, sticky folder", fs::perms{01777}, fs::perms{0666}, true}};
  const fs::path folder = m_dir / "folder";
  const fs::path file = folder / kPatternTextName;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    fs::create_directory(folder);
    WriteAll(file, "old");
    fs::permissions(file, c.fileMode);
    fs::permissions(folder, c.folderMode);
    const int nCode = WriteTextAsUser(folder, m_dir / "out", m_dir / "err");
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_NE(nCode, 2) << "could not become user nobody";
    EXPECT_EQ(nCode, c.bWritten ? 0 : 1);
    EXPECT_EQ(ReadAll(file).size(), c.bWritten ? FormatPatternText().size() : 3U);
    EXPECT_EQ(fs::status(file).permissions(), c.fileMode);
    EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{kPatternTextName});
    EXPECT_EQ(ReadAll(m_dir / "out"), c.bWritten ? "" : "The file  was not opened\n");
    EXPECT_EQ(
        ReadAll(m_dir / "err"),
        c.bWritten ? "" : "Could not write " + file.string() + ": " + std::strerror(EACCES) + "\n");
    fs::remove_all(folder);
  }
}

}  // namespace
