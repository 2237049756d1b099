// The recorder over the scripted fake device: the order of the device calls, the message and
// result of a failure at each of them, stopping in every state, and every delivered sample
// reaching ProcessBuffer exactly once and in order.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/FakeWaveInDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CaptureTestSupport.h"
#include "training/FrontEnd.h"

namespace {

using Call = CFakeWaveInDevice::Call;
using Calls = std::vector<Call>;

constexpr int kSamplesPerBuffer = 512;

const Calls kStartCalls = {Call::GetNumDevs,    Call::GetDevCaps, Call::Open,
                           Call::PrepareHeader, Call::AddBuffer,  Call::Start};
const Calls kRequeueCalls = {Call::UnprepareHeader, Call::PrepareHeader, Call::AddBuffer,
                             Call::Start};

// Polls `done` for up to ten seconds; false if it never held.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Threads of this process, or -1 where the system does not list them. The first call starts
// and joins a thread, so that the runtime's helper threads are already there.
int ThreadCount() {
  static std::once_flag warm;
  std::call_once(warm, [] { std::thread([] {}).join(); });
  std::error_code error;
  std::filesystem::directory_iterator it("/proc/self/task", error);
  return error ? -1 : static_cast<int>(std::distance(it, std::filesystem::directory_iterator()));
}

// Keeps what ProcessBuffer is handed; while held, the first buffer waits inside it (after it
// was handed over, so the device is already filling the next one).
class CRecordingRecorder : public CWaveInRecorder {
 public:
  ~CRecordingRecorder() override {
    Release();
    Stop();
  }
  int ProcessBuffer(const std::int16_t* pSamples) override {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_bHold; });
    m_samples.insert(m_samples.end(), pSamples, pSamples + kSamplesPerBuffer);
    return 0;
  }
  void Hold() { m_bHold = true; }
  void Release() {
    {
      const std::lock_guard lock(m_mutex);
      m_bHold = false;
    }
    m_cv.notify_all();
  }
  std::vector<std::int16_t> Samples() {
    const std::lock_guard lock(m_mutex);
    return m_samples;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bHold = false;
  std::vector<std::int16_t> m_samples;
};

std::vector<std::int16_t> Ramp(int nCount, int nFrom = 0) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(nCount));
  for (int k = 0; k < nCount; ++k) {
    samples[static_cast<std::size_t>(k)] = static_cast<std::int16_t>((nFrom + k) * 7 % 30011);
  }
  return samples;
}

class WaveInRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxService(&m_messages);
    Renew();
  }
  void TearDown() override {
    m_recorder.reset();
    SetMessageBoxService(nullptr);
  }
  // A new device and recorder, and no messages yet.
  void Renew() {
    m_recorder.reset();
    m_device = std::make_unique<CFakeWaveInDevice>();
    m_recorder = std::make_unique<CRecordingRecorder>();
    m_recorder->SetDevice(m_device.get());
    m_messages.Clear();
  }
  void Deliver(const std::vector<std::int16_t>& samples) {
    m_device->Deliver(samples.data(), samples.size());
  }
  // The device calls after the first `nSkip`.
  Calls CallsFrom(std::size_t nSkip) const {
    const Calls calls = m_device->Calls();
    return {calls.begin() + static_cast<long>(std::min(nSkip, calls.size())), calls.end()};
  }

  CRecordingMessages m_messages;
  std::unique_ptr<CFakeWaveInDevice> m_device;
  std::unique_ptr<CRecordingRecorder> m_recorder;
};

TEST_F(WaveInRecorderTest, EachFailureInStartGivesItsMessageAndCodeAndStaysStoppable) {
  struct Case {
    Call call;
    int nCode;
    const char* pszMessage;
    int nResult;
    std::size_t nCalls;  // device calls Start makes, a prefix of the full sequence
    bool bOpened;
  };
  const Case cases[] = {
      {Call::GetDevCaps, 5, "Cannot determine sound card capabilities !", 0, 6, true},
      {Call::Open, kWaveErrAllocated, "Cannot Open Sound Input Device!", kWaveErrAllocated, 3,
       false},
      {Call::PrepareHeader, kWaveErrNoMem, "Cannot Prepare Header !", kWaveErrNoMem, 4, true},
      {Call::PrepareHeader, kWaveOk, "Cannot Prepare Header !", 0, 4, true},  // wrong flags
      {Call::AddBuffer, kWaveErrStillPlaying, "Cannot Add Buffer !", kWaveErrStillPlaying, 5, true},
      {Call::Start, kWaveErrError, "Cannot Start Wave In !", kWaveErrError, 6, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszMessage);
    Renew();
    m_device->FailAt(c.call, c.nCode);
    m_device->SetWrongPrepareFlags(c.nCode == kWaveOk);

    EXPECT_EQ(m_recorder->Start(), c.nResult);
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{c.pszMessage});
    EXPECT_EQ(m_device->Calls(),
              Calls(kStartCalls.begin(), kStartCalls.begin() + static_cast<long>(c.nCalls)));

    m_recorder->Stop();
    EXPECT_FALSE(m_device->IsOpen());
    EXPECT_EQ(CallsFrom(c.nCalls), (c.bOpened ? Calls{Call::Stop, Call::Close} : Calls{}));
    EXPECT_EQ(m_recorder->BuffersProcessed(), 0U);
  }
}

TEST_F(WaveInRecorderTest, NoDeviceGivesOneMessageAndNoThreadAndStopIsAlwaysSafe) {
  m_recorder->Stop();  // never started
  m_device->SetDeviceCount(0);
  const int nThreads = ThreadCount();
  EXPECT_EQ(m_recorder->Start(), 0);
  EXPECT_EQ(ThreadCount(), nThreads);
  EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{"No Sound Device"});
  EXPECT_EQ(m_device->Calls(), Calls{Call::GetNumDevs});
  m_recorder->Stop();
  m_recorder->Stop();
  EXPECT_EQ(m_device->Calls(), Calls{Call::GetNumDevs});

  CRecordingRecorder withoutDevice;
  EXPECT_EQ(withoutDevice.Start(), 0);
  EXPECT_EQ(m_messages.Texts().size(), 2U);
  EXPECT_EQ(m_messages.Texts().back(), "No Sound Device");
}

TEST_F(WaveInRecorderTest, StartedCaptureRunsOneWorkerThatStopEndsWithoutProcessing) {
  const int nThreads = ThreadCount();
  ASSERT_EQ(m_recorder->Start(), 0);
  EXPECT_EQ(m_device->Calls(), kStartCalls);
  EXPECT_TRUE(m_messages.Texts().empty());
  EXPECT_EQ(ThreadCount(), nThreads < 0 ? -1 : nThreads + 1);
  const WaveFormat& format = m_recorder->Format();
  EXPECT_TRUE(format.wFormatTag == 1 && format.nChannels == 1 && format.nSamplesPerSec == 11025 &&
              format.wBitsPerSample == 16 && format.nAvgBytesPerSec == 22050 &&
              format.nBlockAlign == 2);
  EXPECT_EQ(m_recorder->Header().dwBufferLength, 1024U);

  Deliver(Ramp(511));  // one sample short of a buffer
  m_recorder->Stop();
  m_recorder->Stop();
  EXPECT_EQ(CallsFrom(kStartCalls.size()), (Calls{Call::Stop, Call::Close}));
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == nThreads; }));  // the worker was joined
  EXPECT_EQ(m_device->BuffersDelivered(), 0U);
  EXPECT_TRUE(m_recorder->Samples().empty());
}

TEST_F(WaveInRecorderTest, SamplesReachProcessBufferExactlyAndInOrderWhileItIsBusy) {
  constexpr int kBuffers = 12;
  const std::vector<std::int16_t> samples = Ramp(kBuffers * kSamplesPerBuffer);
  m_recorder->Hold();
  ASSERT_EQ(m_recorder->Start(), 0);
  for (std::size_t k = 0; k < samples.size(); k += 100) {  // odd chunks, across buffers
    m_device->Deliver(samples.data() + k, std::min<std::size_t>(100, samples.size() - k));
  }
  // The first buffer is held in ProcessBuffer with the second already handed over; the
  // rest wait in the device.
  ASSERT_TRUE(WaitFor([&] { return m_device->BuffersDelivered() == 2; }));
  m_recorder->Release();
  ASSERT_TRUE(WaitFor([&] { return m_recorder->BuffersProcessed() == kBuffers; }));
  m_recorder->Stop();
  EXPECT_EQ(m_recorder->Header().dwBufferLength, 1024U);  // as re-armed by the worker
  EXPECT_EQ(m_recorder->Samples(), samples);
  EXPECT_EQ(m_device->DroppedSamples(), 0U);
  EXPECT_TRUE(m_messages.Texts().empty());

  Calls expected = kStartCalls;
  for (int b = 0; b < kBuffers; ++b) {
    expected.insert(expected.end(), kRequeueCalls.begin(), kRequeueCalls.end());
  }
  expected.insert(expected.end(), {Call::Stop, Call::Close});
  EXPECT_EQ(m_device->Calls(), expected);
}

// A device that already holds samples when the buffer is first queued: its open signal and
// the first buffer's may reach the worker as one wake-up.
class CPrefilledDevice : public CFakeWaveInDevice {
 public:
  int Open(const WaveFormat& format, CWaveEvent* pEvent) override {
    const int nCode = CFakeWaveInDevice::Open(format, pEvent);
    const std::vector<std::int16_t> samples = Ramp(kSamplesPerBuffer);
    Deliver(samples.data(), samples.size());
    return nCode;
  }
};

TEST_F(WaveInRecorderTest, BufferFilledAsSoonAsItIsQueuedIsProcessed) {
  for (int nRun = 0; nRun < 50; ++nRun) {
    CPrefilledDevice device;
    CRecordingRecorder recorder;
    recorder.SetDevice(&device);
    ASSERT_EQ(recorder.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return recorder.BuffersProcessed() == 1; })) << "run " << nRun;
    recorder.Stop();
    EXPECT_EQ(recorder.Samples(), Ramp(kSamplesPerBuffer));
  }
}

TEST_F(WaveInRecorderTest, EachFailureInRequeueGivesItsMessageAndOnlyUnprepareEndsCapture) {
  struct Case {
    Call call;
    int nCode;
    std::vector<std::string> messages;
    bool bQueued;  // the buffer was queued again
  };
  const Case cases[] = {
      {Call::UnprepareHeader, kWaveErrStillPlaying, {"Cannot UnPrepareHeader !"}, false},
      {Call::PrepareHeader,
       kWaveErrNoMem,
       {"Cannot Prepare Header !", "Cannot Add Buffer !"},
       false},
      {Call::PrepareHeader, kWaveOk, {"Cannot Prepare Header !"}, true},  // wrong flags
      {Call::AddBuffer, kWaveErrNoMem, {"Cannot Add Buffer !"}, false},
      {Call::Start, kWaveErrError, {"Cannot Start Wave In !"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages.front() + (c.nCode == kWaveOk ? " (flags)" : ""));
    Renew();
    ASSERT_EQ(m_recorder->Start(), 0);
    // Start prepares, queues and starts once; the first unprepare is Requeue's.
    m_device->FailAt(c.call, c.nCode, c.call == Call::UnprepareHeader ? 1 : 2);
    m_device->SetWrongPrepareFlags(c.nCode == kWaveOk);

    Deliver(Ramp(kSamplesPerBuffer));
    ASSERT_TRUE(WaitFor([&] { return m_messages.Texts().size() == c.messages.size(); }));
    ASSERT_TRUE(WaitFor([&] { return m_recorder->BuffersProcessed() == 1; }));
    EXPECT_EQ(m_messages.Texts(), c.messages);
    const Calls requeue =
        c.call == Call::UnprepareHeader ? Calls{Call::UnprepareHeader} : kRequeueCalls;
    EXPECT_EQ(CallsFrom(kStartCalls.size()), requeue);

    // Capture goes on only if the buffer was queued again.
    Deliver(Ramp(kSamplesPerBuffer, kSamplesPerBuffer));
    EXPECT_EQ(m_device->BuffersDelivered(), c.bQueued ? 2U : 1U);
    if (c.bQueued) {
      ASSERT_TRUE(WaitFor([&] { return m_recorder->BuffersProcessed() == 2; }));
    }
    m_recorder->Stop();
    EXPECT_EQ(m_recorder->Samples(), Ramp((c.bQueued ? 2 : 1) * kSamplesPerBuffer));
    EXPECT_FALSE(m_device->IsOpen());
  }
}

}  // namespace
