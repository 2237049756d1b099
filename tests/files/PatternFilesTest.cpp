#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "files/PatternFiles.h"
#include "support/CoreTestSupport.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::set<std::string> EntriesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// Generation nGen of the store: every value depends on it, note 0's first bin is nGen.
void FillGeneration(int nGen) {
  for (int n = 0; n < kNoteCount; ++n) {
    for (int k = 0; k < kPeakCount; ++k) {
      g_fPattern[n].fBin[k] = static_cast<float>((nGen + 7 * n + k) % 256 + 1);
      g_fPattern[n].fWeight[k] = static_cast<float>((nGen + n + k) % 11);
    }
  }
  g_fPattern[0].fBin[0] = static_cast<float>(nGen);
  g_nCurNote = 1 + nGen % kNoteCount;
}

// Runs `write` with the standard output and error captured: {result, out, err}.
template <typename F>
std::tuple<bool, std::string, std::string> Captured(F write) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const bool bOk = write();
  std::string out = testing::internal::GetCapturedStdout();
  return {bOk, out, testing::internal::GetCapturedStderr()};
}

class PatternFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    m_dir = fs::temp_directory_path() / ("sonavel-files-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(std::random_device{}()));
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(m_dir / "ro", fs::perms::owner_all, ec);
    fs::remove_all(m_dir, ec);
    ResetCoreForTest();
  }
  fs::path m_dir;
};

TEST_F(PatternFilesTest, ExactBytesOverOldContent) {
  std::ofstream(m_dir / kPatternDataName) << std::string(9000, 'x');
  std::ofstream(m_dir / kPatternTextName) << std::string(9000, 'x');
  ASSERT_TRUE(WritePatternText(m_dir) && WritePatternData(m_dir));  // the formats: golden runs
  EXPECT_EQ(ReadAll(m_dir / kPatternTextName), FormatPatternText());
  EXPECT_EQ(ReadAll(m_dir / kPatternDataName), std::string(5184, '\0'));
  EXPECT_EQ(EntriesOf(m_dir), (std::set<std::string>{kPatternDataName, kPatternTextName}));
  // Truncated toward zero in the text, stored as they are (little-endian) in the data.
  g_fPattern[1] = {{255.9f, 3.5f, -2.7f, 100, 0.99f, 7}, {10, 9.99f, 0.4f, 5, 1, 2}};
  EXPECT_NE(
      FormatPatternText().find(" C0#:\r\n 255   3  -2 100   0   7\r\n  10   9   0   5   1   2\r\n"),
      std::string::npos);
  const std::string data = FormatPatternData(200);
  EXPECT_TRUE(data.size() == 5184U && data.substr(48 + 4, 4) == "\0\0\x60\x40"s);  // 3.5
}

TEST_F(PatternFilesTest, UserFileNameAndRecordsBelowTheCurrentNote) {
  for (const auto& [chosen, written] : {std::pair{"d/notes.txt", "d/notes.dat"},
                                        {"d/notes.data", "d/notes.dat"},
                                        {"d/notes.dat", "d/notes.dat"},
                                        {"violin", "violin.dat"},
                                        {"d/.hidden", "d/.hidden.dat"},
                                        {"my.notes.txt", "my.notes.dat"},
                                        {"", ""},
                                        {"d/", ""}}) {
    EXPECT_EQ(UserPatternFilePath(chosen), fs::path(written)) << chosen;
  }
  FillGeneration(5);
  const std::string full = FormatPatternData(kNoteCount);
  const std::string stem(251, 'n');  // the temporary name is no longer than the target's
  for (const auto& [nCur, name, saved] : {std::tuple{60, "notes.txt"s, "notes.dat"s},
                                          {0, "violin", "violin.dat"},
                                          {2, stem + ".txt", stem + ".dat"}}) {
    g_nCurNote = nCur;
    g_bUserSaved = 0;
    std::string error;
    ASSERT_TRUE(SaveUserPatternFile((m_dir / name).string(), &error)) << error;
    EXPECT_EQ(ReadAll(m_dir / saved), full.substr(0, 48 * nCur));
    EXPECT_EQ(g_bUserSaved, 1);
  }
  g_bUserSaved = 0;
  EXPECT_FALSE(std::get<0>(Captured([] { return SaveUserPatternFile(""); })) || g_bUserSaved);
  EXPECT_EQ(EntriesOf(m_dir).size(), 3U);
}

// Nothing written where a file cannot be created: the exit files print the open message and
// name the file; /sys takes no new file even from root.
TEST_F(PatternFilesTest, FilesThatCannotBeCreated) {
  std::ofstream(m_dir / "plain") << "x";
  fs::create_directory(m_dir / kPatternTextName);
  fs::create_directory(m_dir / "ro");
  fs::permissions(m_dir / "ro", fs::perms{0555});
  std::vector<fs::path> folders = {m_dir / "missing", m_dir / "plain", m_dir};
  if (::geteuid() != 0) folders.push_back(m_dir / "ro");
  for (const fs::path& folder : folders) {
    SCOPED_TRACE(folder);
    for (const auto& [name, write] :
         {std::pair{kPatternTextName, &WritePatternText}, {kPatternDataName, &WritePatternData}}) {
      if (folder == m_dir && name == kPatternDataName) continue;
      const auto [bOk, out, err] = Captured([&] { return write(folder); });
      EXPECT_FALSE(bOk);
      EXPECT_EQ(out, "The file  was not opened\n");
      EXPECT_EQ(err.find("Could not write " + (folder / name).string() + ": "), 0U) << err;
    }
    if (folder == m_dir) continue;
    g_nCurNote = 5;
    std::string error;
    EXPECT_FALSE(std::get<0>(
        Captured([&] { return SaveUserPatternFile((folder / "notes").string(), &error); })));
    EXPECT_NE(error.find((folder / "notes.dat").string() + ": "), std::string::npos) << error;
    EXPECT_EQ(g_bUserSaved, 0);
  }
  EXPECT_EQ(EntriesOf(m_dir), (std::set<std::string>{kPatternTextName, "plain", "ro"}));
  EXPECT_TRUE(EntriesOf(m_dir / "ro").empty() && fs::is_directory(m_dir / kPatternTextName));
}

// A full disk (through a link, so the file opens) and a file size limit: the writes fail
// naming the file and the reason, and what was there stays whole with no temporary left.
TEST_F(PatternFilesTest, FailedWritesKeepTheGoodFile) {
  FillGeneration(3);
  g_nCurNote = 108;
  ASSERT_TRUE(WritePatternData(m_dir) && WritePatternText(m_dir) &&
              SaveUserPatternFile((m_dir / "n.dat").string()));
  const auto before = EntriesOf(m_dir);
  const auto contents = [&] {
    return ReadAll(m_dir / kPatternDataName) + ReadAll(m_dir / kPatternTextName) +
           ReadAll(m_dir / "n.dat");
  };
  const std::string good = contents();
  FillGeneration(4);
  g_nCurNote = 108;
  g_bUserSaved = 0;
  std::string userError;
  const auto [bOk, out, err] = Captured([&] {
    rlimit old{}, lowered{};
    getrlimit(RLIMIT_FSIZE, &old);
    lowered = {1000, old.rlim_max};  // every rewrite stops after 1000 bytes
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const bool b = WritePatternData(m_dir) | WritePatternText(m_dir) |
                   SaveUserPatternFile((m_dir / "n.dat").string(), &userError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return b;
  });
  EXPECT_FALSE(bOk || g_bUserSaved);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find(kPatternDataName + ": "s + std::strerror(EFBIG)), std::string::npos) << err;
  EXPECT_NE(err.find(kPatternTextName), std::string::npos) << err;
  EXPECT_NE(userError.find("n.dat"), std::string::npos) << userError;
  EXPECT_TRUE(contents() == good && EntriesOf(m_dir) == before);
  if (fs::exists("/dev/full")) {
    fs::remove(m_dir / kPatternDataName);
    fs::create_symlink("/dev/full", m_dir / kPatternDataName);
    const auto [bFull, outFull, errFull] = Captured([&] { return WritePatternData(m_dir); });
    EXPECT_TRUE(!bFull && outFull.empty());
    EXPECT_NE(errFull.find(kPatternDataName + ": "s + std::strerror(ENOSPC)), std::string::npos)
        << errFull;
    EXPECT_TRUE(fs::is_symlink(m_dir / kPatternDataName) && EntriesOf(m_dir) == before);
  }
}

TEST_F(PatternFilesTest, RewriteKeepsModeOwnerAndEveryLink) {
  const bool bRoot = ::geteuid() == 0;  // only root may give a file away
  const uid_t nOwner = bRoot ? 65534 : ::geteuid();
  const gid_t nGroup = bRoot ? 65534 : ::getegid();
  const fs::path file = m_dir / "notes.dat", link = m_dir / "link.dat";
  for (const auto& [mode, bLinked] : {std::pair{fs::perms{0604}, false},
                                      {bRoot ? fs::perms{0444} : fs::perms{0600}, false},
                                      {fs::perms{0640}, true}}) {
    SCOPED_TRACE(static_cast<int>(mode));
    std::ofstream(file) << "old and longer than the new";
    if (bLinked) fs::create_hard_link(file, link);
    fs::permissions(file, mode);
    ASSERT_EQ(::chown(file.c_str(), nOwner, nGroup), 0);
    ASSERT_TRUE(WriteFileReplacing(file, "new"));
    struct stat st {};
    EXPECT_TRUE(::stat(file.c_str(), &st) == 0 && (st.st_mode & 07777) == unsigned(mode) &&
                st.st_uid == nOwner && st.st_gid == nGroup);
    EXPECT_TRUE(ReadAll(bLinked ? link : file) == "new" && EntriesOf(m_dir).size() == 1u + bLinked);
    fs::remove(file), fs::remove(link);
  }
}

// As user nobody (when run as root): a read-only file is left alone; a writable one in a
// folder that takes no new file, or a sticky one, is written in place.
TEST_F(PatternFilesTest, FileThatMayNotBeReplacedIsLeftAloneOrWrittenInPlace) {
  const fs::path folder = m_dir / "ro", file = folder / kPatternTextName;
  for (const auto& [folderMode, fileMode, bWritten] :
       {std::tuple{fs::perms{0777}, fs::perms{0444}, false},
        {fs::perms{0555}, fs::perms{0666}, true},
        {fs::perms{01777}, fs::perms{0666}, true}}) {
    fs::create_directory(folder);
    std::ofstream(file) << "old";
    fs::permissions(file, fileMode);
    fs::permissions(folder, folderMode);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(::open((m_dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      ::dup2(::open((m_dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(2);
      ::_exit(WritePatternText(folder) ? 0 : 1);
    }
    int nStatus = -1;
    ::waitpid(pid, &nStatus, 0);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) != 2) << "could not become user nobody";
    EXPECT_EQ(WEXITSTATUS(nStatus), bWritten ? 0 : 1);
    EXPECT_EQ(ReadAll(file).size(), bWritten ? FormatPatternText().size() : 3U);
    EXPECT_TRUE(fs::status(file).permissions() == fileMode && EntriesOf(folder).size() == 1);
    EXPECT_EQ(ReadAll(m_dir / "out"), bWritten ? "" : "The file  was not opened\n");
    EXPECT_EQ(
        ReadAll(m_dir / "err"),
        bWritten ? "" : "Could not write " + file.string() + ": " + std::strerror(EACCES) + "\n");
    fs::remove_all(folder);
  }
}

}  // namespace
