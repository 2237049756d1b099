// The PortAudio device behind the recorder on a machine without a sound card: an ALSA
// configuration of our own either offers no usable device or makes a raw file of known
// samples the default capture device. It is chosen with ALSA_CONFIG_PATH before PortAudio
// starts in this process (ctest runs each test in a process of its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/PortAudioDevice.h"
#include "capture/WaveInRecorder.h"
#include "support/CaptureTestSupport.h"
#include "training/FrontEnd.h"

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;
using Texts = std::vector<std::string>;

namespace {

constexpr std::size_t kSignalBuffers = 24;

class PortAudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("sonavel-padev-" + std::to_string(getpid()));
    fs::create_directories(m_dir);
    SetMessageBoxService(&m_messages);
  }
  void TearDown() override {
    SetMessageBoxService(nullptr);
    fs::remove_all(m_dir);
  }
  Texts Messages() const { return m_messages.Texts(); }

  // ALSA reads only `config` from now on.
  void UseAlsaConfig(const std::string& config) {
    const fs::path path = m_dir / "asound.conf";
    std::ofstream(path) << config;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  }

  // A raw s16le mono file of known samples as the default capture device, padded with zeros
  // (ALSA's file device repeats stale data past the end of its file).
  Samples UseFileDevice() {
    Samples signal(kSignalBuffers * kBufferLen);
    for (std::size_t k = 0; k < signal.size(); ++k) {
      signal[k] = static_cast<std::int16_t>(1 + (k * 7919) % 30011 - 15000 * (k % 2));
    }
    Samples raw(signal);
    raw.resize(raw.size() + 64 * kBufferLen, 0);
    const fs::path rawPath = m_dir / "signal.raw";
    std::ofstream(rawPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(raw.data()),
               static_cast<std::streamsize>(raw.size() * sizeof raw[0]));
    UseAlsaConfig(
        "pcm.sonavelfile {\n  type file\n  slave.pcm { type null }\n"
        "  file \"/dev/null\"\n  format \"raw\"\n  infile \"" +
        rawPath.string() + "\"\n}\npcm.!default \"sonavelfile\"\n");
    return signal;
  }

  fs::path m_dir;
  CRecordingMessages m_messages;
};

TEST_F(PortAudioDeviceTest, WithoutADeviceTheRecorderSaysSoAndStartsNothing) {
  // PortAudio 19.6 aborts when ALSA defines no PCM at all; this one cannot be opened.
  UseAlsaConfig("pcm.!default { type plug slave.pcm \"sonavelmissing\" }\n");
  std::string error;
  EXPECT_TRUE(ListPortAudioInputs(error).empty()) << error;
  for (const char* pszChoice : {"", "0", "sonavel"}) {
    CPortAudioDevice device(pszChoice);
    CCollectingRecorder recorder;
    recorder.SetDevice(&device);
    EXPECT_EQ(recorder.Start(), 0);
    recorder.Stop();
    EXPECT_TRUE(recorder.Captured().empty());
  }
  EXPECT_EQ(Messages(), Texts(3, "No Sound Device"));
}

TEST_F(PortAudioDeviceTest, CapturesTheFileSampleForSampleByDefaultIndexOrName) {
  const Samples signal = UseFileDevice();
  std::string error;
  const std::vector<PortAudioInput> inputs = ListPortAudioInputs(error);
  if (inputs.empty()) {
    GTEST_SKIP() << "PortAudio lists no input for ALSA's file device on this machine"
                 << (error.empty() ? "" : ": " + error);
  }
  std::vector<std::string> choices{"", "sonavelf"};  // both inputs listed read the file
  for (const PortAudioInput& input : inputs) {
    choices.push_back(std::to_string(input.nIndex));
  }
  for (const std::string& choice : choices) {
    SCOPED_TRACE("device choice '" + choice + "'");
    CPortAudioDevice device(choice);
    CCollectingRecorder recorder;
    recorder.SetDevice(&device);
    ASSERT_EQ(recorder.Start(), 0);
    ASSERT_TRUE(recorder.WaitForSamples(signal.size()))
        << "the device filled " << device.BuffersDelivered() << " buffers, the recorder got "
        << recorder.Captured().size() / kBufferLen;
    recorder.Stop();  // although the file device delivers as fast as it can
    Samples got = recorder.Captured();
    got.resize(signal.size());
    EXPECT_EQ(got, signal);
  }
  EXPECT_EQ(Messages(), Texts{});
  EXPECT_EQ(CPortAudioDevice("no such input").GetNumDevs(), 0);
}

}  // namespace
