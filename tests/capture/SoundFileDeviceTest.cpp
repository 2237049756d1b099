// The sound-file input device behind the recorder: the file's samples in whole 512-sample
// buffers, then the padding, then silence; unreadable files refused at Open; real-time pace.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/SoundFileDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CaptureTestSupport.h"
#include "training/FrontEnd.h"

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;
using Texts = std::vector<std::string>;

namespace {

class SoundFileDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("sonavel-sfdev-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
    SetMessageBoxService(&m_messages);
  }
  void TearDown() override {
    SetMessageBoxService(nullptr);
    fs::remove_all(m_dir);
  }
  Texts TakeMessages() { return m_messages.Take(); }

  // A mono WAV (16-bit unless `nSubFormat` says otherwise) of `nCount` distinct non-zero
  // samples; returns its path.
  std::string WriteWav(const std::string& name, Samples& samples, std::size_t nCount,
                       int nRate = kSampleRateHz, int nSubFormat = SF_FORMAT_PCM_16) const {
    samples.resize(nCount);
    for (std::size_t k = 0; k < nCount; ++k) {
      samples[k] = static_cast<std::int16_t>(1 + (k * 7919) % 30011 - 15000 * (k % 2));
    }
    const std::string path = (m_dir / name).string();
    SF_INFO info{};
    info.samplerate = nRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | nSubFormat;
    SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(pFile, nullptr) << sf_strerror(nullptr);
    sf_command(pFile, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);  // float: v / 32768
    EXPECT_EQ(sf_write_short(pFile, samples.data(), static_cast<sf_count_t>(nCount)),
              static_cast<sf_count_t>(nCount));
    sf_close(pFile);
    return path;
  }

  fs::path m_dir;
  CRecordingMessages m_messages;
};

TEST_F(SoundFileDeviceTest, DeliversFileThenPaddingThenSilenceInWholeBuffers) {
  // 5 buffers and 100 samples of file, 16-bit (used as it is) or float (converted). With 1000
  // samples of padding the 6th buffer is the file's tail and padding, the 7th padding;
  // without, the tail is a partial buffer and never delivered. Silence follows either way.
  const struct {
    std::int64_t nPad;
    std::uint64_t nWholeBuffers;
    int nSubFormat;
  } cases[] = {{1000, 7, SF_FORMAT_PCM_16}, {0, 5, SF_FORMAT_FLOAT}};
  for (const auto& [nPad, nWholeBuffers, nSubFormat] : cases) {
    SCOPED_TRACE("padding " + std::to_string(nPad));
    Samples expected;
    const std::string path =
        WriteWav("tone.wav", expected, 5 * kBufferLen + 100, kSampleRateHz, nSubFormat);
    // The reader alone, 512 samples at a time, reading ahead in blocks that end inside a
    // sample and inside a read: every sample once, up to the end of the file, then nothing.
    CSoundFileReader reader(1000);
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    Samples back(expected.size() + 2 * kBufferLen);
    std::size_t nBack = 0;
    for (std::size_t nGot = 1; nGot > 0 && nBack + kBufferLen <= back.size(); nBack += nGot) {
      nGot = reader.Read(back.data() + nBack, kBufferLen);
    }
    back.resize(nBack);
    EXPECT_EQ(back, expected);

    CSoundFileDevice device(path, nPad, 20.0);
    expected.resize(expected.size() + static_cast<std::size_t>(nPad), 0);
    expected.resize((nWholeBuffers + 4) * kBufferLen, 0);
    std::fill(expected.begin() + static_cast<std::ptrdiff_t>(nWholeBuffers * kBufferLen),
              expected.end(), 0);

    CCollectingRecorder recorder;
    recorder.SetDevice(&device);
    ASSERT_EQ(recorder.Start(), 0);
    ASSERT_TRUE(recorder.WaitForSamples(expected.size()));
    EXPECT_TRUE(device.Finished());
    EXPECT_EQ(device.BuffersPushed(), nWholeBuffers);
    recorder.Stop();
    Samples got = recorder.Captured();
    got.resize(expected.size());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(device.DroppedSamples(), 0U);
    EXPECT_EQ(device.ReadError(), "");
  }
  EXPECT_EQ(TakeMessages(), Texts{});
}

TEST_F(SoundFileDeviceTest, UnreadableFileCannotBeOpenedAgainAndAgain) {
  std::ofstream(m_dir / "empty.wav").close();
  Samples samples;
  const std::string slow = WriteWav("slow.wav", samples, kBufferLen, 8);  // cannot resample
  for (const fs::path& path : {m_dir / "missing.wav", m_dir / "empty.wav", m_dir, fs::path(slow)}) {
    SCOPED_TRACE(path.string());
    CSoundFileDevice device(path.string());
    std::string error;
    EXPECT_FALSE(device.OpenFile(error));
    EXPECT_NE(error, "");
    CCollectingRecorder recorder;
    recorder.SetDevice(&device);
    for (int nTry = 0; nTry < 2; ++nTry) {
      EXPECT_EQ(recorder.Start(), kWaveErrBadDevice);
      recorder.Stop();
      recorder.Stop();
    }
    EXPECT_EQ(TakeMessages(), Texts(2, "Cannot Open Sound Input Device!"));
    EXPECT_TRUE(recorder.Captured().empty());
  }
}

TEST_F(SoundFileDeviceTest, RealSpeedDeliversElevenThousandSamplesPerSecond) {
  // A sanity check of the pace, not a timing test: over about 3 s the buffers delivered are
  // within 10 % of 11025/512 per second of the time measured.
  Samples file;
  CSoundFileDevice device(WriteWav("short.wav", file, 3 * kBufferLen), 4 * kBufferLen);
  CCollectingRecorder recorder;
  recorder.SetDevice(&device);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(recorder.Start(), 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto nGot = static_cast<double>(recorder.BuffersProcessed());
  const double dSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  recorder.Stop();
  EXPECT_NEAR(nGot, dSeconds * kSampleRateHz / kBufferLen,
              0.1 * dSeconds * kSampleRateHz / kBufferLen);
  EXPECT_TRUE(device.Finished());
  EXPECT_EQ(device.BuffersPushed(), 7U);
}

}  // namespace
