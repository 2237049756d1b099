// sonavel-recognize as a user runs it: every bad pattern file and option with its message and
// exit code, and a melody's notes on standard output, in JSON, MIDI and the picture, from a
// file and from the same file played live.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <smf.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Recognize.h"
#include "support/HarmonicTones.h"
#include "support/SoundFiles.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

struct RunResult {
  int nCode;
  std::string out, err;
};

RunResult Recognize(std::vector<std::string> args) {
  args.insert(args.begin(), "sonavel-recognize");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  const int nCode = RunRecognizer(static_cast<int>(argv.size()), argv.data(), out, err);
  return {nCode, out.str(), err.str()};
}

void WritePatterns(const fs::path& path, const std::vector<NotePattern>& patterns) {
  std::string bytes(patterns.size() * sizeof(NotePattern), '\0');
  std::memcpy(bytes.data(), patterns.data(), bytes.size());
  std::ofstream(path, std::ios::binary) << bytes;
}

class RecognizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("sonavel-recognize-test-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    std::vector<std::int16_t> s(3 * 11025, 0);
    for (const auto& [dOn, dLength, nNote] : kMelody) AddNote(s, nNote, dOn, dLength);
    WriteSound(m_dir / "melody.wav", s);
    WritePatterns(m_dir / "tones.dat", TrainedTonePatterns());
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Path(const char* pszName) const { return (m_dir / pszName).string(); }

  // onset, length, note: a rest, then legato from A4 to B4
  static constexpr std::tuple<double, double, std::int32_t> kMelody[] = {
      {0.3, 0.6, 48}, {1.2, 0.5, 57}, {1.7, 0.6, 59}};
  fs::path m_dir;
};

TEST_F(RecognizeTest, BadPatternFilesAndOptionsExitWithTheirMessage) {
  std::vector<NotePattern> patterns = TrainedTonePatterns();
  WritePatterns(m_dir / "untrained.dat", std::vector<NotePattern>(20));
  WritePatterns(m_dir / "long.dat", std::vector<NotePattern>(109));
  patterns[50].fWeight[2] = std::numeric_limits<float>::quiet_NaN();
  WritePatterns(m_dir / "nan.dat", patterns);
  patterns[50].fWeight[2] = 0.0f;
  patterns[50].fBin[1] = 4000.0f;
  WritePatterns(m_dir / "bin.dat", patterns);
  std::ofstream(m_dir / "odd.dat") << std::string(49, 'x');
  std::ofstream(m_dir / "empty.dat");
  const std::string tones = Path("tones.dat"), melody = Path("melody.wav");
  const struct {
    std::vector<std::string> args;
    int nCode;
    std::string message;
  } cases[] = {
      {{"--patterns", Path("none.dat"), "--input", melody}, 1, "cannot read the pattern file"},
      {{"--patterns", m_dir.string(), "--input", melody}, 1, "cannot read the pattern file"},
      {{"--patterns", Path("empty.dat"), "--input", melody}, 1, "is 0 bytes, not a whole"},
      {{"--patterns", Path("odd.dat"), "--input", melody}, 1, "is 49 bytes, not a whole"},
      {{"--patterns", Path("long.dat"), "--input", melody}, 1, "more than 108 records"},
      {{"--patterns", Path("nan.dat"), "--input", melody}, 1, "record 50 holds nan as a weight"},
      {{"--patterns", Path("bin.dat"), "--input", melody},
       1,
       "record 50 holds 4000.000000 as a bin"},
      {{"--patterns", Path("untrained.dat"), "--input", melody}, 1, "has no trained note from C0"},
      {{"--patterns", tones, "--input", melody, "--first", "C5"},
       1,
       "no trained note from C5 to B8"},
      {{"--patterns", tones, "--input", melody, "--first", "C5", "--last", "C4"}, 2, "not a range"},
      {{"--patterns", tones, "--input", melody, "--last", "H4"}, 2, "not a range of notes"},
      {{"--patterns", tones, "--input", Path("none.wav")}, 1, "cannot open the input file"},
      {{"--patterns", tones, "--input", tones}, 1, "cannot read the input file"},
      {{"--patterns", tones}, 1, "--input is required"},
      {{"--input", melody}, 1, "--patterns is required"},
      {{"--patterns", tones, "--input", melody, "--device", "0"}, 1, "exclude each other"},
      {{"--patterns", tones, "--device", "0", "--realtime"}, 1, "--realtime plays an --input"},
      {{"--patterns", tones, "--input", melody, "--speed", "0"}, 1, "--speed"},
      {{"--patterns", tones, "--input", melody, "--note-names", Path("none")}, 1, "note names"},
      {{"--patterns", tones, "--input", melody, "--json", Path("none/x.json")}, 1, "x.json"},
      {{"--patterns", tones, "--input", melody, "--midi", Path("none/x.mid")}, 1, "x.mid"},
      {{"--patterns", tones, "--input", melody, "--plot", Path("tones.dat/p")}, 1, "tones.dat/p"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult r = Recognize(c.args);
    EXPECT_EQ(r.nCode, c.nCode);
    EXPECT_THAT(r.err, HasSubstr("sonavel-recognize: "));
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(RecognizeTest, MelodyInEveryOutputFromAFileAndLive) {
  const RunResult r =
      Recognize({"--patterns", Path("tones.dat"), "--input", Path("melody.wav"), "--json",
                 Path("m.json"), "--midi", Path("m.mid"), "--plot", Path("plot")});
  ASSERT_EQ(r.nCode, 0) << r.err;
  std::ifstream jsonFile(Path("m.json"));
  const nlohmann::json json = nlohmann::json::parse(jsonFile);
  smf_t* pSmf = smf_load(Path("m.mid").c_str());
  ASSERT_NE(pSmf, nullptr);
  std::vector<std::pair<int, double>> midiOn;
  for (smf_event_t* e; (e = smf_get_next_event(pSmf)) != nullptr;) {
    if (smf_event_is_metadata(e) == 0 && (e->midi_buffer[0] & 0xF0) == 0x90 &&
        e->midi_buffer[2] > 0)
      midiOn.emplace_back(e->midi_buffer[1], e->time_seconds);
  }
  smf_delete(pSmf);
  std::istringstream lines(r.out);
  ASSERT_EQ(json.size(), std::size(kMelody));
  ASSERT_EQ(midiOn.size(), std::size(kMelody));
  for (std::size_t i = 0; i < std::size(kMelody); ++i) {
    const auto& [dOn, dLength, nNote] = kMelody[i];
    double dOnset = 0.0, dOffset = 0.0, dScore = 0.0;
    std::string name;
    lines >> dOnset >> dOffset >> name >> dScore;
    EXPECT_EQ(name, StandardNoteName(nNote));
    EXPECT_NEAR(dOnset, dOn, 0.03);
    EXPECT_EQ(json[i]["midi"], nNote + 12);
    EXPECT_EQ(json[i]["name"], name);
    EXPECT_EQ(json[i]["onset"], dOnset);
    EXPECT_EQ(json[i]["offset"], dOffset);
    EXPECT_EQ(midiOn[i].first, nNote + 12);
    EXPECT_NEAR(midiOn[i].second, dOnset, 0.0015);
  }
  EXPECT_TRUE(fs::exists(Path("plot/index.html")) && fs::exists(Path("plot/piano-roll.svg")));
  // Live: each note as soon as it is named, its offset not yet known.
  const RunResult live = Recognize({"--patterns", Path("tones.dat"), "--input", Path("melody.wav"),
                                    "--realtime", "--speed", "8"});
  ASSERT_EQ(live.nCode, 0) << live.err;
  std::string expected;
  for (const auto& note : json) {
    char szLine[64];
    std::snprintf(szLine, sizeof szLine, "%.3f - %s", note["onset"].get<double>(),
                  note["name"].get<std::string>().c_str());
    expected += szLine;
  }
  std::string got, line;
  for (std::istringstream in(live.out); std::getline(in, line);)
    got += line.substr(0, line.rfind(' '));
  EXPECT_EQ(got, expected);
}

}  // namespace
