// A whole sonavel-train run over a ten-minute recording of notes, reported as a multiple of
// real time. Two variants of the same recording: 16-bit mono 11025 Hz WAV (read sample for
// sample) and float stereo 44100 Hz WAV (averaged and resampled on the way in).
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/Trainer.h"

namespace fs = std::filesystem;

namespace {

constexpr double kRecordingSeconds = 600.0;
constexpr double kToneSeconds = 0.4;     // attack and decay
constexpr double kAttackSeconds = 0.01;  // linear rise
constexpr double kDecayPerSecond = 9.0;  // exponential decay rate of the tone
constexpr double kGapSeconds = 1.0;      // near silence after every tone
constexpr double kNoteSeconds = kToneSeconds + kGapSeconds;
constexpr double kPeakAmplitude = 6000.0;  // in 16-bit sample units
constexpr double kNoiseAmplitude = 3.0;    // the near silence between tones
constexpr double kLowestHz = 200.0;
constexpr int kSemitones = 25;  // 200 Hz ... 800 Hz (two octaves), then again from the bottom
constexpr std::array<double, 5> kHarmonicLevels{1.0, 0.5, 0.33, 0.25, 0.2};

// The recording's value at time `dTime`, in 16-bit sample units, without the noise.
double ToneValue(double dTime) {
  const double dNotes = std::floor(dTime / kNoteSeconds);
  const double dInNote = dTime - dNotes * kNoteSeconds;
  if (dInNote >= kToneSeconds) {
    return 0.0;
  }
  const auto nStep = static_cast<int>(std::fmod(dNotes, static_cast<double>(kSemitones)));
  const double dFundamental = kLowestHz * std::exp2(static_cast<double>(nStep) / 12.0);
  double dLevelSum = 0.0;
  double dValue = 0.0;
  for (std::size_t h = 0; h < kHarmonicLevels.size(); ++h) {
    const double dHz = dFundamental * static_cast<double>(h + 1);
    dValue += kHarmonicLevels[h] * std::sin(2.0 * std::numbers::pi * dHz * dInNote);
    dLevelSum += kHarmonicLevels[h];
  }
  const double dEnvelope = dInNote < kAttackSeconds
                               ? dInNote / kAttackSeconds
                               : std::exp(-kDecayPerSecond * (dInNote - kAttackSeconds));
  // A tone shorter than the gap fades to nothing at its end rather than stopping abruptly.
  const double dFade = std::min(1.0, (kToneSeconds - dInNote) / 0.02);
  return kPeakAmplitude * dEnvelope * dFade * dValue / dLevelSum;
}

// Writes the recording at `nRate` Hz with `nChannels` identical channels, in `nFormat`, a
// chunk at a time. False when libsndfile refuses.
bool WriteRecording(const fs::path& path, int nRate, int nChannels, int nFormat) {
  SF_INFO info{};
  info.samplerate = nRate;
  info.channels = nChannels;
  info.format = nFormat;
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  if (pFile == nullptr) {
    return false;
  }
  const auto nFrames = static_cast<std::int64_t>(kRecordingSeconds * nRate);
  const auto nChannelCount = static_cast<std::size_t>(nChannels);
  constexpr std::int64_t kChunk = 8192;
  std::vector<float> chunk(static_cast<std::size_t>(kChunk) * nChannelCount);
  std::mt19937 rng(2718);
  std::uniform_real_distribution<double> noise(-kNoiseAmplitude, kNoiseAmplitude);
  bool bOk = true;
  for (std::int64_t nStart = 0; nStart < nFrames && bOk; nStart += kChunk) {
    const std::int64_t nCount = std::min(kChunk, nFrames - nStart);
    for (std::int64_t k = 0; k < nCount; ++k) {
      const double dTime = static_cast<double>(nStart + k) / nRate;
      const double dValue = (ToneValue(dTime) + noise(rng)) / 32768.0;
      for (std::size_t c = 0; c < nChannelCount; ++c) {
        chunk[static_cast<std::size_t>(k) * nChannelCount + c] = static_cast<float>(dValue);
      }
    }
    bOk = sf_writef_float(pFile, chunk.data(), nCount) == nCount;
  }
  return sf_close(pFile) == 0 && bOk;
}

// The temporary folder with both recordings, made on first use and removed at exit.
class CRecordings {
 public:
  CRecordings() {
    std::error_code ec;
    m_folder = fs::temp_directory_path(ec) /
               ("sonavel-bench-trainer-" + std::to_string(std::random_device{}()));
    fs::create_directories(m_folder, ec);
    m_bOk = !ec && WriteRecording(Mono11025(), 11025, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16) &&
            WriteRecording(Stereo44100(), 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  }
  ~CRecordings() {
    std::error_code ec;
    fs::remove_all(m_folder, ec);
  }
  CRecordings(const CRecordings&) = delete;
  CRecordings& operator=(const CRecordings&) = delete;

  bool Ok() const { return m_bOk; }
  fs::path Mono11025() const { return m_folder / "notes-mono-11025-pcm16.wav"; }
  fs::path Stereo44100() const { return m_folder / "notes-stereo-44100-float.wav"; }
  fs::path OutFolder() const { return m_folder / "out"; }

 private:
  fs::path m_folder;
  bool m_bOk = false;
};

const CRecordings& Recordings() {
  static const CRecordings recordings;
  return recordings;
}

// Dialogs answered in a run over C0 ... B8 with every answer Next: one per "-OK-" line, and
// one for the top note, whose line becomes " Finished!".
std::int64_t CountDialogs(const std::string& log) {
  std::int64_t nDialogs = 0;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string_view text(line);
    if (text.ends_with("-OK-") || text == " Finished!") {
      ++nDialogs;
    }
  }
  return nDialogs;
}

void RunOver(benchmark::State& state, const fs::path& input) {
  const CRecordings& recordings = Recordings();
  if (!recordings.Ok()) {
    state.SkipWithError("cannot write the recordings into the temporary folder");
    return;
  }
  const std::string inputText = input.string();
  const std::string outText = recordings.OutFolder().string();
  const std::array<const char*, 13> argv{
      "sonavel-train", "--input", inputText.c_str(), "--first", "C0",    "--last",       "B8",
      "--think",       "0.5",     "--pad",           "0",       "--out", outText.c_str()};

  std::int64_t nDialogs = 0;
  std::size_t nLogLines = 0;
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    const int nCode = RunTrainer(static_cast<int>(argv.size()), argv.data(), out, err);
    if (nCode != 0) {
      state.SkipWithError(("sonavel-train failed: " + err.str()).c_str());
      return;
    }
    const std::string log = out.str();
    nDialogs = CountDialogs(log);
    nLogLines = static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    benchmark::DoNotOptimize(nDialogs);
  }
  state.counters["audio_s"] = kRecordingSeconds;
  state.counters["x_realtime"] =
      benchmark::Counter(kRecordingSeconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["dialogs"] = static_cast<double>(nDialogs);
  state.counters["log_lines"] = static_cast<double>(nLogLines);
}

void BM_TrainerMono11025(benchmark::State& state) { RunOver(state, Recordings().Mono11025()); }
BENCHMARK(BM_TrainerMono11025)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_TrainerStereo44100Float(benchmark::State& state) {
  RunOver(state, Recordings().Stereo44100());
}
BENCHMARK(BM_TrainerStereo44100Float)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
