// The recorder over the scripted fake device, the sound-file device and PortAudio (ALSA's
// file device): device call order, each failure's message, every sample once and in order.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/FakeWaveInDevice.h"
#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CoreTestSupport.h"
#include "training/RangeValidation.h"

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;
using Texts = std::vector<std::string>;
using Call = CFakeWaveInDevice::Call;
using Calls = std::vector<Call>;

namespace {

const Calls kStart = {Call::GetNumDevs,    Call::GetDevCaps, Call::Open,
                      Call::PrepareHeader, Call::AddBuffer,  Call::Start};
const Calls kRequeue = {Call::UnprepareHeader, Call::PrepareHeader, Call::AddBuffer, Call::Start};

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Distinct non-zero samples from position `nFrom` on.
Samples Ramp(std::size_t nCount, std::size_t nFrom = 0) {
  Samples s(nCount);
  for (std::size_t k = 0; k < nCount; ++k) {
    s[k] = static_cast<std::int16_t>(1 + ((nFrom + k) * 7919) % 30011 - 15000 * ((nFrom + k) % 2));
  }
  return s;
}
template <class T>
std::vector<T> Head(const std::vector<T>& v, std::size_t n) {
  return {v.begin(), v.begin() + static_cast<long>(std::min(n, v.size()))};
}

// Keeps every buffer handed to ProcessBuffer; while held, the first waits inside it.
class CRecorder : public CWaveInRecorder {
 public:
  ~CRecorder() override { m_bHold = false, Stop(); }
  int ProcessBuffer(const std::int16_t* p) override {
    while (m_bHold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::lock_guard lock(m_mutex);
    m_samples.insert(m_samples.end(), p, p + kBufferLen);
    return 0;
  }
  bool WaitForSamples(std::size_t n) {
    return WaitFor([&] { return Got().size() >= n; });
  }
  Samples Got() {
    const std::lock_guard lock(m_mutex);
    return m_samples;
  }
  std::atomic<bool> m_bHold{false};

 private:
  std::mutex m_mutex;
  Samples m_samples;
};

class CaptureTest : public ::testing::Test, public CMessageBoxService {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir);
    SetMessageBoxService(this);
    Renew();
  }
  void TearDown() override {
    m_rec.reset();
    SetMessageBoxService(nullptr);
    fs::remove_all(m_dir);
  }
  void ShowMessage(const char* psz) override {
    const std::lock_guard lock(m_mutex);
    m_texts.emplace_back(psz);
  }
  Texts Take() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_texts, {});
  }
  void Renew() {
    m_rec.reset();
    m_dev = std::make_unique<CFakeWaveInDevice>();
    m_rec = std::make_unique<CRecorder>();
    m_rec->SetDevice(m_dev.get());
    Take();
  }
  void Deliver(const Samples& s) { m_dev->Deliver(s.data(), s.size()); }
  Calls CallsFrom(std::size_t n) const {
    const Calls c = m_dev->Calls();
    return {c.begin() + static_cast<long>(std::min(n, c.size())), c.end()};
  }
  std::string WriteWav(const Samples& s, int nRate = kSampleRateHz, int nSub = SF_FORMAT_PCM_16) {
    const std::string path = (m_dir / "in.wav").string();
    SF_INFO info{0, nRate, 1, SF_FORMAT_WAV | nSub, 0, 0};
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_command(f, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);  // float: v / 32768
    sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
    return path;
  }

  fs::path m_dir = fs::temp_directory_path() / ("sonavel-capture-" + std::to_string(getpid()));
  std::mutex m_mutex;
  Texts m_texts;
  std::unique_ptr<CFakeWaveInDevice> m_dev;
  std::unique_ptr<CRecorder> m_rec;
};

TEST_F(CaptureTest, EachFailureInStartGivesItsMessageAndCodeAndStopCloses) {
  const struct {
    Call call;
    int nCode;  // kWaveOk: prepare leaves a wrong flag; -1: no device
    const char* pszMessage;
    int nResult;
    std::size_t nCalls;  // device calls Start makes
    bool bOpened;
  } cases[] = {
      {Call::GetNumDevs, -1, "No Sound Device", 0, 1, false},
      {Call::GetDevCaps, 5, "Cannot determine sound card capabilities !", 0, 6, true},
      {Call::Open, kWaveErrAllocated, "Cannot Open Sound Input Device!", kWaveErrAllocated, 3,
       false},
      {Call::PrepareHeader, kWaveErrNoMem, "Cannot Prepare Header !", kWaveErrNoMem, 4, true},
      {Call::PrepareHeader, kWaveOk, "Cannot Prepare Header !", 0, 4, true},
      {Call::AddBuffer, kWaveErrStillPlaying, "Cannot Add Buffer !", kWaveErrStillPlaying, 5, true},
      {Call::Start, kWaveErrError, "Cannot Start Wave In !", kWaveErrError, 6, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszMessage);
    Renew();
    m_rec->Stop();  // never started: nothing happens
    if (c.nCode < 0)
      m_dev->SetDeviceCount(0);
    else
      m_dev->FailAt(c.call, c.nCode);
    m_dev->SetWrongPrepareFlags(c.nCode == kWaveOk);
    EXPECT_EQ(m_rec->Start(), c.nResult);
    EXPECT_EQ(Take(), Texts{c.pszMessage});
    EXPECT_EQ(m_dev->Calls(), Head(kStart, c.nCalls));
    m_rec->Stop();
    m_rec->Stop();
    EXPECT_FALSE(m_dev->IsOpen());
    EXPECT_EQ(CallsFrom(c.nCalls), (c.bOpened ? Calls{Call::Stop, Call::Close} : Calls{}));
  }
  CRecorder noDevice;
  EXPECT_EQ(noDevice.Start(), 0);
  EXPECT_EQ(Take(), Texts{"No Sound Device"});
}

TEST_F(CaptureTest, SamplesReachProcessBufferOnceAndInOrderWhileItIsBusy) {
  constexpr std::size_t kBuffers = 12;
  const Samples s = Ramp(kBuffers * kBufferLen);
  m_rec->m_bHold = true;
  ASSERT_EQ(m_rec->Start(), 0);
  const WaveFormat& f = m_rec->Format();
  EXPECT_TRUE(f.wFormatTag == 1 && f.nChannels == 1 && f.nSamplesPerSec == 11025 &&
              f.wBitsPerSample == 16 && f.nAvgBytesPerSec == 22050 && f.nBlockAlign == 2);
  for (std::size_t k = 0; k < s.size(); k += 100) {  // odd chunks, across buffers
    m_dev->Deliver(s.data() + k, std::min<std::size_t>(100, s.size() - k));
  }
  // The first buffer is held in ProcessBuffer, the second already handed over.
  ASSERT_TRUE(WaitFor([&] { return m_dev->BuffersDelivered() == 2; }));
  m_rec->m_bHold = false;
  ASSERT_TRUE(WaitFor([&] { return m_rec->BuffersProcessed() == kBuffers; }));
  m_rec->Stop();
  EXPECT_EQ(m_rec->Header().dwBufferLength, 1024U);
  EXPECT_EQ(m_rec->Got(), s);
  EXPECT_EQ(m_dev->DroppedSamples(), 0U);
  Calls expected = kStart;
  for (std::size_t b = 0; b < kBuffers; ++b)
    expected.insert(expected.end(), kRequeue.begin(), kRequeue.end());
  expected.insert(expected.end(), {Call::Stop, Call::Close});
  EXPECT_EQ(m_dev->Calls(), expected);
  EXPECT_EQ(Take(), Texts{});
}

// A device holding samples when the buffer is first queued: its open signal and the first
// buffer's may reach the worker as one wake-up.
class CPrefilledDevice : public CFakeWaveInDevice {
 public:
  int Open(const WaveFormat& format, CWaveEvent* pEvent) override {
    const int nCode = CFakeWaveInDevice::Open(format, pEvent);
    Deliver(Ramp(kBufferLen).data(), kBufferLen);
    return nCode;
  }
};

TEST_F(CaptureTest, BufferFilledAsSoonAsItIsQueuedIsProcessed) {
  for (int nRun = 0; nRun < 50; ++nRun) {
    CPrefilledDevice device;
    CRecorder rec;
    rec.SetDevice(&device);
    ASSERT_EQ(rec.Start(), 0);
    ASSERT_TRUE(rec.WaitForSamples(kBufferLen)) << "run " << nRun;
    rec.Stop();
    EXPECT_EQ(rec.Got(), Ramp(kBufferLen));
  }
}

TEST_F(CaptureTest, EachFailureInRequeueGivesItsMessageAndOnlySomeEndCapture) {
  const struct {
    Call call;
    int nCode;
    Texts messages;
    bool bQueued;  // the buffer was queued again
  } cases[] = {
      {Call::UnprepareHeader, kWaveErrStillPlaying, {"Cannot UnPrepareHeader !"}, false},
      {Call::PrepareHeader,
       kWaveErrNoMem,
       {"Cannot Prepare Header !", "Cannot Add Buffer !"},
       false},
      {Call::PrepareHeader, kWaveOk, {"Cannot Prepare Header !"}, true},  // wrong flags
      {Call::AddBuffer, kWaveErrNoMem, {"Cannot Add Buffer !"}, false},
      {Call::Start, kWaveErrError, {"Cannot Start Wave In !"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages.back() + std::to_string(c.nCode));
    Renew();
    ASSERT_EQ(m_rec->Start(), 0);
    m_dev->FailAt(c.call, c.nCode, c.call == Call::UnprepareHeader ? 1 : 2);
    m_dev->SetWrongPrepareFlags(c.nCode == kWaveOk);
    Deliver(Ramp(kBufferLen));
    ASSERT_TRUE(m_rec->WaitForSamples(kBufferLen));
    EXPECT_EQ(Take(), c.messages);
    EXPECT_EQ(CallsFrom(kStart.size()), c.call == Call::UnprepareHeader ? Calls{c.call} : kRequeue);
    Deliver(Ramp(kBufferLen, kBufferLen));  // captured only if the buffer was queued again
    ASSERT_TRUE(!c.bQueued || m_rec->WaitForSamples(2 * kBufferLen));
    EXPECT_EQ(m_dev->BuffersDelivered(), c.bQueued ? 2U : 1U);
    m_rec->Stop();
    EXPECT_EQ(m_rec->Got(), Ramp((c.bQueued ? 2 : 1) * kBufferLen));
    EXPECT_FALSE(m_dev->IsOpen());
  }
}

TEST_F(CaptureTest, DeviceThatStopsDeliveringIsStoppedWithWhatItGaveAndStartsAgain) {
  const Samples s = Ramp(3 * kBufferLen + 300);
  for (const std::size_t nGiven : {std::size_t{0}, s.size()}) {
    for (const int nFailing : {-1, int(Call::Stop), int(Call::Close)}) {  // the device's own
      SCOPED_TRACE(std::to_string(nGiven) + " samples, failing " + std::to_string(nFailing));
      Renew();
      if (nFailing >= 0) m_dev->FailAt(Call(nFailing), kWaveErrError);
      ASSERT_EQ(m_rec->Start(), 0);
      m_dev->Deliver(s.data(), nGiven);
      const std::size_t nWhole = nGiven / kBufferLen * kBufferLen;
      ASSERT_TRUE(m_rec->WaitForSamples(nWhole));
      m_rec->Stop();
      EXPECT_EQ(m_rec->Got(), Head(s, nWhole));
      EXPECT_FALSE(m_dev->IsOpen());
      EXPECT_EQ(m_dev->CountOf(Call::Close), 1);
      ASSERT_EQ(m_rec->Start(), 0);
      m_dev->Deliver(s.data(), kBufferLen);
      ASSERT_TRUE(m_rec->WaitForSamples(nWhole + kBufferLen));
    }
  }
  EXPECT_EQ(Take(), Texts{});
}

// The worker feeds the history from the fake device while this thread runs the controller's
// passes, which answer the note dialog and reset the history between notes (run under TSan).
TEST_F(CaptureTest, WorkerFeedsHistoryWhileControllerPassesKeepItConsistent) {
  ResetCoreForTest();
  CRecordingPrompt prompt;
  SetNotePatternPrompt(&prompt);
  ASSERT_TRUE(AcceptRange("C1", "B7"));  // more notes than the sound holds
  AcknowledgeCaution();
  CFakeWaveInDevice device;
  CWaveInRecorder rec;
  rec.SetDevice(&device);
  ASSERT_EQ(rec.Start(), 0);
  // Notes of 25 buffers (440 Hz, decaying) with 35 buffers of a faint tone between them.
  const auto feed = [&](int nFrom, int nBuffers) {
    Samples s;
    for (int n = nFrom * kBufferLen; n < (nFrom + nBuffers) * kBufferLen; ++n) {
      const int b = n / kBufferLen % 60;
      const double dAmp = b < 25 ? 8000.0 * (1.0 - b / 25.0) + 20.0 : 20.0;
      const auto v =
          static_cast<std::int16_t>(dAmp * std::sin(2 * M_PI * 440.0 * n / kSampleRateHz));
      s.push_back(v != 0 ? v : std::int16_t{1});
    }
    for (std::size_t k = 0; k < s.size(); k += 300)
      device.Deliver(s.data() + k, std::min<std::size_t>(300, s.size() - k));
  };
  constexpr int kFed = 3000;
  std::atomic<bool> bLate{false};
  std::thread feeder([&] {
    for (int b = 0; b < kFed && !bLate; b += 10) {  // at most 40 buffers ahead of the worker
      bLate = !WaitFor([&] { return device.BuffersDelivered() + 40 >= std::uint64_t(b); });
      feed(b, 10);
    }
  });
  while (rec.BuffersProcessed() < kFed && !bLate) {
    TrainingTimerPass();
    std::this_thread::yield();
  }
  feeder.join();
  ASSERT_FALSE(bLate);
  EXPECT_GE(prompt.nCalls, 10);
  feed(kFed, 8);  // the history ends with these
  ASSERT_TRUE(WaitFor([&] { return rec.BuffersProcessed() == kFed + 8; }));
  rec.Stop();
  EXPECT_EQ(device.DroppedSamples(), 0U);
  EXPECT_EQ(g_nTrainState, 0);
  // Every window's crossing count matches a fresh count over its samples n+1 ... n+511.
  const std::lock_guard lock(HistoryMutex());
  const std::int32_t nEnd = g_nCrossPos.load();
  EXPECT_GE(nEnd, 8 * kBufferLen - (kWindowLen - 1));
  std::vector<int> below(static_cast<std::size_t>(nEnd + kWindowLen) + 1, 0);
  for (std::size_t m = 1; m + 1 < below.size(); ++m) {
    below[m + 1] = below[m] + (g_fSampleRing[m - 1] * g_fSampleRing[m] < 0.0f ? 1 : 0);
  }
  for (std::size_t n = 0; n < std::size_t(nEnd); ++n) {
    ASSERT_EQ(g_fZeroCrossRing[n], float(below[n + kWindowLen] - below[n + 1])) << n;
  }
  SetNotePatternPrompt(nullptr);
}

TEST_F(CaptureTest, SoundFileGivesFileThenPaddingThenSilenceInWholeBuffers) {
  // 5 buffers and 100 samples, 16-bit (used as it is) or float (converted). With 1000 samples
  // of padding the 6th buffer is tail and padding, the 7th padding; without, the partial
  // tail is never delivered.
  const struct {
    std::int64_t nPad;
    std::size_t nWhole;
    int nSub;
  } cases[] = {{1000, 7, SF_FORMAT_PCM_16}, {0, 5, SF_FORMAT_FLOAT}};
  for (const auto& [nPad, nWhole, nSub] : cases) {
    SCOPED_TRACE(nPad);
    const Samples file = Ramp(5 * kBufferLen + 100);
    const std::string path = WriteWav(file, kSampleRateHz, nSub);
    CSoundFileReader reader(1000);  // blocks that end inside a sample and inside a read
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    Samples back(file.size() + 2 * kBufferLen);
    std::size_t nBack = 0;
    for (std::size_t n = 1; n > 0; nBack += n) n = reader.Read(back.data() + nBack, kBufferLen);
    EXPECT_EQ(Head(back, nBack), file);

    CSoundFileDevice device(path, nPad, 20.0);
    Samples expected = file;
    expected.resize(nWhole * kBufferLen, 0);
    expected.resize((nWhole + 4) * kBufferLen, 0);
    CRecorder rec;
    rec.SetDevice(&device);
    ASSERT_EQ(rec.Start(), 0);
    ASSERT_TRUE(rec.WaitForSamples(expected.size()));
    EXPECT_TRUE(device.Finished());
    EXPECT_EQ(device.BuffersPushed(), nWhole);
    rec.Stop();
    EXPECT_EQ(Head(rec.Got(), expected.size()), expected);
    EXPECT_EQ(device.ReadError(), "");
  }
  // Unreadable: missing, empty, a folder, a rate that cannot be converted.
  std::ofstream(m_dir / "empty.wav").close();
  for (const std::string& path : {(m_dir / "no.wav").string(), (m_dir / "empty.wav").string(),
                                  m_dir.string(), WriteWav(Ramp(kBufferLen), 8)}) {
    CSoundFileDevice device(path);
    std::string error;
    EXPECT_FALSE(device.OpenFile(error)) << path;
    CRecorder rec;
    rec.SetDevice(&device);
    for (int nTry = 0; nTry < 2; ++nTry) {
      EXPECT_EQ(rec.Start(), kWaveErrBadDevice);
      rec.Stop();
    }
  }
  EXPECT_EQ(Take(), Texts(8, "Cannot Open Sound Input Device!"));
}

// Cut short on disk while the device is paused in the middle of it, or removed after opening.
TEST_F(CaptureTest, SoundFileCutShortEndsInSilenceWithAnErrorAndRemovedOnePlaysOn) {
  const Samples file = Ramp(40 * kBufferLen + 100);
  for (const bool bCut : {true, false}) {
    SCOPED_TRACE(bCut);
    const std::string path = WriteWav(file);
    const std::uintmax_t nHeader = fs::file_size(path) - 2 * file.size();
    CSoundFileDevice device(path, 0, 20.0);
    CRecorder rec;
    rec.SetDevice(&device);
    ASSERT_EQ(rec.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return device.BuffersPushed() >= 4; }));
    ASSERT_EQ(device.Stop(), kWaveOk);  // paused, it reads no further than its buffer
    const std::uint64_t nKept = device.BuffersPushed() + 2;
    if (bCut)
      fs::resize_file(path, nHeader + 2 * (nKept * kBufferLen + 100));
    else
      fs::remove(path);
    ASSERT_EQ(device.Start(), kWaveOk);
    ASSERT_TRUE(WaitFor([&] { return device.Finished(); }));
    const std::uint64_t nPushed = bCut ? nKept : file.size() / kBufferLen;
    EXPECT_EQ(device.BuffersPushed(), nPushed);
    ASSERT_TRUE(rec.WaitForSamples((nPushed + 3) * kBufferLen));
    rec.Stop();
    Samples expected = Head(file, nPushed * kBufferLen);
    expected.resize((nPushed + 3) * kBufferLen, 0);
    EXPECT_EQ(Head(rec.Got(), expected.size()), expected);
    EXPECT_EQ(device.ReadError().find("cut short") != std::string::npos, bCut)
        << device.ReadError();
  }
  EXPECT_EQ(Take(), Texts{});
}

TEST_F(CaptureTest, SoundFileAtRealSpeedGivesElevenThousandSamplesASecond) {
  // A sanity check of the pace over about 3 s, within 10 %, not a timing test.
  CSoundFileDevice device(WriteWav(Ramp(3 * kBufferLen)), 4 * kBufferLen);
  m_rec->SetDevice(&device);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(m_rec->Start(), 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto nGot = static_cast<double>(m_rec->BuffersProcessed());
  const std::chrono::duration<double> time = std::chrono::steady_clock::now() - start;
  m_rec->Stop();
  const double dExpected = time.count() * kSampleRateHz / kBufferLen;
  EXPECT_NEAR(nGot, dExpected, 0.1 * dExpected);
  EXPECT_EQ(device.BuffersPushed(), 7U);
}

// PortAudio reads ALSA_CONFIG_PATH when it starts, once per process (ctest runs each test
// in its own).
void UseAlsaConfig(const fs::path& dir, const std::string& config) {
  std::ofstream(dir / "asound.conf") << config;
  setenv("ALSA_CONFIG_PATH", (dir / "asound.conf").c_str(), 1);
}

TEST_F(CaptureTest, PortAudioWithoutADeviceSaysSoAndStartsNothing) {
  UseAlsaConfig(m_dir, "pcm.!default { type plug slave.pcm \"sonavelmissing\" }\n");
  std::string error;
  EXPECT_TRUE(ListPortAudioInputs(error).empty()) << error;
  for (const char* pszChoice : {"", "0", "sonavel"}) {
    CPortAudioDevice device(pszChoice);
    m_rec->SetDevice(&device);
    EXPECT_EQ(m_rec->Start(), 0);
    m_rec->Stop();
  }
  EXPECT_EQ(Take(), Texts(3, "No Sound Device"));
}

TEST_F(CaptureTest, PortAudioCapturesAFileSampleForSampleByDefaultIndexOrName) {
  const Samples signal = Ramp(24 * kBufferLen);
  Samples raw(signal);
  raw.resize(raw.size() + 64 * kBufferLen, 0);  // ALSA repeats stale data past the end
  std::ofstream(m_dir / "signal.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size() * 2));
  UseAlsaConfig(m_dir,
                "pcm.sonavelfile { type file slave.pcm { type null } file \"/dev/null\""
                " format \"raw\" infile \"" +
                    (m_dir / "signal.raw").string() + "\" }\npcm.!default \"sonavelfile\"\n");
  std::string error;
  const std::vector<PortAudioInput> inputs = ListPortAudioInputs(error);
  if (inputs.empty()) GTEST_SKIP() << "PortAudio lists no input for ALSA's file device " << error;
  Texts choices{"", "sonavelf"};
  for (const PortAudioInput& input : inputs) choices.push_back(std::to_string(input.nIndex));
  for (const std::string& choice : choices) {
    SCOPED_TRACE(choice);
    CPortAudioDevice device(choice);
    CRecorder rec;
    rec.SetDevice(&device);
    ASSERT_EQ(rec.Start(), 0);
    ASSERT_TRUE(rec.WaitForSamples(signal.size()));
    rec.Stop();  // although the file device delivers as fast as it can
    EXPECT_EQ(Head(rec.Got(), signal.size()), signal);
  }
  EXPECT_EQ(Take(), Texts{});
  EXPECT_EQ(CPortAudioDevice("no such input").GetNumDevs(), 0);
}

}  // namespace
