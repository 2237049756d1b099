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

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
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
  WriteAll(m_dir / kPatternDataName, std::string(9000, 'x'));
  WriteAll(m_dir / kPatternTextName, std::string(9000, 'x'));
  ASSERT_TRUE(WritePatternText(m_dir) && WritePatternData(m_dir));
  std::string text;
  for (int k = 0; k < kNoteCount; ++k)
    text += " " + StandardNoteName(k) + ":\r\n" +
            "   0   0   0   0   0   0\r\n   0   0   0   0   0   0\r\n";
  EXPECT_EQ(ReadAll(m_dir / kPatternTextName), text);
  EXPECT_EQ(ReadAll(m_dir / kPatternDataName), std::string(5184, '\0'));
  EXPECT_EQ(EntriesOf(m_dir), (std::set<std::string>{kPatternDataName, kPatternTextName}));
  // Truncated toward zero in the text, stored as they are (little-endian) in the data.
  g_fPattern[57] = {{21, 1, 1, 1, 1, 1}, {10, 0, 0, 0, 0, 0}};
  g_fPattern[1] = {{255.9f, 3.5f, -2.7f, 100, 0.99f, 7}, {10, 9.99f, 0.4f, 5, 1, 2}};
  text = FormatPatternText();
  EXPECT_NE(text.find(" A4:\r\n  21   1   1   1   1   1\r\n  10   0   0   0   0   0\r\n"),
            std::string::npos);
  EXPECT_NE(text.find(" C0#:\r\n 255   3  -2 100   0   7\r\n  10   9   0   5   1   2\r\n"),
            std::string::npos);
  const std::string data = FormatPatternData(200), one = "\0\0\x80\x3F"s;
  ASSERT_EQ(data.size(), 5184U);
  EXPECT_EQ(data.substr(57 * 48, 48), "\0\0\xA8\x41"s + one + one + one + one + one +
                                          "\0\0\x20\x41"s + std::string(20, '\0'));
  EXPECT_EQ(data.substr(48 + 4, 4), "\0\0\x60\x40"s);  // 3.5
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
  WriteAll(m_dir / "plain", "x");
  fs::create_directory(m_dir / kPatternTextName);
  fs::create_directory(m_dir / "ro");
  fs::permissions(m_dir / "ro", fs::perms{0555});
  std::vector<fs::path> folders = {m_dir / "missing", m_dir / "plain", m_dir};
  if (::geteuid() != 0) folders.push_back(m_dir / "ro");
  const int fd = ::open("/sys/.sonavel-probe", O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0 && fs::is_directory("/sys")) folders.push_back("/sys");
  if (fd >= 0) ::close(fd), fs::remove("/sys/.sonavel-probe");
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
  const std::string good[] = {ReadAll(m_dir / kPatternDataName), ReadAll(m_dir / kPatternTextName),
                              ReadAll(m_dir / "n.dat")};
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
  EXPECT_EQ(ReadAll(m_dir / kPatternDataName), good[0]);
  EXPECT_EQ(ReadAll(m_dir / kPatternTextName), good[1]);
  EXPECT_EQ(ReadAll(m_dir / "n.dat"), good[2]);
  EXPECT_EQ(EntriesOf(m_dir), before);
  if (fs::exists("/dev/full")) {
    fs::remove(m_dir / kPatternDataName);
    fs::create_symlink("/dev/full", m_dir / kPatternDataName);
    const auto [bFull, outFull, errFull] = Captured([&] { return WritePatternData(m_dir); });
    EXPECT_FALSE(bFull);
    EXPECT_EQ(outFull, "");
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
    WriteAll(file, "old and longer than the new");
    if (bLinked) fs::create_hard_link(file, link);
    fs::permissions(file, mode);
    ASSERT_EQ(::chown(file.c_str(), nOwner, nGroup), 0);
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(file, "new", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_TRUE((st.st_mode & 07777) == static_cast<unsigned>(mode) && st.st_uid == nOwner &&
                st.st_gid == nGroup);
    EXPECT_EQ(ReadAll(bLinked ? link : file), "new");
    EXPECT_EQ(EntriesOf(m_dir).size(), bLinked ? 2U : 1U);
    fs::remove(file);
    fs::remove(link);
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
    WriteAll(file, "old");
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

// Writers killed at random moments leave each file whole, old or new, and only their own
// temporary files beside them.
TEST_F(PatternFilesTest, KilledWriterLeavesTheOldOrTheNewFileNeverAPartOfOne) {
  const std::string user = (m_dir / "user.pat").string();
  const auto writeAll = [&] {
    return WritePatternData(m_dir) && WritePatternText(m_dir) && SaveUserPatternFile(user);
  };
  const auto generationOf = [&](const std::string& name) {
    const std::string bytes = ReadAll(m_dir / name);
    int nGen = -1;
    if (name == kPatternTextName) {
      if (bytes.find("\r\n") == std::string::npos ||
          std::sscanf(bytes.c_str() + bytes.find("\r\n"), "%d", &nGen) != 1)
        return -1;
    } else if (bytes.size() >= 4) {
      float fGen = 0.0f;
      std::memcpy(&fGen, bytes.data(), 4);
      nGen = static_cast<int>(fGen);
    }
    if (nGen < 0) return -1;
    FillGeneration(nGen);
    return bytes == (name == kPatternTextName
                         ? FormatPatternText()
                         : FormatPatternData(name == "user.dat" ? g_nCurNote : kNoteCount))
               ? nGen
               : -1;
  };
  FillGeneration(0);
  ASSERT_TRUE(writeAll());
  std::mt19937 rng(20240611);
  for (int nKill = 1; nKill <= 50; ++nKill) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {  // rewrites all three until killed; a byte says the first round is done
      for (int nGen = nKill * 100000;; ++nGen) {
        FillGeneration(nGen);
        if (!writeAll()) ::_exit(3);
        if (nGen == nKill * 100000) (void)!::write(fds[1], "x", 1);
      }
    }
    ::close(fds[1]);
    char ch = 0;
    const bool bRan = ::read(fds[0], &ch, 1) == 1;
    ::close(fds[0]);
    ::usleep(rng() % 4000);
    ::kill(pid, SIGKILL);
    int nStatus = 0;
    ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(bRan && WIFSIGNALED(nStatus)) << "the writer ended by itself";
    for (const std::string name : {kPatternDataName, kPatternTextName, "user.dat"}) {
      ASSERT_GE(generationOf(name), nKill * 100000) << name << " after kill " << nKill;
    }
    for (const std::string& name : EntriesOf(m_dir)) {
      ASSERT_TRUE(name == kPatternDataName || name == kPatternTextName || name == "user.dat" ||
                  (name.starts_with(".~") && name.ends_with(".tmp")))
          << name;
    }
  }
}

}  // namespace
