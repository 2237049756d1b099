// Faults from outside the program: a process killed while it writes the pattern files, a
// folder nothing can be written into, a capture device that stops delivering, and a sound
// file that disappears or is cut short while it is being played. Each ends with a clear
// message (or none where nothing went wrong) and without a damaged file.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/FakeWaveInDevice.h"
#include "capture/SoundFileDevice.h"
#include "cli/Trainer.h"
#include "files/PatternFiles.h"
#include "support/CaptureTestSupport.h"
#include "support/CoreTestSupport.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Samples = std::vector<std::int16_t>;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Polls `done` for up to 20 s; false if it never held.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs `call` on a thread of its own; a call that has not returned after 20 s is a hang,
// which ends the test program with a message (the thread cannot be taken back).
void MustReturn(const char* pszWhat, const std::function<void()>& call) {
  std::atomic<bool> bDone{false};
  std::thread worker([&] {
    call();
    bDone = true;
  });
  if (!WaitFor([&] { return bDone.load(); })) {
    std::fprintf(stderr, "%s did not return within 20 s\n", pszWhat);
    std::abort();
  }
  worker.join();
}

// `nCount` distinct non-zero samples: a tone with two harmonics under a slow swell.
Samples Tones(std::size_t nCount) {
  Samples s(nCount);
  for (std::size_t k = 0; k < nCount; ++k) {
    const double t = static_cast<double>(k) / kSampleRateHz;
    const double dEnv = 0.2 + 0.8 * std::abs(std::sin(3.14159 * t));
    const double v = 6000.0 * dEnv * (std::sin(2 * 3.14159 * 400 * t) + 0.4 * std::sin(5026 * t));
    s[k] = static_cast<std::int16_t>(v == 0.0 ? 1.0 : v);
  }
  return s;
}

// A 16-bit mono WAV; returns the size of its header, the bytes before the samples.
std::uintmax_t WriteWav(const fs::path& path, const Samples& s) {
  SF_INFO info{};
  info.samplerate = kSampleRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(pFile, nullptr) << sf_strerror(nullptr);
  sf_write_short(pFile, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(pFile);
  return fs::file_size(path) - 2 * s.size();
}

class FaultInjectionTest : public ::testing::Test, public CMessageBoxService {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    m_dir = fs::temp_directory_path() / ("sonavel-faults-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(std::random_device{}()));
    fs::create_directories(m_dir);
    SetMessageBoxService(this);
  }
  void TearDown() override {
    SetMessageBoxService(nullptr);
    ResetCoreForTest();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  void ShowMessage(const char* pszText) override {
    const std::lock_guard lock(m_mutex);
    m_messages.emplace_back(pszText);
  }
  std::vector<std::string> Messages() {
    const std::lock_guard lock(m_mutex);
    return m_messages;
  }

  fs::path m_dir;
  std::mutex m_mutex;
  std::vector<std::string> m_messages;
};

// --- Pattern files --------------------------------------------------------------------

// Generation `nGen` of the pattern store: every value depends on it, note 0's first bin is
// the generation itself, and the user file holds 1 ... 108 records.
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

// The generation a file's content was written from, or -1 if it is none of them.
int GenerationOf(const std::string& name, const std::string& bytes) {
  int nGen = -1;
  if (name == kPatternTextName) {
    const std::size_t nEol = bytes.find("\r\n");
    if (nEol == std::string::npos || std::sscanf(bytes.c_str() + nEol, "%d", &nGen) != 1) {
      return -1;
    }
  } else {
    float fGen = -1.0F;
    if (bytes.size() < sizeof fGen) {
      return -1;
    }
    std::memcpy(&fGen, bytes.data(), sizeof fGen);
    nGen = static_cast<int>(fGen);
  }
  if (nGen < 0) {
    return -1;
  }
  FillGeneration(nGen);
  const std::string expected = name == kPatternTextName   ? FormatPatternText()
                               : name == kPatternDataName ? FormatPatternData(kNoteCount)
                                                          : FormatPatternData(g_nCurNote);
  return bytes == expected ? nGen : -1;
}

TEST_F(FaultInjectionTest, KilledWriterLeavesTheOldOrTheNewFileNeverAPartOfOne) {
  const std::string userChoice = (m_dir / "user.pat").string();
  const std::vector<std::string> targets = {kPatternDataName, kPatternTextName, "user.dat"};
  FillGeneration(0);
  ASSERT_TRUE(WritePatternData(m_dir) && WritePatternText(m_dir) &&
              SaveUserPatternFile(userChoice));

  constexpr int kKills = 50;
  std::mt19937 rng(20240611);
  int nNewest = 0;
  for (int nKill = 1; nKill <= kKills; ++nKill) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The child rewrites all three files in a loop until it is killed; one byte on the
      // pipe says the first round was complete.
      ::close(fds[0]);
      for (int nGen = nKill * 100000;; ++nGen) {
        FillGeneration(nGen);
        if (!WritePatternData(m_dir) || !WritePatternText(m_dir) ||
            !SaveUserPatternFile(userChoice)) {
          ::_exit(3);
        }
        if (nGen == nKill * 100000) {
          (void)!::write(fds[1], "x", 1);
          ::close(fds[1]);
        }
      }
    }
    ::close(fds[1]);
    char ch = 0;
    const bool bRan = ::read(fds[0], &ch, 1) == 1;  // EOF if the child ended early
    ::close(fds[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 4000));
    ::kill(pid, SIGKILL);
    int nStatus = 0;
    ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(bRan && WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL)
        << "the writer ended by itself, status " << nStatus;

    for (const std::string& name : targets) {
      const int nGen = GenerationOf(name, ReadAll(m_dir / name));
      ASSERT_GE(nGen, nKill * 100000) << name << " after kill " << nKill << " is not complete";
      nNewest = std::max(nNewest, nGen);
    }
    for (const auto& entry : fs::directory_iterator(m_dir)) {
      const std::string name = entry.path().filename().string();
      const bool bTarget = std::find(targets.begin(), targets.end(), name) != targets.end();
      ASSERT_TRUE(bTarget || (name.starts_with(".~") && name.ends_with(".tmp"))) << name;
    }
  }
  const auto nEntries = std::distance(fs::directory_iterator(m_dir), fs::directory_iterator());
  std::printf("%d kills, newest generation %d, %d temporary files left behind\n", kKills, nNewest,
              static_cast<int>(nEntries) - 3);
  RecordProperty("strayTemporaries", static_cast<int>(nEntries) - 3);
}

// An existing folder into which not even root can create a file (/sys), and for other
// users also one without write permission.
std::vector<fs::path> UnwritableFolders(const fs::path& scratch) {
  std::vector<fs::path> folders;
  if (::geteuid() != 0) {
    fs::create_directory(scratch);
    fs::permissions(scratch, fs::perms::owner_read | fs::perms::owner_exec);
    folders.push_back(scratch);
  }
  const fs::path sys = "/sys";
  const fs::path probe = sys / (".sonavel-probe-" + std::to_string(::getpid()));
  const int fd = fs::is_directory(sys) ? ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600)
                                       : ::open("/", O_DIRECTORY);
  if (fd >= 0) {
    ::close(fd);
    std::error_code ec;
    fs::remove(probe, ec);
  } else {
    folders.push_back(sys);
  }
  return folders;
}

TEST_F(FaultInjectionTest, UnwritableFolderFailsClearlyAndNothingIsWritten) {
  const std::vector<fs::path> folders = UnwritableFolders(m_dir / "read-only");
  if (folders.empty()) {
    GTEST_SKIP() << "no folder here that refuses new files to this user";
  }
  const fs::path sound = m_dir / "in.wav";
  WriteWav(sound, Tones(4096));
  const auto ours = [](const fs::path& folder) {
    int nOurs = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      nOurs += name.starts_with("default_pattern.") || name.starts_with("notes.") ||
               name.starts_with(".~") || name.starts_with(".sonavel");
    }
    return nOurs;
  };
  for (const fs::path& folder : folders) {
    SCOPED_TRACE(folder.string());
    for (const auto& [pszName, write] :
         {std::pair{kPatternDataName, &WritePatternData}, {kPatternTextName, &WritePatternText}}) {
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      EXPECT_FALSE(write(folder));
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "The file  was not opened\n");
      EXPECT_THAT(testing::internal::GetCapturedStderr(),
                  HasSubstr("Could not write " + (folder / pszName).string() + ": "));
    }
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveUserPatternFile((folder / "notes").string(), &error));
    testing::internal::GetCapturedStderr();
    EXPECT_THAT(error, HasSubstr((folder / "notes.dat").string() + ": "));
    EXPECT_EQ(g_bUserSaved, 0);

    const std::string outArg = folder.string();
    const char* const argv[] = {"sonavel-train", "--input", sound.c_str(), "--out", outArg.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunTrainer(5, argv, out, err), 1);
    EXPECT_THAT(err.str(), HasSubstr("cannot write into the output folder " + outArg));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(ours(folder), 0);
  }
}

// --- Capture --------------------------------------------------------------------------

TEST_F(FaultInjectionTest, DeviceThatStopsDeliveringIsStoppedPromptlyWithWhatItGave) {
  Samples samples(3 * kBufferLen + 300);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<std::int16_t>(k * 13 % 20011 - 10000);
  }
  // Silent from the start, after three and a half buffers, and with the device's own Stop
  // or Close failing as the recorder stops.
  for (const std::size_t nGiven : {std::size_t{0}, samples.size()}) {
    for (const int nFailing : {-1, static_cast<int>(CFakeWaveInDevice::Call::Stop),
                               static_cast<int>(CFakeWaveInDevice::Call::Close)}) {
      SCOPED_TRACE(std::to_string(nGiven) + " samples, failing call " + std::to_string(nFailing));
      CFakeWaveInDevice device;
      if (nFailing >= 0) {
        device.FailAt(static_cast<CFakeWaveInDevice::Call>(nFailing), kWaveErrError);
      }
      CCollectingRecorder recorder;
      recorder.SetDevice(&device);
      ASSERT_EQ(recorder.Start(), 0);
      device.Deliver(samples.data(), nGiven);
      const std::size_t nWhole = nGiven / kBufferLen * kBufferLen;
      ASSERT_TRUE(recorder.WaitForSamples(nWhole));
      MustReturn("Stop", [&] { recorder.Stop(); });
      EXPECT_EQ(recorder.Captured(),
                Samples(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(nWhole)));
      EXPECT_FALSE(device.IsOpen());
      EXPECT_EQ(device.CountOf(CFakeWaveInDevice::Call::Close), 1);

      // The same recorder starts again afterwards and captures.
      device.FailAt(CFakeWaveInDevice::Call::Stop, kWaveOk);
      ASSERT_EQ(recorder.Start(), 0);
      device.Deliver(samples.data(), kBufferLen);
      ASSERT_TRUE(recorder.WaitForSamples(nWhole + kBufferLen));
      MustReturn("Stop", [&] { recorder.Stop(); });
    }
  }
  EXPECT_TRUE(Messages().empty());
}

// The sound-file device plays a file that is cut short on disk (while the device is paused
// in the middle of it) or removed (after it was opened).
TEST_F(FaultInjectionTest, SoundFileCutShortEndsInSilenceWithAnErrorAndRemovedOnePlaysOn) {
  const Samples file = Tones(40 * kBufferLen + 100);
  for (const bool bCut : {true, false}) {
    SCOPED_TRACE(bCut ? "cut" : "removed");
    const fs::path path = m_dir / "played.wav";
    const std::uintmax_t nHeader = WriteWav(path, file);
    CSoundFileDevice device(path.string(), 0, 20.0);
    CCollectingRecorder recorder;
    recorder.SetDevice(&device);
    ASSERT_EQ(recorder.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return device.BuffersPushed() >= 4; }));
    // While the device is paused it reads at most the buffer it was reading.
    ASSERT_EQ(device.Stop(), kWaveOk);
    const std::uint64_t nKept = device.BuffersPushed() + 2;
    if (bCut) {
      fs::resize_file(path, nHeader + 2 * (nKept * kBufferLen + 100));
    } else {
      fs::remove(path);
    }
    ASSERT_EQ(device.Start(), kWaveOk);
    ASSERT_TRUE(WaitFor([&] { return device.Finished(); }));
    const std::uint64_t nPushed = bCut ? nKept : file.size() / kBufferLen;
    EXPECT_EQ(device.BuffersPushed(), nPushed);
    ASSERT_TRUE(recorder.WaitForSamples((nPushed + 3) * kBufferLen));
    MustReturn("Stop", [&] { recorder.Stop(); });

    const Samples got = recorder.Captured();
    const auto nFileSamples = static_cast<std::ptrdiff_t>(nPushed * kBufferLen);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + nFileSamples, file.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + nFileSamples, got.end(), [](auto v) { return v == 0; }));
    if (bCut) {
      EXPECT_THAT(device.ReadError(), HasSubstr("cut short"));
    } else {
      EXPECT_EQ(device.ReadError(), "");
    }
  }
  EXPECT_TRUE(Messages().empty());
}

// The same through sonavel-train --realtime: a file cut short fails the run and keeps the
// earlier pattern files; a file removed while it plays still trains.
TEST_F(FaultInjectionTest, TrainerOnACutOrRemovedFileFailsClearlyOrCompletes) {
  const Samples file = Tones(30 * kSampleRateHz);
  const fs::path out = m_dir / "out";
  const fs::path trace = m_dir / "trace.jsonl";
  for (const bool bCut : {true, false}) {
    SCOPED_TRACE(bCut ? "cut" : "removed");
    const fs::path path = m_dir / "in.wav";
    const std::uintmax_t nHeader = WriteWav(path, file);
    fs::create_directories(out);
    std::ofstream(out / kPatternTextName, std::ios::binary) << "earlier run\r\n";
    std::ofstream(out / kPatternDataName, std::ios::binary) << "earlier data";
    std::error_code ec;
    fs::remove(trace, ec);

    const std::string args[] = {"sonavel-train", "--input",     path.string(), "--realtime",
                                "--speed",       "20",          "--out",       out.string(),
                                "--trace",       trace.string()};
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(arg.c_str());
    }
    std::ostringstream outText;
    std::ostringstream errText;
    std::atomic<int> nCode{-1};
    std::thread run(
        [&] { nCode = RunTrainer(static_cast<int>(argv.size()), argv.data(), outText, errText); });
    // The trace is created once the input is open, just before capture starts; the whole
    // file takes 1.5 s at this speed.
    const bool bOpened = WaitFor([&] { return fs::exists(trace) || nCode.load() != -1; });
    if (bCut) {
      fs::resize_file(path, nHeader + 2 * 10 * kSampleRateHz);
    } else {
      fs::remove(path);
    }
    run.join();
    ASSERT_TRUE(bOpened);
    if (bCut) {
      EXPECT_EQ(nCode.load(), 1);
      EXPECT_THAT(errText.str(), HasSubstr("cut short"));
      EXPECT_THAT(errText.str(), HasSubstr("no pattern file was written"));
      EXPECT_EQ(ReadAll(out / kPatternTextName), "earlier run\r\n");
      EXPECT_EQ(ReadAll(out / kPatternDataName), "earlier data");
    } else {
      EXPECT_EQ(nCode.load(), 0) << errText.str();
      EXPECT_EQ(fs::file_size(out / kPatternDataName), 48U * kNoteCount);
      EXPECT_THAT(ReadAll(out / kPatternTextName), ::testing::StartsWith(" C0:\r\n"));
      EXPECT_THAT(outText.str(), ::testing::StartsWith(">>>Play \n"));
    }
  }
}

}  // namespace
