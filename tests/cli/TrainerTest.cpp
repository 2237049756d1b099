// sonavel-train where the golden runs do not look: failures with their exit codes and
// messages, sound file conversion, Ctrl+C and a file cut or removed while it plays in real time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/SoundFileReader.h"
#include "cli/Trainer.h"
#include "support/CoreTestSupport.h"
#include "support/SoundFiles.h"

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr int kRate = 11025;
using Samples = std::vector<std::int16_t>;

// 0.3 s of silence, then per frequency a decaying one-second tone and 0.7 s of silence; all
// of it `nSlow` times slower and lower.
Samples Tones(std::initializer_list<double> freqs, int nSlow = 1) {
  Samples s(static_cast<std::size_t>(0.3 * kRate * nSlow), 0);
  for (const double f : freqs) {
    for (int k = 0; k < kRate * nSlow; ++k) {
      const double t = static_cast<double>(k) / kRate / nSlow;
      const double v = 6000.0 * std::exp(-3.0 * t) *
                       (std::sin(2 * M_PI * f * t) + 0.4 * std::sin(4 * M_PI * f * t));
      s.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    s.insert(s.end(), static_cast<std::size_t>(0.7 * kRate * nSlow), 0);
  }
  return s;
}

struct RunResult {
  int nCode;
  std::string out, err;
};

RunResult Train(std::vector<std::string> args) {
  args.insert(args.begin(), "sonavel-train");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  const int nCode = RunTrainer(static_cast<int>(argv.size()), argv.data(), out, err);
  return {nCode, out.str(), err.str()};
}

class TrainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("sonavel-train-test-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "out");
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string Path(const char* pszName) const { return (m_dir / pszName).string(); }
  std::string Out(const char* pszName = "") const { return (m_dir / "out" / pszName).string(); }

  // The pattern files of an earlier run, which a failed run must leave as they are.
  void PlantEarlierRun() const {
    std::ofstream(Out("default_pattern.txt")) << "earlier run";
    std::ofstream(Out("default_pattern.dat")) << "earlier data";
  }
  void ExpectEarlierRunKept() const {
    EXPECT_TRUE(ReadAll(Out("default_pattern.txt")) == "earlier run" &&
                ReadAll(Out("default_pattern.dat")) == "earlier data");
  }

  fs::path m_dir;
};

// Every failure: its exit code and message, no log, the earlier files kept, no trace unless
// the plot folder failed (the trace opens first). The range is checked before the input.
TEST_F(TrainerTest, FailuresExitWithAMessageAndKeepTheEarlierFiles) {
  WriteSound(m_dir / "good.wav", Samples(4096, 0));
  std::ofstream(m_dir / "cut.wav") << ReadAll(m_dir / "good.wav").substr(0, 20);
  std::ofstream(m_dir / "junk.wav") << std::string(4000, '\x5a');
  std::ofstream(m_dir / "empty.wav");
  std::ofstream(m_dir / "plain") << "x";
  PlantEarlierRun();
  const std::string good = Path("good.wav");
  const struct {
    std::vector<std::string> args;
    int nCode;
    std::string message;
  } cases[] = {
      {{"--input", Path("missing.wav")}, 1, "cannot open the input file"},
      {{"--input", Path("empty.wav")}, 1, "the file is empty"},
      {{"--input", Path("junk.wav")}, 1, "cannot read the input file"},
      {{"--input", Path("cut.wav")}, 1, "cannot read the input file"},
      {{"--input", m_dir.string()}, 1, "it is a folder"},
      {{"--input", good, "--note-names", Path("none")}, 1, "cannot read the note names"},
      {{"--input", good, "--note-names", m_dir.string()}, 1, "cannot read the note names"},
      {{"--input", good, "--bogus"}, 1, "--bogus"},
      {{"--input", good, "--device", "1"}, 1, "exclude each other"},
      {{}, 1, "--input is required"},
      {{"--input", good, "--trace", Path("plain/t")}, 1, "cannot write the trace file"},
      {{"--input", good, "--plot", Path("plain/p")}, 1, "cannot create the output folder"},
      {{"--input", good, "--choices", "N,Q"}, 1, "'Q' is not one of N, R, B, D, X"},
      {{"--input", good, "--choices", "NN"}, 1, "'NN' is not one of"},
      {{"--input", good, "--pad", "-1"}, 1, "--pad takes a number of seconds from 0 to 86400"},
      {{"--input", good, "--pad", "1x"}, 1, "--pad takes"},
      {{"--input", good, "--think", "86401"}, 1, "--think takes"},
      {{"--show", Path("missing.dat")}, 1, "cannot read the pattern file"},
      {{"--input", Path("no.wav"), "--first", "H4", "--last", "C5"}, 2, "FirstNote Input Error"},
      {{"--input", Path("no.wav"), "--first", "C4", "--last", "c9x"}, 2, "LastNote Input Error"},
      {{"--input", Path("no.wav"), "--first", "C5", "--last", "c4"}, 2, "Input Range Error"},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.message);
    c.args.insert(c.args.end(), {"--out", Out()});
    if (c.message != "cannot write the trace file")
      c.args.insert(c.args.end(), {"--trace", Path("trace")});
    const RunResult r = Train(c.args);
    EXPECT_TRUE(r.nCode == c.nCode && r.out.empty()) << r.nCode << r.out;
    EXPECT_THAT(r.err, AllOf(HasSubstr(c.message),
                             StartsWith(c.nCode == 1 ? "sonavel-train: " : c.message)));
    EXPECT_EQ(fs::remove(Path("trace")), c.message == "cannot create the output folder");
    ExpectEarlierRunKept();
  }
  // An output folder under a regular file.
  const RunResult r = Train({"--input", good, "--out", Path("plain/out")});
  EXPECT_TRUE(r.nCode == 1 && r.err.find("cannot create the output folder") != std::string::npos);
}

// 16-bit mono 11025 Hz is read sample for sample; other files are mixed to mono (the mean of
// the channels) and resampled.
TEST_F(TrainerTest, SoundFilesAreConvertedOrPassedThrough) {
  const Samples s = Tones({300.0, 500.0});
  const auto dCount = static_cast<double>(s.size());
  WriteSound(m_dir / "pcm.wav", s);
  const auto stereo = [](const Samples& mono, int nLeft, int nRight) {  // nLeft * s, nRight * s
    Samples frames;
    for (const std::int16_t v : mono)
      frames.insert(frames.end(), {std::int16_t(nLeft * v), std::int16_t(nRight * v)});
    return frames;
  };
  WriteSound(m_dir / "wide.wav", stereo(s, 2, 0), SF_FORMAT_PCM_24, kRate, 2);
  WriteSound(m_dir / "slow.wav", stereo(Tones({300.0, 500.0}, 4), 1, 1), SF_FORMAT_PCM_16,
             4 * kRate, 2);
  const struct {
    const char* pszName;
    bool bPassThrough, bExact;  // bExact: the same samples as pcm.wav
  } cases[] = {{"pcm.wav", true, true}, {"wide.wav", false, true}, {"slow.wav", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    std::string error;
    CSoundFileReader reader;
    ASSERT_TRUE(reader.Open(Path(c.pszName), error)) << error;
    EXPECT_EQ(reader.IsPassThrough(), c.bPassThrough);
    EXPECT_NEAR(static_cast<double>(reader.ExpectedSamples()), dCount, 4);
    Samples back(s.size() + 100);
    back.resize(reader.Read(back.data(), back.size()));
    EXPECT_NEAR(static_cast<double>(back.size()), dCount, 4);
    EXPECT_TRUE(!c.bExact || back == s);
    // The resampled file trains the same two notes.
    const RunResult r =
        Train({"--input", Path(c.pszName), "--out", Out(), "--first", "C4", "--last", "C4#"});
    EXPECT_EQ(r.out, ">>>Play \n...\nC4         -OK-\nC4#       -OK-\n Finished!\n") << r.err;
    const std::string dat = ReadAll(Out("default_pattern.dat"));
    ASSERT_EQ(dat.size(), 5184U);
    for (const auto& [nNote, nBin] : {std::pair{48, 15}, std::pair{49, 24}}) {
      float fBin = 0.0F;
      std::memcpy(&fBin, dat.data() + 48 * nNote, 4);
      EXPECT_NEAR(fBin, nBin, 1) << nNote;
    }
  }
}

// Ctrl+C a second into a long run of the real program (its handler long in place): exit 130,
// a message, the earlier files kept.
TEST_F(TrainerTest, InterruptKeepsTheEarlierFiles) {
  WriteSound(m_dir / "in.wav", Samples(5120, 0));
  PlantEarlierRun();
  const std::string command = "timeout --preserve-status -s INT 1 " SONAVEL_TRAIN_EXE
                              " --pad 86400 --input " +
                              Path("in.wav") + " --out " + Out() + " 2>" + Path("err");
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 130);
  EXPECT_THAT(ReadAll(Path("err")), HasSubstr("interrupted; no pattern file was written"));
  ExpectEarlierRunKept();
}

// --realtime: a file cut short while it plays fails the run and keeps the earlier files; a
// file removed while it plays still trains.
TEST_F(TrainerTest, RealtimeFileCutFailsAndRemovedCompletes) {
  const Samples s(30 * kRate, 1000);
  for (const bool bCut : {true, false}) {
    SCOPED_TRACE(bCut ? "cut" : "removed");
    WriteSound(m_dir / "in.wav", s);
    fs::remove(Path("trace"));
    PlantEarlierRun();
    std::atomic<bool> bDone{false};
    RunResult r;
    std::thread run([&] {
      r = Train({"--input", Path("in.wav"), "--realtime", "--speed", "20", "--out", Out(),
                 "--trace", Path("trace")});
      bDone = true;
    });
    while (!fs::exists(Path("trace")) && !bDone) {  // created just before capture starts
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bCut ? fs::resize_file(m_dir / "in.wav", fs::file_size(m_dir / "in.wav") - 2 * 20 * kRate)
         : void(fs::remove(m_dir / "in.wav"));
    run.join();
    if (bCut) {
      EXPECT_EQ(r.nCode, 1);
      EXPECT_THAT(r.err, AllOf(HasSubstr("cut short"), HasSubstr("no pattern file was written")));
      ExpectEarlierRunKept();
    } else {
      EXPECT_EQ(r.nCode, 0) << r.err;
      EXPECT_EQ(fs::file_size(Out("default_pattern.dat")), 5184U);
    }
  }
}

}  // namespace
