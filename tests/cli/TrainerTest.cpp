// sonavel-train end to end: runs over sounds made here (tones, silence, noise), in-process
// through RunTrainer and, for what only a process shows (signals), as the real program.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/SoundFileReader.h"
#include "cli/Trainer.h"
#include "support/TrainerTestSupport.h"
#include "training/RangeValidation.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr int kRate = 11025;
constexpr double kPi = 3.14159265358979323846;

using Samples = std::vector<std::int16_t>;
using Json = nlohmann::ordered_json;

// A decaying tone with two weaker harmonics.
void AddTone(Samples& s, double dHz, double dSeconds, double dAmp = 6000.0, double dDecay = 3.0) {
  const auto n = static_cast<int>(dSeconds * kRate);
  for (int k = 0; k < n; ++k) {
    const double t = static_cast<double>(k) / kRate;
    const double v = dAmp * std::exp(-dDecay * t) *
                     (std::sin(2 * kPi * dHz * t) + 0.4 * std::sin(4 * kPi * dHz * t) +
                      0.2 * std::sin(6 * kPi * dHz * t));
    s.push_back(static_cast<std::int16_t>(std::lround(v)));
  }
}

void AddSilence(Samples& s, double dSeconds) {
  s.insert(s.end(), static_cast<std::size_t>(dSeconds * kRate), 0);
}

// 0.3 s of silence, then per frequency a one-second tone and 0.7 s of silence; all of it
// `dSlow` times slower (and lower).
Samples SeparatedTones(std::initializer_list<double> freqs, double dSlow = 1.0) {
  Samples s;
  AddSilence(s, 0.3 * dSlow);
  for (const double f : freqs) {
    AddTone(s, f / dSlow, dSlow, 6000.0, 3.0 / dSlow);
    AddSilence(s, 0.7 * dSlow);
  }
  return s;
}

// Bin number of a frequency: spectrum index + 1.
int BinOf(double dHz) { return static_cast<int>(std::lround(dHz * 512.0 / kRate)) + 1; }

// A WAV file of the samples as 16 bits, or as floats (sample / 32768, exact) at `nRate` with
// `nChannels` equal channels.
void WriteSound(const fs::path& path, const Samples& s, bool bFloat = false, int nRate = kRate,
                int nChannels = 1) {
  SF_INFO info{};
  info.samplerate = nRate;
  info.channels = nChannels;
  info.format = SF_FORMAT_WAV | (bFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(pFile, nullptr) << sf_strerror(nullptr);
  std::vector<float> frames;
  for (const std::int16_t v : s) {
    frames.insert(frames.end(), static_cast<std::size_t>(nChannels), v / 32768.0F);
  }
  if (bFloat) {
    sf_write_float(pFile, frames.data(), static_cast<sf_count_t>(frames.size()));
  } else {
    sf_write_short(pFile, s.data(), static_cast<sf_count_t>(s.size()));
  }
  sf_close(pFile);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

class TrainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int s_nCounter = 0;
    m_dir = fs::temp_directory_path() / ("sonavel-train-test-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(++s_nCounter));
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  fs::path Sound(const Samples& s) {
    WriteSound(m_dir / "in.wav", s);
    return m_dir / "in.wav";
  }

  // Runs with --out <dir>/out and --trace <dir>/trace.jsonl added.
  RunResult Train(std::vector<std::string> args) {
    args.insert(args.end(), {"--out", Out().string(), "--trace", TracePath().string()});
    return RunRaw(args);
  }

  static RunResult RunRaw(const std::vector<std::string>& args) { return RunTrainerWith(args); }

  fs::path Out() const { return m_dir / "out"; }
  fs::path TracePath() const { return m_dir / "trace.jsonl"; }
  std::string Dat() const { return ReadAll(Out() / "default_pattern.dat"); }

  // Value `nIndex` (bins 0 ... 5, weights 6 ... 11) of note `nNote` in default_pattern.dat.
  float Pattern(std::size_t nNote, std::size_t nIndex) const {
    const std::string bytes = Dat();
    float fValue = -1.0F;
    if (bytes.size() == 5184U) {
      std::memcpy(&fValue, bytes.data() + 48 * nNote + 4 * nIndex, 4);
    }
    return fValue;
  }

  std::vector<Json> Trace() const {
    std::vector<Json> objects;
    for (const auto& line : Lines(ReadAll(TracePath()))) {
      objects.push_back(Json::parse(line));
    }
    return objects;
  }

  // A default_pattern.txt from an earlier run, which a failed run must leave as it is.
  void PlantEarlierRun() {
    fs::create_directories(Out());
    WriteBytes(Out() / "default_pattern.txt", "earlier run\r\n");
  }
  void ExpectEarlierRunKept() const {
    EXPECT_EQ(ReadAll(Out() / "default_pattern.txt"), "earlier run\r\n");
    EXPECT_FALSE(fs::exists(Out() / "default_pattern.dat"));
  }

  fs::path m_dir;
};

// Seven separated decaying tones over C4 ... E4, each dialog answered after half a second
// with a scripted letter (either case, blanks ignored): R keeps the note, B steps back, X
// acts as Next, D finishes.
TEST_F(TrainerTest, SeparatedTonesGiveLogPatternsAndTrace) {
  const double freqs[] = {300.0, 350.0, 400.0, 450.0, 500.0, 550.0, 600.0};
  const RunResult r = Train(
      {"--input", Sound(SeparatedTones({300.0, 350.0, 400.0, 450.0, 500.0, 550.0, 600.0})).string(),
       "--first", "C4", "--last", "E4", "--think", "0.5", "--choices", " R, n ,b,X,N,N,d"});
  ASSERT_EQ(r.nCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // nothing but the log, and no progress line into a stream
  EXPECT_THAT(r.Log(),
              ElementsAre(">>>Play ", "...", "C4         -OK-", "C4         -OK-", "C4#       -OK-",
                          "D4         -OK-", "D4#       -OK-", " Finished!"));
  const auto lines = Lines(ReadAll(Out() / "default_pattern.txt"));
  ASSERT_EQ(lines.size(), 3U * 108U);
  EXPECT_EQ(lines[48 * 3], " C4:\r");
  const std::string dat = Dat();
  EXPECT_EQ(dat.substr(0, 48 * 48), std::string(48 * 48, '\0'));
  EXPECT_EQ(dat.substr(52 * 48), std::string(56 * 48, '\0'));

  const auto trace = Trace();
  ASSERT_EQ(trace.size(), 7U);
  const char* const notes[] = {"C4", "C4", "C4#", "C4", "C4#", "D4", "D4#"};
  const char* const letters[] = {"R", "N", "B", "X", "N", "N", "D"};
  double dPrevTime = 0.0;
  for (std::size_t k = 0; k < trace.size(); ++k) {
    SCOPED_TRACE(k);
    const auto& t = trace[k];
    std::string keys;
    for (const auto& item : t.items()) {
      keys += item.key() + ",";
    }
    EXPECT_EQ(keys,
              "dialog,time,note,segStart,segEnd,blockStart,plotStart,plotSegEnd,plotEnd,plotMode,"
              "bins,weights,freqTexts,weightTexts,choice,");
    EXPECT_EQ(t["dialog"], k + 1);
    EXPECT_EQ(t["note"], notes[k]);
    EXPECT_EQ(t["choice"], letters[k]);
    // Dialogs open on ticks, every 0.1 s, after the segment's last window was captured, and
    // the think time passes between two of them.
    const double dTime = t["time"].get<double>();
    const double dTenths = std::round(dTime * 10.0);
    EXPECT_NEAR(dTime * 10.0, dTenths, 1e-9);
    EXPECT_GE(dTime, dPrevTime + 0.5);
    dPrevTime = dTime;
    const int nSegStart = t["segStart"];
    const int nSegEnd = t["segEnd"];
    EXPECT_LE(nSegEnd + 512, static_cast<int>(dTenths) * kRate / 10);
    EXPECT_EQ(t["blockStart"], nSegStart + (nSegEnd - nSegStart - 512) / 20);
    EXPECT_NEAR(t["bins"][0].get<int>(), BinOf(freqs[k]), 1);
    for (std::size_t n = 0; n < 6; ++n) {
      if (k >= 3) {  // the accepted patterns: the last C4 (X) and what follows it
        EXPECT_EQ(t["bins"][n], Pattern(45 + k, n));
        EXPECT_EQ(t["weights"][n], Pattern(45 + k, 6 + n));
      }
      char szHz[16];
      std::snprintf(szHz, sizeof szHz, "%4d",
                    static_cast<int>(t["bins"][n].get<int>() * 21.533203125));
      EXPECT_EQ(t["freqTexts"][n], szHz);
    }
  }
  // The first tone starts 0.3 s into the file, before any reset.
  EXPECT_NEAR(trace[0]["segStart"].get<int>(), 0.3 * kRate, 512);
}

// With no think time the rest of a sustained note starts the next dialog (answered Next
// without --choices); a think time longer than the note swallows it.
TEST_F(TrainerTest, ThinkTimeSwallowsTheRestOfASustainedNote) {
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 2.0, 6000.0, 0.0);
  AddSilence(s, 1.0);
  const fs::path in = Sound(s);
  const RunResult r0 = Train({"--input", in.string(), "--first", "C4", "--last", "B4"});
  ASSERT_EQ(r0.nCode, 0) << r0.err;
  const auto trace0 = Trace();
  EXPECT_GE(trace0.size(), 3U);
  for (const auto& t : trace0) {
    EXPECT_NEAR(t["bins"][0].get<int>(), BinOf(400.0), 1);
    EXPECT_EQ(t["choice"], "N");
  }
  EXPECT_EQ(r0.Log().size(), trace0.size() + 3);

  const RunResult r1 =
      Train({"--input", in.string(), "--first", "C4", "--last", "B4", "--think", "2.5"});
  EXPECT_EQ(Trace().size(), 1U);
  EXPECT_THAT(r1.Log(), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#"));
}

// A note that rings to the end of the file completes only in the padding (1 s by default).
TEST_F(TrainerTest, PaddingLetsANoteAtTheEndComplete) {
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 1.5, 6000.0, 0.5);
  s.resize(s.size() / 512 * 512);
  const fs::path in = Sound(s);
  const RunResult r0 = Train({"--input", in.string(), "--first", "C4", "--pad", "0"});
  EXPECT_THAT(r0.Log(), ElementsAre(">>>Play ", "...", "C4"));
  EXPECT_EQ(ReadAll(TracePath()), "");
  const RunResult r1 = Train({"--input", in.string(), "--first", "C4"});
  EXPECT_THAT(r1.Log(), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#"));
  EXPECT_EQ(Trace().size(), 1U);
}

// No full buffer (so no tick), or silence and quiet noise: no dialog, all-zero files.
TEST_F(TrainerTest, QuietInputsGiveNoDialogAndZeroFiles) {
  Samples noisy;
  AddSilence(noisy, 2.0);
  std::mt19937 gen(42);
  std::uniform_int_distribution<int> dist(-300, 300);
  for (int k = 3 * kRate; k > 0; --k) {
    noisy.push_back(static_cast<std::int16_t>(dist(gen)));
  }
  AddSilence(noisy, 1.0);
  for (const Samples& s : {Samples(511, 5000), noisy}) {
    const RunResult r = Train({"--input", Sound(s).string(), "--pad", "0"});
    EXPECT_EQ(r.nCode, 0) << r.err;
    EXPECT_EQ(r.out, ">>>Play \n...\nC1\n");
    EXPECT_EQ(ReadAll(TracePath()), "");
    EXPECT_EQ(Dat(), std::string(5184, '\0'));
    EXPECT_TRUE(fs::exists(Out() / "default_pattern.txt"));
  }
}

// Buffer k completes at (k + 1) * 512 / 11025 s, tick j at j / 10 s, a buffer first on a tie;
// the run ends after the first tick at or after the last buffer.
TEST_F(TrainerTest, BuffersAndTicksRunInVirtualTimeOrder) {
  // A tone whose segment completes only with buffer 2204, which ends at 102.4 s together
  // with tick 1024: 2205 buffers give the dialog on that tick, 2204 give none.
  Samples s;
  AddSilence(s, 101.3);
  AddTone(s, 400.0, 1.0);
  AddSilence(s, 1.0);
  s.resize(2205 * 512);
  const RunResult rExact = Train({"--input", Sound(s).string(), "--first", "C4", "--pad", "0"});
  EXPECT_THAT(rExact.Log(), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#"));
  const auto trace = Trace();
  ASSERT_EQ(trace.size(), 1U);
  EXPECT_EQ(trace[0]["time"], 102.4);
  s.resize(2204 * 512);
  const RunResult rShort = Train({"--input", Sound(s).string(), "--first", "C4", "--pad", "0"});
  EXPECT_EQ(ReadAll(TracePath()), "");
  EXPECT_THAT(rShort.Log(), ElementsAre(">>>Play ", "...", "C4"));

  // A final partial buffer is dropped: a loud tail shorter than a buffer changes nothing.
  Samples tones = SeparatedTones({300.0});
  AddTone(tones, 500.0, 0.6);
  tones.resize(tones.size() / 512 * 512);
  const RunResult rA = Train({"--input", Sound(tones).string(), "--first", "C4", "--pad", "0"});
  const std::string traceA = ReadAll(TracePath());
  const std::string datA = Dat();
  AddTone(tones, 500.0, 511.0 / kRate, 9000.0, 0.0);
  const RunResult rB = Train({"--input", Sound(tones).string(), "--first", "C4", "--pad", "0"});
  EXPECT_FALSE(traceA.empty());
  EXPECT_EQ(rB.out, rA.out);
  EXPECT_EQ(ReadAll(TracePath()), traceA);
  EXPECT_EQ(Dat(), datA);
}

// The history holds 204800 samples (18.6 s): a note after 20 s of quiet lies past its end.
TEST_F(TrainerTest, NoteBeyondTheEndOfTheHistoryIsTrained) {
  Samples s;
  AddSilence(s, 20.0);
  const auto nToneStart = static_cast<int>(s.size());
  AddTone(s, 300.0, 1.0);
  AddSilence(s, 1.0);
  const RunResult r = Train({"--input", Sound(s).string(), "--first", "C4", "--last", "C4"});
  EXPECT_THAT(r.Log(), ElementsAre(">>>Play ", "...", "C4         -OK-", " Finished!"));
  const auto trace = Trace();
  ASSERT_EQ(trace.size(), 1U);
  EXPECT_NEAR(trace[0]["segStart"].get<int>() % 204800, nToneStart - 204800, 512);
  EXPECT_LT(trace[0]["plotEnd"].get<int>(), 409600);
  EXPECT_NEAR(Pattern(48, 0), BinOf(300.0), 1);
}

// 16-bit mono 11025 Hz is used sample for sample; other formats are converted (the same
// samples as float exactly; the same tones at 44100 Hz in stereo closely).
TEST_F(TrainerTest, SoundFilesAreConvertedOrPassedThrough) {
  const Samples s = SeparatedTones({300.0, 500.0});
  const fs::path floatPath = m_dir / "float.wav";
  const fs::path stereoPath = m_dir / "stereo.wav";
  WriteSound(floatPath, s, true);
  const Samples slow = SeparatedTones({300.0, 500.0}, 4.0);
  WriteSound(stereoPath, slow, true, 4 * kRate, 2);
  const auto train = [&](const fs::path& in) {
    return Train({"--input", in.string(), "--first", "C4", "--last", "C4#"});
  };
  const RunResult rPcm = train(Sound(s));
  const std::string tracePcm = ReadAll(TracePath());
  const std::string datPcm = Dat();
  EXPECT_EQ(train(floatPath).out, rPcm.out);
  EXPECT_EQ(ReadAll(TracePath()), tracePcm);
  EXPECT_EQ(Dat(), datPcm);
  EXPECT_EQ(train(stereoPath).out, rPcm.out);
  EXPECT_NEAR(Pattern(48, 0), BinOf(300.0), 1);
  EXPECT_NEAR(Pattern(49, 0), BinOf(500.0), 1);

  std::string error;
  CSoundFileReader pcm;
  ASSERT_TRUE(pcm.Open((m_dir / "in.wav").string(), error)) << error;
  EXPECT_TRUE(pcm.IsPassThrough());
  Samples back(s.size() + 10);
  back.resize(pcm.Read(back.data(), back.size()));
  EXPECT_EQ(back, s);
  CSoundFileReader stereo;
  ASSERT_TRUE(stereo.Open(stereoPath.string(), error)) << error;
  EXPECT_FALSE(stereo.IsPassThrough());
  EXPECT_EQ(stereo.ExpectedSamples(), static_cast<std::int64_t>(slow.size() / 4));
  Samples resampled(slow.size());
  EXPECT_NEAR(static_cast<double>(stereo.Read(resampled.data(), resampled.size())),
              static_cast<double>(slow.size() / 4), 2);
}

// An invalid range: the error dialog's help text on standard error, exit 2, no file, and
// checked before the input is read.
TEST_F(TrainerTest, InvalidRangesGiveTheHelpTexts) {
  const fs::path in = Sound(Samples(2048, 0));
  const struct {
    const char* first;
    const char* last;
    int nState;
  } cases[] = {{"H4", "C5", 0}, {"C4", "c9x", 1}, {"C5", "c4", 3}};
  for (const auto& c : cases) {
    for (const std::string& input : {in.string(), (m_dir / "missing.wav").string()}) {
      SCOPED_TRACE(std::string(c.first) + " " + c.last + " " + input);
      const RunResult r = Train({"--input", input, "--first", c.first, "--last", c.last});
      EXPECT_EQ(r.nCode, 2);
      EXPECT_EQ(r.err, RangeErrorHelpText(c.nState));
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(fs::exists(Out()));
      EXPECT_FALSE(fs::exists(TracePath()));
    }
  }
  // Upper-cased and cut as the dialog cuts: "c4x" stands for C4.
  const RunResult r = Train({"--input", in.string(), "--first", "c4x", "--last", "c4#"});
  EXPECT_EQ(r.nCode, 0) << r.err;
  EXPECT_EQ(r.out, ">>>Play \n...\nC4\n");
}

// Every failure: exit 1, a message, and the pattern files already in --out left alone.
TEST_F(TrainerTest, FailuresLeavePatternFilesAlone) {
  const fs::path good = Sound(Samples(4096, 0));
  PlantEarlierRun();
  std::string junk(4000, '\0');
  std::mt19937 gen(3);
  for (char& c : junk) {
    c = static_cast<char>(gen() & 0xFF);
  }
  WriteBytes(m_dir / "junk.wav", junk);
  WriteBytes(m_dir / "cut.wav", ReadAll(good).substr(0, 20));
  WriteBytes(m_dir / "empty.wav", "");
  const fs::path aFile = m_dir / "plain";
  WriteBytes(aFile, "x");

  const std::vector<std::vector<std::string>> cases = {
      {"--input", (m_dir / "missing.wav").string()},
      {"--input", (m_dir / "empty.wav").string()},
      {"--input", (m_dir / "junk.wav").string()},
      {"--input", (m_dir / "cut.wav").string()},
      {"--input", m_dir.string()},
      {"--note-names", (m_dir / "none").string()},
      {"--note-names", m_dir.string()},
      {"--bogus"},
      {"--trace", (aFile / "t.jsonl").string()},
      {"--choices", "N,Q"},
      {"--choices", "NN"},
      {"--pad", "-1"},
      {"--pad", "nan"},
      {"--pad", "1x"},
      {"--pad", ""},
      {"--think", "abc"},
      {"--think", "86401"}};
  for (auto args : cases) {
    SCOPED_TRACE(args[0] + " " + args.back());
    if (args[0] != "--input") {
      args.insert(args.begin(), {"--input", good.string()});
    }
    args.insert(args.end(), {"--out", Out().string()});
    const RunResult r = RunRaw(args);
    EXPECT_EQ(r.nCode, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.out, "");
    ExpectEarlierRunKept();
  }
  // An output folder that cannot be created (under a regular file).
  const RunResult r = RunRaw({"--input", good.string(), "--out", (aFile / "out").string()});
  EXPECT_EQ(r.nCode, 1);
  EXPECT_THAT(r.err, HasSubstr("output folder"));
  EXPECT_EQ(ReadAll(aFile), "x");
}

// Without --note-names, note_symbol.txt in the current directory names the notes.
TEST_F(TrainerTest, NoteNamesComeFromTheCurrentDirectory) {
  // Two-letter names: octave letter, then a letter for the step.
  std::string names;
  for (int n = 0; n < 108; ++n) {
    names += {"KLMNPQRSW"[n / 12], "ABCDEFGHIJKL"[n % 12], '\n'};
  }
  WriteBytes(m_dir / "note_symbol.txt", names);
  const fs::path in = Sound(SeparatedTones({400.0}));
  const fs::path before = fs::current_path();
  fs::current_path(m_dir);
  const RunResult r = Train({"--input", in.string(), "--first", "pc", "--last", "PD"});
  const RunResult rDefault = Train({"--input", in.string()});
  fs::current_path(before);
  EXPECT_THAT(r.Log(), ElementsAre(">>>Play ", "...", "PC         -OK-", "PD"));
  // The default range is the names at indexes 12 and 72.
  EXPECT_THAT(rDefault.Log(), ElementsAre(">>>Play ", "...", "LA         -OK-", "LB"));
  EXPECT_EQ(Lines(ReadAll(Out() / "default_pattern.txt"))[3 * 50], " PC:\r");
}

// Ctrl+C on the real program: exit 130, a message, no pattern file written.
TEST_F(TrainerTest, InterruptLeavesNoPatternFile) {
  const fs::path in = Sound(Samples(5120, 0));
  PlantEarlierRun();
  const std::string errPath = (m_dir / "stderr.txt").string();
  const std::string inPath = in.string();
  const std::string outPath = Out().string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::execl(SONAVEL_TRAIN_EXE, SONAVEL_TRAIN_EXE, "--input", inPath.c_str(), "--pad", "86400",
            "--out", outPath.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  int nStatus = 0;
  pid_t done = 0;
  for (int k = 0; k < 600 && (done = ::waitpid(pid, &nStatus, WNOHANG)) == 0; ++k) {  // 30 s
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &nStatus, 0);
    FAIL() << "sonavel-train did not stop on SIGINT";
  }
  ASSERT_TRUE(WIFEXITED(nStatus));
  EXPECT_EQ(WEXITSTATUS(nStatus), 130);
  EXPECT_THAT(ReadAll(errPath), HasSubstr("interrupted"));
  ExpectEarlierRunKept();
}

}  // namespace
