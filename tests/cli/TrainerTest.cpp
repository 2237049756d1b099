// sonavel-train end to end: runs over sounds made here (tones, silence, noise), in-process
// through RunTrainer and, for what only a process shows (signals), as the real program.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

#include "cli/SoundFileReader.h"
#include "cli/Trainer.h"
#include "training/RangeValidation.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

extern char** environ;

namespace {

constexpr int kRate = 11025;
constexpr double kPi = 3.14159265358979323846;

using Samples = std::vector<std::int16_t>;

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

void AddNoise(Samples& s, double dSeconds, int nAmp, unsigned nSeed) {
  std::mt19937 gen(nSeed);
  std::uniform_int_distribution<int> dist(-nAmp, nAmp);
  for (auto k = static_cast<int>(dSeconds * kRate); k > 0; --k) {
    s.push_back(static_cast<std::int16_t>(dist(gen)));
  }
}

// Bin number of a frequency: spectrum index + 1.
int BinOf(double dHz) { return static_cast<int>(std::lround(dHz * 512.0 / kRate)) + 1; }

// A WAV file of 16-bit samples, or of floats (sample / 32768, exact) with `nChannels` equal
// channels at `nRate`.
void WriteSound(const fs::path& path, const Samples& s, bool bFloat = false, int nRate = kRate,
                int nChannels = 1) {
  SF_INFO info{};
  info.samplerate = nRate;
  info.channels = nChannels;
  info.format = SF_FORMAT_WAV | (bFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(pFile, nullptr) << sf_strerror(nullptr);
  if (!bFloat) {
    EXPECT_EQ(sf_write_short(pFile, s.data(), static_cast<sf_count_t>(s.size())),
              static_cast<sf_count_t>(s.size()));
  } else {
    std::vector<float> frames;
    for (const std::int16_t v : s) {
      frames.insert(frames.end(), static_cast<std::size_t>(nChannels),
                    static_cast<float>(v) / 32768.0F);
    }
    sf_writef_float(pFile, frames.data(), static_cast<sf_count_t>(s.size()));
  }
  sf_close(pFile);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<nlohmann::json> ReadTrace(const fs::path& path) {
  std::vector<nlohmann::json> objects;
  for (const auto& line : Lines(ReadAll(path))) {
    objects.push_back(nlohmann::json::parse(line));
  }
  return objects;
}

// default_pattern.dat as 108 records of 12 floats.
std::vector<std::vector<float>> ReadPatterns(const fs::path& path) {
  const std::string bytes = ReadAll(path);
  std::vector<std::vector<float>> records;
  for (std::size_t r = 0; r + 48 <= bytes.size(); r += 48) {
    std::vector<float> rec(12);
    std::memcpy(rec.data(), bytes.data() + r, 48);
    records.push_back(rec);
  }
  return records;
}

struct RunResult {
  int nCode = -1;
  std::string out;
  std::string err;
};

class TrainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int s_nCounter = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_dir = fs::temp_directory_path() / ("sonavel-train-test-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(++s_nCounter) + "-" + info->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  fs::path Sound(const Samples& s, const std::string& name = "in.wav") {
    const fs::path path = m_dir / name;
    WriteSound(path, s);
    return path;
  }

  // Runs with --out <dir>/out and --trace <dir>/trace.jsonl added.
  RunResult Train(std::vector<std::string> args) {
    args.insert(args.begin(), "sonavel-train");
    args.insert(args.end(), {"--out", Out().string(), "--trace", TracePath().string()});
    return RunRaw(args);
  }

  static RunResult RunRaw(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const auto& a : args) {
      argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    RunResult r;
    r.nCode = RunTrainer(static_cast<int>(argv.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  fs::path Out() const { return m_dir / "out"; }
  fs::path TracePath() const { return m_dir / "trace.jsonl"; }
  std::vector<std::vector<float>> Patterns() const {
    return ReadPatterns(Out() / "default_pattern.dat");
  }

  fs::path m_dir;
};

// Three separated decaying tones over C4 ... D4, each dialog answered after half a second.
TEST_F(TrainerTest, SeparatedTonesGiveLogPatternsAndTrace) {
  const std::vector<double> freqs = {300.0, 400.0, 500.0};
  Samples s;
  AddSilence(s, 0.3);
  for (const double f : freqs) {
    AddTone(s, f, 1.0);
    AddSilence(s, 0.7);
  }
  const RunResult r =
      Train({"--input", Sound(s).string(), "--first", "C4", "--last", "D4", "--think", "0.5"});
  ASSERT_EQ(r.nCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, ">>>Play \n...\nC4         -OK-\nC4#       -OK-\nD4         -OK-\n Finished!\n");

  // The text listing: " name:" and two lines of six "%4d" fields per note, CR LF line ends.
  const std::string text = ReadAll(Out() / "default_pattern.txt");
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3U * 108U);
  EXPECT_EQ(lines[0], " C0:\r");
  EXPECT_EQ(lines[48 * 3], " C4:\r");
  EXPECT_EQ(lines[48 * 3 + 1].size(), 25U);
  EXPECT_EQ(lines[1], "   0   0   0   0   0   0\r");
  const auto patterns = Patterns();
  ASSERT_EQ(patterns.size(), 108U);
  EXPECT_EQ(fs::file_size(Out() / "default_pattern.dat"), 5184U);
  for (int n = 0; n < 108; ++n) {
    if (n >= 48 && n <= 50) {
      const double f = freqs[static_cast<std::size_t>(n - 48)];
      EXPECT_NEAR(patterns[static_cast<std::size_t>(n)][0], BinOf(f), 1.0) << n;
      EXPECT_EQ(patterns[static_cast<std::size_t>(n)][6], 10.0F) << n;
    } else {
      EXPECT_THAT(patterns[static_cast<std::size_t>(n)], ::testing::Each(0.0F)) << n;
    }
  }

  std::vector<nlohmann::ordered_json> trace;
  for (const auto& line : Lines(ReadAll(TracePath()))) {
    trace.push_back(nlohmann::ordered_json::parse(line));
  }
  ASSERT_EQ(trace.size(), 3U);
  const std::vector<std::string> keys = {"dialog",    "time",        "note",      "segStart",
                                         "segEnd",    "blockStart",  "plotStart", "plotSegEnd",
                                         "plotEnd",   "plotMode",    "bins",      "weights",
                                         "freqTexts", "weightTexts", "choice"};
  const char* const notes[] = {"C4", "C4#", "D4"};
  double dPrevTime = 0.0;
  for (std::size_t k = 0; k < trace.size(); ++k) {
    const auto& t = trace[k];
    std::vector<std::string> got;
    for (const auto& item : t.items()) {
      got.push_back(item.key());
    }
    EXPECT_EQ(got, keys);
    EXPECT_EQ(t["dialog"], k + 1);
    EXPECT_EQ(t["note"], notes[k]);
    EXPECT_EQ(t["choice"], "N");
    // Dialogs open on ticks, every 0.1 s, after the segment's last window was captured.
    const double dTime = t["time"].get<double>();
    const double dTenths = std::round(dTime * 10.0);
    EXPECT_NEAR(dTime * 10.0, dTenths, 1e-9);
    EXPECT_GE(dTime, dPrevTime + 0.5);
    dPrevTime = dTime;
    const int nSegStart = t["segStart"];
    const int nSegEnd = t["segEnd"];
    EXPECT_LE(nSegEnd + 512, static_cast<int>(dTenths) * kRate / 10);
    EXPECT_EQ(t["blockStart"], nSegStart + (nSegEnd - nSegStart - 512) / 20);
    EXPECT_EQ(t["plotStart"], nSegStart);
    EXPECT_EQ(t["plotSegEnd"], nSegEnd);
    EXPECT_GE(nSegEnd - nSegStart, 1024);  // a whole second of tone
    EXPECT_EQ(t["plotMode"], "1");         // the next tone falls outside the plot
    EXPECT_EQ(t["bins"][0], patterns[48 + k][0]);
    for (int n = 0; n < 6; ++n) {
      EXPECT_EQ(t["bins"][static_cast<std::size_t>(n)],
                patterns[48 + k][static_cast<std::size_t>(n)]);
      EXPECT_EQ(t["weights"][static_cast<std::size_t>(n)],
                patterns[48 + k][6 + static_cast<std::size_t>(n)]);
      char szFreq[16];
      std::snprintf(
          szFreq, sizeof szFreq, "%4d",
          static_cast<int>(t["bins"][static_cast<std::size_t>(n)].get<int>() * 21.533203125));
      EXPECT_EQ(t["freqTexts"][static_cast<std::size_t>(n)], szFreq);
    }
  }
  // The first tone starts 0.3 s into the file, before any reset.
  EXPECT_NEAR(trace[0]["segStart"].get<int>(), 0.3 * kRate, 512);
}

// One scripted dialog answer of each kind, in mixed case with blanks.
TEST_F(TrainerTest, EveryChoiceLetterActsOnLogAndPatterns) {
  const std::vector<double> freqs = {300.0, 350.0, 400.0, 450.0, 500.0, 550.0, 600.0};
  Samples s;
  AddSilence(s, 0.3);
  for (const double f : freqs) {
    AddTone(s, f, 1.0);
    AddSilence(s, 0.7);
  }
  const RunResult r = Train({"--input", Sound(s).string(), "--first", "C4", "--last", "E4",
                             "--think", "0.5", "--choices", " r, N ,b,x , n,D"});
  ASSERT_EQ(r.nCode, 0) << r.err;
  // R keeps the note, B steps back and rewrites the line, X acts as Next, D finishes.
  EXPECT_THAT(Lines(r.out), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4         -OK-",
                                        "C4#       -OK-", "D4         -OK-", " Finished!"));
  const auto trace = ReadTrace(TracePath());
  ASSERT_EQ(trace.size(), 6U);  // after Done the last tone is not recorded
  const char* const notes[] = {"C4", "C4", "C4#", "C4", "C4#", "D4"};
  const char* const letters[] = {"R", "N", "B", "X", "N", "D"};
  for (std::size_t k = 0; k < trace.size(); ++k) {
    EXPECT_EQ(trace[k]["note"], notes[k]) << k;
    EXPECT_EQ(trace[k]["choice"], letters[k]) << k;
    EXPECT_NEAR(trace[k]["bins"][0].get<int>(), BinOf(freqs[k]), 1) << k;
  }
  const auto p = Patterns();
  EXPECT_NEAR(p[48][0], BinOf(freqs[3]), 1);  // the last accepted C4 (X)
  EXPECT_NEAR(p[49][0], BinOf(freqs[4]), 1);  // C4# accepted after the Back
  EXPECT_NEAR(p[50][0], BinOf(freqs[5]), 1);  // D4, Done
  for (int n = 51; n < 108; ++n) {
    EXPECT_THAT(p[static_cast<std::size_t>(n)], ::testing::Each(0.0F)) << n;
  }

  // When the list runs out every further dialog is answered Next.
  const RunResult r2 = Train({"--input", Sound(s).string(), "--first", "C4", "--last", "C4#",
                              "--think", "0.5", "--choices", "R"});
  ASSERT_EQ(r2.nCode, 0) << r2.err;
  EXPECT_THAT(Lines(r2.out),
              ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#       -OK-", " Finished!"));
  const auto trace2 = ReadTrace(TracePath());
  ASSERT_EQ(trace2.size(), 3U);
  EXPECT_EQ(trace2[0]["choice"], "R");
  EXPECT_EQ(trace2[1]["choice"], "N");
  EXPECT_EQ(trace2[2]["choice"], "N");

  for (const char* bad : {"N,Q", "NN", "N;R"}) {
    fs::remove_all(Out());
    const RunResult rb = Train({"--input", Sound(s).string(), "--choices", bad});
    EXPECT_EQ(rb.nCode, 1) << bad;
    EXPECT_THAT(rb.err, HasSubstr("--choices")) << bad;
    EXPECT_FALSE(fs::exists(Out() / "default_pattern.txt")) << bad;
  }
}

// With no think time the rest of a sustained note starts the next dialog; a think time
// longer than the note swallows it.
TEST_F(TrainerTest, ThinkTimeSwallowsTheRestOfASustainedNote) {
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 2.0, 6000.0, 0.0);
  AddSilence(s, 1.0);
  const fs::path in = Sound(s);
  const RunResult r0 = Train({"--input", in.string(), "--first", "C4", "--last", "B4"});
  ASSERT_EQ(r0.nCode, 0) << r0.err;
  const auto trace0 = ReadTrace(TracePath());
  EXPECT_GE(trace0.size(), 3U);
  for (const auto& t : trace0) {
    EXPECT_NEAR(t["bins"][0].get<int>(), BinOf(400.0), 1);
  }
  EXPECT_EQ(Lines(r0.out).size(), trace0.size() + 3);

  const RunResult r1 =
      Train({"--input", in.string(), "--first", "C4", "--last", "B4", "--think", "2.5"});
  ASSERT_EQ(r1.nCode, 0) << r1.err;
  EXPECT_EQ(ReadTrace(TracePath()).size(), 1U);
  EXPECT_THAT(Lines(r1.out), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#"));
}

// A note that rings to the end of the file completes only in the padding.
TEST_F(TrainerTest, PaddingLetsANoteAtTheEndComplete) {
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 1.5, 6000.0, 0.5);
  s.resize(s.size() / 512 * 512);
  const fs::path in = Sound(s);
  const RunResult r0 = Train({"--input", in.string(), "--first", "C4", "--pad", "0"});
  ASSERT_EQ(r0.nCode, 0) << r0.err;
  EXPECT_THAT(Lines(r0.out), ElementsAre(">>>Play ", "...", "C4"));
  EXPECT_EQ(ReadAll(TracePath()), "");
  const RunResult r1 = Train({"--input", in.string(), "--first", "C4"});
  ASSERT_EQ(r1.nCode, 0) << r1.err;
  EXPECT_THAT(Lines(r1.out), ElementsAre(">>>Play ", "...", "C4         -OK-", "C4#"));
  ASSERT_EQ(ReadTrace(TracePath()).size(), 1U);

  for (const char* bad : {"-1", "abc", "nan", "inf", ""}) {
    for (const char* option : {"--pad", "--think"}) {
      fs::remove_all(Out());
      const RunResult rb = Train({"--input", in.string(), option, bad});
      EXPECT_EQ(rb.nCode, 1) << option << " " << bad;
      EXPECT_FALSE(fs::exists(Out() / "default_pattern.dat")) << option << " " << bad;
    }
  }
}

// Buffer k completes at (k + 1) * 512 / 11025 s, tick j at j / 10 s, a buffer first on a tie;
// the run ends after the first tick at or after the last buffer.
TEST_F(TrainerTest, BuffersAndTicksRunInVirtualTimeOrder) {
  // No full buffer: no tick runs, the files are written all zero.
  const RunResult r0 = Train({"--input", Sound(Samples(511, 5000)).string(), "--pad", "0"});
  ASSERT_EQ(r0.nCode, 0) << r0.err;
  EXPECT_EQ(r0.out, ">>>Play \n...\nC1\n");
  EXPECT_EQ(fs::file_size(Out() / "default_pattern.dat"), 5184U);
  for (const auto& record : Patterns()) {
    EXPECT_THAT(record, ::testing::Each(0.0F));
  }
  EXPECT_TRUE(fs::exists(Out() / "default_pattern.txt"));

  // A tone whose segment completes only with buffer 2204, which ends at 102.4 s together
  // with tick 1024: 2205 buffers give the dialog on that tick, 2204 give none.
  Samples s;
  AddSilence(s, 101.3);
  AddTone(s, 400.0, 1.0);
  AddSilence(s, 3.0);
  const RunResult rFull = Train({"--input", Sound(s).string(), "--first", "C4", "--pad", "0"});
  const auto full = ReadTrace(TracePath());
  ASSERT_EQ(full.size(), 1U);
  EXPECT_EQ(full[0]["time"], 102.4);
  const Samples exact(s.begin(), s.begin() + 2205 * 512);
  const RunResult rExact = Train({"--input", Sound(exact).string(), "--first", "C4", "--pad", "0"});
  EXPECT_EQ(rExact.out, rFull.out);
  EXPECT_EQ(ReadTrace(TracePath()), full);
  const Samples shorter(s.begin(), s.begin() + 2204 * 512);
  const RunResult rShort =
      Train({"--input", Sound(shorter).string(), "--first", "C4", "--pad", "0"});
  EXPECT_EQ(ReadAll(TracePath()), "");
  EXPECT_THAT(Lines(rShort.out), ElementsAre(">>>Play ", "...", "C4"));

  // A final partial buffer is dropped: a loud tail shorter than a buffer changes nothing.
  Samples tones;
  AddSilence(tones, 0.3);
  AddTone(tones, 300.0, 1.0);
  AddSilence(tones, 0.8);
  AddTone(tones, 500.0, 0.6);
  tones.resize(tones.size() / 512 * 512);
  const RunResult rA = Train({"--input", Sound(tones).string(), "--first", "C4", "--pad", "0"});
  const std::string traceA = ReadAll(TracePath());
  const std::string datA = ReadAll(Out() / "default_pattern.dat");
  Samples tail = tones;
  AddTone(tail, 500.0, 511.0 / kRate, 9000.0, 0.0);
  ASSERT_EQ(tail.size() % 512, 511U);
  const RunResult rB = Train({"--input", Sound(tail).string(), "--first", "C4", "--pad", "0"});
  EXPECT_EQ(rB.out, rA.out);
  EXPECT_EQ(ReadAll(TracePath()), traceA);
  EXPECT_EQ(ReadAll(Out() / "default_pattern.dat"), datA);
  EXPECT_FALSE(traceA.empty());
}

TEST_F(TrainerTest, SilenceAndQuietNoiseGiveNoDialog) {
  Samples s;
  AddSilence(s, 2.0);
  AddNoise(s, 3.0, 300, 42);
  AddSilence(s, 1.0);
  const RunResult r = Train({"--input", Sound(s).string()});
  ASSERT_EQ(r.nCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // nothing but the log, and no progress line into a stream
  EXPECT_EQ(r.out, ">>>Play \n...\nC1\n");
  EXPECT_EQ(ReadAll(TracePath()), "");
  for (const auto& record : Patterns()) {
    EXPECT_THAT(record, ::testing::Each(0.0F));
  }
}

// The history holds 204800 samples (18.6 s); longer stretches wrap around it.
TEST_F(TrainerTest, NotesLongerThanTheRingStaySane) {
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 25.0, 6000.0, 0.0);
  AddSilence(s, 1.0);
  const RunResult r = Train({"--input", Sound(s).string()});
  ASSERT_EQ(r.nCode, 0) << r.err;
  const auto trace = ReadTrace(TracePath());
  ASSERT_GT(trace.size(), 10U);
  EXPECT_EQ(Lines(r.out).size(), trace.size() + 3);
  for (const auto& t : trace) {
    EXPECT_NEAR(t["bins"][0].get<int>(), BinOf(400.0), 1);
    EXPECT_GE(t["segStart"].get<int>(), 0);
    EXPECT_LT(t["plotEnd"].get<int>(), 409600);
  }

  // 20 s of quiet before the first note: its segment lies past the end of the ring.
  Samples late;
  AddSilence(late, 20.0);
  const auto nToneStart = static_cast<int>(late.size());
  AddTone(late, 300.0, 1.0);
  AddSilence(late, 1.0);
  const RunResult r2 = Train({"--input", Sound(late).string(), "--first", "C4", "--last", "C4"});
  ASSERT_EQ(r2.nCode, 0) << r2.err;
  EXPECT_THAT(Lines(r2.out), ElementsAre(">>>Play ", "...", "C4         -OK-", " Finished!"));
  const auto trace2 = ReadTrace(TracePath());
  ASSERT_EQ(trace2.size(), 1U);
  EXPECT_NEAR(trace2[0]["segStart"].get<int>() % 204800, nToneStart - 204800, 512);
  EXPECT_NEAR(Patterns()[48][0], BinOf(300.0), 1);
}

// Other formats are converted; 16-bit mono 11025 Hz is used sample for sample.
TEST_F(TrainerTest, SoundFilesAreConvertedOrPassedThrough) {
  Samples s;
  AddSilence(s, 0.3);
  for (const double f : {300.0, 500.0}) {
    AddTone(s, f, 1.0);
    AddSilence(s, 0.7);
  }
  const RunResult rPcm = Train({"--input", Sound(s).string(), "--first", "C4", "--last", "C4#"});
  ASSERT_EQ(rPcm.nCode, 0) << rPcm.err;
  const std::string tracePcm = ReadAll(TracePath());
  const std::string datPcm = ReadAll(Out() / "default_pattern.dat");

  // The same samples as 11025 Hz float: short -> float -> short is exact.
  const fs::path floatPath = m_dir / "float.wav";
  WriteSound(floatPath, s, true);
  const RunResult rFloat = Train({"--input", floatPath.string(), "--first", "C4", "--last", "C4#"});
  EXPECT_EQ(rFloat.out, rPcm.out);
  EXPECT_EQ(ReadAll(TracePath()), tracePcm);
  EXPECT_EQ(ReadAll(Out() / "default_pattern.dat"), datPcm);

  CSoundFileReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open((m_dir / "in.wav").string(), error)) << error;
  EXPECT_TRUE(reader.IsPassThrough());
  Samples back(s.size() + 10);
  EXPECT_EQ(reader.Read(back.data(), back.size()), s.size());
  back.resize(s.size());
  EXPECT_EQ(back, s);

  // The same tones made at 44100 Hz, as stereo float.
  Samples fast;
  AddSilence(fast, 0.3 * 4);
  for (const double f : {300.0 / 4, 500.0 / 4}) {
    AddTone(fast, f, 1.0 * 4, 6000.0, 3.0 / 4);
    AddSilence(fast, 0.7 * 4);
  }
  const fs::path stereoPath = m_dir / "stereo.wav";
  WriteSound(stereoPath, fast, true, 44100, 2);
  const RunResult rStereo =
      Train({"--input", stereoPath.string(), "--first", "C4", "--last", "C4#"});
  ASSERT_EQ(rStereo.nCode, 0) << rStereo.err;
  EXPECT_EQ(rStereo.out, rPcm.out);
  const auto p = Patterns();
  EXPECT_NEAR(p[48][0], BinOf(300.0), 1);
  EXPECT_NEAR(p[49][0], BinOf(500.0), 1);
  CSoundFileReader converted;
  ASSERT_TRUE(converted.Open(stereoPath.string(), error)) << error;
  EXPECT_FALSE(converted.IsPassThrough());
  EXPECT_EQ(converted.ExpectedSamples(), static_cast<std::int64_t>(fast.size() / 4));
  Samples resampled(fast.size());
  EXPECT_NEAR(static_cast<double>(converted.Read(resampled.data(), resampled.size())),
              static_cast<double>(fast.size() / 4), 2);
}

// An invalid range: the error dialog's help text on standard error, exit 2, no file, and
// checked before the input is read.
TEST_F(TrainerTest, InvalidRangesGiveTheHelpTexts) {
  const fs::path in = Sound(Samples(2048, 0));
  const struct {
    const char* first;
    const char* last;
    int nState;
  } cases[] = {{"H4", "C5", 0}, {"C4", "c9x", 1}, {"C5", "c4", 3}, {"C4#5", "C4", 3}};
  for (const auto& c : cases) {
    for (const std::string& input : {in.string(), (m_dir / "missing.wav").string()}) {
      const RunResult r = Train({"--input", input, "--first", c.first, "--last", c.last});
      EXPECT_EQ(r.nCode, 2) << c.first << " " << c.last;
      EXPECT_EQ(r.err, RangeErrorHelpText(c.nState)) << c.first << " " << c.last;
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
  fs::create_directories(Out());
  const std::string kept = "earlier run\r\n";
  std::ofstream(Out() / "default_pattern.txt", std::ios::binary) << kept;

  const fs::path empty = m_dir / "empty.wav";
  std::ofstream(empty).close();
  const fs::path noise = m_dir / "noise.wav";
  {
    std::mt19937 gen(3);
    std::ofstream f(noise, std::ios::binary);
    for (int k = 0; k < 4000; ++k) {
      f.put(static_cast<char>(gen() & 0xFF));
    }
  }
  const fs::path cut = m_dir / "cut.wav";
  std::ofstream(cut, std::ios::binary) << ReadAll(good).substr(0, 20);
  const fs::path aFile = m_dir / "plain";
  std::ofstream(aFile) << "x";

  const std::vector<std::vector<std::string>> cases = {
      {"--input", (m_dir / "missing.wav").string()},
      {"--input", empty.string()},
      {"--input", noise.string()},
      {"--input", cut.string()},
      {"--input", m_dir.string()},
      {"--input", good.string(), "--note-names", (m_dir / "none.txt").string()},
      {"--input", good.string(), "--note-names", m_dir.string()},
      {"--input", good.string(), "--bogus"},
      {"--input", good.string(), "--trace", (aFile / "t.jsonl").string()},
  };
  for (const auto& args : cases) {
    std::vector<std::string> argv = {"sonavel-train"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--out", Out().string()});
    const RunResult r = RunRaw(argv);
    EXPECT_EQ(r.nCode, 1) << args.back();
    EXPECT_NE(r.err, "") << args.back();
    EXPECT_EQ(r.out, "") << args.back();
    EXPECT_EQ(ReadAll(Out() / "default_pattern.txt"), kept) << args.back();
    EXPECT_FALSE(fs::exists(Out() / "default_pattern.dat")) << args.back();
  }
  // An output folder that cannot be created (under a regular file).
  const RunResult r =
      RunRaw({"sonavel-train", "--input", good.string(), "--out", (aFile / "out").string()});
  EXPECT_EQ(r.nCode, 1);
  EXPECT_THAT(r.err, HasSubstr("output folder"));
  EXPECT_EQ(ReadAll(aFile), "x");
}

// Without --note-names, note_symbol.txt in the current directory names the notes.
TEST_F(TrainerTest, NoteNamesComeFromTheCurrentDirectory) {
  // Two-letter names: octave letter, then a letter for the step.
  std::ofstream names(m_dir / "note_symbol.txt");
  for (int n = 0; n < 108; ++n) {
    names << "KLMNPQRSW"[n / 12] << "ABCDEFGHIJKL"[n % 12] << "\n";
  }
  names.close();
  Samples s;
  AddSilence(s, 0.3);
  AddTone(s, 400.0, 1.0);
  AddSilence(s, 1.0);
  const fs::path in = Sound(s);
  const fs::path before = fs::current_path();
  fs::current_path(m_dir);
  const RunResult r = Train({"--input", in.string(), "--first", "pc", "--last", "PD"});
  const RunResult rDefault = Train({"--input", in.string()});
  fs::current_path(before);
  ASSERT_EQ(r.nCode, 0) << r.err;
  EXPECT_THAT(Lines(r.out), ElementsAre(">>>Play ", "...", "PC         -OK-", "PD"));
  EXPECT_THAT(Lines(ReadAll(Out() / "default_pattern.txt"))[3 * 50], " PC:\r");
  // The default range is the names at indexes 12 and 72.
  EXPECT_THAT(Lines(rDefault.out), ElementsAre(">>>Play ", "...", "LA         -OK-", "LB"));
}

// Ctrl+C on the real program: exit 130, a message, no pattern file written.
TEST_F(TrainerTest, InterruptLeavesNoPatternFile) {
  const fs::path in = Sound(Samples(5120, 0));
  fs::create_directories(Out());
  const std::string kept = "earlier run\r\n";
  std::ofstream(Out() / "default_pattern.txt", std::ios::binary) << kept;
  const std::string errPath = (m_dir / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {SONAVEL_TRAIN_EXE, "--input", in.string(),   "--pad",
                                   "86400",           "--out",   Out().string()};
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, SONAVEL_TRAIN_EXE, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  int nStatus = 0;
  pid_t done = 0;
  for (int k = 0; k < 600 && done == 0; ++k) {  // at most 30 s
    done = ::waitpid(pid, &nStatus, WNOHANG);
    if (done == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &nStatus, 0);
    FAIL() << "sonavel-train did not stop on SIGINT";
  }
  ASSERT_TRUE(WIFEXITED(nStatus));
  EXPECT_EQ(WEXITSTATUS(nStatus), 130);
  EXPECT_THAT(ReadAll(errPath), HasSubstr("interrupted"));
  EXPECT_EQ(ReadAll(Out() / "default_pattern.txt"), kept);
  EXPECT_FALSE(fs::exists(Out() / "default_pattern.dat"));
}

}  // namespace
