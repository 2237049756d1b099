// The recorder over the fake, sound-file and PortAudio devices: calls, messages, every sample.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/FakeWaveInDevice.h"
#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CoreTestSupport.h"
#include "support/SoundFiles.h"
#include "training/RangeValidation.h"

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;
using Texts = std::vector<std::string>;
using Call = CFakeWaveInDevice::Call;
using Calls = std::vector<Call>;

namespace {

using enum Call;
// Start's device calls, then those that queue a filled buffer again.
const Calls kCalls = {GetNumDevs, GetDevCaps,      Open,          PrepareHeader, AddBuffer,
                      Start,      UnprepareHeader, PrepareHeader, AddBuffer,     Start};

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return done();
}
Samples Ramp(std::size_t nCount) {  // distinct, non-zero
  Samples s(nCount);
  for (std::size_t k = 0; k < nCount; ++k)
    s[k] = static_cast<std::int16_t>(1 + (k * 7919) % 30011 - 15000 * (k % 2));
  return s;
}
template <class T>
std::vector<T> Slice(const std::vector<T>& v, std::size_t nFrom, std::size_t nTo = SIZE_MAX) {
  return {v.begin() + long(std::min(nFrom, v.size())), v.begin() + long(std::min(nTo, v.size()))};
}

// Keeps every buffer handed to ProcessBuffer; while held, the first waits inside it.
class CRecorder : public CWaveInRecorder {
 public:
  ~CRecorder() override { m_bHold = false, Stop(); }
  int ProcessBuffer(const std::int16_t* p) override {
    while (m_bHold) std::this_thread::yield();
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
  std::string WriteWav(const Samples& s, int nRate = kSampleRateHz, int nSub = SF_FORMAT_PCM_16) {
    const std::string path = (m_dir / "in.wav").string();
    WriteSound(path, s, nSub, nRate);
    return path;
  }

  fs::path m_dir = fs::temp_directory_path() / ("sonavel-capture-" + std::to_string(getpid()));
  std::mutex m_mutex;
  Texts m_texts;
  std::unique_ptr<CFakeWaveInDevice> m_dev;
  std::unique_ptr<CRecorder> m_rec;
};

// Each failing device call, in Start or in queueing the first buffer again: its message, Start's
// answer, the calls made, the buffers that still arrive (of two); Stop closes the device.
TEST_F(CaptureTest, EachFailingDeviceCallGivesItsMessageAndStopCloses) {
  const struct {
    Call call;
    int nCode;  // kWaveOk: prepare leaves a wrong flag; -1: no device
    Texts messages;
    int nResult;
    std::size_t nCalls, nBuffers;  // calls of kCalls made; buffers processed
  } cases[] = {
      {GetNumDevs, -1, {"No Sound Device"}, 0, 1, 0},
      {GetDevCaps, 5, {"Cannot determine sound card capabilities !"}, 0, 6, 0},
      {Open, kWaveErrAllocated, {"Cannot Open Sound Input Device!"}, kWaveErrAllocated, 3, 0},
      {PrepareHeader, kWaveErrNoMem, {"Cannot Prepare Header !"}, kWaveErrNoMem, 4, 0},
      {PrepareHeader, kWaveOk, {"Cannot Prepare Header !"}, 0, 4, 0},
      {AddBuffer, kWaveErrStillPlaying, {"Cannot Add Buffer !"}, kWaveErrStillPlaying, 5, 0},
      {Start, kWaveErrError, {"Cannot Start Wave In !"}, kWaveErrError, 6, 0},
      {UnprepareHeader, kWaveErrStillPlaying, {"Cannot UnPrepareHeader !"}, 0, 7, 1},
      {PrepareHeader, kWaveErrNoMem, {"Cannot Prepare Header !", "Cannot Add Buffer !"}, 0, 10, 1},
      {PrepareHeader, kWaveOk, {"Cannot Prepare Header !"}, 0, 10, 2},
      {AddBuffer, kWaveErrNoMem, {"Cannot Add Buffer !"}, 0, 10, 1},
      {Start, kWaveErrError, {"Cannot Start Wave In !"}, 0, 10, 2},
  };
  const Samples s = Ramp(2 * kBufferLen);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages.back() + std::to_string(c.nCalls));
    Renew();
    m_rec->Stop();  // never started: nothing happens
    const bool bRuns = c.nCalls > 6;
    if (c.nCode < 0) m_dev->SetDeviceCount(0);
    if (c.nCode > 0) m_dev->FailAt(c.call, c.nCode, c.nCalls > 7 ? 2 : 1);
    m_dev->SetWrongPrepareFlags(c.nCode == kWaveOk && !bRuns);
    EXPECT_EQ(m_rec->Start(), c.nResult);
    m_dev->SetWrongPrepareFlags(c.nCode == kWaveOk);
    const auto feed = [&](std::size_t b) {  // the second arrives if the first was queued again
      if (bRuns) m_dev->Deliver(s.data() + b * kBufferLen, kBufferLen);
      return b >= c.nBuffers || m_rec->WaitForSamples((b + 1) * kBufferLen);
    };
    ASSERT_TRUE(feed(0));
    EXPECT_EQ(Take(), c.messages);
    EXPECT_EQ(m_dev->Calls(), Slice(kCalls, 0, c.nCalls));
    ASSERT_TRUE(feed(1));
    EXPECT_EQ(m_dev->BuffersDelivered(), c.nBuffers);
    const std::size_t nCalls = m_dev->Calls().size();
    m_rec->Stop();
    m_rec->Stop();
    EXPECT_EQ(m_rec->Got(), Slice(s, 0, c.nBuffers * kBufferLen));
    EXPECT_FALSE(m_dev->IsOpen());
    EXPECT_EQ(Slice(m_dev->Calls(), nCalls), (c.nCalls > 3 ? Calls{Stop, Close} : Calls{}));
  }
  CRecorder noDevice;
  EXPECT_EQ(noDevice.Start(), 0);
  EXPECT_EQ(Take(), Texts{"No Sound Device"});
}

// Whatever the device's own Stop or Close answers: every whole buffer once and in order, the
// device closed, and the recorder starts again.
TEST_F(CaptureTest, SamplesReachProcessBufferOnceAndInOrderAndStopEndsCapture) {
  const Samples s = Ramp(12 * kBufferLen + 300);
  for (const Call failing : {GetNumDevs, Stop, Close}) {
    Renew();
    m_dev->FailAt(failing, failing == GetNumDevs ? kWaveOk : kWaveErrError);
    m_rec->m_bHold = true;
    ASSERT_EQ(m_rec->Start(), 0);
    for (std::size_t k = 0; k < s.size(); k += 100)  // odd chunks, across buffers
      m_dev->Deliver(s.data() + k, std::min<std::size_t>(100, s.size() - k));
    // The first buffer is held in ProcessBuffer, the second already handed over.
    ASSERT_TRUE(WaitFor([&] { return m_dev->BuffersDelivered() == 2; }));
    m_rec->m_bHold = false;
    ASSERT_TRUE(m_rec->WaitForSamples(12 * kBufferLen));
    m_rec->Stop();
    EXPECT_EQ(m_rec->Header().dwBufferLength, 1024U);
    EXPECT_EQ(m_rec->Got(), Slice(s, 0, 12 * kBufferLen));
    EXPECT_EQ(m_dev->DroppedSamples(), 0U);
    Calls expected = Slice(kCalls, 0, 6);
    for (int b = 0; b < 12; ++b) expected.insert(expected.end(), kCalls.begin() + 6, kCalls.end());
    expected.insert(expected.end(), {Stop, Close});
    EXPECT_EQ(m_dev->Calls(), expected);
    EXPECT_FALSE(m_dev->IsOpen());
    ASSERT_EQ(m_rec->Start(), 0);
    m_dev->Deliver(s.data(), kBufferLen);
    ASSERT_TRUE(m_rec->WaitForSamples(13 * kBufferLen));
  }
  EXPECT_EQ(Take(), Texts{});
}

// The worker feeds the history while this thread runs the controller's passes, which answer
// the note dialog and reset the history between notes (run under TSan).
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
  constexpr int kFed = 1200;
  for (int b = 0; b < kFed; ++b) {  // notes of 25 buffers (440 Hz, decaying), faint between
    Samples s(kBufferLen);
    const double dAmp = b % 60 < 25 ? 8000.0 * (1.0 - (b % 60) / 25.0) + 20.0 : 20.0;
    for (int k = 0; k < kBufferLen; ++k)
      s[std::size_t(k)] =
          std::int16_t(dAmp * std::sin(2 * M_PI * 440.0 * (b * kBufferLen + k) / kSampleRateHz));
    ASSERT_TRUE(WaitFor([&] { return rec.BuffersProcessed() + 40 >= std::uint64_t(b); }));
    device.Deliver(s.data(), s.size());
    TrainingTimerPass();
  }
  ASSERT_TRUE(WaitFor([&] { return rec.BuffersProcessed() == kFed; }));
  rec.Stop();
  EXPECT_EQ(std::tuple(prompt.nCalls >= 10, device.DroppedSamples(), g_nTrainState.load()),
            std::tuple(true, 0U, 0));
  SetNotePatternPrompt(nullptr);
}

// File, padding (ending exactly on a buffer), then silence, in whole buffers (16-bit as it is,
// float converted); an unreadable file fails to open each time it is started.
TEST_F(CaptureTest, SoundFileGivesFileThenPaddingThenSilenceInWholeBuffers) {
  for (const auto& [nPad, nWhole, nSub] :
       {std::tuple{924, 7U, SF_FORMAT_PCM_16}, {0, 5U, SF_FORMAT_FLOAT}}) {
    SCOPED_TRACE(nPad);
    const Samples file = Ramp(5 * kBufferLen + 100);
    CSoundFileDevice device(WriteWav(file, kSampleRateHz, nSub), nPad, 20.0);
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
    EXPECT_EQ(Slice(rec.Got(), 0, expected.size()), expected);
    EXPECT_EQ(device.ReadError(), "");
  }
  std::ofstream(m_dir / "empty.wav").close();  // missing, empty, a folder, an unusable rate
  for (const std::string& path : {(m_dir / "no.wav").string(), (m_dir / "empty.wav").string(),
                                  m_dir.string(), WriteWav(Ramp(kBufferLen), 8)}) {
    CSoundFileDevice device(path);
    CRecorder rec;
    rec.SetDevice(&device);
    for (int nTry = 0; nTry < 2; ++nTry) {
      EXPECT_EQ(rec.Start(), kWaveErrBadDevice) << path;
      rec.Stop();
    }
  }
  EXPECT_EQ(Take(), Texts(8, "Cannot Open Sound Input Device!"));
}

TEST_F(CaptureTest, PortAudioCapturesAFileSampleForSampleByDefaultIndexOrName) {
  const Samples signal = Ramp(24 * kBufferLen);
  Samples raw(signal);
  raw.resize(raw.size() + 64 * kBufferLen, 0);  // ALSA repeats stale data past the end
  std::ofstream(m_dir / "signal.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size() * 2));
  std::ofstream(m_dir / "asound.conf")  // read when PortAudio starts (a process per test)
      << "pcm.sonavelfile { type file slave.pcm { type null } file \"/dev/null\" format \"raw\""
      << " infile \"" << (m_dir / "signal.raw").string() << "\" }\npcm.!default \"sonavelfile\"\n";
  setenv("ALSA_CONFIG_PATH", (m_dir / "asound.conf").c_str(), 1);
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
    EXPECT_EQ(Slice(rec.Got(), 0, signal.size()), signal);
  }
  EXPECT_EQ(Take(), Texts{});
  EXPECT_EQ(CPortAudioDevice("no such input").GetNumDevs(), 0);
}

}  // namespace
