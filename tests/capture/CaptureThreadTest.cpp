// Live training as the program runs it: the recorder's worker feeds the sample history from
// the fake device, which a feeder thread supplies with notes and gaps, while this thread runs
// the training controller's passes, which answer the note pattern dialog and reset the
// history between notes. Meant to be run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/FakeWaveInDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CoreTestSupport.h"
#include "training/RangeValidation.h"

namespace {

constexpr int kBuffersFed = 3000;
constexpr int kLastBuffers = 8;  // fed after the last pass, so the history ends with them
constexpr int kAhead = 40;       // buffers the feeder may be ahead of the worker

// Notes of 25 buffers (440 Hz, decaying) with 35 buffers of a faint tone between them, fed
// in chunks of 300 samples; no sample is zero.
std::vector<std::int16_t> Sound(int nFrom, int nBuffers) {
  std::vector<std::int16_t> samples;
  for (int b = nFrom; b < nFrom + nBuffers; ++b) {
    const double dAmp = b % 60 < 25 ? 8000.0 * (1.0 - (b % 60) / 25.0) + 20.0 : 20.0;
    for (int k = 0; k < kBufferLen; ++k) {
      const double t = static_cast<double>(b * kBufferLen + k);
      const auto v = static_cast<std::int16_t>(
          dAmp * std::sin(2.0 * 3.141592653589793 * 440.0 * t / kSampleRateHz));
      samples.push_back(v != 0 ? v : std::int16_t{1});
    }
  }
  return samples;
}

void Feed(CFakeWaveInDevice& device, const std::vector<std::int16_t>& samples) {
  for (std::size_t k = 0; k < samples.size(); k += 300) {
    device.Deliver(samples.data() + k, std::min<std::size_t>(300, samples.size() - k));
  }
}

// Answers Next and Replay in turn.
class CAlternatingPrompt : public CRecordingPrompt {
 public:
  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    choice = nCalls % 2 == 0 ? NoteChoice::Next : NoteChoice::Replay;
    return CRecordingPrompt::AskNoteChoice(pattern);
  }
};

// The first window position below g_nCrossPos whose crossing count differs from a fresh count
// over its samples n+1 ... n+511, or -1.
std::int32_t FirstStaleCrossCount() {
  const std::lock_guard lock(HistoryMutex());
  const std::int32_t nEnd = g_nCrossPos.load();
  std::vector<int> before(static_cast<std::size_t>(nEnd + kWindowLen) + 1, 0);  // crossings below m
  for (std::size_t m = 1; m + 1 < before.size(); ++m) {
    before[m + 1] = before[m] + (g_fSampleRing[m - 1] * g_fSampleRing[m] < 0.0f ? 1 : 0);
  }
  for (std::int32_t n = 0; n < nEnd; ++n) {
    const auto k = static_cast<std::size_t>(n);
    if (g_fZeroCrossRing[k] != static_cast<float>(before[k + kWindowLen] - before[k + 1])) {
      return n;
    }
  }
  return -1;
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

TEST(CaptureThreadTest, WorkerFeedsHistoryWhileControllerPassesAndResetsKeepItConsistent) {
  ResetCoreForTest();
  CAlternatingPrompt prompt;
  SetNotePatternPrompt(&prompt);
  ASSERT_TRUE(AcceptRange("C1", "B7"));  // more notes than the sound holds: no end of run
  AcknowledgeCaution();

  CFakeWaveInDevice device;
  CWaveInRecorder recorder;
  recorder.SetDevice(&device);
  ASSERT_EQ(recorder.Start(), 0);

  std::atomic<bool> bFeederLate{false};
  std::thread feeder([&] {
    for (int b = 0; b < kBuffersFed; b += 10) {
      if (!WaitFor([&] {
            return device.BuffersDelivered() + kAhead >= static_cast<std::uint64_t>(b);
          })) {
        bFeederLate = true;
        return;
      }
      Feed(device, Sound(b, 10));
    }
  });

  // The controller's timer, as fast as it goes, until every buffer fed has been handled.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (recorder.BuffersProcessed() < kBuffersFed && !bFeederLate &&
         std::chrono::steady_clock::now() < deadline) {
    TrainingTimerPass();
    std::this_thread::yield();
  }
  feeder.join();
  ASSERT_FALSE(bFeederLate);
  ASSERT_EQ(recorder.BuffersProcessed(), static_cast<std::uint64_t>(kBuffersFed));
  EXPECT_GE(prompt.nCalls, 10);  // notes were taken and the history reset between them

  Feed(device, Sound(kBuffersFed, kLastBuffers));
  ASSERT_TRUE(WaitFor([&] { return recorder.BuffersProcessed() == kBuffersFed + kLastBuffers; }));
  recorder.Stop();
  EXPECT_EQ(device.DroppedSamples(), 0U);

  EXPECT_EQ(g_nTrainState, 0);
  EXPECT_GE(g_nCrossPos, kLastBuffers * kBufferLen - (kWindowLen - 1));
  EXPECT_EQ(FirstStaleCrossCount(), -1);
  SetNotePatternPrompt(nullptr);
}

}  // namespace
