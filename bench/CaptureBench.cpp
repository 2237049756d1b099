// The sound-file input device's pace at real speed: about ten seconds of a recording through
// the recorder, reported as buffers per second (against 11025/512) and the largest lateness
// of a buffer behind its ideal time, counted from the start of capture.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/SoundFileDevice.h"
#include "capture/WaveInRecorder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kCaptureSeconds = 10.0;
constexpr double kBuffersPerSecond = static_cast<double>(kSampleRateHz) / kBufferLen;

// Notes the arrival of every buffer against the ideal schedule; the samples are not used.
class CPacingRecorder : public CWaveInRecorder {
 public:
  explicit CPacingRecorder(Clock::time_point start) : m_start(start) {}
  ~CPacingRecorder() override { Stop(); }
  int ProcessBuffer(const std::int16_t* /*pSamples*/) override {
    const double dNow = std::chrono::duration<double>(Clock::now() - m_start).count();
    const double dIdeal = static_cast<double>(++m_nArrived) / kBuffersPerSecond;
    m_dMaxLate.store(std::max(m_dMaxLate.load(), dNow - dIdeal));
    if (m_nArrived == 1) {
      m_dFirst.store(dNow);
    }
    m_dLast.store(dNow);
    return 0;
  }
  double MaxLateSeconds() const { return m_dMaxLate.load(); }
  // Buffers per second between the first arrival and the last.
  double Rate() const {
    const std::uint64_t nArrived = BuffersProcessed();
    const double dSpan = m_dLast.load() - m_dFirst.load();
    return nArrived > 1 && dSpan > 0.0 ? static_cast<double>(nArrived - 1) / dSpan : 0.0;
  }

 private:
  Clock::time_point m_start;
  std::uint64_t m_nArrived = 0;  // worker thread only
  std::atomic<double> m_dMaxLate{0.0};
  std::atomic<double> m_dFirst{0.0};  // seconds after the start
  std::atomic<double> m_dLast{0.0};
};

// A 16-bit mono 11025 Hz recording of a 440 Hz tone, `dSeconds` long.
bool WriteTone(const std::string& path, double dSeconds) {
  SF_INFO info{};
  info.samplerate = kSampleRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  if (pFile == nullptr) {
    return false;
  }
  std::vector<std::int16_t> samples(static_cast<std::size_t>(dSeconds * kSampleRateHz));
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<std::int16_t>(
        8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(k) / kSampleRateHz));
  }
  const auto nCount = static_cast<sf_count_t>(samples.size());
  const bool bOk = sf_write_short(pFile, samples.data(), nCount) == nCount;
  sf_close(pFile);
  return bOk;
}

void BM_SoundFileDevicePace(benchmark::State& state) {
  const fs::path dir =
      fs::temp_directory_path() / ("sonavel-capture-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "tone.wav").string();
  if (!WriteTone(path, kCaptureSeconds + 2.0)) {
    state.SkipWithError("cannot write the test recording");
    return;
  }
  double dPerSecond = 0.0;
  double dMaxLate = 0.0;
  std::uint64_t nDropped = 0;
  for (auto _ : state) {
    CSoundFileDevice device(path);
    const auto start = Clock::now();
    CPacingRecorder recorder(start);
    recorder.SetDevice(&device);
    if (recorder.Start() != 0) {
      state.SkipWithError("the sound-file device did not start");
      break;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(kCaptureSeconds));
    recorder.Stop();
    dPerSecond = recorder.Rate();
    dMaxLate = recorder.MaxLateSeconds();
    nDropped = device.DroppedSamples();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  state.counters["buffers_per_s"] = dPerSecond;
  state.counters["ideal_per_s"] = kBuffersPerSecond;
  state.counters["rate_error_ppm"] = 1e6 * (dPerSecond / kBuffersPerSecond - 1.0);
  state.counters["max_late_ms"] = 1000.0 * dMaxLate;
  state.counters["dropped_samples"] = static_cast<double>(nDropped);
}
BENCHMARK(BM_SoundFileDevicePace)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
